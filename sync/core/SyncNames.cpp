#include "sync/core/SyncNames.h"

#include "engine/LocalFiles.h"
#include "engine/UploadPart.h"

namespace {

constexpr std::string_view kCachePrefix = "zarvel.";
constexpr std::string_view kCacheSuffix = ".sync";

std::string LastSegment(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string SyncUpperName(std::string_view name) {
    std::string upper(name);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper;
}

bool IsValidUTF8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        size_t extra;
        uint32_t value;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            value = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            value = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            value = c & 0x07;
        } else {
            return false;
        }
        if (static_cast<size_t>(end - p) <= extra)
            return false;
        for (size_t i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            value = value << 6 | (p[i] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF.
        if ((extra == 2 && value < 0x800) || (extra == 3 && value < 0x10000) ||
            (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
            return false;
        p += extra + 1;
    }
    return true;
}

SyncSkip SyncNameRule(std::string_view name) {
    if (name.empty())
        return SyncSkip::Unsafe;
    // Ours are hidden names, told apart from the user's hidden ones.
    if (IsUploadPartName(name))
        return SyncSkip::UploadPart;
    if (name.front() == '.')
        return SyncSkip::Hidden;
    if (name.size() > kCachePrefix.size() && name.starts_with(kCachePrefix) &&
        name.ends_with(kCacheSuffix))
        return SyncSkip::CacheFile;
    if (name.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos)
        return SyncSkip::Unsafe;
    if (name.find_first_of("\\/:") != std::string_view::npos)
        return SyncSkip::BadCharacter;
    if (!IsValidUTF8(name))
        return SyncSkip::NotUTF8;
    return SyncSkip::None;
}

bool IsSafeRelativePath(std::string_view path) {
    // A '\' is a separator to some servers and file systems.
    return path.find('\\') == std::string_view::npos && IsRelativePathBelow(path);
}

bool SyncSkipIsReported(SyncSkip reason) {
    switch (reason) {
    case SyncSkip::None:
    case SyncSkip::Hidden:
    case SyncSkip::CacheFile:
    case SyncSkip::Link:
    case SyncSkip::UploadPart:
        return false;
    default:
        return true;
    }
}

std::string SyncIgnoredMessage(const SyncIgnoredItem& item) {
    const std::string kind =
        std::string(item.remote ? "The remote " : "The ") + (item.isFolder ? "folder '" : "file '");
    switch (item.reason) {
    case SyncSkip::BadCharacter: {
        const std::string name = item.name.empty() ? LastSegment(item.path) : item.name;
        const size_t at = name.find_first_of("\\/:");
        const char bad = at == std::string::npos ? '/' : name[at];
        return kind + name + "' will be ignored because it contains a '" + bad + "' on the name.";
    }
    case SyncSkip::Unsafe:
        return kind + item.path +
               "' will be ignored because its name cannot be used as a file name.";
    case SyncSkip::NotUTF8:
        return kind + item.path + "' will be ignored because its name is not valid UTF-8.";
    case SyncSkip::OtherKind:
        return (item.remote ? "The remote item '" : "The item '") + item.path +
               "' will be ignored because it is neither a file nor a folder.";
    case SyncSkip::CaseCollision:
        return kind + item.path + "' will be left alone because '" + item.other +
               "' has the same name in other letter case.";
    case SyncSkip::UploadCut:
        return kind + item.path +
               "' will be left alone because an earlier upload of it did not end" +
               (item.remote ? "." : "; a run that uploads will finish it.");
    case SyncSkip::KindClash:
        return kind + item.path + "' will be left alone because the " +
               (item.remote ? "local " : "remote ") + (item.isFolder ? "file '" : "folder '") +
               item.other + "' has the same name.";
    case SyncSkip::IgnoredOtherSide:
        return kind + item.path +
               "' will be left alone because the item of the same name on the other side "
               "cannot be synchronized.";
    default:
        return kind + item.path + "' will be ignored.";
    }
}
