#pragma once
// The worker thread of one FTP connection. It owns the connection's FTPEngine
// and runs one request at a time on its own detached thread, so that the main
// thread never waits on the network. While the connection is idle, the worker
// sends a keep-alive NOOP once the keep-alive interval has passed (the
// backend's timer wakes it to decide).
#include "engine/EngineWorker.h"
#include "engine/FTPEngine.h"

#include <atomic>
#include <cstdint>
#include <string>

class FTPThread : public EngineWorker<FTPEngine> {
public:
    using sFTPEvent = sWorkerEvent;
    // This kind's own request codes, after the shared ones.
    enum : uint32_t {
        kRequestNOOP = 113,
        kRequestGetModTime = 114,
    };

    // Starts a worker; none when its thread cannot be started.
    static FTPThread* CreateThread(int arg);

    // Socket time-out and keep-alive interval in seconds; below 1 means the
    // engine's default time-out, and keep-alive off. A new interval counts
    // from this call, as the backend's timer does: changing it never makes an
    // idle connection ping at once.
    void SetTimeouts(int timeout, int keepAlive);

protected:
    FTPThread();
    ~FTPThread() override;

private:
    bool Refused();
    // Connects and logs in with mBookmark.
    bool LogIn();

    RequestResult OnConnect(const sWorkerEvent& request) override;
    RequestResult OnGetModTime(const sWorkerEvent& request) override;
    RequestResult OnDisconnect(const sWorkerEvent& request) override;
    RequestResult OnGetServerInfo(const sWorkerEvent& request) override;
    RequestResult OnCreateFileList(const sWorkerEvent& request) override;
    RequestResult OnRename(const sWorkerEvent& request) override;
    bool OnOwnRequest(const sWorkerEvent& request, RequestResult& result) override;
    RequestResult OnNOOP(const sWorkerEvent& request);
    // Queues the keep-alive for the worker itself, never over a request of
    // the front end; does not wake the worker.
    void SendNOOP();
    bool ListFolder(const char* path, std::string& listing) override;
    bool FetchFile(const sFileInfo& item, const sDownloadInfo& info, std::string& refusal) override;
    bool SendFile(const sFileInfo& item, const sUploadInfo& info, const std::string& remoteName,
                  std::string& refusal) override;
    const char* NoDestinationText() const override { return "Could not create local file"; }

    void DidProcess() override;
    bool QueueIdleRequest() override;

    // Read without the lock.
    std::atomic<int> mTimeout{-1};
    std::atomic<int> mKeepAlive{-1};
    std::atomic<uint32_t> mKeepAliveSince{0}; // tick of the last SetTimeouts

    // Worker thread only.
    sBookMarkData mBookmark; // of the last Connect: its passive flag drives every transfer
    uint32_t mLastActivity = 0;
};
