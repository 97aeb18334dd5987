#pragma once
// Main-thread timers and the tick count.
#include <cstdint>
#include <functional>
#include <memory>

namespace PPx {

namespace detail {
struct TimerState;
}

// A timer on the main event loop. DoTimer runs on the main thread; it may
// remove, reinstall or delete its own timer. Install, Remove and IsInstalled may
// be called from any thread. Destroying the timer removes it; when a firing is
// running on the main thread and the destructor runs on another thread, the
// destructor waits for that firing to end.
class Timer {
public:
    Timer();
    explicit Timer(std::function<void()> onFire);
    virtual ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // First firing after `firstDelaySeconds`, then every `repeatSeconds` (0: once).
    // Replaces an installed timer; the first delay counts from this call.
    void Install(double firstDelaySeconds, double repeatSeconds);
    void Remove();
    bool IsInstalled() const;

protected:
    // Default: calls the function given at construction.
    virtual void DoTimer();

private:
    friend struct detail::TimerState;
    std::function<void()> mOnFire;
    std::shared_ptr<detail::TimerState> mState;
};

// Ticks of 1/60 second from a monotonic clock; differences are taken with
// unsigned arithmetic, so the wrap-around does no harm.
uint32_t TickCount();

// Tests replace the clock; nullptr restores the monotonic one. Any thread.
using TickSource = uint32_t (*)();
void SetTickSource(TickSource source);

} // namespace PPx
