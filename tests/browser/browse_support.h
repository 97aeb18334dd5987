#pragma once
// What the browser window tests share: a private configuration, a folder on
// a test server's disk, waiting for the window to be idle and answering the
// sheets and alerts it brings up as a user would.
#include "browser/window/BrowseWindow.h"
#include "engine/ConnectionRecords.h"
#include "tests/support/window_handle.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace browsetest {

using namespace std::chrono_literals;
using testsupport::WindowHandle;

// Makes the application once, with a configuration folder of its own.
void SetUpApplication();

// The bookmark of the fixture server NAME ("pyftpd", "vsftpd", "sshd"),
// starting in FOLDER (relative to the login folder); ROOT gets the folder the
// server serves, as this process sees it.
sBookMarkData ServerBookmark(const std::string& name, const std::string& folder, std::string& root);

// Files on the server's disk, owned like the server's own root so that the
// server may change them.
void MakeFile(const std::string& path, size_t size);
void MakeFolder(const std::string& path);
void MakeLink(const std::string& target, const std::string& path);
void GiveToServer(const std::string& root, const std::string& path);
bool Exists(const std::string& path); // without following links
int ModeOf(const std::string& path);  // permission bits, -1 when missing
void RemoveTree(const std::string& path);

// Runs the event loop until the window (alive at the call) has no request
// out and its controls are enabled; a failure when it closes meanwhile, and
// on time-out one that says what was showing.
::testing::AssertionResult WaitIdle(BrowseWindow* window, std::chrono::milliseconds timeout = 60s);
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 60s);
// Runs the event loop until WINDOW, alive at the call, has gone.
bool WaitGone(PPx::Window* window, std::chrono::milliseconds timeout = 60s);

// The list item of the entry named NAME (0 when none).
uint32_t ItemNamed(BrowseWindow* window, const std::string& name);
void Select(BrowseWindow* window, const std::vector<std::string>& names);
std::vector<std::string> Names(BrowseWindow* window); // in the list's order

// Answers whatever comes up while it lives: each handler is tried every few
// milliseconds and removed once it has acted.
class Responder {
public:
    Responder();
    ~Responder();
    // ACT runs once a window whose class name is CLASSNAME shows.
    void OnSheet(const std::string& className, std::function<void(PPx::Window*)> act);
    // Answers the next alert with BUTTON, records its message, then runs THEN;
    // WHILESHOWN, when given, runs first, with the alert still up.
    void OnAlert(const std::string& button = "OK", std::function<void()> then = nullptr,
                 std::function<void()> whileShown = nullptr);
    std::vector<std::string> alerts;       // messages of the alerts answered, in order
    std::vector<std::string> explanations; // and their explanations
    int Pending() const;

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
};

// Sets the text field SIGNATURE of a sheet and clicks its button BUTTON.
void TypeAndClick(PPx::Window* sheet, uint32_t field, const std::string& text, uint32_t button);
void Click(PPx::Window* sheet, uint32_t button);

} // namespace browsetest
