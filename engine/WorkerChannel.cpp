#include "engine/WorkerChannel.h"

#include <utility>

void LiveWorkerCount::Started() {
    std::lock_guard hold(mLock);
    ++mCount;
}

void LiveWorkerCount::Ended() {
    std::lock_guard hold(mLock);
    --mCount;
    mEnded.notify_all();
}

size_t LiveWorkerCount::Count() {
    std::lock_guard hold(mLock);
    return mCount;
}

bool LiveWorkerCount::WaitForNone(std::chrono::milliseconds timeout) {
    std::unique_lock hold(mLock);
    return mEnded.wait_for(hold, timeout, [this] { return mCount == 0; });
}

// ---- main thread ---------------------------------------------------------------

void WorkerChannel::SetReceiver(const PPx::EventTargetRef& receiver) {
    Locker hold(mLock);
    PPx::RemovePostedEventsFrom(this);
    mReceiver = receiver;
}

void WorkerChannel::SetAnswer(bool goOn) {
    Locker hold(mLock);
    mAnswer = goOn;
    mAnswered = true;
    mCond.Signal();
}

std::string WorkerChannel::GetStatus() {
    Locker hold(mLock);
    return mStatus;
}

std::string WorkerChannel::GetError() {
    Locker hold(mLock);
    return mError;
}

std::string WorkerChannel::GetDeleteName() {
    Locker hold(mLock);
    return mDeleteName;
}

int WorkerChannel::GetServerInfoResult() {
    Locker hold(mLock);
    return mServerInfo;
}

void WorkerChannel::GetDirListResult(std::string& path, std::string& listing) {
    Locker hold(mLock);
    path = mDirListPath;
    listing = mDirListText;
}

void WorkerChannel::GetResolveLinksResult(std::vector<std::string>& names) {
    Locker hold(mLock);
    names = mLinkFolders;
}

void WorkerChannel::GetModTimeResult(std::vector<sFileInfo>& files) {
    Locker hold(mLock);
    files = std::move(mModTimeResult);
    mModTimeResult.clear();
}

// ---- worker thread -------------------------------------------------------------

void WorkerChannel::PostMessage(PPx::FourCharCode code) {
    PPx::Event event = PPx::MakeCommandEvent(code);
    // Posting under the lock: once SetReceiver(none) returned, nothing more arrives.
    Locker hold(mLock);
    if (mReceiver)
        PPx::PostEvent(mReceiver, std::move(event), this);
}

void WorkerChannel::PostMessage(PPx::FourCharCode code, const std::string& name, long long size,
                                long long offset) {
    PPx::Event event = PPx::MakeCommandEvent(code, name, size, offset);
    Locker hold(mLock);
    if (mReceiver)
        PPx::PostEvent(mReceiver, std::move(event), this);
}

void WorkerChannel::SetStatus(const char* text) {
    {
        Locker hold(mLock);
        mStatus = text;
    }
    PostMessage(kMsgStatus);
}

void WorkerChannel::SetError(const std::string& text) {
    {
        Locker hold(mLock);
        mError = text;
    }
    PostMessage(kMsgError);
}

bool WorkerChannel::SetErrorAndAsk(const std::string& text) {
    Locker hold(mLock);
    // Nobody to ask (the backend let go of the worker): stop.
    if (!mReceiver || mQuit.load())
        return false;
    mError = text;
    mAnswered = false;
    mAnswer = false;
    PPx::PostEvent(mReceiver, PPx::MakeCommandEvent(kMsgErrorAsk), this);
    // An answer that comes before this wait is kept in mAnswered; a quit ends
    // the ask as "stop". Other wake-ups do not end it.
    while (!mAnswered && !mQuit.load())
        mCond.Wait(mLock);
    return mAnswered && mAnswer && !mQuit.load();
}

void WorkerChannel::SetDeleteStatus(const std::string& name) {
    {
        Locker hold(mLock);
        mDeleteName = name;
    }
    // The name travels in the event too: the next deletion overwrites the
    // shared one before the main thread may have read it.
    PostMessage(kMsgDeleteStatus, name, 0, 0);
}
