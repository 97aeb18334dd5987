#pragma once
// Web pages opened with the desktop's browser.
#include <functional>
#include <string>

namespace PPx {

// Opens URL with the desktop's default browser; false when none took it.
bool OpenURL(const std::string& url);

// Tests answer in the browser's place; an empty function restores it.
void SetOpenURLHandler(std::function<bool(const std::string&)> handler);

} // namespace PPx
