#include "WorkerBackend.h"

#include "Connection.h"

WorkerBackend::WorkerBackend() = default;

WorkerBackend::~WorkerBackend() {
    if (mThread)
        Dispose();
    mHandlers.clear();
}

OSStatus WorkerBackend::Initialize(Connection* connection) {
    mConnection = connection;
    if (mThread)
        return PPx::noErr;
    mThread = StartWorker();
    if (!mThread)
        return PPx::memFullErr;
    // The worker keeps nothing it might clear after it started, so setting
    // its receiver right away (and the first request after it) is safe.
    InstallHandlers();
    mThread->SetReceiver(mTarget.Ref());
    DidInitialize();
    return PPx::noErr;
}

void WorkerBackend::Dispose() {
    if (!mThread)
        return;
    WillDispose();
    BackendWorker* worker = mThread;
    mThread = nullptr;
    worker->SetReceiver(PPx::EventTargetRef());
    worker->Quit(); // the last touch: the worker may be gone when it returns
    PPx::RemovePostedEvents(mTarget.Ref());
    mConnected = false;
}

void WorkerBackend::InstallHandlers() {
    static constexpr PPx::FourCharCode kCodes[] = {
        kMsgDeleteStatus, kMsgStatus,         kMsgError,        kMsgErrorAsk,   kMsgStartTransfer,
        kMsgEndTransfer,  kMsgUpdateTransfer, kMsgConnect,      kMsgDisconnect, kMsgServerInfo,
        kMsgDirList,      kMsgChangeDir,      kMsgResolveLinks, kMsgRename,     kMsgCreateFolder,
        kMsgSetPerms,     kMsgFileList,       kMsgDownload,     kMsgDelete,     kMsgUpload,
        kMsgModTime};
    mHandlers.clear();
    for (PPx::FourCharCode code : kCodes)
        mHandlers.push_back(mTarget.InstallCommandHandler(
            code, [this](PPx::Event& event) { return HandleMessage(event); }));
}

void WorkerBackend::HandleProgress(PPx::Event& event) {
    const std::string* name = event.FindString(PPx::kEventParamName);
    int64_t size = 0;
    int64_t offset = 0;
    if (!name || !event.GetInteger(PPx::kEventParamSize, size))
        return;
    sFileProgress progress;
    progress.name = *name;
    progress.size = size;
    switch (event.Command()) {
    case kMsgStartTransfer:
        if (!event.GetInteger(PPx::kEventParamOffset, offset))
            return;
        progress.offset = offset;
        mConnection->StartTransfer(progress);
        break;
    case kMsgUpdateTransfer:
        mConnection->UpdateTransfer(progress);
        break;
    default:
        mConnection->EndTransfer(progress);
        break;
    }
}

OSStatus WorkerBackend::HandleMessage(PPx::Event& event) {
    const PPx::FourCharCode code = event.Command();
    // Flag changes first: they hold even when the Connection is gone.
    if (code == kMsgConnect) {
        mConnected = true;
        if (mThread)
            DidConnect();
    } else if (code == kMsgDisconnect) {
        mConnected = false;
    }
    if (!mThread)
        return PPx::noErr;
    if (!mConnection) {
        if (code == kMsgErrorAsk)
            mThread->SetAnswer(false);
        return PPx::noErr;
    }

    switch (code) {
    case kMsgConnect:
        mConnection->ConnectComplete();
        break;
    case kMsgDisconnect:
        mConnection->DisconnectComplete();
        break;
    case kMsgServerInfo: {
        const int result = mThread->GetServerInfoResult();
        mConnection->GetServerInfoComplete((result & kServerInfoResume) != 0,
                                           result & kServerInfoTypeMask);
        break;
    }
    case kMsgDirList: {
        std::string path, listing;
        mThread->GetDirListResult(path, listing);
        mConnection->GetDirListComplete(path, listing);
        break;
    }
    case kMsgChangeDir:
        mConnection->ChangeDirToComplete();
        break;
    case kMsgResolveLinks: {
        std::vector<std::string> names;
        mThread->GetResolveLinksResult(names);
        mConnection->ResolveLinksComplete(names);
        break;
    }
    case kMsgRename:
        mConnection->RenameComplete();
        break;
    case kMsgCreateFolder:
        mConnection->CreateFolderComplete();
        break;
    case kMsgSetPerms:
        mConnection->SetPermsComplete();
        break;
    case kMsgFileList: {
        std::string path, listing;
        mThread->GetDirListResult(path, listing);
        mConnection->CreateFileListComplete(path, listing);
        break;
    }
    case kMsgDownload:
        mConnection->DownloadComplete();
        break;
    case kMsgDelete:
        mConnection->DeleteComplete();
        break;
    case kMsgUpload:
        mConnection->UploadComplete();
        break;
    case kMsgModTime: {
        std::vector<sFileInfo> files;
        mThread->GetModTimeResult(files);
        mConnection->GetModTimeComplete(files);
        break;
    }
    case kMsgStatus:
        mConnection->SetStatus(mThread->GetStatus());
        break;
    case kMsgError:
        mConnection->SetError(mThread->GetError());
        break;
    case kMsgErrorAsk: {
        const bool goOn = mConnection->SetErrorAsk(mThread->GetError());
        // The front end may have run a sheet and the backend may have been
        // disposed meanwhile: then the worker was told to quit and needs no answer.
        if (mThread)
            mThread->SetAnswer(goOn);
        break;
    }
    case kMsgDeleteStatus:
        mConnection->SetDeleteStatus(mThread->GetDeleteName());
        break;
    case kMsgStartTransfer:
    case kMsgUpdateTransfer:
    case kMsgEndTransfer:
        HandleProgress(event);
        break;
    default:
        return PPx::eventNotHandledErr;
    }
    return PPx::noErr;
}

// ---- requests ----------------------------------------------------------------

OSStatus WorkerBackend::Connect(const sBookMarkData& bookmark) {
    if (!mThread)
        return PPx::paramErr;
    mThread->Connect(bookmark);
    return PPx::noErr;
}

OSStatus WorkerBackend::Disconnect() {
    if (!mThread)
        return PPx::paramErr;
    mThread->Disconnect();
    return PPx::noErr;
}

bool WorkerBackend::IsConnected() {
    if (!mConnected || !mThread)
        return false;
    mConnected = mThread->IsConnected();
    return mConnected;
}

void WorkerBackend::GetServerInfo() {
    if (mThread)
        mThread->GetServerInfo();
}

void WorkerBackend::GetDirList() {
    if (mThread)
        mThread->GetDirList();
}

void WorkerBackend::ChangeDirTo(const std::string& path) {
    if (mThread)
        mThread->ChangeDirTo(path);
}

void WorkerBackend::ResolveLinks(const std::vector<std::string>& names) {
    if (mThread)
        mThread->ResolveLinks(names);
}

void WorkerBackend::Rename(const std::string& from, const std::string& to) {
    if (mThread)
        mThread->Rename(from, to);
}

void WorkerBackend::CreateFolder(const std::string& path) {
    if (mThread)
        mThread->CreateFolder(path);
}

void WorkerBackend::SetPerms(const std::string& path, const std::string& mode) {
    if (mThread)
        mThread->SetPerms(path, mode);
}

void WorkerBackend::CreateFileList(const std::string& path, int mode) {
    if (mThread)
        mThread->CreateFileList(path, mode);
}

void WorkerBackend::Download(const sDownloadInfo& info) {
    if (mThread)
        mThread->Download(info);
}

void WorkerBackend::Delete(const sDeleteInfo& info) {
    if (mThread)
        mThread->Delete(info);
}

void WorkerBackend::Upload(const sUploadInfo& info) {
    if (mThread)
        mThread->Upload(info);
}

void WorkerBackend::AbortTransfer() {
    if (mThread)
        mThread->AbortTransfer();
}

void WorkerBackend::GetModTime(const std::vector<sFileInfo>& files) {
    if (mThread)
        mThread->GetModTime(files);
}
