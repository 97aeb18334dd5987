#pragma once
// The window in which one connection to one server is worked: the current
// remote folder as a list, its path as a pop-up, an up button, the transfer
// mode, a status line and a toolbar. It owns its Connection and is its front
// end: one request at a time, each continued in the callback of the last.
#include "app/NibWindow.h"
#include "browser/sheets/BrowseToolBar.h"
#include "engine/Connection.h"
#include "engine/ConnectionFrontend.h"
#include "engine/ConnectionRecords.h"
#include "platform/core/Events.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class BrowseContent;
class DeleteSheet;
class FileSelect;
class SoundTools;
class TransferSheet;
class ViewFolder;

class BrowseWindow : public NibWindow,
                     public PPx::CommandProcessDoer,
                     public PPx::CommandUpdateStatusDoer,
                     public ConnectionFrontend,
                     public PPx::WindowBoundsChangedDoer,
                     public PPx::WindowCursorChangeDoer {
public:
    BrowseWindow();
    ~BrowseWindow() override;

    void FinishInit() override;
    const char* ClassName() const override { return "BrowseWindow"; }
    bool IsListedInWindowMenu() const override { return true; }
    PPx::OSStatus DoWindowClose() override;

    virtual void StartSession(const sBookMarkData& bookmark);

    // ConnectionFrontend
    void SetDeleteStatus(const std::string& name) override;
    void SetStatus(const std::string& text) override;
    void SetError(const std::string& text) override;
    bool SetErrorAsk(const std::string& text) override;
    void StartTransfer(const sFileProgress& progress) override;
    void EndTransfer(const sFileProgress& progress) override;
    void UpdateTransfer(const sFileProgress& progress) override;
    virtual void AbortTransfer();
    void ConnectComplete() override;
    void DisconnectComplete() override;
    void GetServerInfoComplete(bool resumeSupported, int serverType) override;
    void GetDirListComplete(const std::string& path, const std::string& listing) override;
    void ChangeDirToComplete() override;
    void ResolveLinksComplete(const std::vector<std::string>& folderLinks) override;
    void RenameComplete() override;
    void CreateFolderComplete() override;
    void SetPermsComplete() override;
    void CreateFileListComplete(const std::string& path, const std::string& listing,
                                int mode) override;
    void DownloadComplete() override;
    void DeleteComplete() override;
    void UploadComplete() override;
    void GetModTimeComplete(const std::vector<sFileInfo>& files) override;

    PPx::OSStatus DoCommandProcess(uint32_t command) override;
    PPx::OSStatus DoCommandUpdateStatus(uint32_t command, PPx::CommandStatus& status) override;
    PPx::OSStatus DoWindowBoundsChanged() override;
    PPx::OSStatus DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) override;

    // From the list.
    virtual void ListSelChanged();
    virtual void ListDoubleClick(uint32_t item);
    virtual void ListStateChanged();
    // In-place rename of item ITEM to NEWNAME (already checked by the list).
    virtual void RenameItem(uint32_t item, const std::string& newName);
    // Transfers: the selection into the local folder DESTINATION; local
    // files and folders (POSIX paths) into the current remote folder.
    virtual void DoDownload(const std::string& destination);
    virtual void DoUpload(const std::vector<std::string>& paths);
    // Drags (BrowseDrags.cpp). Out of the list: ITEM joins the drag (FIRST:
    // a new drag starts with it), copied as it is listed now; false when it
    // cannot be dragged. The drop acts on those copies, whatever is selected
    // or listed by then: a download into the local folder DROPFOLDER, or a
    // delete when that is the Trash. Into the list: local items, uploaded.
    virtual bool AddDragItem(uint32_t item, bool first);
    virtual void ListDragComplete(const std::string& dropFolder);
    virtual bool LocationIsSystemTrash(const std::string& folder);
    // The drop target named a place where nothing may go: told, nothing done.
    virtual void ListDropRefused(const std::string& message, const std::string& explanation);
    virtual void ListDragReceived(const std::vector<std::string>& paths);
    TransferSheet* GetTransferSheet() const { return mTransferSheet; }

    virtual void EnableControls();
    virtual void DisableControls();

    // What the list and the tests read.
    const std::vector<sFileInfo>& Items() const { return mItems; }
    const sFileInfo* ItemForID(uint32_t item) const;
    const std::string& CurrentPath() const { return mCurrentPath; }
    Connection* GetConnection() const { return mConnection; }
    PPx::NibDataBrowserView* GetList() const { return mList; }
    BrowseToolBar& GetToolBar() { return mToolBar; }
    bool IsConnecting() const { return mConnecting; }
    // A request of this window is running on the connection.
    bool RequestOutstanding() const { return mOutstanding; }
    int ServerType() const { return mServerType; }

    // The enable flags, in the order the window keeps them.
    bool mCanView = false, mCanOpenFolder = false, mCanDownload = false, mCanRename = false,
         mCanDelete = false, mCanSetPerms = false, mCanUpload = false, mCanCreateFolder = false,
         mCanGoToFolder = false, mCanRefresh = false;
    std::string mRevealName;

protected:
    // Makes the window's connection; tests may hand out their own kind.
    virtual Connection* MakeConnection();

private:
    void BuildPathPopup(const std::string& path);
    struct ParsedListing;
    void ParseListing(const std::string& listing);
    void ListingParsed();
    static std::vector<uint32_t> SortedOrder(const std::vector<sFileInfo>& items, uint32_t property,
                                             bool ascending);
    void PopulateList();
    bool ResolveLinks();
    void UpdateMenus();
    void UpdateToolbar();
    void LoadBrowserState();
    void SaveBrowserState();
    void LoadWindowState();
    void SaveWindowState();

    void OnPathPopupChanged();
    void OnUp();
    void OnRefresh();
    void OnRename();
    void OnDelete();
    void DeleteItems(const std::vector<sFileInfo>& items); // (BrowseDelete.cpp)
    void OnPermissions();
    void OnCreateFolder();
    void OnGoToFolder();
    void OnCreateConnBookmark();
    void OnCreateSyncBookmark();
    void BuildFileListForDelete();
    void SendPerms();

    // Viewing and transfers (BrowseTransfers.cpp).
    void OnView();
    void ViewComplete();
    // Ends a view that will not complete: its private folder goes.
    void EndViewing();
    void OnDownload();
    void OnUpload();
    // Downloads ITEMS (of the current folder) into the local folder DESTINATION.
    void DownloadItems(const std::string& destination, const std::vector<sFileInfo>& items);
    void BuildFileListForDownload();
    void CheckDownloadList();
    void UploadAppendItem(const std::string& base, const std::string& name);
    void UploadAppendFolder(const std::string& base, const std::string& remote);
    void CheckUploadList();
    void TransferListComplete(const std::string& path, const std::string& listing, int mode);
    // The decision for a file that exists on the other side; a CollisionSheet
    // answer, or skip.
    int DecideCollision(const std::string& name, bool canResume, bool& skipAll, bool& resumeAll,
                        bool& replaceAll);
    // Tells what mLeftOut and mLeftOutLinks hold, and empties them.
    void TellLeftOut();
    void OpenTransferSheet(const std::vector<sFileInfo>& files);
    void FinishTransfer(bool upload);
    // After a cut download: which of its files hold only a part (their text,
    // empty when none); forgets the download's files.
    std::string IncompleteDownloads();
    void CloseTransferSheet();
    bool TransferModeIsASCII() const;

    // Asks for one line of text until it passes the checks; false when cancelled.
    bool AskName(const std::string& prompt, const std::string& initial, std::string& name,
                 const std::string* differentFrom);
    // False (after telling the user) when a name cannot be used in a command.
    bool CheckListedName(const std::string& name);
    // The current listing holds an item of exactly this name.
    bool IsListedName(const std::string& name) const;
    void ShowStopAlert(const std::string& message, const std::string& explanation);
    std::vector<uint32_t> SelectedItems() const;
    std::vector<sFileInfo> SelectedFiles() const; // copies of the selected items

    // Every request goes through here: marks it outstanding until its end.
    template <class F> void Send(F request) {
        if (!mConnection)
            return;
        mOutstanding = true;
        request(*mConnection);
    }
    void RequestEnded() { mOutstanding = false; }
    // Deletes the connection once the callback running now has returned.
    void RetireConnection();
    // Connecting failed: the redial sheet, then a redial or the close.
    void ConnectFailed(const std::string& text);
    void Redial();
    void CloseDeleteSheet();

    PPx::NibPopupButton* mPathPopup = nullptr;
    PPx::NibBevelButton* mUpButton = nullptr;
    PPx::NibPopupButton* mModePopup = nullptr;
    PPx::NibDataBrowserView* mList = nullptr;
    PPx::NibStaticText* mStatus = nullptr;

    sBookMarkData mBookmark;
    std::vector<sFileInfo> mItems;
    std::vector<sFileInfo> mListedItems;    // a new listing until it is shown
    std::vector<uint32_t> mListedOrder;     // its list ids in the list's order
    std::thread mListingJob;                // parses and orders a listing
    uint32_t mListingGeneration = 0;        // of the listing parsed last
    std::shared_ptr<ParsedListing> mParsed; // what the job fills
    PPx::EventTarget mListingTarget;        // told by the job that it ended
    PPx::EventHandler mListingHandler;
    std::vector<int32_t> mLinkIndexes;
    Connection* mConnection = nullptr;
    int32_t mServerType = kServerUnix;
    bool mResumeSupported = false;
    BrowseToolBar mToolBar;
    DeleteSheet* mDeleteSheet = nullptr;
    BrowseContent* mContent = nullptr;
    std::string mCurrentPath;
    bool mConnecting = true;
    bool mRedialing = false;
    // The redial sheet is up, or its redial has yet to start: the failed
    // attempt may go on reporting (its keep-alive refused by a server that
    // did not let it in), and is not asked about again.
    bool mRedialAsked = false;
    int32_t mAlertDepth = 0;

    sDeleteInfo mDeleteInfo;
    std::deque<std::pair<std::string, std::string>> mPermQueue; // item name, mode
    std::string mPermMode;

    sDownloadInfo mDownloadInfo;
    sUploadInfo mUploadInfo;
    std::vector<sFileInfo> mUploadCheckList;
    std::string mUploadCheckPath;
    bool mUploadSkipAll = false, mUploadResumeAll = false, mUploadReplaceAll = false;
    std::vector<std::string> mLeftOut;      // unsafe names met while building a list
    std::vector<std::string> mLeftOutLinks; // local links an upload passed over
    TransferSheet* mTransferSheet = nullptr;
    // The files of the running download that may be left holding a part:
    // nothing stood in their place, or they are being resumed.
    struct DownloadTarget {
        std::string name, path;
        uint64_t size = 0; // the whole file's
    };
    std::vector<DownloadTarget> mDownloadTargets;
    std::unique_ptr<FileSelect> mChooser;
    bool mTransferAborted = false; // the user cancelled the running transfer
    bool mTransferFailed = false;  // a file of it failed (and was passed over)
    bool mEndPending = false;      // a file's end, counted once the next one starts
    sFileProgress mPendingEnd;
    bool mViewing = false;                   // the running download is a View
    std::vector<sFileInfo> mDragItems;       // the drag's items, as listed when it started
    std::string mDragPath;                   // the folder they were listed in
    std::unique_ptr<ViewFolder> mViewFolder; // where the viewed file arrives

    bool mOutstanding = false;
    bool mClosing = false;              // "Closing Connection..." is under way
    std::unique_ptr<SoundTools> mSound; // made when a redial sound first plays
    // Lets callbacks posted for later find out whether the window still exists.
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
};

// Opens browser windows for the bookmark and quick-connect windows.
void InstallBrowserOpener();
// What "Create Synchronize Bookmark..." hands its draft (the server and the
// folder browsed) to, with the browser window as the parent of any sheet. The
// synchronisation sits above the browser, so the program installs it at
// start-up; until then the command does nothing.
using SyncBookmarkCreator =
    std::function<void(const sSyncBookMarkData& draft, PPx::Window* parent)>;
void SetSyncBookmarkCreator(SyncBookmarkCreator creator);
// Makes, places and shows a browser window and starts its session; null
// when the interface file has no "BrowseWindow". It opens cascaded from the
// browser window in front, or else centred over ORIGIN (the window the
// connection was asked for in), or over the window in front.
BrowseWindow* OpenBrowseWindow(const sBookMarkData& bookmark, PPx::Window* origin);
