#pragma once
// The %XX escapes of URLs and URIs.
#include <string>
#include <string_view>

namespace PPx {

// Undoes the escapes of TEXT into OUT; false for a broken one ('%' not
// followed by two hexadecimal digits).
bool UnescapePercent(std::string_view text, std::string& out);

} // namespace PPx
