#include "engine/SFTPThread.h"

#include "engine/LocalFiles.h"

#include <new>
#include <sys/stat.h>

// ---- life --------------------------------------------------------------------

SFTPThread::SFTPThread() : EngineWorker(kRequestGetModTime) {
    mLinksEndWithConnection = true;
    mProgressReraisesAbort = false;
}

SFTPThread::~SFTPThread() = default;

SFTPThread* SFTPThread::CreateThread(int arg) {
    SFTPThread* thread = new (std::nothrow) SFTPThread;
    if (!thread)
        return nullptr;
    // The tool's path is settled before the thread starts, so that a worker
    // that cannot work is never handed to a backend.
    if (!thread->mEngine.Initialize()) {
        Discard(thread);
        return nullptr;
    }
    return Launch(thread, arg) ? thread : nullptr;
}

void SFTPThread::Quit() {
    // The tool goes first, while this object surely still exists: whatever
    // the worker waits on ends with it. The engine's tunnel collects the
    // ended tool as the worker goes.
    mEngine.Terminate();
    EngineWorker::Quit();
}

// ---- handlers (worker thread) ------------------------------------------------

RequestResult SFTPThread::OnConnect(const sWorkerEvent& request) {
    const sBookMarkData& bookmark = request.bookmark;
    SetStatus("Connecting and authenticating...");
    if (!mEngine.Connect(bookmark.host, bookmark.port, bookmark.username, bookmark.password, 30))
        return EngineError();
    return EnterStartFolder(bookmark);
}

RequestResult SFTPThread::OnDisconnect(const sWorkerEvent&) {
    mEngine.Disconnect();
    return RequestResult::Done();
}

RequestResult SFTPThread::OnGetServerInfo(const sWorkerEvent&) {
    {
        Locker hold(mLock);
        mServerInfo = 1;
    }
    if (mEngine.SendREST(0)) {
        Locker hold(mLock);
        mServerInfo |= kServerInfoResume;
    }
    SetStatus(kConnected);
    return RequestResult::Done();
}

bool SFTPThread::ListFolder(const char* path, std::string& listing) {
    mEngine.SetListHidden(mListHidden.load());
    return mEngine.GetDirList(path, listing);
}

RequestResult SFTPThread::OnCreateFileList(const sWorkerEvent& request) {
    SetStatus("Getting file list...");
    {
        Locker hold(mLock);
        mDirListPath = request.path;
    }
    std::string listing;
    if (!ListFolder(request.path.c_str(), listing)) {
        // An upload's target folder that does not exist yet lists as empty;
        // a lost connection is still an error.
        if (request.fileListMode != kFileListUploadCheck || !mEngine.IsConnected())
            return EngineError();
        listing.clear();
    }
    {
        Locker hold(mLock);
        mDirListText = std::move(listing);
    }
    SetStatus(kConnected);
    return RequestResult::Done();
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

bool SFTPThread::FetchFile(const sFileInfo& item, const sDownloadInfo& info, std::string& refusal) {
    std::string folder, leaf;
    if (!GetRefForDest(info.destination, item.name, folder, leaf)) {
        refusal = "Refused the unsafe file name \"" + item.name + "\"";
        return false;
    }
    return mEngine.GetFile(item.name, folder, leaf, ResumeOffset(item));
}

bool SFTPThread::SendFile(const sFileInfo& item, const sUploadInfo&, const std::string& remoteName,
                          std::string& refusal) {
    if (!GetRefForUpload(item.owner)) {
        refusal = "Could locate source file";
        return false;
    }
    // The name is a path below the local folder and below the remote one at
    // once: nothing may lead out of either.
    std::string below;
    if (!LocalPathBelow(item.owner, item.name, below)) {
        refusal = "Refused the unsafe file name \"" + item.name + "\"";
        return false;
    }
    mCurrentFile = item;
    return mEngine.PutFile(item.name, item.owner, ResumeOffset(item), remoteName);
}
