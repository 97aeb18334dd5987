#include "tools/sftp/protocol.h"

#include <cstring>

namespace sftptool::sftp {

Packet::Packet(Type type, uint32_t id) {
    mBytes.reserve(64);
    u32(0);
    mBytes.push_back(char(type));
    u32(id);
}

Packet& Packet::u32(uint32_t v) {
    const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    mBytes.append(b, 4);
    return *this;
}

Packet& Packet::u64(uint64_t v) {
    u32(uint32_t(v >> 32));
    return u32(uint32_t(v));
}

Packet& Packet::str(std::string_view s) {
    u32(uint32_t(s.size()));
    mBytes.append(s);
    return *this;
}

Packet& Packet::attrs(const Attributes& a) {
    u32(a.flags & ~HasExtended);
    if (a.flags & HasSize)
        u64(a.size);
    if (a.flags & HasIds)
        u32(a.uid).u32(a.gid);
    if (a.flags & HasPermissions)
        u32(a.permissions);
    if (a.flags & HasTimes)
        u32(a.atime).u32(a.mtime);
    return *this;
}

const std::string& Packet::finish() {
    const uint32_t n = uint32_t(mBytes.size() - 4);
    mBytes[0] = char(n >> 24);
    mBytes[1] = char(n >> 16);
    mBytes[2] = char(n >> 8);
    mBytes[3] = char(n);
    return mBytes;
}

bool Reader::take(size_t n, const char*& out) {
    if (!mOk || mRest.size() < n) {
        mOk = false;
        return false;
    }
    out = mRest.data();
    mRest.remove_prefix(n);
    return true;
}

uint8_t Reader::u8() {
    const char* p = nullptr;
    return take(1, p) ? uint8_t(*p) : 0;
}

uint32_t Reader::u32() {
    const char* p = nullptr;
    if (!take(4, p))
        return 0;
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}

uint64_t Reader::u64() {
    const uint64_t high = u32();
    return high << 32 | u32();
}

std::string_view Reader::str() {
    const uint32_t n = u32();
    const char* p = nullptr;
    return take(n, p) ? std::string_view(p, n) : std::string_view();
}

Attributes Reader::attrs() {
    Attributes a;
    a.flags = u32();
    if (a.flags & HasSize)
        a.size = u64();
    if (a.flags & HasIds) {
        a.uid = u32();
        a.gid = u32();
    }
    if (a.flags & HasPermissions)
        a.permissions = u32();
    if (a.flags & HasTimes) {
        a.atime = u32();
        a.mtime = u32();
    }
    if (a.flags & HasExtended) {
        for (uint32_t n = u32(); n > 0 && mOk; --n) {
            str();
            str();
        }
    }
    return a;
}

bool offersExtension(std::string_view body, std::string_view name) {
    Reader r(body);
    if (r.u8() != Version)
        return false;
    r.u32();
    while (r.ok()) {
        const std::string_view offered = r.str();
        r.str();
        if (r.ok() && offered == name)
            return true;
    }
    return false;
}

size_t packetSize(std::string_view stream) {
    if (stream.size() < 4)
        return 0;
    Reader r(stream.substr(0, 4));
    const size_t n = r.u32();
    if (n == 0 || n > kMaxPacket)
        return std::string_view::npos;
    return stream.size() >= n + 4 ? n + 4 : 0;
}

const char* statusText(uint32_t code) {
    switch (code) {
    case Eof:
        return "End of file";
    case NoSuchFile:
        return "No such file or directory";
    case PermissionDenied:
        return "Permission denied";
    case 5:
        return "Bad message";
    case 8:
        return "Operation unsupported";
    default:
        return "Failure";
    }
}

} // namespace sftptool::sftp
