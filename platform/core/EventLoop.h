#pragma once
// The application event loop and nested (app-modal) loops.
#include <chrono>
#include <functional>
#include <memory>

namespace PPx {

// Makes the core application object when the program has none yet (tools,
// engine tests); a GUI program makes its own first and then needs none of this.
class CoreApplication {
public:
    CoreApplication(int& argc, char** argv);
    ~CoreApplication();
    CoreApplication(const CoreApplication&) = delete;
    CoreApplication& operator=(const CoreApplication&) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> mImpl;
};

bool IsMainThread();

// Runs the main event loop until QuitApplicationLoop; returns its exit code.
int RunApplicationLoop();
void QuitApplicationLoop(int exitCode = 0);

// A nested event loop, e.g. for a sheet: Run returns once Quit was called
// (a Quit that comes before Run makes Run return at once). Main thread.
class ModalLoop {
public:
    ModalLoop();
    ~ModalLoop();
    ModalLoop(const ModalLoop&) = delete;
    ModalLoop& operator=(const ModalLoop&) = delete;

    void Run();
    void Quit();
    bool IsRunning() const;

private:
    struct Impl;
    // Shared with a running Run, so that the object may be destroyed inside its own loop.
    std::shared_ptr<Impl> mImpl;
};

// Processes events until `done` answers true or `timeout` passed; true when done.
// For tests and short waits on the main thread.
bool RunEventLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

} // namespace PPx
