#include "platform/core/EventLoop.h"
#include "platform/core/Timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace PPx;
using namespace std::chrono_literals;

namespace {

class CountingTimer : public Timer {
public:
    std::atomic<int> fired{0};
    std::function<void(CountingTimer&)> then;
    ~CountingTimer() override { Remove(); }

protected:
    void DoTimer() override {
        EXPECT_TRUE(IsMainThread());
        ++fired;
        if (then)
            then(*this);
    }
};

} // namespace

TEST(Timer, OneShotFiresOnceAndUninstalls) {
    CountingTimer t;
    t.Install(0.01, 0);
    EXPECT_TRUE(t.IsInstalled());
    EXPECT_TRUE(RunEventLoopUntil([&] { return t.fired == 1; }, 5s));
    RunEventLoopUntil([] { return false; }, 50ms);
    EXPECT_EQ(t.fired, 1);
    EXPECT_FALSE(t.IsInstalled());
}

TEST(Timer, RepeatsUntilItRemovesItself) {
    CountingTimer t;
    t.then = [](CountingTimer& self) {
        if (self.fired == 3)
            self.Remove();
    };
    t.Install(0, 0.01);
    EXPECT_TRUE(RunEventLoopUntil([&] { return t.fired == 3; }, 5s));
    RunEventLoopUntil([] { return false; }, 60ms);
    EXPECT_EQ(t.fired, 3);
    EXPECT_FALSE(t.IsInstalled());
}

TEST(Timer, CallbackMayDeleteItsTimer) {
    int fired = 0;
    std::unique_ptr<Timer> owner;
    owner.reset(new Timer([&] {
        ++fired;
        owner.reset();
    }));
    owner->Install(0, 0.005);
    EXPECT_TRUE(RunEventLoopUntil([&] { return !owner; }, 5s));
    RunEventLoopUntil([] { return false; }, 40ms);
    EXPECT_EQ(fired, 1);
}

TEST(Timer, ReinstallRestartsTheFirstDelay) {
    CountingTimer t;
    t.Install(0.2, 0);
    RunEventLoopUntil([] { return false; }, 20ms);
    if (t.fired != 0)
        GTEST_SKIP() << "the machine was too slow to reinstall in time";
    t.Install(30, 0);
    RunEventLoopUntil([] { return false; }, 400ms);
    EXPECT_EQ(t.fired, 0);
    EXPECT_TRUE(t.IsInstalled());
}

// The worker installs and removes its keep-alive timer from its own thread.
TEST(Timer, InstallAndRemoveFromAnotherThread) {
    CountingTimer t;
    std::thread([&] { t.Install(0.01, 0.01); }).join();
    EXPECT_TRUE(RunEventLoopUntil([&] { return t.fired >= 2; }, 5s));
    std::thread([&] { t.Remove(); }).join();
    EXPECT_FALSE(t.IsInstalled());
    RunEventLoopUntil([] { return false; }, 20ms);
    int after = t.fired;
    RunEventLoopUntil([] { return false; }, 60ms);
    EXPECT_EQ(t.fired, after);

    // Removed on the other thread before the main loop ever saw the install.
    CountingTimer u;
    std::thread([&] {
        u.Install(0, 0);
        u.Remove();
    }).join();
    RunEventLoopUntil([] { return false; }, 50ms);
    EXPECT_EQ(u.fired, 0);
}

namespace {
uint32_t gFakeTicks = 0;
uint32_t FakeTicks() {
    return gFakeTicks;
}
} // namespace

TEST(TickCount, MonotonicAndInjectable) {
    uint32_t a = TickCount();
    std::this_thread::sleep_for(40ms);
    uint32_t b = TickCount();
    EXPECT_GE(uint32_t(b - a), 1u);
    gFakeTicks = 0xFFFFFFF0u;
    SetTickSource(&FakeTicks);
    uint32_t start = TickCount();
    gFakeTicks += 0x20; // wraps
    EXPECT_EQ(uint32_t(TickCount() - start), 0x20u);
    SetTickSource(nullptr);
    EXPECT_GE(TickCount(), b);
}
