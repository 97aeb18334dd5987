#include "engine/FTPBackend.h"

#include "engine/EnginePreferences.h"

FTPBackend::FTPBackend()
    : mKeepAliveTimer([this] {
          if (mFTPThread)
              mFTPThread->Wakeup();
      }) {}

FTPBackend::~FTPBackend() {
    // Dispose while this class is still whole.
    Dispose();
}

WorkerInterface* FTPBackend::StartWorker() {
    mFTPThread = FTPThread::CreateThread(0);
    return mFTPThread;
}

void FTPBackend::DidInitialize() {
    // Connecting and logging in wait on the server too: the preferred
    // time-out holds from the first request on, not from the login's end.
    UpdateTimeouts();
    mPrefsHandler =
        PPx::ApplicationTarget().InstallCommandHandler(kMsgPreferencesChanged, [this](PPx::Event&) {
            UpdateTimeouts();
            // Not handled: the notice goes on to every other open FTP backend.
            return PPx::eventNotHandledErr;
        });
}

void FTPBackend::DidConnect() {
    UpdateTimeouts();
}

void FTPBackend::WillDispose() {
    mKeepAliveTimer.Remove();
    mKeepAliveSecs = 0;
    mPrefsHandler.Remove();
    mFTPThread = nullptr;
}

void FTPBackend::UpdateTimeouts() {
    if (!mFTPThread)
        return;
    const EnginePreferences prefs = GetEnginePreferences();
    mFTPThread->SetTimeouts(prefs.ftpTimeoutSecs, prefs.noopSecs);
    // Zero or less is "off", never a timer that fires without pause.
    if (prefs.noopSecs > 0) {
        mKeepAliveSecs = prefs.noopSecs;
        mKeepAliveTimer.Install(prefs.noopSecs, prefs.noopSecs);
    } else {
        mKeepAliveSecs = 0;
        mKeepAliveTimer.Remove();
    }
}
