#pragma once
// Four-character codes ('CNBK', 'Pcmd', ...) are plain 32-bit numbers written as
// multi-character literals; GCC and Clang pack them big-endian, first character
// in the high byte.
#include <cstdint>
#include <string>
#include <string_view>

namespace PPx {

using FourCharCode = uint32_t;

// The four characters as text, e.g. "CNBK"; bytes outside printable ASCII are
// shown as "\xNN" so that a log line stays readable.
std::string FourCharCodeToString(FourCharCode code);

// True when `text` is well-formed UTF-8 (no overlongs, no surrogates, nothing
// beyond U+10FFFF). Strings that fail this cannot become platform strings.
bool IsValidUTF8(std::string_view text);

} // namespace PPx
