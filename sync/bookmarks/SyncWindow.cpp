#include "sync/bookmarks/SyncWindow.h"

#include "app/BasicApp.h"
#include "app/ModalSheetAlert.h"
#include "sync/bookmarks/SyncOpenSheet.h"
#include "sync/bookmarks/SyncRunFactory.h"
#include "sync/bookmarks/SyncSheet.h"
#include "sync/core/SyncCache.h"

using PPx::DataBrowser::ItemID;

const char* const kSelectLocalFolderMessage =
    "Please select a local folder on this bookmark before trying to connect";

namespace {

const uint32_t kAlertOK = 0x10;

} // namespace

// ---------------------------------------------------------------------------
// The list's content

SyncContent::SyncContent(SyncWindow* window) : BookmarkListContent(window) {}

void SyncContent::SupplyItemData(ItemID item, PPx::DataBrowser::PropertyID property,
                                 PPx::DataBrowser::ItemData& data) {
    const sSyncBookMarkData* bookmark = mWindow ? mWindow->BookmarkForItem(item) : nullptr;
    if (!bookmark)
        return;
    switch (property) {
    case 'locd':
        data.SetText(bookmark->localDir);
        break;
    case 'remd':
        data.SetText(bookmark->remoteDir);
        break;
    default:
        BookmarkListContent::SupplyItemData(item, property, data);
        break;
    }
}

// ---------------------------------------------------------------------------
// The window

SyncWindow::SyncWindow()
    : BookmarkListWindow({"synchronization bookmark", 'SYNC', kMiscRememberSyncWindow, "SyncState",
                          "SyncWindowState", "sync-drag-", kSyncBookMarkExtension, false}) {}

PPx::OSStatus SyncWindow::DoCommandProcess(uint32_t command) {
    if (command != 'SYNC')
        return BookmarkListWindow::DoCommandProcess(command);
    OnSynchronize();
    return PPx::noErr;
}

std::string SyncWindow::StorePath() {
    return SyncBookmarkStorePath();
}

SyncStoreLoad SyncWindow::LoadStore(const std::string& path) {
    return LoadSyncBookmarkStore(path);
}

void SyncWindow::SaveStore(const std::string& path,
                           const std::vector<sSyncBookMarkData>& bookmarks) {
    SaveSyncBookmarkStore(path, bookmarks);
}

std::string SyncWindow::ExportRecord(const sSyncBookMarkData& bookmark, const std::string& folder) {
    return ExportSyncBookmark(bookmark, folder);
}

bool SyncWindow::ReadExportedRecord(const std::string& path, sSyncBookMarkData& out) {
    return ReadExportedSyncBookmark(path, out);
}

PPx::DataBrowser::Content* SyncWindow::MakeContent() {
    return new SyncContent(this);
}

BookmarkSheet<sSyncBookMarkData>* SyncWindow::MakeSheet(const sSyncBookMarkData* bookmark) {
    if (!bookmark)
        return PPx::MakeNibWindow<SyncSheet>(PPx::SysNib(), "SyncSheet");
    return PPx::MakeNibWindow<SyncSheet>(PPx::SysNib(), "SyncSheet", *bookmark, true);
}

void SyncWindow::ListSelChanged() {
    // Any selection enables the buttons; each command then acts only on one.
    EnableButtons(!GetList()->GetSelectedItems().empty());
}

void SyncWindow::BookmarkEdited(const sSyncBookMarkData& before, const sSyncBookMarkData& after,
                                bool saved) {
    if (saved)
        CheckSyncFileStatus(before, after);
}

void SyncWindow::BookmarkRemoved(const sSyncBookMarkData& removed, bool saved) {
    if (saved)
        RemoveSyncFile(removed);
}

void SyncWindow::OnSynchronize() {
    const int index = SingleSelection();
    if (index < 0)
        return;
    sSyncBookMarkData copy = mBookmarks[index];
    std::string error;
    if (!ApplySyncHostURL(copy, error)) {
        ShowError(error, "\"" + HostForDisplay(copy.host) + "\"");
        return;
    }
    if (copy.localDir.empty()) {
        ModalSheetAlert alert;
        uint32_t answer = 0;
        alert.DoModal(this, kSelectLocalFolderMessage, answer, kAlertOK);
        return;
    }
    StartRun(copy, true);
}

void SyncWindow::ConnectBookmark(const sSyncBookMarkData& bookmark) {
    sSyncBookMarkData copy = bookmark;
    std::string error;
    if (!ApplySyncHostURL(copy, error)) {
        ShowError(error, "\"" + HostForDisplay(bookmark.host) + "\"");
        return;
    }
    // A run without a local folder would walk wherever the program was
    // started from.
    if (copy.localDir.empty()) {
        ShowError(kSelectLocalFolderMessage, "");
        return;
    }
    // The file may come from anyone: nothing runs, let alone deletes,
    // before the user has seen what it will do.
    if (!ConfirmOpened(copy))
        return;
    StartRun(copy, false);
}

bool SyncWindow::ConfirmOpened(const sSyncBookMarkData& bookmark) {
    SyncOpenSheet* sheet =
        PPx::MakeNibWindow<SyncOpenSheet>(PPx::SysNib(), "SyncOpenSheet", bookmark);
    if (!sheet)
        return false;
    // The question needs a window to sit on.
    if (!IsVisible())
        Select();
    const bool confirmed = sheet->DoModal(this) == 'ok  ';
    sheet->Close();
    return confirmed;
}

void SyncWindow::StartRun(const sSyncBookMarkData& bookmark, bool fromList) {
    if (bookmark.port < 1 || bookmark.port > 65535) {
        ShowError(kBadPortMessage, "");
        return;
    }
    sPreferences prefs;
    BasicApp::CopyPreferences(prefs);
    if (!OpenSyncRun(bookmark))
        return;
    if (prefs.misc[kMiscHideSyncWindowOnSync] && (fromList || IsVisible()))
        CloseForConnect();
}

void SyncWindow::CheckSyncFileStatus(const sSyncBookMarkData& before,
                                     const sSyncBookMarkData& after) {
    ::CheckSyncFileStatus(before, after,
                          [this](const std::string& message, const std::string& explanation) {
                              return AskUser(message, explanation);
                          });
}

void SyncWindow::RemoveSyncFile(const sSyncBookMarkData& bookmark) {
    ::RemoveSyncFile(bookmark);
}

void InstallSyncWindow() {
    SyncWindowHooks hooks;
    hooks.make = [](PPx::SysNib& nib, PPx::Window*& window) -> SyncWindow* {
        SyncWindow* made = PPx::MakeNibWindow<SyncWindow>(nib, "SynchronizeWindow");
        window = made;
        return made;
    };
    hooks.open = [](SyncWindow* window, const std::string& path) { window->OpenBookmark(path); };
    SetSyncWindowHooks(std::move(hooks));
}

void CreateSyncBookmark(const sSyncBookMarkData& draft, PPx::Window* parent) {
    sSyncBookMarkData bookmark = draft;
    SyncSheet* sheet = PPx::MakeNibWindow<SyncSheet>(PPx::SysNib(), "SyncSheet", bookmark, false);
    if (!sheet)
        return;
    if (sheet->DoModal(parent) == 'ok  ') {
        sheet->GetData(bookmark);
        BasicApp* app = BasicApp::mApp;
        if (SyncWindow* bookmarks = app ? app->GetSyncWindow() : nullptr)
            bookmarks->AddBookmark(bookmark);
    }
    sheet->Close();
}
