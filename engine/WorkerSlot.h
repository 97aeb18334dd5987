#pragma once
// The request loop both protocol workers share: the one-request slot the main
// thread writes, and the run loop that takes a request, hands it to the
// protocol's handler and posts exactly one completion or one 'err ' for it.
// Handlers only say how their request ended; none posts its own end.
#include "engine/CUnixThread.h"
#include "engine/WorkerChannel.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The request slot: one pending request and its arguments.
struct sWorkerEvent {
    bool pending = false;
    uint32_t request = 0;
    sBookMarkData bookmark;        // Connect
    std::string path;              // ChangeDirTo, CreateFolder, CreateFileList
    std::vector<std::string> args; // ResolveLinks: names; Rename: from, to; SetPerms: path, mode
    sDownloadInfo download;
    sDeleteInfo remove;
    sUploadInfo upload;
    std::vector<sFileInfo> modTimeList;
    int32_t fileListMode = 0;
};

// How a handler ended: done (the loop posts the request's completion) or
// failed with the text the user is shown (the loop posts 'err ').
class RequestResult {
public:
    static RequestResult Done() { return RequestResult(true, std::string()); }
    static RequestResult Failed(std::string error) {
        return RequestResult(false, std::move(error));
    }

    bool Succeeded() const { return mDone; }
    const std::string& Error() const { return mError; }

private:
    RequestResult(bool done, std::string error) : mDone(done), mError(std::move(error)) {}

    bool mDone;
    std::string mError;
};

class WorkerSlot : public CUnixThread, public WorkerChannel {
public:
    // Request codes both workers share; each kind adds its own after these.
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
    };

    int Run() override;

    // Requests (main thread). A request made while another is still pending
    // replaces it; one made while a handler runs waits and runs after it.
    void Connect(const sBookMarkData& bookmark) final;
    void Disconnect() final;
    void GetServerInfo() final;
    void GetDirList() final;
    void ChangeDirTo(const std::string& path) final;
    void ResolveLinks(const std::vector<std::string>& names) final;
    void Rename(const std::string& from, const std::string& to) final;
    void CreateFolder(const std::string& path) final;
    void SetPerms(const std::string& path, const std::string& mode) final;
    void CreateFileList(const std::string& path, int mode) final;
    void Download(const sDownloadInfo& info) final;
    void Delete(const sDeleteInfo& info) final;
    void Upload(const sUploadInfo& info) final;
    void GetModTime(const std::vector<sFileInfo>& files) final;

    // Wakes an idle worker so that it looks at its idle work again.
    void Wakeup();

    void SetListHidden(bool hidden) final { mListHidden.store(hidden); }

protected:
    // MODTIMEREQUEST: this kind's code of GetModTime.
    explicit WorkerSlot(uint32_t modTimeRequest) : mModTimeRequest(modTimeRequest) {}

    // Handlers (worker thread), each on a private copy of the slot.
    virtual RequestResult OnConnect(const sWorkerEvent& request) = 0;
    virtual RequestResult OnDisconnect(const sWorkerEvent& request) = 0;
    virtual RequestResult OnGetServerInfo(const sWorkerEvent& request) = 0;
    virtual RequestResult OnGetDirList(const sWorkerEvent& request) = 0;
    virtual RequestResult OnChangeDirTo(const sWorkerEvent& request) = 0;
    virtual RequestResult OnResolveLinks(const sWorkerEvent& request) = 0;
    virtual RequestResult OnRename(const sWorkerEvent& request) = 0;
    virtual RequestResult OnCreateFolder(const sWorkerEvent& request) = 0;
    virtual RequestResult OnSetPerms(const sWorkerEvent& request) = 0;
    virtual RequestResult OnCreateFileList(const sWorkerEvent& request) = 0;
    virtual RequestResult OnDownload(const sWorkerEvent& request) = 0;
    virtual RequestResult OnDelete(const sWorkerEvent& request) = 0;
    virtual RequestResult OnUpload(const sWorkerEvent& request) = 0;
    virtual RequestResult OnGetModTime(const sWorkerEvent& request) = 0;
    // A request code of this kind's own, which has no completion message (the
    // FTP keep-alive); false when the code is unknown.
    virtual bool OnOwnRequest(const sWorkerEvent&, RequestResult&) { return false; }

    // Idle work (worker thread): after each request the loop ran, and before
    // the loop sleeps; true when it queued a request of its own.
    virtual void DidProcess() {}
    virtual bool QueueIdleRequest() { return false; }
    // Writes CODE into the slot unless a request of the front end is there:
    // the worker's own requests never replace one. Does not wake the worker.
    void QueueOwnRequest(uint32_t code);

    // The loop ends once the running handler returns (main thread).
    void SignalQuit();
    // The running transfer is to stop: the user's abort or a quit.
    bool Stopping() const { return mAbort.load() || mQuit.load(); }

    std::atomic<bool> mAbort{false};      // the running transfer's stop flag
    std::atomic<bool> mListHidden{false}; // listings show hidden items too

private:
    template <typename Fill> void Request(uint32_t code, Fill fill);
    void ProcessEvent();
    void Block();

    // Guarded by mLock, beside what the channel guards.
    sWorkerEvent mSlot;
    bool mWoken = false;

    const uint32_t mModTimeRequest;
};
