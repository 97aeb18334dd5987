#include "engine/ThreadedBackend.h"

#include "engine/Connection.h"

ThreadedBackend::ThreadedBackend() = default;

ThreadedBackend::~ThreadedBackend() {
    if (mThread)
        Dispose();
    mHandlers.clear();
}

OSStatus ThreadedBackend::Initialize(Connection* connection) {
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

void ThreadedBackend::Dispose() {
    if (!mThread)
        return;
    WillDispose();
    WorkerInterface* worker = mThread;
    mThread = nullptr;
    worker->SetReceiver(PPx::EventTargetRef());
    worker->Quit(); // the last touch: the worker may be gone when it returns
    PPx::RemovePostedEvents(mTarget.Ref());
    mConnected = false;
}

void ThreadedBackend::InstallHandlers() {
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

void ThreadedBackend::HandleProgress(PPx::Event& event) {
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

OSStatus ThreadedBackend::HandleMessage(PPx::Event& event) {
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
    case kMsgDeleteStatus: {
        const std::string* name = event.FindString(PPx::kEventParamName);
        mConnection->SetDeleteStatus(name ? *name : mThread->GetDeleteName());
        break;
    }
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

OSStatus ThreadedBackend::Connect(const sBookMarkData& bookmark) {
    if (!mThread)
        return PPx::paramErr;
    mThread->Connect(bookmark);
    return PPx::noErr;
}

OSStatus ThreadedBackend::Disconnect() {
    if (!mThread)
        return PPx::paramErr;
    mThread->Disconnect();
    return PPx::noErr;
}

bool ThreadedBackend::IsConnected() {
    if (!mConnected || !mThread)
        return false;
    mConnected = mThread->IsConnected();
    return mConnected;
}

void ThreadedBackend::GetServerInfo() {
    if (mThread)
        mThread->GetServerInfo();
}

void ThreadedBackend::GetDirList() {
    if (mThread)
        mThread->GetDirList();
}

void ThreadedBackend::ChangeDirTo(const std::string& path) {
    if (mThread)
        mThread->ChangeDirTo(path);
}

void ThreadedBackend::ResolveLinks(const std::vector<std::string>& names) {
    if (mThread)
        mThread->ResolveLinks(names);
}

void ThreadedBackend::Rename(const std::string& from, const std::string& to) {
    if (mThread)
        mThread->Rename(from, to);
}

void ThreadedBackend::CreateFolder(const std::string& path) {
    if (mThread)
        mThread->CreateFolder(path);
}

void ThreadedBackend::SetPerms(const std::string& path, const std::string& mode) {
    if (mThread)
        mThread->SetPerms(path, mode);
}

void ThreadedBackend::CreateFileList(const std::string& path, int mode) {
    if (mThread)
        mThread->CreateFileList(path, mode);
}

void ThreadedBackend::Download(const sDownloadInfo& info) {
    if (mThread)
        mThread->Download(info);
}

void ThreadedBackend::Delete(const sDeleteInfo& info) {
    if (mThread)
        mThread->Delete(info);
}

void ThreadedBackend::Upload(const sUploadInfo& info) {
    if (mThread)
        mThread->Upload(info);
}

void ThreadedBackend::AbortTransfer() {
    if (mThread)
        mThread->AbortTransfer();
}

void ThreadedBackend::GetModTime(const std::vector<sFileInfo>& files) {
    if (mThread)
        mThread->GetModTime(files);
}

void ThreadedBackend::SetListHidden(bool hidden) {
    if (mThread)
        mThread->SetListHidden(hidden);
}
