#include "CUnixThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

namespace {

// What a worker reports back; lives outside the worker, which deletes itself.
struct Journal {
    CUnixThreadLock lock;
    CUnixThreadCond changed;
    std::string events;
    int arg = -1;
    pthread_t ranOn{};
    int finished = 0;

    void Note(const std::string& event) {
        lock.Lock();
        events += event;
        if (event == "E")
            ++finished;
        changed.Signal();
        lock.Unlock();
    }

    // Waits until `count` workers have finished; bounded so a hang fails.
    bool WaitFinished(int count) {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        lock.Lock();
        while (finished < count && std::chrono::steady_clock::now() < give_up)
            changed.Wait(lock, 1);
        const bool done = finished >= count;
        lock.Unlock();
        return done;
    }
};

// A worker in the way the connection workers are built: it deletes itself in
// ExitInstance.
class Worker : public CUnixThread {
public:
    static Worker* CreateThread(Journal* journal, bool init, int arg) {
        Worker* worker = new Worker(journal, init);
        return Start(worker, arg) ? worker : nullptr;
    }

    bool InitInstance(int arg) override {
        mJournal->lock.Lock();
        mJournal->arg = arg;
        mJournal->lock.Unlock();
        mJournal->Note("I");
        return mInit;
    }
    int Run() override {
        mJournal->lock.Lock();
        mJournal->ranOn = pthread_self();
        mJournal->lock.Unlock();
        mJournal->Note("R");
        return 7;
    }
    void ExitInstance() override {
        Journal* journal = mJournal;
        delete this;
        journal->Note("E");
    }

private:
    Worker(Journal* journal, bool init) : mJournal(journal), mInit(init) {}
    Journal* mJournal;
    bool mInit;
};

// Polls KillThread until the thread is gone; bounded.
bool Ends(pthread_t id) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (CUnixThread::KillThread(id) == 0) {
        if (std::chrono::steady_clock::now() > give_up)
            return false;
        CUnixThread::Yield();
    }
    return CUnixThread::KillThread(id) == ESRCH;
}

} // namespace

TEST(CUnixThread, RunsInitRunExitAndKnowsItsID) {
    Journal journal;
    journal.lock.Lock(); // hold the worker in InitInstance until its ID is read
    Worker* worker = Worker::CreateThread(&journal, true, 42);
    ASSERT_NE(worker, nullptr);
    const pthread_t id = worker->GetID();
    EXPECT_EQ(CUnixThread::KillThread(id), 0);
    journal.lock.Unlock();

    ASSERT_TRUE(journal.WaitFinished(1));
    journal.lock.Lock();
    EXPECT_EQ(journal.events, "IRE");
    EXPECT_EQ(journal.arg, 42);
    EXPECT_TRUE(pthread_equal(journal.ranOn, id));
    journal.lock.Unlock();
    EXPECT_TRUE(Ends(id));
    EXPECT_EQ(CUnixThread::KillThread(id), ESRCH);
}

TEST(CUnixThread, FailedInitSkipsRunButStillExits) {
    Journal journal;
    Worker* worker = Worker::CreateThread(&journal, false, 1);
    ASSERT_NE(worker, nullptr);
    ASSERT_TRUE(journal.WaitFinished(1));
    journal.lock.Lock();
    EXPECT_EQ(journal.events, "IE");
    journal.lock.Unlock();
}

TEST(CUnixThread, ManySelfDeletingThreadsAreNeverTouchedAfterwards) {
    // Workers that end at once race their creator; the sanitizer builds catch
    // any touch of a deleted worker.
    Journal journal;
    constexpr int kThreads = 64;
    for (int i = 0; i < kThreads; ++i) {
        Worker* worker = Worker::CreateThread(&journal, i % 2 == 0, i);
        ASSERT_NE(worker, nullptr);
    }
    ASSERT_TRUE(journal.WaitFinished(kThreads));
}

TEST(CUnixThread, BareThreadEndsAtOnce) {
    CUnixThread* bare = CUnixThread::CreateThread(5);
    ASSERT_NE(bare, nullptr);
    const pthread_t id = bare->GetID();
    EXPECT_TRUE(Ends(id));
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
    struct Shared {
        CUnixThreadLock lock;
        CUnixThreadCond cond;
        int stage = 0;
    } shared;

    class Pinger : public CUnixThread {
    public:
        static Pinger* CreateThread(Shared* s) {
            Pinger* p = new Pinger(s);
            return Start(p, 0) ? p : nullptr;
        }
        bool InitInstance(int) override { return true; }
        int Run() override {
            // Answers each stage the main thread asks for.
            for (int want = 1; want <= 3; want += 2) {
                mShared->lock.Lock();
                while (mShared->stage != want)
                    mShared->cond.Wait(mShared->lock);
                mShared->stage = want + 1;
                mShared->cond.Signal();
                mShared->lock.Unlock();
            }
            return 0;
        }
        void ExitInstance() override { delete this; }

    private:
        explicit Pinger(Shared* s) : mShared(s) {}
        Shared* mShared;
    };

    Pinger* pinger = Pinger::CreateThread(&shared);
    ASSERT_NE(pinger, nullptr);
    const pthread_t id = pinger->GetID();
    shared.lock.Lock();
    for (int ask = 1; ask <= 3; ask += 2) {
        shared.stage = ask;
        shared.cond.Signal();
        int rounds = 0;
        bool signalled = false;
        while (shared.stage != ask + 1 && rounds++ < 60)
            signalled = shared.cond.Wait(shared.lock, 1) || signalled;
        EXPECT_EQ(shared.stage, ask + 1);
        EXPECT_TRUE(signalled);
    }
    shared.lock.Unlock();
    EXPECT_TRUE(Ends(id)); // before `shared` goes away
}

TEST(CUnixThreadLock, ExcludesConcurrentUpdates) {
    struct Counter {
        CUnixThreadLock lock;
        long value = 0;
        std::atomic<int> done{0};
    } counter;

    class Adder : public CUnixThread {
    public:
        static Adder* CreateThread(Counter* c) {
            Adder* a = new Adder(c);
            return Start(a, 0) ? a : nullptr;
        }
        bool InitInstance(int) override { return true; }
        int Run() override {
            for (int i = 0; i < 20000; ++i) {
                EXPECT_EQ(mCounter->lock.Lock(), 0);
                ++mCounter->value;
                EXPECT_EQ(mCounter->lock.Unlock(), 0);
            }
            return 0;
        }
        void ExitInstance() override {
            Counter* c = mCounter;
            delete this;
            c->done.fetch_add(1);
        }

    private:
        explicit Adder(Counter* c) : mCounter(c) {}
        Counter* mCounter;
    };

    for (int i = 0; i < 4; ++i)
        ASSERT_NE(Adder::CreateThread(&counter), nullptr);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (counter.done.load() < 4 && std::chrono::steady_clock::now() < give_up)
        CUnixThread::Yield();
    ASSERT_EQ(counter.done.load(), 4);
    counter.lock.Lock();
    EXPECT_EQ(counter.value, 80000);
    counter.lock.Unlock();
}
