#pragma once
// The GUI application object: made first in main, before any window.
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace PPx {

class UIApplication {
public:
    UIApplication(int& argc, char** argv);
    ~UIApplication();
    UIApplication(const UIApplication&) = delete;
    UIApplication& operator=(const UIApplication&) = delete;

    // Widget tests: makes the application once for the whole process.
    static void EnsureForTests();

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
};

// One program per user and Preferences folder: a second start hands its
// documents (possibly none) to the running one and ends. True when the
// running program took them.
bool HandDocumentsToRunningProgram(const std::vector<std::string>& paths);
// Makes this program the one that takes them; OPEN runs on the main thread.
void ListenForDocuments(std::function<void(const std::vector<std::string>&)> open);

} // namespace PPx
