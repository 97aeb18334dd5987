#pragma once
// What widget tests need to play the user: find the alert or chooser on
// screen, press its buttons, choose files. Works on the offscreen platform.
#include "platform/ui/Nib.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace PPx::Testing {

// The alert now shown, if any: its texts and buttons.
struct AlertInfo {
    bool shown = false;
    std::string message;
    std::string explanation;
    std::vector<std::string> buttons; // in the order first, second, third
    std::string defaultButton;
    std::string escapeButton;
    bool sheet = false;
};
AlertInfo CurrentAlert();
bool ClickAlertButton(const std::string& text);
bool PressEscapeOnAlert();
bool CloseAlertByWindowManager();

// The chooser now shown: choose PATHS (full paths, for a save chooser the
// one file to save), or cancel it.
bool ChooseInChooser(const std::vector<std::string>& paths);
bool CancelChooser();
bool ChooserShown();

// Runs ACTION from the event loop as soon as it next runs (inside the modal
// loop the code under test is about to enter).
void Later(std::function<void()> action);

// Lets posted events run.
void ProcessEvents();

// Clicks the control with the signature in the window as the user would.
bool ClickControl(SysWindow window, uint32_t signature);

// Types KEYS ("Return", "Ctrl+W", "Alt+Up", several as "Down, Return") into
// the window as the user would: the window comes to the front, the keys go
// to its focused control, shortcuts and menu keys included. False when the
// window is not shown.
bool PressKeys(SysWindow window, const std::string& keys);

} // namespace PPx::Testing
