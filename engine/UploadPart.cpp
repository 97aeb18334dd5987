#include "engine/UploadPart.h"

#include <cstdint>
#include <cstdio>

namespace {

constexpr std::string_view kSuffix = ".zarvel-upload";
// The longest name most file systems take.
constexpr size_t kLongestName = 255;

} // namespace

std::string UploadPartName(std::string_view path) {
    const size_t slash = path.rfind('/');
    const size_t start = slash == std::string_view::npos ? 0 : slash + 1;
    const std::string_view leaf = path.substr(start);
    std::string part(path.substr(0, start));
    if (leaf.size() + kSuffix.size() <= kLongestName) {
        part += leaf;
    } else {
        uint64_t hash = 1469598103934665603ull; // FNV-1a
        for (char c : leaf) {
            const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
            hash = (hash ^ static_cast<unsigned char>(upper)) * 1099511628211ull;
        }
        // Cut between characters, not inside one of several bytes.
        size_t keep = kLongestName - kSuffix.size() - 17;
        while (keep > 0 && (static_cast<unsigned char>(leaf[keep]) & 0xC0) == 0x80)
            --keep;
        char tag[18];
        std::snprintf(tag, sizeof tag, "-%016llx", static_cast<unsigned long long>(hash));
        part += leaf.substr(0, keep);
        part += tag;
    }
    part += kSuffix;
    return part;
}

bool IsUploadPartName(std::string_view name) {
    const size_t slash = name.rfind('/');
    const std::string_view leaf = slash == std::string_view::npos ? name : name.substr(slash + 1);
    return leaf.size() > kSuffix.size() && leaf.ends_with(kSuffix);
}

bool PermissionsToMode(std::string_view letters, std::string& mode) {
    if (letters.size() != 9)
        return false;
    unsigned bits = 0;
    for (size_t i = 0; i < 9; ++i) {
        const char c = letters[i];
        const size_t slot = i % 3;
        const bool set = slot == 0   ? c == 'r'
                         : slot == 1 ? c == 'w'
                                     : c == 'x' || c == 's' || c == 't';
        const bool plain = c == '-' || (slot == 2 && (c == 'S' || c == 'T'));
        if (!set && !plain)
            return false;
        if (set)
            bits |= 1u << (8 - i);
    }
    char text[8];
    std::snprintf(text, sizeof text, "%o", bits);
    mode = text;
    return true;
}
