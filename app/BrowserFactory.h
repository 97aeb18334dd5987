#pragma once
// Where a connection from a bookmark opens: the browser window. The browser
// registers its opener at start-up; until it does, opening shows nothing and
// the request is only remembered (for tests).
#include "engine/ConnectionRecords.h"

#include <functional>

namespace PPx {
class Window;
}

// Opens a browser window on a copy of BOOKMARK, placed against ORIGIN (the
// window the connection was asked for in) when that is given; false when no
// window could be made.
using BrowserOpener = std::function<bool(const sBookMarkData& bookmark, PPx::Window* origin)>;

bool OpenBrowserWindow(const sBookMarkData& bookmark, PPx::Window* origin = nullptr);
// Replaces the opener (an empty one restores the default); the previous one.
BrowserOpener SetBrowserOpener(BrowserOpener opener);

// What the default opener was last handed, and how often.
struct BrowserRequests {
    int count = 0;
    sBookMarkData last;
    bool fromWindow = false; // an origin window was given
};
const BrowserRequests& GetBrowserRequests();
void ResetBrowserRequests();
