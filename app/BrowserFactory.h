#pragma once
// Where a connection from a bookmark opens: the browser window. The browser
// registers its opener at start-up; until it does, opening shows nothing and
// the request is only remembered (for tests).
#include "ConnectionRecords.h"

#include <functional>

namespace PPx {
class Window;
}

// Opens a browser window on a copy of BOOKMARK, cascaded on CASCADEON when
// that is given; false when no window could be made.
using BrowserOpener = std::function<bool(const sBookMarkData& bookmark, PPx::Window* cascadeOn)>;

bool OpenBrowserWindow(const sBookMarkData& bookmark, PPx::Window* cascadeOn = nullptr);
// Replaces the opener (an empty one restores the default); the previous one.
BrowserOpener SetBrowserOpener(BrowserOpener opener);

// What the default opener was last handed, and how often.
struct BrowserRequests {
    int count = 0;
    sBookMarkData last;
    bool cascaded = false;
};
const BrowserRequests& GetBrowserRequests();
void ResetBrowserRequests();
