#include "engine/UploadPart.h"

#include <cstdint>
#include <cstdio>
#include <random>

namespace {

constexpr std::string_view kSuffix = ".zarvel-upload";
constexpr size_t kTagDigits = 8;
// "." in front, "." + tag + suffix behind.
constexpr size_t kOverhead = 1 + 1 + kTagDigits + kSuffix.size();
// The longest name most file systems take.
constexpr size_t kLongestName = 255;

size_t LeafStart(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? 0 : slash + 1;
}

// The leaf as it goes into a temporary name: as it is, or cut and hashed.
std::string StemOfLeaf(std::string_view leaf) {
    if (leaf.size() + kOverhead <= kLongestName)
        return std::string(leaf);
    uint64_t hash = 1469598103934665603ull; // FNV-1a
    for (char c : leaf) {
        const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        hash = (hash ^ static_cast<unsigned char>(upper)) * 1099511628211ull;
    }
    // Cut between characters, not inside one of several bytes.
    size_t keep = kLongestName - kOverhead - 17;
    while (keep > 0 && (static_cast<unsigned char>(leaf[keep]) & 0xC0) == 0x80)
        --keep;
    char tag[18];
    std::snprintf(tag, sizeof tag, "-%016llx", static_cast<unsigned long long>(hash));
    return std::string(leaf.substr(0, keep)) + tag;
}

std::string RandomTag() {
    thread_local std::mt19937 generator{std::random_device{}()};
    char tag[kTagDigits + 1];
    std::snprintf(tag, sizeof tag, "%08x", static_cast<unsigned>(generator()));
    return tag;
}

} // namespace

std::string UploadPartName(std::string_view path) {
    const size_t start = LeafStart(path);
    return std::string(path.substr(0, start)) + "." + StemOfLeaf(path.substr(start)) + "." +
           RandomTag() + std::string(kSuffix);
}

bool IsUploadPartName(std::string_view name) {
    const std::string_view leaf = name.substr(LeafStart(name));
    if (leaf.size() <= kOverhead || leaf.front() != '.' || !leaf.ends_with(kSuffix))
        return false;
    const std::string_view tag =
        leaf.substr(leaf.size() - kSuffix.size() - kTagDigits - 1, kTagDigits + 1);
    if (tag.front() != '.')
        return false;
    for (char c : tag.substr(1))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

std::string UploadPartStem(std::string_view target) {
    const size_t start = LeafStart(target);
    return std::string(target.substr(0, start)) + StemOfLeaf(target.substr(start));
}

std::string UploadPartOwner(std::string_view part) {
    const size_t start = LeafStart(part);
    const std::string_view leaf = part.substr(start);
    return std::string(part.substr(0, start)) +
           std::string(leaf.substr(1, leaf.size() - kOverhead));
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

bool PermissionsDenyOwnerWrite(std::string_view letters) {
    std::string mode;
    return PermissionsToMode(letters, mode) && letters[1] != 'w';
}
