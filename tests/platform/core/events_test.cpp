#include "platform/core/EventLoop.h"
#include "platform/core/Events.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace PPx;
using namespace std::chrono_literals;

TEST(FourCharCode, PacksBigEndianAndPrints) {
    EXPECT_EQ(FourCharCode('CNBK'), 0x434E424Bu);
    EXPECT_EQ(FourCharCodeToString('err '), "err ");
    EXPECT_EQ(FourCharCodeToString(0x41000142), "A\\x00\\x01B");
    EXPECT_TRUE(IsValidUTF8("caf\xC3\xA9 \xF0\x9F\x98\x80"));
    EXPECT_FALSE(IsValidUTF8("\xC3"));         // truncated
    EXPECT_FALSE(IsValidUTF8("\xC0\xAF"));     // overlong
    EXPECT_FALSE(IsValidUTF8("\xED\xA0\x80")); // surrogate
    EXPECT_FALSE(IsValidUTF8("\xE9t\xE9"));    // Latin-1
}

TEST(Errors, CarryStatusAndCode) {
    try {
        ThrowNilCFReference();
        FAIL();
    } catch (const RuntimeError& e) {
        EXPECT_EQ(e.Code(), FourCharCode('cfnr'));
        EXPECT_STREQ(e.what(), "Nil CF reference");
    }
    OSError e(-50, "GetControlByID failed");
    EXPECT_EQ(e.Status(), -50);
    EXPECT_STREQ(e.what(), "GetControlByID failed");
}

TEST(Event, ParametersKeepTheirType) {
    Event e = MakeCommandEvent('strt', "a.txt", int64_t(1) << 40, 7);
    EXPECT_EQ(e.Class(), kEventClassCommand);
    EXPECT_EQ(e.Command(), FourCharCode('strt'));
    std::string name;
    int64_t size = 0, offset = 0;
    ASSERT_TRUE(e.GetString(kEventParamName, name));
    ASSERT_TRUE(e.GetInteger(kEventParamSize, size));
    ASSERT_TRUE(e.GetInteger(kEventParamOffset, offset));
    EXPECT_EQ(name, "a.txt");
    EXPECT_EQ(size, int64_t(1) << 40);
    EXPECT_EQ(offset, 7);
    // Wrong type or missing: not found, output untouched.
    EXPECT_FALSE(e.GetInteger(kEventParamName, size));
    EXPECT_FALSE(e.GetString(kEventParamSize, name));
    EXPECT_EQ(name, "a.txt");
    EXPECT_FALSE(MakeCommandEvent('updt').HasParameter(kEventParamName));
}

TEST(EventTarget, NotHandledPassesToOlderHandlersThenParent) {
    EventTarget app;
    EventTarget window(&app);
    EventTarget control(&window);
    std::vector<std::string> calls;
    auto record = [&](const char* who, OSStatus result) {
        return [&calls, who, result](Event&) {
            calls.push_back(who);
            return result;
        };
    };
    auto h1 = window.InstallCommandHandler('clos', record("window", noErr));
    auto h2 = control.InstallCommandHandler('clos', record("control-old", noErr));
    auto h3 = control.InstallCommandHandler('clos', record("control-new", eventNotHandledErr));
    auto other = control.InstallCommandHandler('quit', record("quit", noErr));

    Event e = MakeCommandEvent('clos');
    EXPECT_EQ(control.SendEvent(e), noErr);
    EXPECT_EQ(calls, (std::vector<std::string>{"control-new", "control-old"}));

    calls.clear();
    h2.Remove();
    EXPECT_EQ(control.SendEvent(e), noErr);
    EXPECT_EQ(calls, (std::vector<std::string>{"control-new", "window"}));

    calls.clear();
    h1.Remove();
    EXPECT_EQ(control.SendEvent(e), eventNotHandledErr);
    EXPECT_EQ(calls, (std::vector<std::string>{"control-new"}));

    // Another class with the same kind is a different event.
    calls.clear();
    Event wind('wind', 'clos');
    EXPECT_EQ(control.SendEvent(wind), eventNotHandledErr);
    EXPECT_TRUE(calls.empty());
}

TEST(EventTarget, ExceptionCountsAsHandled) {
    EventTarget parent;
    EventTarget target(&parent);
    bool parentCalled = false;
    auto p = parent.InstallCommandHandler('boom', [&](Event&) {
        parentCalled = true;
        return noErr;
    });
    auto h = target.InstallCommandHandler(
        'boom', [](Event&) -> OSStatus { throw OSError(-50, "HIViewGetFrame failed"); });
    Event e = MakeCommandEvent('boom');
    EXPECT_EQ(target.SendEvent(e), noErr);
    EXPECT_FALSE(parentCalled);
}

TEST(EventTarget, HandlerMayRemoveItselfOrDestroyItsTarget) {
    EventTarget parent;
    bool parentCalled = false;
    auto p = parent.InstallCommandHandler('clos', [&](Event&) {
        parentCalled = true;
        return noErr;
    });
    auto target = std::make_unique<EventTarget>(&parent);
    EventHandler self;
    int calls = 0;
    self = target->InstallCommandHandler('once', [&](Event&) {
        ++calls;
        self.Remove();
        return eventNotHandledErr;
    });
    Event once = MakeCommandEvent('once');
    target->SendEvent(once);
    target->SendEvent(once);
    EXPECT_EQ(calls, 1);

    // A close handler that destroys its own window: the event stops there.
    auto h = target->InstallCommandHandler('clos', [&](Event&) {
        target.reset();
        return eventNotHandledErr;
    });
    Event close = MakeCommandEvent('clos');
    EXPECT_EQ(target->SendEvent(close), eventNotHandledErr);
    EXPECT_FALSE(target);
    EXPECT_FALSE(parentCalled);
    EXPECT_FALSE(h.IsInstalled());
    h.Remove(); // after the target is gone: harmless
}

// Eight threads post numbered events to one target; each thread's events must
// arrive in order, all of them, on the main thread.
TEST(PostEvent, EightThreadsArriveInOrderPerThread) {
    constexpr int kThreads = 8;
    constexpr int kEach = 2000;
    EventTarget target;
    std::vector<int64_t> next(kThreads, 0);
    int received = 0;
    bool wrongThread = false;
    bool outOfOrder = false;
    auto h = target.InstallCommandHandler('updt', [&](Event& e) {
        int64_t thread = -1, seq = -1;
        e.GetInteger(kEventParamOffset, thread);
        e.GetInteger(kEventParamSize, seq);
        if (!IsMainThread())
            wrongThread = true;
        if (thread < 0 || thread >= kThreads || seq != next[thread])
            outOfOrder = true;
        else
            ++next[thread];
        ++received;
        return noErr;
    });
    EventTargetRef ref = target.Ref();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([ref, t] {
            for (int i = 0; i < kEach; ++i)
                PostEvent(ref, MakeCommandEvent('updt', "f", i, t));
        });
    for (auto& th : threads)
        th.join();
    EXPECT_TRUE(RunEventLoopUntil([&] { return received == kThreads * kEach; }, 30s));
    EXPECT_FALSE(wrongThread);
    EXPECT_FALSE(outOfOrder);
    EXPECT_EQ(received, kThreads * kEach);
}

// A target destroyed while eight threads keep posting to it receives nothing
// afterwards, and the queue keeps flowing for a target that stays.
TEST(PostEvent, NothingReachesADestroyedTarget) {
    constexpr int kThreads = 8;
    auto doomed = std::make_unique<EventTarget>();
    EventTarget survivor;
    std::atomic<bool> stop{false};
    bool destroyed = false;
    int afterDestroy = 0, doomedCount = 0, survivorCount = 0;
    auto hd = doomed->InstallCommandHandler('updt', [&](Event&) {
        if (destroyed)
            ++afterDestroy;
        ++doomedCount;
        return noErr;
    });
    auto hs = survivor.InstallCommandHandler('updt', [&](Event&) {
        ++survivorCount;
        return noErr;
    });
    EventTargetRef doomedRef = doomed->Ref(), survivorRef = survivor.Ref();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            while (!stop.load()) {
                PostEvent(doomedRef, MakeCommandEvent('updt', "d", 0, t));
                PostEvent(survivorRef, MakeCommandEvent('updt', "s", 0, t));
                std::this_thread::yield();
            }
        });
    EXPECT_TRUE(RunEventLoopUntil([&] { return doomedCount > 100; }, 30s));
    doomed.reset();
    destroyed = true;
    int before = survivorCount;
    EXPECT_TRUE(RunEventLoopUntil([&] { return survivorCount > before + 100; }, 30s));
    stop = true;
    for (auto& th : threads)
        th.join();
    RunEventLoopUntil([] { return PostedEventCount() == 0; }, 30s);
    EXPECT_EQ(afterDestroy, 0);
    EXPECT_FALSE(hd.IsInstalled());
}

TEST(PostEvent, RemovalByTargetAndBySender) {
    EventTarget a, b;
    std::vector<std::string> got;
    auto ha = a.InstallCommandHandler('stat', [&](Event&) {
        got.push_back("a");
        return noErr;
    });
    auto hb = b.InstallCommandHandler('stat', [&](Event&) {
        got.push_back("b");
        return noErr;
    });
    int worker1 = 0, worker2 = 0;
    PostEvent(a.Ref(), MakeCommandEvent('stat'), &worker1);
    PostEvent(b.Ref(), MakeCommandEvent('stat'), &worker2);
    PostEvent(b.Ref(), MakeCommandEvent('stat'), &worker1);
    RemovePostedEventsFrom(&worker1);
    PostEvent(a.Ref(), MakeCommandEvent('stat'), &worker2);
    RemovePostedEvents(a.Ref());
    PostEvent(EventTargetRef(), MakeCommandEvent('stat')); // none: dropped
    RunEventLoopUntil([] { return PostedEventCount() == 0; }, 10s);
    RunEventLoopUntil([] { return false; }, 20ms);
    EXPECT_EQ(got, (std::vector<std::string>{"b"}));
}

// A handler that runs a nested loop (a sheet) still sees the events posted
// behind its own, and one of them ends the loop.
TEST(PostEvent, NestedLoopKeepsDelivering) {
    EventTarget target;
    ModalLoop loop;
    std::vector<int64_t> order;
    auto h = target.InstallCommandHandler('updt', [&](Event& e) {
        int64_t n = 0;
        e.GetInteger(kEventParamSize, n);
        order.push_back(n);
        if (n == 0) {
            // Posted from another thread while the loop runs.
            std::thread([ref = target.Ref()] {
                PostEvent(ref, MakeCommandEvent('updt', "", 3, 0));
                PostEvent(ref, MakeCommandEvent('quit'));
            }).detach();
            loop.Run();
            order.push_back(-1);
        }
        return noErr;
    });
    auto q = target.InstallCommandHandler('quit', [&](Event&) {
        loop.Quit();
        return noErr;
    });
    for (int i = 0; i < 3; ++i)
        PostEvent(target.Ref(), MakeCommandEvent('updt', "", i, 0));
    EXPECT_TRUE(RunEventLoopUntil([&] { return order.size() == 5; }, 10s));
    EXPECT_EQ(order, (std::vector<int64_t>{0, 1, 2, 3, -1}));
}

TEST(ModalLoop, QuitBeforeRunReturnsAtOnce) {
    ModalLoop loop;
    loop.Quit();
    loop.Run();
    EXPECT_FALSE(loop.IsRunning());
}

// A sheet may be destroyed by an event handled inside its own loop.
TEST(ModalLoop, MayBeDestroyedInsideItsOwnLoop) {
    EventTarget target;
    auto loop = std::make_unique<ModalLoop>();
    auto h = target.InstallCommandHandler('clos', [&](Event&) {
        loop.reset();
        return noErr;
    });
    PostEvent(target.Ref(), MakeCommandEvent('clos'));
    loop->Run();
    EXPECT_FALSE(loop);
}
