#pragma once
// Showing a window or sheet on a real X display and saving a picture of the
// screen, shared by the picture programs so they check and name alike.
#include "platform/ui/Window.h"
#include "platform/ui/testing/Testing.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace testsupport {

// Saves the screen to OUTDIR/NAME.png once WINDOW is shown and on the
// display (by its title); says why on stderr when it is not.
bool Shoot(PPx::Window* window, const std::string& outDir, const std::string& name);

// A modeless sheet is shown, pictured, hidden and deleted.
template <class Sheet>
bool ShowAndShoot(Sheet* sheet, PPx::Window* owner, const std::string& outDir,
                  const std::string& name) {
    if (!sheet) {
        std::fprintf(stderr, "%s: the interface file could not be made\n", name.c_str());
        return false;
    }
    sheet->Show(owner);
    bool ok = Shoot(sheet, outDir, name);
    sheet->Hide();
    delete sheet;
    return ok;
}

// A modal sheet is pictured from inside its own loop, then answered with
// the button ANSWER.
template <class Sheet>
bool RunAndShoot(Sheet* sheet, PPx::Window* owner, const std::string& outDir,
                 const std::string& name, uint32_t answer) {
    if (!sheet) {
        std::fprintf(stderr, "%s: the interface file could not be made\n", name.c_str());
        return false;
    }
    bool ok = false;
    PPx::Testing::Later([&] {
        ok = Shoot(sheet, outDir, name);
        PPx::Testing::ClickControl(sheet->GetSysWindow(), answer);
    });
    sheet->DoModal(owner);
    delete sheet;
    return ok;
}

} // namespace testsupport
