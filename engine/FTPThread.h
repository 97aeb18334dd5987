#pragma once
// The worker thread of one FTP connection. It owns the connection's FTPEngine
// and runs one request at a time on its own detached thread, so that the main
// thread never waits on the network. The backend writes each request into the
// worker's single slot and wakes it; the worker reports by posting command
// events to the backend's event target. While the connection is idle, the
// worker sends a keep-alive NOOP once the keep-alive interval has passed (the
// backend's timer wakes it to decide).
//
// Life: made by CreateThread on the main thread, fully set up before its
// thread starts; ends by itself after Quit (it deletes itself on its own
// thread). Nothing may touch it after Quit.
#include "CUnixThread.h"
#include "FTPEngine.h"
#include "ProtocolBackend.h"
#include "WorkerChannel.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class FTPThread : public CUnixThread, public WorkerChannel, private TransferProgress {
public:
    // Request codes of the slot.
    enum : uint32_t {
        kRequestConnect = 100,
        kRequestDisconnect = 101,
        kRequestGetServerInfo = 102,
        kRequestGetDirList = 103,
        kRequestChangeDirTo = 104,
        kRequestResolveLinks = 105,
        kRequestRename = 106,
        kRequestCreateFolder = 107,
        kRequestSetPerms = 108,
        kRequestCreateFileList = 109,
        kRequestDownload = 110,
        kRequestDelete = 111,
        kRequestUpload = 112,
        kRequestNOOP = 113,
        kRequestGetModTime = 114,
    };

    // The request slot: one pending request and its arguments.
    struct sFTPEvent {
        bool pending = false;
        uint32_t request = 0;
        sBookMarkData bookmark; // Connect
        std::string path;       // ChangeDirTo, CreateFolder, CreateFileList
        std::vector<std::string>
            args; // ResolveLinks: names; Rename: from, to; SetPerms: path, mode
        sDownloadInfo download;
        sDeleteInfo del;
        sUploadInfo upload;
        std::vector<sFileInfo> modTimeList;
        int32_t fileListMode = 0;
    };

    // Starts a worker; none when its thread cannot be started.
    static FTPThread* CreateThread(int arg);

    // Workers that have not yet ended (all connections of the process).
    static size_t LiveWorkers();
    // Waits until every worker has ended, at most `timeout`; true when none is
    // left. The application calls it on its way out.
    static bool WaitForWorkers(std::chrono::milliseconds timeout);

    bool InitInstance(int arg) override;
    void ExitInstance() override;
    int Run() override;

    // Requests (main thread). A request made while another is still pending
    // replaces it; one made while a handler runs waits and runs after it.
    void Connect(const sBookMarkData& bookmark) override;
    void Disconnect() override;
    void GetServerInfo() override;
    void GetDirList() override;
    void ChangeDirTo(const std::string& path) override;
    void ResolveLinks(const std::vector<std::string>& names) override;
    void Rename(const std::string& from, const std::string& to) override;
    void CreateFolder(const std::string& path) override;
    void SetPerms(const std::string& path, const std::string& mode) override;
    void CreateFileList(const std::string& path, int mode) override;
    void Download(const sDownloadInfo& info) override;
    void Delete(const sDeleteInfo& info) override;
    void Upload(const sUploadInfo& info) override;
    void GetModTime(const std::vector<sFileInfo>& files) override;

    // Control (main thread).
    void AbortTransfer() override;
    void Quit() override;
    bool IsConnected() override;
    // Socket time-out and keep-alive interval in seconds; below 1 means the
    // engine's default time-out, and keep-alive off.
    void SetTimeouts(int timeout, int keepAlive);
    // The keep-alive timer's firing: the worker decides about a NOOP.
    void Wakeup();

protected:
    FTPThread();
    ~FTPThread() override;

private:
    // Progress from the engine (worker thread).
    void StartTransfer() override;
    void EndTransfer() override;
    void UpdateProgress(unsigned long long bytes) override;

    template <typename Fill> void Request(uint32_t code, Fill fill);
    void SendNOOP();
    void ProcessEvent();
    void Block();
    bool Stopping() const { return mAbort.load() || mQuit.load(); }
    bool Refused();

    void ReportEngineError() { SetError(mEngine.GetLastError()); }

    // Handlers (worker thread), each on a private copy of the slot.
    void OnConnect(const sFTPEvent& request);
    void OnDisconnect(const sFTPEvent& request);
    void OnGetServerInfo(const sFTPEvent& request);
    void OnGetDirList(const sFTPEvent& request);
    void OnChangeDirTo(const sFTPEvent& request);
    void OnResolveLinks(const sFTPEvent& request);
    void OnRename(const sFTPEvent& request);
    void OnCreateFolder(const sFTPEvent& request);
    void OnSetPerms(const sFTPEvent& request);
    void OnCreateFileList(const sFTPEvent& request);
    void OnDownload(const sFTPEvent& request);
    void OnDelete(const sFTPEvent& request);
    void OnUpload(const sFTPEvent& request);
    void OnNOOP(const sFTPEvent& request);
    void OnGetModTime(const sFTPEvent& request);

    // Guarded by mLock, beside what the channel guards.
    sFTPEvent mSlot;
    bool mWoken = false;

    // Read without the lock.
    std::atomic<bool> mAbort{false}; // the running transfer's stop flag
    std::atomic<int> mTimeout{-1};
    std::atomic<int> mKeepAlive{-1};

    // Worker thread only.
    FTPEngine mEngine;
    sBookMarkData mBookmark; // of the last Connect: its passive flag drives every transfer
    sFileInfo mCurrentFile;
    uint32_t mLastActivity = 0;
};
