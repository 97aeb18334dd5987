#include "platform/core/Timer.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace PPx {

namespace detail {

// Shared between the Timer object (any thread) and the QTimer (main thread).
// The wanted state is written under `mutex` by any thread; the main thread
// brings the QTimer in line with it. `generation` tells a firing of an older
// installation from one of the current.
struct TimerState {
    std::mutex mutex;
    std::condition_variable idle;
    Timer* owner = nullptr;
    bool installed = false;
    uint64_t generation = 0;
    std::chrono::steady_clock::time_point firstFire;
    double repeatSeconds = 0;
    bool firing = false;
    std::thread::id firingThread;

    // Main thread only.
    QTimer* qtimer = nullptr;
    uint64_t appliedGeneration = 0;
    bool inRepeatPhase = false;

    static void Apply(const std::shared_ptr<TimerState>& state);
    static void Fire(const std::weak_ptr<TimerState>& weak);
    static void Release(const std::shared_ptr<TimerState>& state);
};

} // namespace detail

namespace {

bool OnMainThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

int ToMilliseconds(double seconds) {
    if (!(seconds > 0))
        return 0;
    double ms = seconds * 1000.0;
    return ms > 2e9 ? 2000000000 : static_cast<int>(ms + 0.5);
}

// Runs `fn` on the main thread: at once when already there, else queued.
template <typename Fn> void OnMain(Fn fn) {
    if (OnMainThread()) {
        fn();
        return;
    }
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

} // namespace

using detail::TimerState;

void TimerState::Apply(const std::shared_ptr<TimerState>& state) {
    bool installed;
    uint64_t generation;
    std::chrono::steady_clock::time_point firstFire;
    {
        std::lock_guard lock(state->mutex);
        if (!state->owner)
            return;
        installed = state->installed;
        generation = state->generation;
        firstFire = state->firstFire;
    }
    if (generation == state->appliedGeneration && state->qtimer)
        return;
    if (!state->qtimer) {
        state->qtimer = new QTimer();
        state->qtimer->setTimerType(Qt::PreciseTimer);
        std::weak_ptr<TimerState> weak = state;
        QObject::connect(state->qtimer, &QTimer::timeout, [weak] { TimerState::Fire(weak); });
    }
    state->appliedGeneration = generation;
    state->inRepeatPhase = false;
    if (installed) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            firstFire - std::chrono::steady_clock::now());
        state->qtimer->setSingleShot(true);
        state->qtimer->start(static_cast<int>(std::max<int64_t>(0, left.count())));
    } else {
        state->qtimer->stop();
    }
}

void TimerState::Fire(const std::weak_ptr<TimerState>& weak) {
    auto state = weak.lock();
    if (!state)
        return;
    Timer* owner;
    {
        std::lock_guard lock(state->mutex);
        if (!state->owner || !state->installed || state->generation != state->appliedGeneration)
            return;
        if (state->repeatSeconds > 0) {
            if (!state->inRepeatPhase) {
                state->inRepeatPhase = true;
                state->qtimer->setSingleShot(false);
                state->qtimer->start(std::max(1, ToMilliseconds(state->repeatSeconds)));
            }
        } else {
            state->installed = false;
        }
        owner = state->owner;
        state->firing = true;
        state->firingThread = std::this_thread::get_id();
    }
    // The lock is not held here: DoTimer may remove, reinstall or delete the timer.
    try {
        owner->DoTimer();
    } catch (...) {
    }
    std::lock_guard lock(state->mutex);
    state->firing = false;
    state->idle.notify_all();
}

void TimerState::Release(const std::shared_ptr<TimerState>& state) {
    if (!state->qtimer)
        return;
    bool insideOwnFiring;
    {
        std::lock_guard lock(state->mutex);
        insideOwnFiring = state->firing && state->firingThread == std::this_thread::get_id();
    }
    state->qtimer->stop();
    // Inside its own timeout the QTimer must outlive the signal; otherwise it
    // goes at once, so that nothing is left for an event loop that may not run again.
    if (insideOwnFiring)
        state->qtimer->deleteLater();
    else
        delete state->qtimer;
    state->qtimer = nullptr;
}

Timer::Timer() : mState(std::make_shared<TimerState>()) {
    mState->owner = this;
}

Timer::Timer(std::function<void()> onFire) : Timer() {
    mOnFire = std::move(onFire);
}

Timer::~Timer() {
    {
        std::unique_lock lock(mState->mutex);
        mState->owner = nullptr;
        mState->installed = false;
        ++mState->generation;
        // A firing on another thread must end before this object goes.
        mState->idle.wait(lock, [&] {
            return !mState->firing || mState->firingThread == std::this_thread::get_id();
        });
    }
    auto state = mState;
    OnMain([state] { TimerState::Release(state); });
}

void Timer::Install(double firstDelaySeconds, double repeatSeconds) {
    {
        std::lock_guard lock(mState->mutex);
        mState->installed = true;
        ++mState->generation;
        mState->firstFire = std::chrono::steady_clock::now() +
                            std::chrono::milliseconds(ToMilliseconds(firstDelaySeconds));
        mState->repeatSeconds = repeatSeconds > 0 ? repeatSeconds : 0;
    }
    auto state = mState;
    OnMain([state] { TimerState::Apply(state); });
}

void Timer::Remove() {
    {
        std::lock_guard lock(mState->mutex);
        if (!mState->installed)
            return;
        mState->installed = false;
        ++mState->generation;
    }
    auto state = mState;
    OnMain([state] { TimerState::Apply(state); });
}

bool Timer::IsInstalled() const {
    std::lock_guard lock(mState->mutex);
    return mState->installed;
}

void Timer::DoTimer() {
    if (mOnFire)
        mOnFire();
}

// ---------------------------------------------------------------- ticks

namespace {
std::atomic<TickSource> gTickSource{nullptr};
}

uint32_t TickCount() {
    if (TickSource source = gTickSource.load(std::memory_order_acquire))
        return source();
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, 60>>;
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<Ticks>(now).count());
}

void SetTickSource(TickSource source) {
    gTickSource.store(source, std::memory_order_release);
}

} // namespace PPx
