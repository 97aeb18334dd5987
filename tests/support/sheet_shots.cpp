#include "tests/support/sheet_shots.h"

#include "platform/core/EventLoop.h"

#include <chrono>
#include <cstdlib>

namespace testsupport {

namespace {

// Lets the window system map and draw what was shown.
void Settle() {
    PPx::RunEventLoopUntil([] { return false; }, std::chrono::milliseconds(700));
}

bool Run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

} // namespace

bool Shoot(PPx::Window* window, const std::string& outDir, const std::string& name) {
    Settle();
    if (!window->IsVisible()) {
        std::fprintf(stderr, "%s: not shown\n", name.c_str());
        return false;
    }
    const std::string title = window->GetTitle();
    if (!Run("xwininfo -root -tree | grep -q '\"" + title + "\"'")) {
        std::fprintf(stderr, "%s: no window \"%s\" on the display\n", name.c_str(), title.c_str());
        return false;
    }
    const std::string file = outDir + "/" + name + ".png";
    if (!Run("import -window root '" + file + "'")) {
        std::fprintf(stderr, "%s: no picture\n", name.c_str());
        return false;
    }
    std::printf("saved %s\n", file.c_str());
    return true;
}

} // namespace testsupport
