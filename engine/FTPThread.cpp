#include "FTPThread.h"

#include "EnginePreferences.h"
#include "LocalFiles.h"
#include "platform/core/Timer.h"

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

FTPThread::FTPThread() {
    mEngine.SetParent(this);
    mLastActivity = PPx::TickCount();
    Live().Started();
}

FTPThread::~FTPThread() = default;

FTPThread* FTPThread::CreateThread(int arg) {
    InstallEngineHiddenFilesSource();
    FTPThread* thread = new (std::nothrow) FTPThread;
    if (!thread)
        return nullptr;
    // Everything the worker needs is set before its thread starts: a request
    // made the moment this returns is never lost.
    if (!Start(thread, arg)) {
        // Start deleted the object.
        Live().Ended();
        return nullptr;
    }
    return thread;
}

size_t FTPThread::LiveWorkers() {
    return Live().Count();
}

bool FTPThread::WaitForWorkers(std::chrono::milliseconds timeout) {
    return Live().WaitForNone(timeout);
}

bool FTPThread::InitInstance(int) {
    return true;
}

void FTPThread::ExitInstance() {
    delete this;
    Live().Ended();
}

// ---- run loop ----------------------------------------------------------------

int FTPThread::Run() {
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
            mLastActivity = PPx::TickCount();
            continue;
        }
        const int keepAlive = mKeepAlive.load();
        if (keepAlive > 0 && mEngine.IsConnected() &&
            (PPx::TickCount() - mLastActivity) / 60 >= static_cast<uint32_t>(keepAlive)) {
            SendNOOP();
            continue;
        }
        Block();
    }
    return 0;
}

void FTPThread::Block() {
    Locker hold(mLock);
    // Tested under the lock that every wake-up takes, so none is lost.
    while (!mSlot.pending && !mQuit.load() && !mWoken)
        mCond.Wait(mLock);
    mWoken = false;
}

void FTPThread::ProcessEvent() {
    sFTPEvent request;
    {
        Locker hold(mLock);
        if (!mSlot.pending)
            return;
        mSlot.pending = false;
        // The handler works on its own copy, so the main thread may write the
        // next request's arguments while it runs.
        request = mSlot;
    }
    switch (request.request) {
    case kRequestConnect:
        OnConnect(request);
        break;
    case kRequestDisconnect:
        OnDisconnect(request);
        break;
    case kRequestGetServerInfo:
        OnGetServerInfo(request);
        break;
    case kRequestGetDirList:
        OnGetDirList(request);
        break;
    case kRequestChangeDirTo:
        OnChangeDirTo(request);
        break;
    case kRequestResolveLinks:
        OnResolveLinks(request);
        break;
    case kRequestRename:
        OnRename(request);
        break;
    case kRequestCreateFolder:
        OnCreateFolder(request);
        break;
    case kRequestSetPerms:
        OnSetPerms(request);
        break;
    case kRequestCreateFileList:
        OnCreateFileList(request);
        break;
    case kRequestDownload:
        OnDownload(request);
        break;
    case kRequestDelete:
        OnDelete(request);
        break;
    case kRequestUpload:
        OnUpload(request);
        break;
    case kRequestNOOP:
        OnNOOP(request);
        break;
    case kRequestGetModTime:
        OnGetModTime(request);
        break;
    default:
        break;
    }
}

// ---- requests (main thread) --------------------------------------------------

template <typename Fill> void FTPThread::Request(uint32_t code, Fill fill) {
    Locker hold(mLock);
    mSlot.request = code;
    fill(mSlot);
    mSlot.pending = true;
    mCond.Signal();
}

void FTPThread::Connect(const sBookMarkData& bookmark) {
    Request(kRequestConnect, [&](sFTPEvent& slot) { slot.bookmark = bookmark; });
}

void FTPThread::Disconnect() {
    Request(kRequestDisconnect, [](sFTPEvent&) {});
}

void FTPThread::GetServerInfo() {
    Request(kRequestGetServerInfo, [](sFTPEvent&) {});
}

void FTPThread::GetDirList() {
    Request(kRequestGetDirList, [](sFTPEvent&) {});
}

void FTPThread::ChangeDirTo(const std::string& path) {
    Request(kRequestChangeDirTo, [&](sFTPEvent& slot) { slot.path = path; });
}

void FTPThread::ResolveLinks(const std::vector<std::string>& names) {
    Request(kRequestResolveLinks, [&](sFTPEvent& slot) { slot.args = names; });
}

void FTPThread::Rename(const std::string& from, const std::string& to) {
    Request(kRequestRename, [&](sFTPEvent& slot) { slot.args = {from, to}; });
}

void FTPThread::CreateFolder(const std::string& path) {
    Request(kRequestCreateFolder, [&](sFTPEvent& slot) { slot.path = path; });
}

void FTPThread::SetPerms(const std::string& path, const std::string& mode) {
    Request(kRequestSetPerms, [&](sFTPEvent& slot) { slot.args = {path, mode}; });
}

void FTPThread::CreateFileList(const std::string& path, int mode) {
    Request(kRequestCreateFileList, [&](sFTPEvent& slot) {
        slot.path = path;
        slot.fileListMode = mode;
    });
}

void FTPThread::Download(const sDownloadInfo& info) {
    Request(kRequestDownload, [&](sFTPEvent& slot) { slot.download = info; });
}

void FTPThread::Delete(const sDeleteInfo& info) {
    Request(kRequestDelete, [&](sFTPEvent& slot) { slot.del = info; });
}

void FTPThread::Upload(const sUploadInfo& info) {
    Request(kRequestUpload, [&](sFTPEvent& slot) { slot.upload = info; });
}

void FTPThread::GetModTime(const std::vector<sFileInfo>& files) {
    Request(kRequestGetModTime, [&](sFTPEvent& slot) { slot.modTimeList = files; });
}

// The worker queues its own keep-alive, never over a request of the front end.
void FTPThread::SendNOOP() {
    Locker hold(mLock);
    if (mSlot.pending)
        return;
    mSlot.request = kRequestNOOP;
    mSlot.pending = true;
}

// ---- control (main thread) ---------------------------------------------------

void FTPThread::AbortTransfer() {
    mAbort.store(true);
    mEngine.AbortTransfer();
}

void FTPThread::Quit() {
    // A running transfer stops at once; the worker itself re-raises the
    // engine's flag should a transfer start after this.
    mEngine.AbortTransfer();
    Locker hold(mLock);
    mQuit.store(true);
    mCond.Signal();
}

bool FTPThread::IsConnected() {
    return mEngine.IsConnected();
}

void FTPThread::SetTimeouts(int timeout, int keepAlive) {
    mTimeout.store(timeout);
    mKeepAlive.store(keepAlive > 0 ? keepAlive : -1);
    mEngine.SetTimeout(timeout);
    Wakeup();
}

void FTPThread::Wakeup() {
    Locker hold(mLock);
    mWoken = true;
    mCond.Signal();
}

void FTPThread::StartTransfer() {
    // The engine clears its abort flag when a transfer begins; an abort or a
    // quit that came just before must still stop this one.
    if (Stopping())
        mEngine.AbortTransfer();
    PostMessage(kMsgStartTransfer, mCurrentFile.name, static_cast<long long>(mCurrentFile.size),
                static_cast<long long>(ResumeOffset(mCurrentFile)));
}

void FTPThread::UpdateProgress(unsigned long long bytes) {
    if (Stopping())
        mEngine.AbortTransfer();
    PostMessage(kMsgUpdateTransfer, mCurrentFile.name, static_cast<long long>(bytes), 0);
}

void FTPThread::EndTransfer() {
    PostMessage(kMsgEndTransfer, mCurrentFile.name, static_cast<long long>(mCurrentFile.size), 0);
}

// ---- handlers (worker thread) ------------------------------------------------

// The server turned the request down (a missing folder, a refused listing)
// while the control connection stays up; anything else, a lost or timed-out
// connection above all, is a failure of the connection.
bool FTPThread::Refused() {
    const int code = mEngine.GetResponseCode();
    if (code < 450 || code > 599)
        return false;
    if (code == 421 || code == 425 || code == 426 || code == 530 || code == 532)
        return false;
    return mEngine.IsConnected();
}

void FTPThread::OnConnect(const sFTPEvent& request) {
    mBookmark = request.bookmark;
    SetStatus("Connecting...");
    if (!mEngine.Connect(mBookmark.host, mBookmark.port, mTimeout.load()))
        return ReportEngineError();
    SetStatus("Authenticating...");
    if (!mEngine.Authenticate(mBookmark.username, mBookmark.password, mBookmark.account))
        return ReportEngineError();
    if (!mBookmark.dir.empty()) {
        SetStatus(kChangingDirectory);
        if (!mEngine.ChangeDir(mBookmark.dir))
            return ReportEngineError();
    }
    SetStatus(kConnected);
    PostMessage(kMsgConnect);
}

void FTPThread::OnDisconnect(const sFTPEvent&) {
    if (mEngine.IsConnected())
        mEngine.SendCommand("QUIT");
    mEngine.Disconnect();
    PostMessage(kMsgDisconnect);
}

void FTPThread::OnGetServerInfo(const sFTPEvent&) {
    SetStatus("Checking server type...");
    std::string reply;
    int type = -1;
    if (mEngine.SendSystem(reply)) {
        if (reply.find("UNIX") != std::string::npos)
            type = 1;
        else if (reply.find("MAC") != std::string::npos)
            type = 2;
        else if (reply.find("MSDOS") != std::string::npos || reply.find("NT") != std::string::npos)
            type = 3;
    }
    if (type >= 0) {
        Locker hold(mLock);
        mServerInfo = type;
    }
    SetStatus("Checking resume capabilities...");
    if (mEngine.SendREST(0)) {
        Locker hold(mLock);
        mServerInfo |= kServerInfoResume;
    }
    SetStatus(kConnected);
    PostMessage(kMsgServerInfo);
}

void FTPThread::OnGetDirList(const sFTPEvent&) {
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
    if (!mEngine.GetDirList(nullptr, listing, mBookmark.passive))
        return ReportEngineError();
    {
        Locker hold(mLock);
        mDirListText = std::move(listing);
    }
    SetStatus(kConnected);
    PostMessage(kMsgDirList);
}

void FTPThread::OnChangeDirTo(const sFTPEvent& request) {
    SetStatus(kChangingDirectory);
    if (!mEngine.ChangeDir(request.path))
        return ReportEngineError();
    SetStatus(kConnected);
    PostMessage(kMsgChangeDir);
}

void FTPThread::OnResolveLinks(const sFTPEvent& request) {
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
    for (const std::string& name : request.args)
        if (mEngine.ChangeDir(base + name))
            folders.push_back(name);
    if (!mEngine.ChangeDir(base))
        return ReportEngineError();
    {
        Locker hold(mLock);
        mLinkFolders = std::move(folders);
    }
    SetStatus(kConnected);
    PostMessage(kMsgResolveLinks);
}

void FTPThread::OnRename(const sFTPEvent& request) {
    if (request.args.size() < 2)
        return SetError("Invalid parameters passed to rename");
    SetStatus("Renaming...");
    if (!mEngine.SendRename(request.args[0], request.args[1]))
        return ReportEngineError();
    SetStatus(kConnected);
    PostMessage(kMsgRename);
}

void FTPThread::OnCreateFolder(const sFTPEvent& request) {
    SetStatus("Creating Folder...");
    if (!mEngine.SendCreateFolder(request.path))
        return ReportEngineError();
    SetStatus(kConnected);
    PostMessage(kMsgCreateFolder);
}

void FTPThread::OnSetPerms(const sFTPEvent& request) {
    if (request.args.size() < 2)
        return SetError("Invalid parameters passed to set permissions");
    SetStatus("Setting Permissions...");
    if (!mEngine.SetPerms(request.args[0], request.args[1]))
        return ReportEngineError();
    SetStatus(kConnected);
    PostMessage(kMsgSetPerms);
}

void FTPThread::OnCreateFileList(const sFTPEvent& request) {
    const std::string& path = request.path;
    {
        Locker hold(mLock);
        mDirListPath = path;
    }
    std::string listing;
    bool listed = false;
    bool refused = false;
    std::string failure;
    if (path.find(' ') != std::string::npos) {
        // LIST takes no quoting: a path with a blank is listed from inside.
        SetStatus(kGettingDirectory);
        std::string saved;
        if (!mEngine.SendGetWorkingDir(saved))
            return ReportEngineError();
        SetStatus(kChangingDirectory);
        if (!mEngine.ChangeDir(path)) {
            refused = Refused();
            failure = mEngine.GetLastError();
        } else {
            SetStatus("Getting file list...");
            listed = mEngine.GetDirList(nullptr, listing, mBookmark.passive);
            if (!listed) {
                refused = Refused();
                failure = mEngine.GetLastError();
            }
            // Back where the front end believes the connection stands, listed
            // or not; a connection that cannot go back is not to be trusted.
            SetStatus(kChangingDirectory);
            if (!mEngine.ChangeDir(saved))
                return ReportEngineError();
        }
    } else {
        SetStatus("Getting file list...");
        listed = mEngine.GetDirList(path.c_str(), listing, mBookmark.passive);
        if (!listed) {
            refused = Refused();
            failure = mEngine.GetLastError();
        }
    }
    if (!listed) {
        // An upload's target folder that does not exist yet lists as empty.
        if (request.fileListMode != kFileListUploadCheck || !refused)
            return SetError(failure);
        listing.clear();
    }
    {
        Locker hold(mLock);
        mDirListText = std::move(listing);
    }
    SetStatus(kConnected);
    PostMessage(kMsgFileList);
}

void FTPThread::OnDownload(const sFTPEvent& request) {
    const sDownloadInfo& info = request.download;
    mAbort.store(false);
    SetStatus("Downloading...");
    size_t fileCount = 0;
    for (const sFileInfo& item : info.files)
        if (!item.isFolder)
            ++fileCount;
    struct stat folder {};
    if (fileCount > 0 &&
        (::stat(info.destination.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)))
        return SetError("Could not create local file");

    for (const sFileInfo& item : info.files) {
        if (Stopping())
            break;
        if (item.isFolder)
            continue; // the front end made the local folders before asking
        mCurrentFile = item;
        std::string local;
        std::string failure;
        if (!LocalPathBelow(info.destination, item.name, local)) {
            failure = "Refused the unsafe file name \"" + item.name + "\"";
        } else {
            const int64_t expected = item.size > 0 ? static_cast<int64_t>(item.size) : -1;
            if (mEngine.GetFile(item.name, local, ResumeOffset(item), info.ascii, mBookmark.passive,
                                expected))
                continue;
            if (Stopping())
                break; // the user's abort, or the connection going away
            failure = mEngine.GetLastError();
            // Without its control connection no further file can come: one
            // error ends the request instead of one question per file.
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

void FTPThread::OnUpload(const sFTPEvent& request) {
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
            const std::string source = item.owner + "/" + item.name;
            struct stat found {};
            if (::stat(source.c_str(), &found) != 0)
                return SetError("Could locate source file");
            mCurrentFile = item;
            if (!mEngine.PutFile(item.name, source, ResumeOffset(item), info.ascii,
                                 mBookmark.passive)) {
                if (Stopping())
                    break;
                return ReportEngineError();
            }
        }
    }
    SetStatus(kConnected);
    PostMessage(kMsgUpload);
}

void FTPThread::OnDelete(const sFTPEvent& request) {
    const std::vector<sFileInfo>& files = request.del.files;
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

void FTPThread::OnNOOP(const sFTPEvent&) {
    SetStatus("Pinging server...");
    if (!mEngine.SendNOOP())
        return ReportEngineError();
    SetStatus(kConnected);
}

void FTPThread::OnGetModTime(const sFTPEvent& request) {
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
