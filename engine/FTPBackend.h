#pragma once
// The FTP implementation of ProtocolBackend: a ThreadedBackend over an FTPThread,
// plus the keep-alive timer and the preferences it reads. It listens for the
// application's 'prfU' (preferences saved) and applies the new time-out and
// keep-alive; it passes the notice on so that every open FTP backend hears it.
#include "engine/FTPThread.h"
#include "engine/ThreadedBackend.h"
#include "platform/core/Timer.h"

class FTPBackend : public ThreadedBackend {
public:
    FTPBackend();
    ~FTPBackend() override;

    // Reads the preferences afresh and hands the time-out and keep-alive to
    // the worker; installs the keep-alive timer (or removes it when off).
    virtual void UpdateTimeouts();

    // For tests: the interval the keep-alive timer runs at, 0 when off.
    int KeepAliveInterval() const { return mKeepAliveSecs; }

protected:
    WorkerInterface* StartWorker() override;
    void DidInitialize() override;
    void DidConnect() override;
    void WillDispose() override;

private:
    FTPThread* mFTPThread = nullptr;
    PPx::EventHandler mPrefsHandler;
    // Main thread only: the worker never touches it.
    PPx::Timer mKeepAliveTimer;
    int mKeepAliveSecs = 0;
};
