#pragma once
// The texts and checks of the browser window that need no window: reply-code
// stripping, server texts made fit to show, size texts, the path pop-up's
// items and the checks of names before they reach a command.
#include "browser/core/ServerText.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A server's text as the user may see it: at most MAXCHARS characters (whole
// UTF-8 sequences), line breaks kept, every other control character and every
// byte that is no valid UTF-8 shown as a visible sign.
std::string DisplayableText(const std::string& text, size_t maxChars = 255);

// "0", "1023", "1 KB", "1.50 KB", "1023.99 MB", "1 GB" ...
std::string SizeText(uint64_t size);

// The pop-up items of a remote path: "/" first, then one per component.
std::vector<std::string> PathPopupItems(const std::string& path);
// The absolute path ("/a/b/") of pop-up item CHOSEN (counting from 1).
std::string PathForPopupItem(const std::vector<std::string>& items, int chosen);

// A name from a listing may stand for one item of the folder only: not empty,
// not "." or "..", no "/", NUL, CR or LF.
bool IsSingleComponent(std::string_view name);
