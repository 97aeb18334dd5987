#pragma once
// A small layer over POSIX threads: a detached thread object that runs
// InitInstance, Run and ExitInstance on its own thread, a mutex, and a
// condition variable with an untimed and a timed wait.
#include <pthread.h>

class CUnixThread {
public:
    virtual ~CUnixThread() = default;

    CUnixThread(const CUnixThread&) = delete;
    CUnixThread& operator=(const CUnixThread&) = delete;

    // Starts a detached thread running a new bare object; nullptr when the
    // thread cannot be started. Subclasses offer their own CreateThread.
    static CUnixThread* CreateThread(int arg);

    // Run is called only when InitInstance returns true; ExitInstance always.
    // A subclass's ExitInstance may delete the object: nothing touches it after.
    virtual bool InitInstance(int arg);
    virtual void ExitInstance();
    virtual int Run();
    virtual pthread_t GetID();

    // 0 while the thread started by this layer with that ID is still running,
    // ESRCH once it has ended. Never signals a thread that may be gone.
    static int KillThread(pthread_t id);
    static void Yield();

protected:
    CUnixThread() = default;

    // Starts `thread` with `arg`; on failure deletes it and returns false.
    // Returns once the new thread knows its ID, so GetID is valid at once.
    static bool Start(CUnixThread* thread, int arg);

    int mArg = 0;
    pthread_t mThreadID{};

private:
    static void* __startup(void* gate);
};

class CUnixThreadLock {
public:
    CUnixThreadLock();
    virtual ~CUnixThreadLock();

    CUnixThreadLock(const CUnixThreadLock&) = delete;
    CUnixThreadLock& operator=(const CUnixThreadLock&) = delete;

    // Not recursive: a thread that holds the lock must not lock it again.
    virtual int Lock();
    virtual int Unlock();
    virtual pthread_mutex_t* GetMutex();

private:
    pthread_mutex_t mMutex;
};

class CUnixThreadCond {
public:
    CUnixThreadCond();
    virtual ~CUnixThreadCond();

    CUnixThreadCond(const CUnixThreadCond&) = delete;
    CUnixThreadCond& operator=(const CUnixThreadCond&) = delete;

    // The caller holds `lock`.
    virtual int Wait(CUnixThreadLock& lock);
    // False when `seconds` passed without a signal, true otherwise (a signal,
    // or a spurious wake-up: callers test their own condition).
    virtual bool Wait(CUnixThreadLock& lock, int seconds);
    virtual int Signal();

private:
    pthread_cond_t mCond;
};
