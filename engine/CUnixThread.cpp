#include "engine/CUnixThread.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <sched.h>
#include <signal.h>
#include <vector>

namespace {

// Threads started here that have not yet finished. KillThread answers from
// this list: signalling a detached thread that has ended is undefined.
// Never destroyed, since detached threads may still finish during exit.
std::mutex& LiveLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::vector<pthread_t>& LiveThreads() {
    static std::vector<pthread_t>* threads = new std::vector<pthread_t>;
    return *threads;
}

// Lives on the creating thread's stack until the new thread has started.
struct StartGate {
    CUnixThread* thread = nullptr;
    std::mutex lock;
    std::condition_variable started;
    bool ready = false;
};

template <typename Call> int RetryWhileAgain(Call call) {
    int result;
    do {
        result = call();
    } while (result == EAGAIN);
    return result;
}

} // namespace

CUnixThread* CUnixThread::CreateThread(int arg) {
    CUnixThread* thread = new CUnixThread;
    return Start(thread, arg) ? thread : nullptr;
}

bool CUnixThread::Start(CUnixThread* thread, int arg) {
    thread->mArg = arg;
    StartGate gate;
    gate.thread = thread;

    // Detached from birth: the object may be gone the moment the thread runs,
    // so nothing here stores into it after pthread_create.
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t id;
    const int created = pthread_create(&id, &attributes, &CUnixThread::__startup, &gate);
    pthread_attr_destroy(&attributes);
    if (created != 0) {
        delete thread;
        return false;
    }
    std::unique_lock<std::mutex> hold(gate.lock);
    gate.started.wait(hold, [&] { return gate.ready; });
    return true;
}

void* CUnixThread::__startup(void* argument) {
    auto* gate = static_cast<StartGate*>(argument);
    CUnixThread* thread = gate ? gate->thread : nullptr;
    if (thread == nullptr)
        return nullptr;

    const pthread_t self = pthread_self();
    thread->mThreadID = self;
    {
        std::lock_guard<std::mutex> hold(LiveLock());
        LiveThreads().push_back(self);
    }
    {
        // The gate belongs to the creator, which returns once it sees ready.
        std::lock_guard<std::mutex> hold(gate->lock);
        gate->ready = true;
        gate->started.notify_one();
    }

    const int arg = thread->mArg;
    int result = 0;
    if (thread->InitInstance(arg))
        result = thread->Run();
    thread->ExitInstance(); // may delete the object

    {
        std::lock_guard<std::mutex> hold(LiveLock());
        auto& live = LiveThreads();
        live.erase(std::remove_if(live.begin(), live.end(),
                                  [&](pthread_t id) { return pthread_equal(id, self); }),
                   live.end());
    }
    return reinterpret_cast<void*>(static_cast<intptr_t>(result));
}

bool CUnixThread::InitInstance(int) {
    return false;
}

void CUnixThread::ExitInstance() {}

int CUnixThread::Run() {
    return 0;
}

pthread_t CUnixThread::GetID() {
    return mThreadID;
}

int CUnixThread::KillThread(pthread_t id) {
    std::lock_guard<std::mutex> hold(LiveLock());
    for (pthread_t live : LiveThreads())
        if (pthread_equal(live, id))
            return pthread_kill(id, 0); // still listed, so still running
    return ESRCH;
}

void CUnixThread::Yield() {
    sched_yield();
}

CUnixThreadLock::CUnixThreadLock() {
    pthread_mutex_init(&mMutex, nullptr);
}

CUnixThreadLock::~CUnixThreadLock() {
    pthread_mutex_destroy(&mMutex);
}

int CUnixThreadLock::Lock() {
    return RetryWhileAgain([&] { return pthread_mutex_lock(&mMutex); });
}

int CUnixThreadLock::Unlock() {
    return RetryWhileAgain([&] { return pthread_mutex_unlock(&mMutex); });
}

pthread_mutex_t* CUnixThreadLock::GetMutex() {
    return &mMutex;
}

CUnixThreadCond::CUnixThreadCond() {
    // Timed waits run on the monotonic clock, so that setting the system
    // clock neither cuts a wait short nor stretches it.
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    RetryWhileAgain([&] { return pthread_cond_init(&mCond, &attributes); });
    pthread_condattr_destroy(&attributes);
}

CUnixThreadCond::~CUnixThreadCond() {
    RetryWhileAgain([&] { return pthread_cond_destroy(&mCond); });
}

int CUnixThreadCond::Wait(CUnixThreadLock& lock) {
    return RetryWhileAgain([&] { return pthread_cond_wait(&mCond, lock.GetMutex()); });
}

bool CUnixThreadCond::Wait(CUnixThreadLock& lock, int seconds) {
    int result;
    do {
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += seconds > 0 ? seconds : 0;
        result = pthread_cond_timedwait(&mCond, lock.GetMutex(), &deadline);
    } while (result == EAGAIN);
    return result != ETIMEDOUT;
}

int CUnixThreadCond::Signal() {
    return RetryWhileAgain([&] { return pthread_cond_signal(&mCond); });
}
