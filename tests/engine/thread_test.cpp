#include "engine/CUnixThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <string>

namespace {

// A worker built the way the connection workers are: it runs a body and
// deletes itself in ExitInstance.
class Worker : public CUnixThread {
public:
    using Body = std::function<int()>;
    static Worker* CreateThread(int arg, std::function<bool(int)> init, Body run,
                                std::function<void()> exited) {
        Worker* worker = new Worker(std::move(init), std::move(run), std::move(exited));
        return Start(worker, arg) ? worker : nullptr;
    }
    bool InitInstance(int arg) override { return mInit(arg); }
    int Run() override { return mRun(); }
    void ExitInstance() override {
        auto exited = std::move(mExited);
        delete this;
        exited();
    }

private:
    Worker(std::function<bool(int)> init, Body run, std::function<void()> exited)
        : mInit(std::move(init)), mRun(std::move(run)), mExited(std::move(exited)) {}
    std::function<bool(int)> mInit;
    Body mRun;
    std::function<void()> mExited;
};

// Waits, bounded so that a hang fails instead of blocking the suite.
bool WaitFor(const std::function<bool()>& done) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > give_up)
            return false;
        CUnixThread::Yield();
    }
    return true;
}

bool Ends(pthread_t id) {
    return WaitFor([&] { return CUnixThread::KillThread(id) != 0; }) &&
           CUnixThread::KillThread(id) == ESRCH;
}

} // namespace

TEST(CUnixThread, RunsInitRunExitKnowsItsIDAndEnds) {
    CUnixThreadLock lock;
    std::string events;
    pthread_t ranOn{};
    std::atomic<bool> exited{false};
    lock.Lock(); // holds the worker in InitInstance until its ID is read
    Worker* worker = Worker::CreateThread(
        42,
        [&](int arg) {
            lock.Lock();
            events += "I" + std::to_string(arg);
            lock.Unlock();
            return true;
        },
        [&] {
            lock.Lock();
            events += "R";
            ranOn = pthread_self();
            lock.Unlock();
            return 7;
        },
        [&] { exited = true; });
    ASSERT_NE(worker, nullptr);
    const pthread_t id = worker->GetID();
    EXPECT_EQ(CUnixThread::KillThread(id), 0);
    lock.Unlock();

    ASSERT_TRUE(WaitFor([&] { return exited.load(); }));
    lock.Lock();
    EXPECT_EQ(events, "I42R");
    EXPECT_TRUE(pthread_equal(ranOn, id));
    lock.Unlock();
    // Asking about a thread that has ended is an answer, not a crash.
    EXPECT_TRUE(Ends(id));
}

TEST(CUnixThread, FailedInitSkipsRunAndManySelfDeletingThreadsRaceTheirCreator) {
    // Workers that end at once race CreateThread; the sanitizer builds catch
    // any touch of a deleted worker.
    constexpr int kThreads = 64;
    std::atomic<int> runs{0}, exits{0};
    for (int i = 0; i < kThreads; ++i) {
        ASSERT_NE(
            Worker::CreateThread(
                i, [](int arg) { return arg % 2 == 0; }, [&] { return ++runs; }, [&] { ++exits; }),
            nullptr);
    }
    ASSERT_TRUE(WaitFor([&] { return exits.load() == kThreads; }));
    EXPECT_EQ(runs.load(), kThreads / 2);

    CUnixThread* bare = CUnixThread::CreateThread(5);
    ASSERT_NE(bare, nullptr);
    EXPECT_TRUE(Ends(bare->GetID()));
    delete bare; // its thread no longer refers to it
}

TEST(CUnixThreadCond, TimedWaitTimesOutWithoutSignal) {
    CUnixThreadLock lock;
    CUnixThreadCond cond;
    lock.Lock();
    EXPECT_FALSE(cond.Wait(lock, 0));
    EXPECT_FALSE(cond.Wait(lock, -3));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(cond.Wait(lock, 1));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(950));
    lock.Unlock();
}

TEST(CUnixThreadCond, SignalWakesUntimedAndTimedWaiters) {
    CUnixThreadLock lock;
    CUnixThreadCond cond;
    int stage = 0;
    // The worker answers stages 1 and 3 from an untimed wait.
    Worker* pinger = Worker::CreateThread(
        0, [](int) { return true; },
        [&] {
            for (int want = 1; want <= 3; want += 2) {
                lock.Lock();
                while (stage != want)
                    cond.Wait(lock);
                stage = want + 1;
                cond.Signal();
                lock.Unlock();
            }
            return 0;
        },
        [] {});
    ASSERT_NE(pinger, nullptr);
    const pthread_t id = pinger->GetID();
    lock.Lock();
    for (int ask = 1; ask <= 3; ask += 2) {
        stage = ask;
        cond.Signal();
        bool signalled = false;
        for (int rounds = 0; stage != ask + 1 && rounds < 60; ++rounds)
            signalled = cond.Wait(lock, 1) || signalled;
        EXPECT_EQ(stage, ask + 1);
        EXPECT_TRUE(signalled);
    }
    lock.Unlock();
    EXPECT_TRUE(Ends(id)); // before the lock and condition go away
}

TEST(CUnixThreadLock, ExcludesConcurrentUpdates) {
    CUnixThreadLock lock;
    long value = 0;
    std::atomic<int> done{0};
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(Worker::CreateThread(
                      0, [](int) { return true; },
                      [&] {
                          for (int n = 0; n < 20000; ++n) {
                              lock.Lock();
                              ++value;
                              lock.Unlock();
                          }
                          return 0;
                      },
                      [&] { ++done; }),
                  nullptr);
    }
    ASSERT_TRUE(WaitFor([&] { return done.load() == 4; }));
    lock.Lock();
    EXPECT_EQ(value, 80000);
    lock.Unlock();
}
