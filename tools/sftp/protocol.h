#pragma once
// The SFTP version 3 packets the tool sends and the replies it reads: pure
// encoding and decoding, no network.
#include <cstdint>
#include <string>
#include <string_view>

namespace sftptool::sftp {

enum Type : uint8_t {
    Init = 1,
    Version = 2,
    Open = 3,
    Close = 4,
    Read = 5,
    Write = 6,
    Lstat = 7,
    Fstat = 8,
    Setstat = 9,
    Fsetstat = 10,
    Opendir = 11,
    Readdir = 12,
    Remove = 13,
    Mkdir = 14,
    Rmdir = 15,
    Realpath = 16,
    Stat = 17,
    Rename = 18,
    Extended = 200,
    Status = 101,
    Handle = 102,
    Data = 103,
    Name = 104,
    Attrs = 105,
};

enum StatusCode : uint32_t { Ok = 0, Eof = 1, NoSuchFile = 2, PermissionDenied = 3, Failure = 4 };

enum OpenFlag : uint32_t { OpenRead = 1, OpenWrite = 2, OpenCreate = 8, OpenTruncate = 0x10 };

enum AttrFlag : uint32_t {
    HasSize = 1,
    HasIds = 2,
    HasPermissions = 4,
    HasTimes = 8,
    HasExtended = 0x80000000u,
};

struct Attributes {
    uint32_t flags = 0;
    uint64_t size = 0;
    uint32_t uid = 0, gid = 0;
    uint32_t permissions = 0;
    uint32_t atime = 0, mtime = 0;

    bool isDirectory() const {
        return (flags & HasPermissions) && (permissions & 0170000) == 0040000;
    }
};

// Builds one packet: length, type, request id, then the fields in order.
class Packet {
public:
    Packet(Type type, uint32_t id);
    // The INIT packet carries a version where others carry an id.
    static Packet init(uint32_t version) { return Packet(Init, version); }

    Packet& u32(uint32_t v);
    Packet& u64(uint64_t v);
    Packet& str(std::string_view s);
    Packet& attrs(const Attributes& a);
    // Sets the length and hands out the bytes.
    const std::string& finish();

private:
    std::string mBytes;
};

// Reads the fields of a received packet body; any read beyond the end makes
// the reader fail and return zeros from then on.
class Reader {
public:
    explicit Reader(std::string_view body) : mRest(body) {}
    uint8_t u8();
    uint32_t u32();
    uint64_t u64();
    std::string_view str();
    Attributes attrs();
    bool ok() const { return mOk; }

private:
    bool take(size_t n, const char*& out);
    std::string_view mRest;
    bool mOk = true;
};

// The length of the first whole packet in `stream` (its 4-byte length field
// included), 0 while it is incomplete, or npos when the length field is not
// sane (a broken stream).
size_t packetSize(std::string_view stream);

// Whether a VERSION packet (`body`, from its type byte on) names the
// extension `name` among those the server offers.
bool offersExtension(std::string_view body, std::string_view name);

// The extension that renames over an existing file (SSH_FXP_RENAME of
// version 3 refuses to).
constexpr std::string_view kPosixRename = "posix-rename@openssh.com";

// The largest packet the tool accepts from a server.
constexpr size_t kMaxPacket = 256 * 1024 + 1024;

// The message for a STATUS code, as the tool prints it.
const char* statusText(uint32_t code);

} // namespace sftptool::sftp
