#pragma once
// A window held across turns of the event loop without trusting its address:
// the window may close and go meanwhile, and a later window may be made at
// the same address. The handle answers null from the moment the object goes.
#include "platform/ui/Window.h"

#include <memory>

namespace testsupport {

template <class T = PPx::Window> class WindowHandle {
public:
    WindowHandle() = default;
    // WINDOW must be alive when the handle is taken.
    WindowHandle(T* window) : mWindow(window) {
        if (window)
            mAlive = window->AliveFlag();
    }
    T* get() const { return mAlive.expired() ? nullptr : mWindow; }
    explicit operator bool() const { return get() != nullptr; }

private:
    T* mWindow = nullptr;
    std::weak_ptr<bool> mAlive;
};

} // namespace testsupport
