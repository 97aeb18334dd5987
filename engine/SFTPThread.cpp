#include "SFTPThread.h"

#include "FTPThread.h"
#include "LocalFiles.h"

#include <new>
#include <sys/stat.h>

namespace {

const char kConnected[] = "Connected";
const char kGettingDirectory[] = "Getting current directory...";
const char kChangingDirectory[] = "Changing Directory...";

LiveWorkerCount& Live() {
    static LiveWorkerCount* live = new LiveWorkerCount;
    return *live;
}

} // namespace

// ---- life --------------------------------------------------------------------

SFTPThread::SFTPThread() {
    mEngine.SetParent(this);
    Live().Started();
}

SFTPThread::~SFTPThread() = default;

SFTPThread* SFTPThread::CreateThread(int arg) {
    SFTPThread* thread = new (std::nothrow) SFTPThread;
    if (!thread)
        return nullptr;
    // The tool's path is settled before the thread starts, so that a worker
    // that cannot work is never handed to a backend.
    if (!thread->mEngine.Initialize()) {
        delete thread;
        Live().Ended();
        return nullptr;
    }
    if (!Start(thread, arg)) {
        Live().Ended();
        return nullptr;
    }
    return thread;
}

size_t SFTPThread::LiveWorkers() {
    return Live().Count();
}

bool SFTPThread::WaitForWorkers(std::chrono::milliseconds timeout) {
    return Live().WaitForNone(timeout);
}

bool SFTPThread::InitInstance(int) {
    return true;
}

void SFTPThread::ExitInstance() {
    // The engine's tunnel collects the tool (ended by Quit) as it goes.
    delete this;
    Live().Ended();
}

// ---- run loop ----------------------------------------------------------------

int SFTPThread::Run() {
    for (;;) {
        bool pending;
        {
            Locker hold(mLock);
            if (mQuit.load())
                break;
            pending = mSlot.pending;
        }
        if (pending)
            ProcessEvent();
        else
            Block();
    }
    return 0;
}

void SFTPThread::Block() {
    Locker hold(mLock);
    while (!mSlot.pending && !mQuit.load())
        mCond.Wait(mLock);
}

void SFTPThread::ProcessEvent() {
    sSFTPEvent request;
    {
        Locker hold(mLock);
        if (!mSlot.pending)
            return;
        mSlot.pending = false;
        request = mSlot;
    }
    switch (request.request) {
    case kRequestConnect:
        return OnConnect(request);
    case kRequestDisconnect:
        return OnDisconnect(request);
    case kRequestGetServerInfo:
        return OnGetServerInfo(request);
    case kRequestGetDirList:
        return OnGetDirList(request);
    case kRequestChangeDirTo:
        return OnChangeDirTo(request);
    case kRequestResolveLinks:
        return OnResolveLinks(request);
    case kRequestRename:
        return OnRename(request);
    case kRequestCreateFolder:
        return OnCreateFolder(request);
    case kRequestSetPerms:
        return OnSetPerms(request);
    case kRequestCreateFileList:
        return OnCreateFileList(request);
    case kRequestDownload:
        return OnDownload(request);
    case kRequestDelete:
        return OnDelete(request);
    case kRequestUpload:
        return OnUpload(request);
    case kRequestGetModTime:
        return OnGetModTime(request);
    default:
        break;
    }
}

// ---- requests (main thread) --------------------------------------------------

template <typename Fill> void SFTPThread::Request(uint32_t code, Fill fill) {
    Locker hold(mLock);
    mSlot.request = code;
    fill(mSlot);
    mSlot.pending = true;
    mCond.Signal();
}

void SFTPThread::Connect(const sBookMarkData& bookmark) {
    Request(kRequestConnect, [&](sSFTPEvent& slot) { slot.bookmark = bookmark; });
}

void SFTPThread::Disconnect() {
    Request(kRequestDisconnect, [](sSFTPEvent&) {});
}

void SFTPThread::GetServerInfo() {
    Request(kRequestGetServerInfo, [](sSFTPEvent&) {});
}

void SFTPThread::GetDirList() {
    Request(kRequestGetDirList, [](sSFTPEvent&) {});
}

void SFTPThread::ChangeDirTo(const std::string& path) {
    Request(kRequestChangeDirTo, [&](sSFTPEvent& slot) { slot.path = path; });
}

void SFTPThread::ResolveLinks(const std::vector<std::string>& names) {
    Request(kRequestResolveLinks, [&](sSFTPEvent& slot) { slot.args = names; });
}

void SFTPThread::Rename(const std::string& from, const std::string& to) {
    Request(kRequestRename, [&](sSFTPEvent& slot) { slot.args = {from, to}; });
}

void SFTPThread::CreateFolder(const std::string& path) {
    Request(kRequestCreateFolder, [&](sSFTPEvent& slot) { slot.path = path; });
}

void SFTPThread::SetPerms(const std::string& path, const std::string& mode) {
    Request(kRequestSetPerms, [&](sSFTPEvent& slot) { slot.args = {path, mode}; });
}

void SFTPThread::CreateFileList(const std::string& path, int mode) {
    Request(kRequestCreateFileList, [&](sSFTPEvent& slot) {
        slot.path = path;
        slot.fileListMode = mode;
    });
}

void SFTPThread::Download(const sDownloadInfo& info) {
    Request(kRequestDownload, [&](sSFTPEvent& slot) { slot.download = info; });
}

void SFTPThread::Delete(const sDeleteInfo& info) {
    Request(kRequestDelete, [&](sSFTPEvent& slot) { slot.remove = info; });
}

void SFTPThread::Upload(const sUploadInfo& info) {
    Request(kRequestUpload, [&](sSFTPEvent& slot) { slot.upload = info; });
}

void SFTPThread::GetModTime(const std::vector<sFileInfo>& files) {
    Request(kRequestGetModTime, [&](sSFTPEvent& slot) { slot.modTimeList = files; });
}

// ---- control (main thread) ---------------------------------------------------

void SFTPThread::AbortTransfer() {
    mAbort.store(true);
    mEngine.AbortTransfer();
}

void SFTPThread::Quit() {
    // The tool goes first, while this object surely still exists: whatever
    // the worker waits on ends with it.
    mEngine.Terminate();
    mEngine.AbortTransfer();
    Locker hold(mLock);
    mQuit.store(true);
    mCond.Signal();
}

bool SFTPThread::IsConnected() {
    Locker hold(mLock);
    return mEngine.IsConnected();
}

void SFTPThread::StartTransfer() {
    // The engine clears its flag as a transfer begins; an abort that came
    // just before must still stop this one.
    if (Stopping())
        mEngine.AbortTransfer();
    PostMessage(kMsgStartTransfer, mCurrentFile.name, static_cast<long long>(mCurrentFile.size),
                static_cast<long long>(ResumeOffset(mCurrentFile)));
}

void SFTPThread::UpdateProgress(unsigned long long bytes) {
    PostMessage(kMsgUpdateTransfer, mCurrentFile.name, static_cast<long long>(bytes), 0);
}

void SFTPThread::EndTransfer() {
    PostMessage(kMsgEndTransfer, mCurrentFile.name, static_cast<long long>(mCurrentFile.size), 0);
}

// ---- handlers (worker thread) ------------------------------------------------

void SFTPThread::OnConnect(const sSFTPEvent& request) {
    const sBookMarkData& bookmark = request.bookmark;
    SetStatus("Connecting and authenticating...");
    if (!mEngine.Connect(bookmark.host, bookmark.port, bookmark.username, bookmark.password, 30))
        return ReportEngineError();
    if (!bookmark.dir.empty()) {
        SetStatus(kChangingDirectory);
        if (!mEngine.ChangeDir(bookmark.dir))
            return ReportEngineError();
    }
    SetStatus(kConnected);
    PostMessage(kMsgConnect);
}

void SFTPThread::OnDisconnect(const sSFTPEvent&) {
    mEngine.Disconnect();
    PostMessage(kMsgDisconnect);
}

void SFTPThread::OnGetServerInfo(const sSFTPEvent&) {
    {
        Locker hold(mLock);
        mServerInfo = 1;
    }
    if (mEngine.SendREST(0)) {
        Locker hold(mLock);
        mServerInfo |= kServerInfoResume;
    }
    SetStatus(kConnected);
    PostMessage(kMsgServerInfo);
}

void SFTPThread::OnGetDirList(const sSFTPEvent&) {
    SetStatus(kGettingDirectory);
    std::string path;
    if (!mEngine.SendGetWorkingDir(path))
        return ReportEngineError();
    {
        Locker hold(mLock);
        mDirListPath = path;
    }
    SetStatus("Getting directory listing...");
    std::string listing;
    if (!mEngine.GetDirList(nullptr, listing))
        return ReportEngineError();
    {
        Locker hold(mLock);
        mDirListText = std::move(listing);
    }
    SetStatus(kConnected);
    PostMessage(kMsgDirList);
}

void SFTPThread::OnChangeDirTo(const sSFTPEvent& request) {
    SetStatus(kChangingDirectory);
    if (!mEngine.ChangeDir(request.path))
        return ReportEngineError();
    SetStatus(kConnected);
    PostMessage(kMsgChangeDir);
}

void SFTPThread::OnResolveLinks(const sSFTPEvent& request) {
    {
        Locker hold(mLock);
        mLinkFolders.clear();
    }
    SetStatus(kGettingDirectory);
    std::string base;
    if (!mEngine.SendGetWorkingDir(base))
        return ReportEngineError();
    if (base.empty() || base.back() != '/')
        base += '/';
    {
        Locker hold(mLock);
        mDirListPath = base;
    }
    SetStatus("Resolving Links...");
    std::vector<std::string> folders;
    for (const std::string& name : request.args) {
        if (mEngine.ChangeDir(base + name))
            folders.push_back(name);
        else if (!mEngine.IsConnected())
            return ReportEngineError();
    }
    if (!mEngine.ChangeDir(base))
        return ReportEngineError();
    {
        Locker hold(mLock);
        mLinkFolders = std::move(folders);
    }
    SetStatus(kConnected);
    PostMessage(kMsgResolveLinks);
}

void SFTPThread::OnRename(const sSFTPEvent& request) {
    if (request.args.size() < 2)
        return SetError("Invalid parameters passed to rename");
    SetStatus("Renaming...");
    if (!mEngine.SendRename(request.args[0], request.args[1]))
        return ReportEngineError();
    SetStatus(kConnected);
    PostMessage(kMsgRename);
}

void SFTPThread::OnCreateFolder(const sSFTPEvent& request) {
    SetStatus("Creating Folder...");
    if (!mEngine.SendCreateFolder(request.path))
        return ReportEngineError();
    SetStatus(kConnected);
    PostMessage(kMsgCreateFolder);
}

void SFTPThread::OnSetPerms(const sSFTPEvent& request) {
    if (request.args.size() < 2)
        return SetError("Invalid parameters passed to set permissions");
    SetStatus("Setting Permissions...");
    if (!mEngine.SetPerms(request.args[0], request.args[1]))
        return ReportEngineError();
    SetStatus(kConnected);
    PostMessage(kMsgSetPerms);
}

void SFTPThread::OnCreateFileList(const sSFTPEvent& request) {
    SetStatus("Getting file list...");
    {
        Locker hold(mLock);
        mDirListPath = request.path;
    }
    std::string listing;
    if (!mEngine.GetDirList(request.path.c_str(), listing)) {
        // An upload's target folder that does not exist yet lists as empty;
        // a lost connection is still an error.
        if (request.fileListMode != kFileListUploadCheck || !mEngine.IsConnected())
            return ReportEngineError();
        listing.clear();
    }
    {
        Locker hold(mLock);
        mDirListText = std::move(listing);
    }
    SetStatus(kConnected);
    PostMessage(kMsgFileList);
}

bool SFTPThread::GetRefForDest(const std::string& destination, const std::string& name,
                               std::string& folder, std::string& leaf) {
    std::string path;
    if (!LocalPathBelow(destination, name, path))
        return false;
    const size_t slash = path.rfind('/');
    folder = path.substr(0, slash);
    leaf = path.substr(slash + 1);
    return true;
}

bool SFTPThread::GetRefForUpload(const std::string& path) {
    struct stat found {};
    return !path.empty() && ::stat(path.c_str(), &found) == 0 && S_ISDIR(found.st_mode);
}

void SFTPThread::OnDownload(const sSFTPEvent& request) {
    const sDownloadInfo& info = request.download;
    mAbort.store(false);
    SetStatus("Downloading...");
    size_t fileCount = 0;
    for (const sFileInfo& item : info.files)
        if (!item.isFolder)
            ++fileCount;
    struct stat destination {};
    if (fileCount > 0 &&
        (::stat(info.destination.c_str(), &destination) != 0 || !S_ISDIR(destination.st_mode)))
        return SetError("Could not create destination directory");

    for (const sFileInfo& item : info.files) {
        if (Stopping())
            break;
        if (item.isFolder)
            continue;
        mCurrentFile = item;
        std::string folder, leaf, failure;
        if (!GetRefForDest(info.destination, item.name, folder, leaf)) {
            failure = "Refused the unsafe file name \"" + item.name + "\"";
        } else {
            if (mEngine.GetFile(item.name, folder, leaf, ResumeOffset(item)))
                continue;
            if (Stopping())
                break;
            failure = mEngine.GetLastError();
            // Without the tool no further file can come.
            if (!mEngine.IsConnected())
                return SetError(failure);
        }
        if (fileCount < 2)
            return SetError(failure);
        if (!SetErrorAndAsk(failure))
            break;
    }
    SetStatus(kConnected);
    PostMessage(kMsgDownload);
}

void SFTPThread::OnDelete(const sSFTPEvent& request) {
    const std::vector<sFileInfo>& files = request.remove.files;
    SetStatus("Deleting...");
    for (const sFileInfo& item : files) {
        if (item.isFolder)
            continue;
        SetDeleteStatus(item.name);
        if (!mEngine.DeleteFile(item.name))
            return ReportEngineError();
    }
    for (auto it = files.rbegin(); it != files.rend(); ++it) {
        if (!it->isFolder)
            continue;
        SetDeleteStatus(it->name);
        if (!mEngine.DeleteFolder(it->name))
            return ReportEngineError();
    }
    SetStatus(kConnected);
    PostMessage(kMsgDelete);
}

void SFTPThread::OnUpload(const sSFTPEvent& request) {
    const sUploadInfo& info = request.upload;
    mAbort.store(false);
    SetStatus(kGettingDirectory);
    std::string base;
    if (!mEngine.SendGetWorkingDir(base))
        return ReportEngineError();
    SetStatus("Creating folders...");
    for (const sFileInfo& item : info.files) {
        if (Stopping())
            break;
        if (!item.isFolder)
            continue;
        const bool exists = mEngine.ChangeDir(item.name);
        if (!mEngine.ChangeDir(base))
            return ReportEngineError();
        if (!exists && !mEngine.SendCreateFolder(item.name))
            return ReportEngineError();
    }
    if (!Stopping()) {
        SetStatus("Uploading...");
        for (const sFileInfo& item : info.files) {
            if (Stopping())
                break;
            if (item.isFolder)
                continue;
            if (!GetRefForUpload(item.owner))
                return SetError("Could locate source file");
            // The name is a path below the local folder and below the remote
            // one at once: nothing may lead out of either.
            std::string below;
            if (!LocalPathBelow(item.owner, item.name, below))
                return SetError("Refused the unsafe file name \"" + item.name + "\"");
            mCurrentFile = item;
            if (!mEngine.PutFile(item.name, item.owner, ResumeOffset(item))) {
                if (Stopping())
                    break;
                return ReportEngineError();
            }
        }
    }
    SetStatus(kConnected);
    PostMessage(kMsgUpload);
}

void SFTPThread::OnGetModTime(const sSFTPEvent& request) {
    {
        Locker hold(mLock);
        mModTimeResult.clear();
    }
    SetStatus("Getting date information...");
    std::vector<sFileInfo> result;
    result.reserve(request.modTimeList.size());
    for (const sFileInfo& item : request.modTimeList) {
        DateTimeRec date;
        if (!mEngine.GetModTime(item.name, date))
            return ReportEngineError();
        result.push_back(item);
        result.back().modDate = date;
    }
    {
        Locker hold(mLock);
        mModTimeResult = std::move(result);
    }
    SetStatus(kConnected);
    PostMessage(kMsgModTime);
}
