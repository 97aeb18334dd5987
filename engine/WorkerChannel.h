#pragma once
// What a worker thread shares with the main thread, the same for the FTP and
// the SFTP worker: its lock and condition, the receiver of its messages, the
// texts and results it leaves for the getters, and the answer to an ask.
#include "engine/CUnixThread.h"
#include "engine/WorkerInterface.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

// How many workers of one kind are alive, so that the program can wait for
// them at its end. Kept for the life of the process: a worker may end while
// the program exits.
class LiveWorkerCount {
public:
    void Started();
    void Ended();
    size_t Count();
    bool WaitForNone(std::chrono::milliseconds timeout);

private:
    std::mutex mLock;
    std::condition_variable mEnded;
    size_t mCount = 0;
};

class WorkerChannel : public WorkerInterface {
public:
    // Main thread.
    void SetReceiver(const PPx::EventTargetRef& receiver) override;
    void SetAnswer(bool goOn) override;
    std::string GetStatus() override;
    std::string GetError() override;
    std::string GetDeleteName() override;
    int GetServerInfoResult() override;
    void GetDirListResult(std::string& path, std::string& listing) override;
    void GetResolveLinksResult(std::vector<std::string>& names) override;
    void GetModTimeResult(std::vector<sFileInfo>& files) override;

protected:
    class Locker {
    public:
        explicit Locker(CUnixThreadLock& lock) : mLock(lock) { mLock.Lock(); }
        ~Locker() { mLock.Unlock(); }
        Locker(const Locker&) = delete;
        Locker& operator=(const Locker&) = delete;

    private:
        CUnixThreadLock& mLock;
    };

    // Posting (worker thread).
    void PostMessage(PPx::FourCharCode code);
    void PostMessage(PPx::FourCharCode code, const std::string& name, long long size,
                     long long offset);
    void SetStatus(const char* text);
    void SetError(const std::string& text);
    // Posts 'erra' and waits for the answer; "stop" when nobody can answer
    // or the worker is told to quit.
    bool SetErrorAndAsk(const std::string& text);
    void SetDeleteStatus(const std::string& name);

    // Guarded by mLock: the receiver, the flags the waits test, the texts and
    // the results (WorkerSlot adds the request slot).
    CUnixThreadLock mLock;
    CUnixThreadCond mCond;
    PPx::EventTargetRef mReceiver;
    bool mAnswered = false;
    bool mAnswer = false;
    std::string mStatus;
    std::string mError;
    std::string mDeleteName;
    int mServerInfo = 1; // type Unix until the server says otherwise
    std::string mDirListPath;
    std::string mDirListText;
    std::vector<std::string> mLinkFolders;
    std::vector<sFileInfo> mModTimeResult;

    std::atomic<bool> mQuit{false}; // written under mLock, read without it
};
