#pragma once
// One synchronisation run: connects with a synchronisation bookmark, lists
// both trees, compares them with the cache, creates folders, transfers and
// deletes, lists both trees again and saves the cache, then disconnects. It
// is the connection's front end and keeps one request outstanding at a time.
// What the user sees and answers goes through the virtual operations at the
// end, which the status window gives sheets and alerts.
#include "engine/Connection.h"
#include "engine/ConnectionFrontend.h"
#include "engine/ConnectionRecords.h"
#include "platform/core/Events.h"
#include "sync/core/LocalTree.h"
#include "sync/core/SyncNames.h"
#include "sync/core/SyncPlan.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// What the run confirmed done, for the summary.
struct SyncCounts {
    uint32_t uploaded = 0;
    uint32_t downloaded = 0;
    uint32_t deleted = 0;
    uint32_t failed = 0; // transfers and deletions that failed or were cut off

    bool operator==(const SyncCounts&) const = default;
};

class SyncRun : public ConnectionFrontend {
public:
    SyncRun();
    ~SyncRun() override;
    SyncRun(const SyncRun&) = delete;
    SyncRun& operator=(const SyncRun&) = delete;

    virtual void StartSession(const sSyncBookMarkData& bookmark);
    // The user's abort (the transfer sheet's Cancel).
    virtual void AbortTransfer();

    // ConnectionFrontend.
    void SetDeleteStatus(const std::string& name) override;
    void SetStatus(const std::string& text) override;
    void SetError(const std::string& text) override;
    bool SetErrorAsk(const std::string& text) override;
    void StartTransfer(const sFileProgress& progress) override;
    void EndTransfer(const sFileProgress& progress) override;
    void UpdateTransfer(const sFileProgress& progress) override;
    void ConnectComplete() override;
    void DisconnectComplete() override;
    void GetServerInfoComplete(bool resumeSupported, int serverType) override;
    void GetDirListComplete(const std::string& path, const std::string& listing) override;
    void ChangeDirToComplete() override {}
    void ResolveLinksComplete(const std::vector<std::string>&) override {}
    void RenameComplete() override {}
    void CreateFolderComplete() override;
    void SetPermsComplete() override {}
    void CreateFileListComplete(const std::string& path, const std::string& listing,
                                int mode) override;
    void DownloadComplete() override;
    void DeleteComplete() override;
    void UploadComplete() override;
    void GetModTimeComplete(const std::vector<sFileInfo>& files) override;

    const SyncCounts& Counts() const { return mCounts; }

protected:
    // The run's steps.
    virtual void BuildRemoteList();
    virtual void BuildLocalList();
    virtual bool CurrentContentInSync(bool& cancelled);
    virtual void SyncFolders();
    virtual bool CreateLocalFolders(const std::string& localFolder,
                                    const std::vector<std::string>& folders);
    virtual void CreateRemoteFolders();
    virtual void SyncFiles();
    virtual void DoSync();
    virtual void DeleteLocalFiles(const sDeleteInfo& info);
    virtual void SyncComplete();
    virtual void FinishSync();
    virtual void BuildFileList(const std::string& listing, std::vector<sFileInfo>& items);

    // What the user sees and answers.
    virtual void ShowTitle(const std::string& title) = 0;
    virtual void ShowStatus(const std::string& text) = 0;
    // A stop alert; `explanation` may be empty.
    virtual void ShowStopAlert(const std::string& message, const std::string& explanation) = 0;
    // A caution alert ("Connection Lost").
    virtual void ShowCautionAlert(const std::string& message, const std::string& explanation) = 0;
    // An alert sheet with OK (items left alone, a cache set aside).
    virtual void ShowNotice(const std::string& message) = 0;
    // Yes 'Yes ', No 'No  ', anything else cancels.
    virtual uint32_t AskFirstTime(const std::string& message, const std::string& explanation) = 0;
    // The conflict sheet; nothing when the user cancelled.
    virtual std::optional<SyncChoice> AskConflict(const SyncConflict& conflict) = 0;
    // The redial sheet: true to try again. BYITSELF: the sheet may count
    // down and redial without the user.
    virtual bool AskRedial(const std::string& message, bool byItself) = 0;
    // One item of a transfer failed: true goes on with the next.
    virtual bool AskGoOn(const std::string& message, const std::string& explanation) = 0;
    virtual void ShowTransferStart(const sFileProgress& progress, uint32_t files,
                                   uint64_t bytes) = 0;
    virtual void ShowTransferUpdate(const sFileProgress& progress) = 0;
    virtual void ShowTransferEnd(const sFileProgress& progress) = 0;
    virtual void HideTransfer(bool close) = 0; // close false: hide it only
    virtual void ShowTransferAgain() = 0;
    virtual void ShowSummary(const SyncCounts& counts) = 0;
    // Closes the run's window once the running callback has returned.
    virtual void CloseRun() = 0;

    // A new connection for a session; tests may hand their own.
    virtual std::unique_ptr<Connection> MakeConnection();

    // State, as the window shows and the tests read it.
    sSyncBookMarkData mBookmark;
    std::unique_ptr<Connection> mConnection;
    bool mConnecting = true;
    bool mSecondPass = false;
    bool mAborted = false;
    int32_t mServerType = 1;
    std::vector<sFileInfo> mRemoteList;
    uint32_t mRemoteCursor = 0;
    std::vector<sFileInfo> mLocalList;
    std::string mLocalRoot;
    std::vector<std::string> mRemoteFolders;
    uint32_t mRemoteFolderIndex = 0;
    sDownloadInfo mDownloadInfo;
    sUploadInfo mUploadInfo;
    sDeleteInfo mDeleteInfo;
    std::vector<sFileInfo> mCachedLocal;
    std::vector<sFileInfo> mCachedRemote;
    bool mCacheLoaded = false;

private:
    enum class Phase { None, Uploading, Downloading, DeletingRemote };

    void StopRun(const std::string& message);
    void SaveCache(const std::vector<sFileInfo>& local, const std::vector<sFileInfo>& remote);
    SyncInput Input() const;
    void Report(const std::vector<SyncIgnoredItem>& items);
    void BeginPhase(Phase phase);
    void AfterUploads();
    void StartDownloads();
    void FinishCurrent(bool done);
    void FinishPhase();
    void NextItem(const std::string& name);
    std::vector<sFileInfo>* PhaseFiles();
    bool MakeStaging();
    bool LinkForUpload(sFileInfo& file, const std::string& target);
    bool LocalStillAsListed(const std::string& name, const std::string& path) const;
    void RemoveStaging();
    void Redial();

    std::vector<SyncIgnoredItem> mRemoteIgnored;
    std::vector<SyncIgnoredItem> mLocalIgnored;
    uint32_t mListingFolder = 0; // the remote folder whose listing is awaited
    SyncPlan mPlan;
    bool mPlanned = false;
    bool mStopped = false;
    bool mCacheBlocked = false; // unreadable and could not be moved aside
    std::vector<std::string> mUnsettled;
    SyncCounts mCounts;
    uint32_t mTransferFiles = 0;
    uint32_t mTransferStarted = 0; // files started so far, for the status line
    uint64_t mTransferBytes = 0;

    Phase mPhase = Phase::None;
    size_t mCurrent = SIZE_MAX; // the phase's item being worked on
    size_t mCursor = 0;         // where the search for the next item starts
    bool mCurrentFailed = false;
    std::string mStaging; // where downloads arrive before they are put in place
    std::vector<std::string> mDownloadTargets;           // local names, by download
    std::unordered_map<std::string, size_t> mLocalNames; // local files by name, in mLocalList
    std::string mUploadStaging;                          // links for uploads under another name
    std::vector<std::string> mNotPutInPlace; // complete downloads the local side kept out

    PPx::EventTarget mPoster;
    PPx::EventHandler mRedialHandler;
};
