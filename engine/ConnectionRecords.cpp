#include "engine/ConnectionRecords.h"

#include <cctype>
#include <limits>

bool HasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string NameTakenText(std::string_view name) {
    return "An item named \"" + std::string(name) +
           "\" already exists in this folder. Choose another name, or rename or delete that "
           "item first.";
}

uint64_t ResumeOffset(const sFileInfo& info) {
    // Like "%llu": leading blanks are skipped, then the digits are read.
    const std::string_view text = info.resumeOffset;
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    if (i < text.size() && text[i] == '+')
        ++i;
    uint64_t value = 0;
    bool any = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10)
            return 0; // no sane offset; start over rather than seek to nonsense
        value = value * 10 + digit;
        any = true;
    }
    return any ? value : 0;
}
