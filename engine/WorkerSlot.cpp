#include "engine/WorkerSlot.h"

// ---- run loop ----------------------------------------------------------------

int WorkerSlot::Run() {
    for (;;) {
        bool pending;
        {
            Locker hold(mLock);
            if (mQuit.load())
                break;
            pending = mSlot.pending;
        }
        if (pending) {
            ProcessEvent();
            DidProcess();
            continue;
        }
        if (QueueIdleRequest())
            continue;
        Block();
    }
    return 0;
}

void WorkerSlot::Block() {
    Locker hold(mLock);
    // Tested under the lock that every wake-up takes, so none is lost.
    while (!mSlot.pending && !mQuit.load() && !mWoken)
        mCond.Wait(mLock);
    mWoken = false;
}

void WorkerSlot::ProcessEvent() {
    sWorkerEvent request;
    {
        Locker hold(mLock);
        if (!mSlot.pending)
            return;
        mSlot.pending = false;
        // The handler works on its own copy, so the main thread may write the
        // next request's arguments while it runs.
        request = mSlot;
    }
    RequestResult result = RequestResult::Done();
    PPx::FourCharCode completion = 0;
    switch (request.request) {
    case kRequestConnect:
        result = OnConnect(request);
        completion = kMsgConnect;
        break;
    case kRequestDisconnect:
        result = OnDisconnect(request);
        completion = kMsgDisconnect;
        break;
    case kRequestGetServerInfo:
        result = OnGetServerInfo(request);
        completion = kMsgServerInfo;
        break;
    case kRequestGetDirList:
        result = OnGetDirList(request);
        completion = kMsgDirList;
        break;
    case kRequestChangeDirTo:
        result = OnChangeDirTo(request);
        completion = kMsgChangeDir;
        break;
    case kRequestResolveLinks:
        result = OnResolveLinks(request);
        completion = kMsgResolveLinks;
        break;
    case kRequestRename:
        result = OnRename(request);
        completion = kMsgRename;
        break;
    case kRequestCreateFolder:
        result = OnCreateFolder(request);
        completion = kMsgCreateFolder;
        break;
    case kRequestSetPerms:
        result = OnSetPerms(request);
        completion = kMsgSetPerms;
        break;
    case kRequestCreateFileList:
        result = OnCreateFileList(request);
        completion = kMsgFileList;
        break;
    case kRequestDownload:
        result = OnDownload(request);
        completion = kMsgDownload;
        break;
    case kRequestDelete:
        result = OnDelete(request);
        completion = kMsgDelete;
        break;
    case kRequestUpload:
        result = OnUpload(request);
        completion = kMsgUpload;
        break;
    default:
        if (request.request == mModTimeRequest) {
            result = OnGetModTime(request);
            completion = kMsgModTime;
        } else if (!OnOwnRequest(request, result)) {
            return; // an unknown code is ignored
        }
        break;
    }
    if (!result.Succeeded())
        SetError(result.Error());
    else if (completion != 0)
        PostMessage(completion);
}

// ---- requests (main thread) --------------------------------------------------

template <typename Fill> void WorkerSlot::Request(uint32_t code, Fill fill) {
    Locker hold(mLock);
    mSlot.request = code;
    fill(mSlot);
    mSlot.pending = true;
    mCond.Signal();
}

void WorkerSlot::Connect(const sBookMarkData& bookmark) {
    Request(kRequestConnect, [&](sWorkerEvent& slot) { slot.bookmark = bookmark; });
}

void WorkerSlot::Disconnect() {
    Request(kRequestDisconnect, [](sWorkerEvent&) {});
}

void WorkerSlot::GetServerInfo() {
    Request(kRequestGetServerInfo, [](sWorkerEvent&) {});
}

void WorkerSlot::GetDirList() {
    Request(kRequestGetDirList, [](sWorkerEvent&) {});
}

void WorkerSlot::ChangeDirTo(const std::string& path) {
    Request(kRequestChangeDirTo, [&](sWorkerEvent& slot) { slot.path = path; });
}

void WorkerSlot::ResolveLinks(const std::vector<std::string>& names) {
    Request(kRequestResolveLinks, [&](sWorkerEvent& slot) { slot.args = names; });
}

void WorkerSlot::Rename(const std::string& from, const std::string& to) {
    Request(kRequestRename, [&](sWorkerEvent& slot) { slot.args = {from, to}; });
}

void WorkerSlot::CreateFolder(const std::string& path) {
    Request(kRequestCreateFolder, [&](sWorkerEvent& slot) { slot.path = path; });
}

void WorkerSlot::SetPerms(const std::string& path, const std::string& mode) {
    Request(kRequestSetPerms, [&](sWorkerEvent& slot) { slot.args = {path, mode}; });
}

void WorkerSlot::CreateFileList(const std::string& path, int mode) {
    Request(kRequestCreateFileList, [&](sWorkerEvent& slot) {
        slot.path = path;
        slot.fileListMode = mode;
    });
}

void WorkerSlot::Download(const sDownloadInfo& info) {
    Request(kRequestDownload, [&](sWorkerEvent& slot) { slot.download = info; });
}

void WorkerSlot::Delete(const sDeleteInfo& info) {
    Request(kRequestDelete, [&](sWorkerEvent& slot) { slot.remove = info; });
}

void WorkerSlot::Upload(const sUploadInfo& info) {
    Request(kRequestUpload, [&](sWorkerEvent& slot) { slot.upload = info; });
}

void WorkerSlot::GetModTime(const std::vector<sFileInfo>& files) {
    Request(mModTimeRequest, [&](sWorkerEvent& slot) { slot.modTimeList = files; });
}

void WorkerSlot::QueueOwnRequest(uint32_t code) {
    Locker hold(mLock);
    if (mSlot.pending)
        return;
    mSlot.request = code;
    mSlot.pending = true;
}

// ---- control (main thread) ---------------------------------------------------

void WorkerSlot::SignalQuit() {
    Locker hold(mLock);
    mQuit.store(true);
    mCond.Signal();
}

void WorkerSlot::Wakeup() {
    Locker hold(mLock);
    mWoken = true;
    mCond.Signal();
}
