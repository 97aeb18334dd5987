#pragma once
// The GUI application object: made first in main, before any window.
#include <memory>

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

} // namespace PPx
