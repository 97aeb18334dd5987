#include "engine/FTPThread.h"

#include "engine/EnginePreferences.h"
#include "engine/LocalFiles.h"
#include "platform/core/Timer.h"

#include <algorithm>
#include <new>
#include <strings.h>
#include <sys/stat.h>

namespace {

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace

// ---- life --------------------------------------------------------------------

FTPThread::FTPThread() : EngineWorker(kRequestGetModTime) {
    mLastActivity = PPx::TickCount();
    mKeepAliveSince.store(mLastActivity);
}

FTPThread::~FTPThread() = default;

FTPThread* FTPThread::CreateThread(int arg) {
    InstallEngineHiddenFilesSource();
    FTPThread* thread = new (std::nothrow) FTPThread;
    if (!thread)
        return nullptr;
    // Everything the worker needs is set before its thread starts: a request
    // made the moment this returns is never lost.
    return Launch(thread, arg) ? thread : nullptr;
}

// ---- keep-alive --------------------------------------------------------------

void FTPThread::DidProcess() {
    mLastActivity = PPx::TickCount();
}

bool FTPThread::QueueIdleRequest() {
    const int keepAlive = mKeepAlive.load();
    if (keepAlive <= 0 || !mEngine.IsConnected())
        return false;
    // Idle since the last request finished or the interval was installed,
    // whichever came later (unsigned tick differences survive the wrap).
    const uint32_t now = PPx::TickCount();
    const uint32_t idle = std::min(now - mLastActivity, now - mKeepAliveSince.load());
    if (idle / 60 < static_cast<uint32_t>(keepAlive))
        return false;
    SendNOOP();
    return true;
}

void FTPThread::SendNOOP() {
    QueueOwnRequest(kRequestNOOP);
}

bool FTPThread::OnOwnRequest(const sWorkerEvent& request, RequestResult& result) {
    if (request.request != kRequestNOOP)
        return false;
    result = OnNOOP(request);
    return true;
}

// No completion message: a failure reaches the window as an error while no
// request of its own is outstanding.
RequestResult FTPThread::OnNOOP(const sWorkerEvent&) {
    SetStatus("Pinging server...");
    if (!mEngine.SendNOOP())
        return EngineError();
    SetStatus(kConnected);
    return RequestResult::Done();
}

void FTPThread::SetTimeouts(int timeout, int keepAlive) {
    mTimeout.store(timeout);
    mKeepAliveSince.store(PPx::TickCount());
    mKeepAlive.store(keepAlive > 0 ? keepAlive : -1);
    mEngine.SetTimeout(timeout);
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

bool FTPThread::LogIn() {
    SetStatus("Connecting...");
    if (!mEngine.Connect(mBookmark.host, mBookmark.port, mTimeout.load()))
        return false;
    SetStatus("Authenticating...");
    return mEngine.Authenticate(mBookmark.username, mBookmark.password, mBookmark.account);
}

RequestResult FTPThread::OnConnect(const sWorkerEvent& request) {
    mBookmark = request.bookmark;
    if (!LogIn()) {
        // A session the server did not let in is ended: kept, it would be
        // sent keep-alives, each refused ("please log in") while the window
        // asks whether to redial.
        RequestResult failed = EngineError();
        mEngine.Disconnect();
        return failed;
    }
    return EnterStartFolder(mBookmark);
}

// Dates are asked in groups. A server that loses or merges commands sent
// together leaves the session out of step: a new one, in the same folder,
// asks one name at a time from then on.
RequestResult FTPThread::OnGetModTime(const sWorkerEvent& request) {
    std::string folder;
    const bool grouped = !mEngine.ModTimesOneByOne() && request.modTimeList.size() > 1;
    if (grouped && !mEngine.SendGetWorkingDir(folder))
        return EngineError();
    RequestResult result = EngineWorker::OnGetModTime(request);
    if (result.Succeeded() || !grouped || !mEngine.ModTimeGroupsFailed())
        return result;
    mEngine.AskModTimesOneByOne();
    mEngine.Disconnect();
    if (!LogIn() || !mEngine.ChangeDir(folder))
        return EngineError();
    return EngineWorker::OnGetModTime(request);
}

// Most servers rename over an existing item without a word, and the window
// checked only its listing: an item made since then is looked for now.
RequestResult FTPThread::OnRename(const sWorkerEvent& request) {
    if (request.args.size() >= 2 && request.args[0] != request.args[1]) {
        const std::string& to = request.args[1];
        SetStatus("Renaming...");
        bool taken = false;
        if (!mEngine.ItemExists(to, taken))
            return EngineError();
        // A server that ignores letter case finds the item itself under a
        // name that differs only in case: another item is one listed under
        // exactly that name, in a listing that shows the item itself.
        const std::string& from = request.args[0];
        if (taken && SameIgnoringCase(from, to) && to.find('/') == std::string::npos) {
            std::string listing;
            if (!ListFolder(nullptr, listing))
                return EngineError();
            taken = !FTPEngine::ListingNames(listing, from) || FTPEngine::ListingNames(listing, to);
        }
        if (taken)
            return RequestResult::Failed(NameTakenText(to));
    }
    return EngineWorker::OnRename(request);
}

RequestResult FTPThread::OnDisconnect(const sWorkerEvent&) {
    if (mEngine.IsConnected())
        mEngine.SendCommand("QUIT");
    mEngine.Disconnect();
    return RequestResult::Done();
}

RequestResult FTPThread::OnGetServerInfo(const sWorkerEvent&) {
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
    // Binary first: some servers (pyftpdlib) refuse REST in ASCII mode, where
    // a session starts. The engine keeps the type, so no transfer repeats it.
    mEngine.UseType(false);
    if (mEngine.SendREST(0)) {
        Locker hold(mLock);
        mServerInfo |= kServerInfoResume;
    }
    SetStatus(kConnected);
    return RequestResult::Done();
}

bool FTPThread::ListFolder(const char* path, std::string& listing) {
    mEngine.SetListHidden(mListHidden.load());
    return mEngine.GetDirList(path, listing, mBookmark.passive);
}

RequestResult FTPThread::OnCreateFileList(const sWorkerEvent& request) {
    const std::string& path = request.path;
    {
        Locker hold(mLock);
        mDirListPath = path;
    }
    std::string listing;
    bool listed = false;
    bool refused = false;
    std::string failure;
    auto failed = [&] {
        refused = Refused();
        failure = mEngine.GetLastError();
    };
    // Lists PATH from inside it; false when the connection cannot go back
    // to where the front end believes it stands.
    auto listInside = [&] {
        SetStatus(kGettingDirectory);
        std::string saved;
        if (!mEngine.SendGetWorkingDir(saved))
            return false;
        SetStatus(kChangingDirectory);
        if (!mEngine.ChangeDir(path)) {
            failed();
            return true;
        }
        SetStatus("Getting file list...");
        listed = ListFolder(nullptr, listing);
        if (!listed)
            failed();
        SetStatus(kChangingDirectory);
        return mEngine.ChangeDir(saved);
    };
    // Some servers (pyftpdlib) take "-a" only without a path: their folders
    // are listed from inside once a named listing has shown it.
    mEngine.SetListHidden(mListHidden.load());
    using Hidden = FTPEngine::HiddenListing;
    auto hiddenOnlyInside = [&] {
        return mEngine.WantsHidden() && mEngine.HiddenListingOf(true) == Hidden::kRefused &&
               mEngine.HiddenListingOf(false) != Hidden::kRefused;
    };
    // LIST takes no quoting: a blank splits the path, and many servers read
    // "*?[]{}" as a pattern and "\\" as its escape. Such a path is listed
    // from inside.
    if (path.find_first_of(" \t*?[]{}\\") != std::string::npos || hiddenOnlyInside()) {
        if (!listInside())
            return EngineError();
    } else {
        const bool probing = mEngine.HiddenListingOf(true) == Hidden::kUntried;
        SetStatus("Getting file list...");
        listed = ListFolder(path.c_str(), listing);
        if (!listed) {
            failed();
        } else if (probing && hiddenOnlyInside()) {
            // The plain listing stands should the one from inside fail.
            std::string plain = listing;
            if (!listInside())
                return EngineError();
            if (!listed)
                listing = std::move(plain);
            listed = true;
        }
    }
    if (!listed) {
        // An upload's target folder that does not exist yet lists as empty.
        if (request.fileListMode != kFileListUploadCheck || !refused)
            return RequestResult::Failed(failure);
        listing.clear();
    }
    {
        Locker hold(mLock);
        mDirListText = std::move(listing);
    }
    SetStatus(kConnected);
    return RequestResult::Done();
}

bool FTPThread::FetchFile(const sFileInfo& item, const sDownloadInfo& info, std::string& refusal) {
    std::string local;
    if (!LocalPathBelow(info.destination, item.name, local)) {
        refusal = "Refused the unsafe file name \"" + item.name + "\"";
        return false;
    }
    const int64_t expected = item.size > 0 ? static_cast<int64_t>(item.size) : -1;
    return mEngine.GetFile(item.name, local, ResumeOffset(item), info.ascii, mBookmark.passive,
                           expected);
}

bool FTPThread::SendFile(const sFileInfo& item, const sUploadInfo& info,
                         const std::string& remoteName, std::string& refusal) {
    const std::string source = item.owner + "/" + item.name;
    struct stat found {};
    if (::stat(source.c_str(), &found) != 0) {
        refusal = "Could locate source file";
        return false;
    }
    mCurrentFile = item;
    return mEngine.PutFile(remoteName, source, ResumeOffset(item), info.ascii, mBookmark.passive);
}
