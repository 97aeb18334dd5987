#include "browser/window/BrowseText.h"

#include "engine/LocalFiles.h"

#include <cinttypes>
#include <cstdio>

namespace {

// Length of the valid UTF-8 sequence starting at AT, 0 when there is none.
size_t SequenceLength(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length;
    uint32_t min;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, min = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, min = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, min = 0x10000;
    else
        return 0;
    if (at + length > text.size())
        return 0;
    uint32_t value = lead & (0xFF >> (length + 1));
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(at + i) & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return length;
}

void AppendCodePoint(std::string& out, uint32_t value) {
    out += static_cast<char>(0xE0 | (value >> 12));
    out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (value & 0x3F));
}

} // namespace

std::string DisplayableText(const std::string& text, size_t maxChars) {
    std::string out;
    size_t chars = 0;
    for (size_t at = 0; at < text.size() && chars < maxChars; ++chars) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        if (c == '\r' && at + 1 < text.size() && text[at + 1] == '\n') {
            ++at; // a CR LF line end is one line break
            --chars;
            continue;
        }
        if (c == '\n') {
            out += '\n';
            ++at;
        } else if (c < 0x20) {
            AppendCodePoint(out, 0x2400 + c); // the Control Pictures block
            ++at;
        } else if (c == 0x7F) {
            AppendCodePoint(out, 0x2421);
            ++at;
        } else if (size_t length = SequenceLength(text, at)) {
            out.append(text, at, length);
            at += length;
        } else {
            AppendCodePoint(out, 0xFFFD);
            ++at;
        }
    }
    return out;
}

std::string SizeText(uint64_t size) {
    uint64_t divisor = 1;
    const char* unit = "";
    if (size > 1073741823ULL)
        divisor = 1073741824ULL, unit = "GB";
    else if (size > 1048575ULL)
        divisor = 1048576ULL, unit = "MB";
    else if (size > 1023ULL)
        divisor = 1024ULL, unit = "KB";
    char text[64];
    if (divisor == 1) {
        std::snprintf(text, sizeof text, "%" PRIu64, size);
        return text;
    }
    const uint64_t whole = size / divisor;
    const uint64_t hundredths = ((size - whole * divisor) * 100) / divisor;
    if (hundredths)
        std::snprintf(text, sizeof text, "%" PRIu64 ".%02" PRIu64 " %s", whole, hundredths, unit);
    else
        std::snprintf(text, sizeof text, "%" PRIu64 " %s", whole, unit);
    return text;
}

std::vector<std::string> PathPopupItems(const std::string& path) {
    std::vector<std::string> items{"/"};
    size_t at = (!path.empty() && path[0] == '/') ? 1 : 0;
    while (at < path.size()) {
        size_t slash = path.find('/', at);
        std::string part =
            path.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        if (slash == std::string::npos) {
            items.push_back(part);
            break;
        }
        if (part != " ")
            items.push_back(part);
        at = slash + 1;
    }
    return items;
}

std::string PathForPopupItem(const std::vector<std::string>& items, int chosen) {
    std::string path = "/";
    for (int i = 2; i <= chosen && i <= static_cast<int>(items.size()); ++i)
        path += items[static_cast<size_t>(i - 1)] + "/";
    return path;
}

bool IsSingleComponent(std::string_view name) {
    return IsPlainName(name);
}
