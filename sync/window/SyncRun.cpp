#include "sync/window/SyncRun.h"

#include "browser/core/Listing.h"
#include "browser/core/ServerText.h"
#include "platform/core/Errors.h"
#include "sync/core/RemoteTree.h"
#include "sync/core/SyncCache.h"
#include "sync/core/SyncDates.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace {

constexpr PPx::FourCharCode kRedialCommand = 'rdal';

std::string WithSlash(const std::string& folder) {
    return !folder.empty() && folder.back() == '/' ? folder : folder + "/";
}

// A private folder of the run inside the synchronised folder (so renames out
// of it stay on one file system); its dot name keeps it out of both walks.
// Empty when it cannot be made (errno says why).
std::string MakeHiddenFolderIn(const std::string& root) {
    std::string pattern = WithSlash(root) + ".zarvel-sync-XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// mkdir -p below an existing folder; false when something is in the way.
bool MakeFolders(const std::string& base, const std::string& relative) {
    if (relative.empty())
        return true;
    if (!MakeFolders(base, ParentOf(relative)))
        return false;
    const std::string path = base + "/" + relative;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    return ::mkdir(path.c_str(), 0700) == 0;
}

} // namespace

SyncRun::SyncRun() {
    mRedialHandler = mPoster.InstallCommandHandler(kRedialCommand, [this](PPx::Event&) {
        Redial();
        return PPx::noErr;
    });
}

SyncRun::~SyncRun() {
    PPx::RemovePostedEvents(mPoster.Ref());
    mConnection.reset();
    RemoveStaging();
}

std::unique_ptr<Connection> SyncRun::MakeConnection() {
    return std::make_unique<Connection>(this);
}

// ---- start and connection --------------------------------------------------

void SyncRun::StartSession(const sSyncBookMarkData& bookmark) {
    mBookmark = bookmark;
    ShowTitle("Synchronizing with " + mBookmark.host);
    // Only a damaged or foreign bookmark file holds another action: no
    // direction is guessed for it.
    if (mBookmark.action < 1 || mBookmark.action > 3) {
        mStopped = true;
        ShowStopAlert("The synchronization bookmark \"" + mBookmark.name + "\" is damaged.",
                      "It does not say whether to upload, download or both. Edit it, choose a "
                      "direction and synchronize again.");
        CloseRun();
        return;
    }
    mConnecting = true;
    ShowStatus("Connecting...");
    mConnection = MakeConnection();
    if (!mConnection) {
        ShowStopAlert("Could not allocate connection", "Not enough memory");
        return;
    }
    // The walk must meet the temporary files of uploads that did not end.
    mConnection->SetListHidden(true);
    const OSStatus status = mConnection->Initialize(mBookmark);
    if (status != 0) {
        char explanation[64];
        std::snprintf(explanation, sizeof explanation, "Error code: %ld",
                      static_cast<long>(status));
        ShowStopAlert("Could not initialize connection", explanation);
    }
}

void SyncRun::Redial() {
    mConnection.reset(); // its worker stops and its sockets close
    StartSession(mBookmark);
}

void SyncRun::ConnectComplete() {
    mConnecting = false;
    mConnection->GetServerInfo();
}

void SyncRun::GetServerInfoComplete(bool, int serverType) {
    mServerType = serverType;
    ShowStatus(
        "Listing " +
        (mBookmark.remoteDir.empty() ? "the remote folder" : "\"" + mBookmark.remoteDir + "\"") +
        "...");
    mConnection->GetDirList();
}

// ---- remote walk ---------------------------------------------------------------

void SyncRun::BuildFileList(const std::string& listing, std::vector<sFileInfo>& items) {
    items.clear();
    if (!listing.empty())
        ::BuildFileList(listing, items, mServerType);
}

void SyncRun::GetDirListComplete(const std::string&, const std::string& listing) {
    std::vector<sFileInfo> entries;
    BuildFileList(listing, entries);
    mRemoteList.clear();
    mRemoteIgnored.clear();
    std::string error;
    TakeRemoteListing("", nullptr, entries, mRemoteList, mRemoteIgnored, error);
    mRemoteCursor = 0;
    BuildRemoteList();
}

void SyncRun::BuildRemoteList() {
    while (mRemoteCursor < mRemoteList.size()) {
        const uint32_t at = mRemoteCursor++;
        if (mRemoteList[at].isFolder) {
            mListingFolder = at;
            ShowStatus("Listing \"" + mRemoteList[at].name + "\"...");
            mConnection->CreateFileList(mRemoteList[at].name, 0);
            return;
        }
    }
    std::vector<sFileInfo> files;
    for (const sFileInfo& item : mRemoteList)
        if (!item.isFolder)
            files.push_back(item);
    ShowStatus(files.size() == 1
                   ? std::string("Reading the date of 1 remote file...")
                   : "Reading the dates of " + std::to_string(files.size()) + " remote files...");
    mConnection->GetModTime(files);
}

void SyncRun::CreateFileListComplete(const std::string&, const std::string& listing, int) {
    std::vector<sFileInfo> entries;
    BuildFileList(listing, entries);
    // Our own name of the folder, not the server's echo of it.
    const sFileInfo self = mRemoteList[mListingFolder];
    std::string error;
    if (!TakeRemoteListing(self.name, &self, entries, mRemoteList, mRemoteIgnored, error)) {
        StopRun(error);
        return;
    }
    BuildRemoteList();
}

void SyncRun::GetModTimeComplete(const std::vector<sFileInfo>& files) {
    std::unordered_map<std::string, const sFileInfo*> dates;
    for (const sFileInfo& file : files)
        dates[file.name] = &file;
    for (sFileInfo& item : mRemoteList) {
        if (item.isFolder)
            continue;
        auto found = dates.find(item.name);
        if (found == dates.end())
            continue;
        // FTP servers answer in universal time; local dates are local time.
        item.modDate = mBookmark.secure ? found->second->modDate
                                        : SyncUniversalToLocal(found->second->modDate);
    }
    mLocalList.clear();
    BuildLocalList();
    if (mStopped)
        return;

    if (mSecondPass) {
        // An abort that came in after the transfers (a Cancel posted as they
        // ended) still leaves the cache as it was.
        if (mAborted) {
            FinishSync();
            return;
        }
        std::vector<sFileInfo> local = mLocalList, remote = mRemoteList;
        SettleSyncCache(local, remote, mCachedLocal, mCachedRemote, mUnsettled);
        SaveCache(local, remote);
        FinishSync();
        return;
    }

    Report(mRemoteIgnored);
    Report(mLocalIgnored);
    const SyncCacheLoad load = LoadSyncFile(mBookmark.name, mCachedLocal, mCachedRemote);
    if (load.status == SyncCacheLoad::SetAside)
        ShowNotice("The synchronization cache could not be read. It was kept as \"" + load.keptAs +
                   "\"; this run works as if there were none.");
    // What could not be read nor moved aside is not written over either.
    mCacheBlocked = load.status == SyncCacheLoad::Blocked;
    if (mCacheBlocked)
        ShowNotice("The synchronization cache could not be read nor moved aside. This run works "
                   "as if there were none and leaves the file as it is.");
    mCacheLoaded = load.status == SyncCacheLoad::Loaded;
    if (mCacheLoaded) {
        SyncFolders();
        return;
    }
    bool cancelled = false;
    const bool inSync = CurrentContentInSync(cancelled);
    if (cancelled) {
        FinishSync();
    } else if (inSync) {
        SaveCache(mLocalList, mRemoteList);
        FinishSync();
    } else {
        SyncFolders();
    }
}

void SyncRun::SaveCache(const std::vector<sFileInfo>& local, const std::vector<sFileInfo>& remote) {
    if (mCacheBlocked)
        return;
    try {
        SaveSyncFile(mBookmark.name, local, remote);
    } catch (const PPx::OSError& error) {
        ShowStopAlert("The synchronization cache could not be saved.", error.what());
    }
}

// ---- local walk and first-time question -------------------------------------

void SyncRun::BuildLocalList() {
    LocalTree tree = WalkLocalTree(mBookmark.localDir);
    if (!tree.ok) {
        StopRun(tree.error);
        return;
    }
    mLocalRoot = tree.root;
    mLocalList = std::move(tree.items);
    mLocalIgnored = std::move(tree.ignored);
}

void SyncRun::Report(const std::vector<SyncIgnoredItem>& items) {
    // A local name with '\', '/' or ':' gets an alert of its own, as it always
    // did; everything else left alone is told in one alert, not one per item.
    constexpr size_t kShown = 20;
    std::string others;
    size_t count = 0;
    for (const SyncIgnoredItem& item : items) {
        if (!SyncSkipIsReported(item.reason))
            continue;
        if (item.reason == SyncSkip::BadCharacter && !item.remote) {
            ShowNotice(SyncIgnoredMessage(item));
            continue;
        }
        if (count++ < kShown)
            others += (others.empty() ? "" : "\n") + SyncIgnoredMessage(item);
    }
    if (count > kShown)
        others += "\n... and " + std::to_string(count - kShown) + " more.";
    if (!others.empty())
        ShowNotice(others);
}

bool SyncRun::CurrentContentInSync(bool& cancelled) {
    cancelled = false;
    if (!SyncAsksFirstTimeQuestion(Input()))
        return false;
    const uint32_t answer = AskFirstTime(
        "Are the current files already synchronized?",
        "This is the first time that you are synchronizing these folders.\nIf you are sure that "
        "both folders are already synchronized, click 'Yes'.  If you are not sure, click "
        "'No'.\nFor further reference, please consult 'First time synchronization' in the "
        "Zarvel User's Guide.");
    if (answer == 'Yes ')
        return true;
    if (answer == 'No  ')
        return false;
    cancelled = true;
    return false;
}

// ---- plan ----------------------------------------------------------------------

SyncInput SyncRun::Input() const {
    SyncInput input;
    input.remote = mRemoteList;
    input.local = mLocalList;
    input.cachedRemote = mCachedRemote;
    input.cachedLocal = mCachedLocal;
    input.action = mBookmark.action;
    input.deleteLocal = mBookmark.deleteLocal;
    input.deleteRemote = mBookmark.deleteRemote;
    input.remoteIgnored = mRemoteIgnored;
    input.localIgnored = mLocalIgnored;
    return input;
}

void SyncRun::SyncFolders() {
    mPlan = PlanSync(Input());
    mPlanned = true;
    Report(mPlan.leftAlone);
    if (!CreateLocalFolders(mLocalRoot, mPlan.localFolders))
        return;
    mRemoteFolders = mPlan.remoteFolders;
    mRemoteFolderIndex = 0;
    CreateRemoteFolders();
}

bool SyncRun::CreateLocalFolders(const std::string& localFolder,
                                 const std::vector<std::string>& folders) {
    const std::string base = WithSlash(localFolder);
    for (const std::string& folder : folders) {
        const std::string path = base + folder;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode))
                continue;
            SetError("The file " + path +
                     " is preventing the creation of a folder with the same name.\n"
                     "Please resolve this problem and synchronize again.\n");
            return false;
        }
        if (::mkdir(path.c_str(), 0777) != 0) {
            SetError("Could not create the folder " + path + ": " + std::strerror(errno));
            return false;
        }
    }
    return true;
}

void SyncRun::CreateRemoteFolders() {
    if (mRemoteFolderIndex >= mRemoteFolders.size()) {
        SyncFiles();
        return;
    }
    mConnection->CreateFolder(mRemoteFolders[mRemoteFolderIndex++]);
}

void SyncRun::CreateFolderComplete() {
    CreateRemoteFolders();
}

void SyncRun::SyncFiles() {
    std::vector<SyncChoice> answers;
    for (const SyncConflict& conflict : mPlan.conflicts) {
        const std::optional<SyncChoice> choice = AskConflict(conflict);
        if (!choice) {
            // Nothing of the plan is carried out.
            mConnection->Disconnect();
            return;
        }
        answers.push_back(*choice);
    }
    if (!answers.empty())
        mPlan = PlanSync(Input(), answers);
    mUnsettled = mPlan.unsettled;
    mUploadInfo = sUploadInfo();
    // Every upload goes beside its target and takes its place once whole, with
    // the permissions the file it replaces had.
    mUploadInfo.replaceWhole = true;
    for (const SyncIgnoredItem& item : mRemoteIgnored)
        if (item.reason == SyncSkip::UploadPart && !item.isFolder && IsSafeRelativePath(item.path))
            mUploadInfo.leftovers.push_back(item.path);
    std::unordered_map<std::string_view, const sFileInfo*> remoteFiles;
    for (const sFileInfo& item : mRemoteList)
        if (!item.isFolder)
            remoteFiles[item.name.view()] = &item;
    for (size_t i = 0; i < mPlan.uploads.size(); ++i) {
        sFileInfo file = mPlan.uploads[i];
        file.permissions = std::string_view();
        if (const auto replaced = remoteFiles.find(mPlan.uploadTargets[i]);
            replaced != remoteFiles.end())
            file.permissions = replaced->second->permissions;
        // The worker reads the file as owner + name and writes it as name: a
        // file paired across letter case is read through a link that bears
        // its partner's name.
        if (mPlan.uploadTargets[i] != file.name && !LinkForUpload(file, mPlan.uploadTargets[i])) {
            ++mCounts.failed;
            mUnsettled.push_back(file.name);
            continue;
        }
        mUploadInfo.files.push_back(std::move(file));
    }
    mDownloadInfo = sDownloadInfo();
    mDownloadInfo.files = mPlan.downloads;
    mDownloadTargets = mPlan.downloadTargets;
    mLocalNames.clear();
    for (size_t i = 0; i < mLocalList.size(); ++i)
        if (!mLocalList[i].isFolder)
            mLocalNames[mLocalList[i].name] = i;
    mDeleteInfo = sDeleteInfo();
    mDeleteInfo.files = mPlan.deletions;
    for (sFileInfo& file : mDeleteInfo.files)
        if (mBookmark.action == 2)
            file.owner = mLocalRoot;
    // What the one transfer sheet of the run counts.
    mTransferFiles = 0;
    mTransferBytes = 0;
    mTransferStarted = 0;
    for (const std::vector<sFileInfo>* list : {&mUploadInfo.files, &mDownloadInfo.files})
        for (const sFileInfo& file : *list)
            if (!file.isFolder) {
                ++mTransferFiles;
                mTransferBytes += file.size;
            }
    DoSync();
}

// ---- execution -------------------------------------------------------------------

void SyncRun::DoSync() {
    const bool uploads = !mUploadInfo.files.empty();
    const bool downloads = !mDownloadInfo.files.empty();
    const bool deletions = !mDeleteInfo.files.empty();
    if (mBookmark.action == 1) {
        if (uploads) {
            BeginPhase(Phase::Uploading);
            mConnection->Upload(mUploadInfo);
        } else if (mBookmark.deleteRemote && deletions) {
            BeginPhase(Phase::DeletingRemote);
            mConnection->Delete(mDeleteInfo);
        } else {
            SyncComplete();
        }
    } else if (mBookmark.action == 2) {
        if (downloads) {
            StartDownloads();
            return;
        }
        if (mBookmark.deleteLocal && deletions)
            DeleteLocalFiles(mDeleteInfo);
        SyncComplete();
    } else if (uploads) {
        BeginPhase(Phase::Uploading);
        mConnection->Upload(mUploadInfo);
    } else if (downloads) {
        StartDownloads();
    } else {
        SyncComplete();
    }
}

void SyncRun::UploadComplete() {
    FinishPhase();
    AfterUploads();
}

void SyncRun::AfterUploads() {
    if (mAborted) {
        SyncComplete();
        return;
    }
    if (mBookmark.action == 1) {
        if (mBookmark.deleteRemote && !mDeleteInfo.files.empty()) {
            BeginPhase(Phase::DeletingRemote);
            mConnection->Delete(mDeleteInfo);
        } else {
            SyncComplete();
        }
    } else if (mBookmark.action != 2) {
        StartDownloads(); // also when empty
    }
}

// A local folder where a download would land stops that download as a failed
// item of the request does: with several files the user may go on without it.
void SyncRun::StartDownloads() {
    size_t files = 0;
    for (const sFileInfo& file : mDownloadInfo.files)
        files += !file.isFolder;
    for (size_t i = 0; i < mDownloadInfo.files.size(); ++i) {
        const std::string target = WithSlash(mLocalRoot) + mDownloadTargets[i];
        struct stat st {};
        if (mDownloadInfo.files[i].isFolder || ::lstat(target.c_str(), &st) != 0 ||
            S_ISREG(st.st_mode))
            continue;
        const std::string message = std::string(S_ISDIR(st.st_mode) ? "The folder " : "The item ") +
                                    target +
                                    " is preventing the download of a file with the same name.\n"
                                    "Please resolve this problem and synchronize again.\n";
        // Nothing from here on is fetched when the user stops; only this one otherwise.
        const bool goOn = files >= 2 && AskGoOn(message, "Press OK to ignore, Cancel to stop.");
        const size_t end = goOn ? i + 1 : mDownloadInfo.files.size();
        for (size_t dropped = i; dropped < end; ++dropped) {
            const sFileInfo& file = mDownloadInfo.files[dropped];
            if (file.isFolder)
                continue;
            ++mCounts.failed;
            mUnsettled.push_back(file.name);
            --mTransferFiles;
            mTransferBytes -= file.size;
        }
        mDownloadInfo.files.erase(mDownloadInfo.files.begin() + static_cast<std::ptrdiff_t>(i),
                                  mDownloadInfo.files.begin() + static_cast<std::ptrdiff_t>(end));
        mDownloadTargets.erase(mDownloadTargets.begin() + static_cast<std::ptrdiff_t>(i),
                               mDownloadTargets.begin() + static_cast<std::ptrdiff_t>(end));
        if (files < 2) {
            SetError(message);
            return;
        }
        if (!goOn)
            break;
        --i;
    }
    if (!MakeStaging())
        return;
    BeginPhase(Phase::Downloading);
    mConnection->Download(mDownloadInfo);
}

void SyncRun::DownloadComplete() {
    FinishPhase();
    RemoveStaging();
    if (!mNotPutInPlace.empty()) {
        std::string message;
        for (const std::string& path : mNotPutInPlace)
            message += (message.empty() ? "" : "\n") + ("The download of " + path) +
                       " was not put in place: the local item changed during the "
                       "synchronization.";
        mNotPutInPlace.clear();
        ShowNotice(message);
    }
    if (mAborted) {
        SyncComplete();
        return;
    }
    if (mBookmark.action == 2 && mBookmark.deleteLocal && !mDeleteInfo.files.empty())
        DeleteLocalFiles(mDeleteInfo);
    SyncComplete();
}

void SyncRun::DeleteComplete() {
    FinishPhase();
    SyncComplete();
}

void SyncRun::DeleteLocalFiles(const sDeleteInfo& info) {
    // Only what this run listed, as it was listed; links are removed as links
    // and folders only when empty.
    auto listed = [](const sFileInfo& entry, const struct stat& st) {
        if (S_ISLNK(st.st_mode) || !S_ISREG(st.st_mode))
            return false;
        return static_cast<uint64_t>(st.st_size) == entry.size &&
               SyncCompareDates(SyncLocalDate(st.st_mtim.tv_sec), entry.modDate) == 0;
    };
    std::vector<const sFileInfo*> folders;
    for (const sFileInfo& entry : info.files) {
        const std::string path = WithSlash(entry.owner) + entry.name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            folders.push_back(&entry);
            continue;
        }
        SetDeleteStatus(entry.name);
        if (listed(entry, st) && ::unlink(path.c_str()) == 0) {
            ++mCounts.deleted;
        } else {
            ++mCounts.failed;
            mUnsettled.push_back(entry.name);
        }
    }
    for (const sFileInfo* entry : folders) {
        const std::string path = WithSlash(entry->owner) + entry->name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue;
        SetDeleteStatus(entry->name);
        if (::rmdir(path.c_str()) == 0) {
            ++mCounts.deleted;
        } else {
            ++mCounts.failed;
            mUnsettled.push_back(entry->name);
        }
    }
}

void SyncRun::AbortTransfer() {
    mAborted = true;
    if (mConnection)
        mConnection->AbortTransfer();
}

void SyncRun::SyncComplete() {
    HideTransfer(true);
    const bool planned =
        !mUploadInfo.files.empty() || !mDownloadInfo.files.empty() || !mDeleteInfo.files.empty();
    if (planned || mCachedLocal.empty() || mCachedRemote.empty()) {
        if (mAborted) {
            FinishSync();
        } else {
            mSecondPass = true;
            mConnection->GetDirList();
        }
    } else {
        FinishSync();
    }
}

void SyncRun::FinishSync() {
    mConnection->Disconnect();
}

void SyncRun::DisconnectComplete() {
    RemoveStaging();
    if (!mAborted && !mStopped)
        ShowSummary(mCounts);
    CloseRun();
}

// ---- what each transfer confirmed ---------------------------------------------

std::vector<sFileInfo>* SyncRun::PhaseFiles() {
    switch (mPhase) {
    case Phase::Uploading:
        return &mUploadInfo.files;
    case Phase::Downloading:
        return &mDownloadInfo.files;
    case Phase::DeletingRemote:
        return &mDeleteInfo.files;
    default:
        return nullptr;
    }
}

void SyncRun::BeginPhase(Phase phase) {
    mPhase = phase;
    mCurrent = SIZE_MAX;
    mCursor = 0;
    mCurrentFailed = false;
}

// The worker names the file it starts: everything before it in the list
// that never started did not happen.
void SyncRun::NextItem(const std::string& name) {
    std::vector<sFileInfo>* files = PhaseFiles();
    if (!files)
        return;
    if (mCurrent != SIZE_MAX)
        FinishCurrent(!mCurrentFailed);
    for (size_t i = mCursor; i < files->size(); ++i) {
        if ((*files)[i].isFolder || (*files)[i].name != name)
            continue;
        for (size_t skipped = mCursor; skipped < i; ++skipped)
            if (!(*files)[skipped].isFolder) {
                mCurrent = skipped;
                FinishCurrent(false);
            }
        mCurrent = i;
        mCursor = i + 1;
        mCurrentFailed = false;
        return;
    }
    mCurrent = SIZE_MAX;
}

// A local file changed (or made) since the walk is the user's newer work: a
// download does not replace it.
bool SyncRun::LocalStillAsListed(const std::string& name, const std::string& path) const {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return errno == ENOENT && !mLocalNames.contains(name);
    const auto listed = mLocalNames.find(name);
    if (listed == mLocalNames.end() || !S_ISREG(st.st_mode))
        return false;
    const sFileInfo& entry = mLocalList[listed->second];
    return static_cast<uint64_t>(st.st_size) == entry.size &&
           SyncCompareDates(SyncLocalDate(st.st_mtim.tv_sec), entry.modDate) == 0;
}

void SyncRun::FinishCurrent(bool done) {
    std::vector<sFileInfo>* files = PhaseFiles();
    if (!files || mCurrent == SIZE_MAX || mCurrent >= files->size())
        return;
    const size_t index = mCurrent;
    const sFileInfo& file = (*files)[index];
    mCurrent = SIZE_MAX;
    if (done && mPhase == Phase::Downloading) {
        // A complete download replaces the local file in one step.
        const std::string from = mStaging + "/" + file.name;
        const std::string to = WithSlash(mLocalRoot) + mDownloadTargets[index];
        done = LocalStillAsListed(mDownloadTargets[index], to) &&
               ::rename(from.c_str(), to.c_str()) == 0;
        if (!done)
            mNotPutInPlace.push_back(to);
    }
    if (done) {
        if (mPhase == Phase::Uploading)
            ++mCounts.uploaded;
        else if (mPhase == Phase::Downloading)
            ++mCounts.downloaded;
        else
            ++mCounts.deleted;
    } else {
        ++mCounts.failed;
        mUnsettled.push_back(file.name);
    }
}

// The request ended: its last file is done unless something said otherwise;
// files it never reached are not.
void SyncRun::FinishPhase() {
    std::vector<sFileInfo>* files = PhaseFiles();
    if (!files)
        return;
    if (mCurrent != SIZE_MAX)
        FinishCurrent(!mCurrentFailed && !mAborted);
    for (size_t i = mCursor; i < files->size(); ++i)
        if (!(*files)[i].isFolder) {
            mCurrent = i;
            FinishCurrent(false);
        }
    mCursor = files->size();
    mPhase = Phase::None;
}

bool SyncRun::LinkForUpload(sFileInfo& file, const std::string& target) {
    if (mUploadStaging.empty()) {
        mUploadStaging = MakeHiddenFolderIn(mLocalRoot);
        if (mUploadStaging.empty())
            return false;
    }
    const std::string source = WithSlash(mLocalRoot) + file.name;
    if (!MakeFolders(mUploadStaging, ParentOf(target)) ||
        ::link(source.c_str(), (mUploadStaging + "/" + target).c_str()) != 0)
        return false;
    file.name = target;
    file.owner = mUploadStaging;
    return true;
}

bool SyncRun::MakeStaging() {
    if (!mStaging.empty())
        return true;
    mStaging = MakeHiddenFolderIn(mLocalRoot);
    if (mStaging.empty()) {
        SetError("Could not create a folder for the downloads in " + mLocalRoot + ": " +
                 std::strerror(errno));
        return false;
    }
    for (const sFileInfo& file : mDownloadInfo.files)
        if (!MakeFolders(mStaging, ParentOf(file.name))) {
            SetError("Could not prepare the download of " + file.name);
            return false;
        }
    mDownloadInfo.destination = mStaging;
    mDownloadInfo.ascii = false;
    return true;
}

void SyncRun::RemoveStaging() {
    // Our own folders: downloads that did not complete, links made for uploads.
    for (std::string* folder : {&mStaging, &mUploadStaging}) {
        if (folder->empty())
            continue;
        std::error_code ignored;
        std::filesystem::remove_all(*folder, ignored);
        folder->clear();
    }
}

// ---- status and errors -----------------------------------------------------------

void SyncRun::StopRun(const std::string& message) {
    mStopped = true;
    HideTransfer(true);
    ShowStopAlert(message, "Nothing was transferred or deleted.");
    if (mConnection && mConnection->IsConnected())
        mConnection->Disconnect();
    else
        CloseRun();
}

void SyncRun::SetStatus(const std::string& text) {
    // The connection's own texts while it connects; after that the run
    // tells what it does ("Listing ...", "Uploading ... (2 of 5)").
    if (mConnecting)
        ShowStatus(text);
}

void SyncRun::SetDeleteStatus(const std::string& name) {
    if (mPhase == Phase::DeletingRemote)
        NextItem(name);
    HideTransfer(true);
    ShowStatus("Deleting " + name);
}

void SyncRun::SetError(const std::string& text) {
    const std::string message = StripReplyCode(text);
    if (mConnecting) {
        const ConnectFailure failure = DescribeConnectFailure(text, mBookmark.username);
        if (AskRedial(failure.message, failure.redialByItself))
            PPx::PostEvent(mPoster.Ref(), PPx::MakeCommandEvent(kRedialCommand));
        else
            CloseRun();
        return;
    }
    if (mPhase != Phase::None) {
        mCurrentFailed = true;
        FinishPhase();
    }
    // A listing that failed before anything was planned ends the run as a
    // failed walk does.
    if (!mPlanned)
        mStopped = true;
    RemoveStaging();
    HideTransfer(true);
    const char* const lost = "The remote server has closed the connection.";
    if (!(mConnection && mConnection->IsConnected())) {
        // One alert for one lost connection, with what the server said.
        ShowCautionAlert("Connection Lost", lost + ("\n\n" + message.substr(0, 255)));
        CloseRun();
        return;
    }
    ShowStopAlert(message.substr(0, 255), "");
    if (mConnection && mConnection->IsConnected()) {
        mConnection->Disconnect();
    } else {
        ShowCautionAlert("Connection Lost", lost);
        CloseRun();
    }
}

bool SyncRun::SetErrorAsk(const std::string& text) {
    mCurrentFailed = true;
    HideTransfer(false);
    if (AskGoOn(StripReplyCode(text), "Press OK to ignore, Cancel to stop.")) {
        ShowTransferAgain();
        return true;
    }
    return false;
}

void SyncRun::StartTransfer(const sFileProgress& progress) {
    NextItem(progress.name);
    ++mTransferStarted;
    ShowStatus(std::string(mPhase == Phase::Downloading ? "Downloading" : "Uploading") + " \"" +
               progress.name + "\" (" + std::to_string(mTransferStarted) + " of " +
               std::to_string(mTransferFiles) + ")");
    ShowTransferStart(progress, mTransferFiles, mTransferBytes);
}

void SyncRun::EndTransfer(const sFileProgress& progress) {
    ShowTransferEnd(progress);
}

void SyncRun::UpdateTransfer(const sFileProgress& progress) {
    ShowTransferUpdate(progress);
}
