#include "browser/window/BrowseWindow.h"

#include "app/BasicApp.h"
#include "app/BrowserFactory.h"
#include "app/ConnectSheet.h"
#include "app/ConnectWindow.h"
#include "app/FileSelect.h"
#include "app/ModalSheetAlert.h"
#include "app/Preferences.h"
#include "app/SoundTools.h"
#include "app/WindowState.h"
#include "browser/core/Listing.h"
#include "browser/sheets/OperationSheets.h"
#include "browser/sheets/TransferSheet.h"
#include "browser/viewer/ViewFolder.h"
#include "browser/window/BrowseContent.h"
#include "browser/window/BrowseText.h"
#include "platform/core/Preferences.h"
#include "platform/ui/Dialogs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using PPx::DataBrowser::ItemID;

namespace {

const uint32_t kAskFlags = 0x130; // note icon, OK and Cancel

const char* const kConnectionLost = "Connection Lost";
const char* const kServerClosed = "The remote server has closed the connection.";

SyncBookmarkCreator& Creator() {
    static SyncBookmarkCreator creator;
    return creator;
}

} // namespace

BrowseWindow::BrowseWindow() = default;

BrowseWindow::~BrowseWindow() {
    *mAlive = false;
    // Its end, posted for later, finds the window gone.
    if (mListingJob.joinable())
        mListingJob.join();
    if (mContent)
        mContent->SetParent(nullptr);
    // A window destroyed without its close (by its owner) still stops its worker.
    delete mConnection;
    mConnection = nullptr;
}

void BrowseWindow::FinishInit() {
    mToolBar.Attach(this);
    mToolBar.Show();
    const PPx::SysWindow window = GetSysWindow();
    mPathPopup = PPx::NibPopupButton::CreatePPxView(window, 'PATH', 100);
    mUpButton = PPx::NibBevelButton::CreatePPxView(window, 'CDUP', 100);
    mModePopup = PPx::NibPopupButton::CreatePPxView(window, 'MODE', 100);
    mContent = new BrowseContent(this);
    mList = PPx::NibDataBrowserView::CreatePPxView(window, 'LIST', 100, mContent);
    mStatus = PPx::NibStaticText::CreatePPxView(window, 'STAT', 100);

    LoadBrowserState();
    DisableControls();

    sPreferences prefs;
    BasicApp::CopyPreferences(prefs);
    if (prefs.misc[kMiscRememberBrowseWindow])
        LoadWindowState();

    mList->SetSortProperty('name');

    AddCommandHandler(this);
    AddStatusHandler(this);
    InstallBoundsChangedHandler(this);
    InstallCursorChangeHandler(this);
}

Connection* BrowseWindow::MakeConnection() {
    return new Connection(this);
}

void BrowseWindow::StartSession(const sBookMarkData& bookmark) {
    mBookmark = bookmark;
    SetTitle(mBookmark.host);
    mModePopup->SetVisible(!mBookmark.secure);

    mConnection = MakeConnection();
    if (!mConnection) {
        ShowStopAlert("Could not allocate connection", "Not enough memory");
        return;
    }
    mOutstanding = true; // connecting ends in ConnectComplete or SetError
    const PPx::OSStatus status = mConnection->Initialize(mBookmark);
    if (status != 0) {
        mOutstanding = false;
        ShowStopAlert("Could not initialize connection",
                      "Error code: " + std::to_string(static_cast<long>(status)));
    }
}

void BrowseWindow::ShowStopAlert(const std::string& message, const std::string& explanation) {
    PPx::Window::Busy busy(this);
    PPx::StandardAlert(this, PPx::kAlertStopAlert, message, explanation);
}

// ---------------------------------------------------------------------------
// Status, errors, closing

void BrowseWindow::SetStatus(const std::string& text) {
    if (mStatus)
        mStatus->SetText(DisplayableText(text));
}

void BrowseWindow::SetDeleteStatus(const std::string& name) {
    if (mDeleteSheet)
        mDeleteSheet->SetDeleteStatus(name);
}

void BrowseWindow::CloseDeleteSheet() {
    if (!mDeleteSheet)
        return;
    mDeleteSheet->Hide();
    mDeleteSheet->Close();
    mDeleteSheet = nullptr;
}

void BrowseWindow::SetError(const std::string& text) {
    PPx::Window::Busy busy(this);
    RequestEnded();
    if (mViewing)
        EndViewing();
    CloseTransferSheet();
    const std::string message = StripReplyCode(text);

    if (mConnecting) {
        ConnectFailed(text);
        return;
    }

    CloseDeleteSheet();
    ++mAlertDepth;
    // Downloads the failure cut short are told with it (asked once: it
    // forgets them).
    const std::string incomplete = IncompleteDownloads();
    auto lost = [this] { return mAlertDepth == 1 && !(mConnection && mConnection->IsConnected()); };
    if (lost()) {
        // One alert for one lost connection, with what the server said.
        PPx::StandardAlert(this, PPx::kAlertCautionAlert, kConnectionLost,
                           std::string(kServerClosed) + "\n\n" + DisplayableText(message) +
                               (incomplete.empty() ? "" : "\n\n" + incomplete));
        Close();
        return;
    }
    PPx::StandardAlert(this, PPx::kAlertStopAlert, DisplayableText(message), incomplete);
    if (lost()) {
        // Gone while the user read the first one.
        PPx::StandardAlert(this, PPx::kAlertCautionAlert, kConnectionLost, kServerClosed);
        Close();
        return;
    }
    --mAlertDepth;
    if (mClosing) {
        // The user asked to close; the failure was told, the window goes.
        Close();
        return;
    }
    EnableControls();
}

bool BrowseWindow::SetErrorAsk(const std::string& text) {
    PPx::Window::Busy busy(this);
    const std::string message = DisplayableText(StripReplyCode(text));
    // The file that failed is not counted as done.
    mEndPending = false;
    mTransferFailed = true;
    DeleteSheet* hidden = mDeleteSheet;
    if (hidden)
        hidden->Hide();
    TransferSheet* transfer = mTransferSheet;
    if (transfer)
        transfer->Hide();
    ModalSheetAlert alert;
    uint32_t answer = 'not!';
    const PPx::OSStatus status =
        alert.DoModal(this, message, answer, kAskFlags, "Press OK to ignore, Cancel to stop.");
    if (status == 0 && answer == 'ok  ') {
        if (hidden && hidden == mDeleteSheet)
            hidden->Show(this);
        if (transfer && transfer == mTransferSheet)
            transfer->Show(this);
        return true;
    }
    return false;
}

PPx::OSStatus BrowseWindow::DoWindowClose() {
    if (mConnection && !mClosing && !mOutstanding && mConnection->IsConnected()) {
        mClosing = true;
        SetStatus("Closing Connection...");
        DisableControls();
        Send([](Connection& c) { c.Disconnect(); });
        return PPx::noErr;
    }
    // A request may still be running (a listing, or the disconnect when the
    // user closes again rather than wait for a server that does not answer):
    // deleting the connection stops its worker and drops whatever it would
    // still report.
    CloseDeleteSheet();
    CloseTransferSheet();
    delete mConnection;
    mConnection = nullptr;
    mOutstanding = false;
    return NibWindow::DoWindowClose();
}

void BrowseWindow::DisconnectComplete() {
    RequestEnded();
    Close();
}

// ---------------------------------------------------------------------------
// Other requests' ends

void BrowseWindow::DownloadComplete() {
    PPx::Window::Busy busy(this);
    RequestEnded();
    if (mViewing) {
        ViewComplete();
        return;
    }
    FinishTransfer(false);
}

void BrowseWindow::UploadComplete() {
    PPx::Window::Busy busy(this);
    RequestEnded();
    FinishTransfer(true);
}

void BrowseWindow::GetModTimeComplete(const std::vector<sFileInfo>&) {
    RequestEnded();
}

const sFileInfo* BrowseWindow::ItemForID(uint32_t item) const {
    if (item == 0 || item > mItems.size())
        return nullptr;
    return &mItems[item - 1];
}

// ---------------------------------------------------------------------------
// Controls

void BrowseWindow::DisableControls() {
    if (mPathPopup)
        mPathPopup->Disable();
    if (mUpButton)
        mUpButton->Disable();
    if (mList)
        mList->Disable();
    mCanView = mCanOpenFolder = mCanDownload = mCanRename = mCanDelete = mCanSetPerms = mCanUpload =
        mCanCreateFolder = mCanGoToFolder = mCanRefresh = false;
    UpdateToolbar();
}

void BrowseWindow::EnableControls() {
    if (mPathPopup)
        mPathPopup->Enable();
    if (mUpButton)
        mUpButton->Enable();
    if (mList)
        mList->Enable();
    UpdateMenus();
    if (mList && !mList->HasFocus())
        mList->SetFocus();
}

std::vector<uint32_t> BrowseWindow::SelectedItems() const {
    std::vector<uint32_t> items;
    if (!mList)
        return items;
    for (ItemID item : mList->GetSelectedItems())
        if (ItemForID(item))
            items.push_back(item);
    return items;
}

std::vector<sFileInfo> BrowseWindow::SelectedFiles() const {
    std::vector<sFileInfo> files;
    for (uint32_t item : SelectedItems())
        files.push_back(*ItemForID(item));
    return files;
}

void BrowseWindow::UpdateMenus() {
    mCanView = mCanOpenFolder = mCanDownload = mCanRename = mCanDelete = mCanSetPerms = mCanUpload =
        mCanCreateFolder = mCanGoToFolder = mCanRefresh = false;
    mCanUpload = mCanCreateFolder = mCanGoToFolder = mCanRefresh = true;
    const std::vector<uint32_t> selected = SelectedItems();
    if (selected.size() == 1) {
        mCanDownload = true;
        mCanRename = mCanDelete = mCanSetPerms = true;
        if (ItemForID(selected.front())->isFolder)
            mCanOpenFolder = true;
        else
            mCanView = true;
    } else if (selected.size() > 1) {
        mCanDownload = true;
        mCanDelete = mCanSetPerms = true;
    }
    UpdateToolbar();
}

void BrowseWindow::UpdateToolbar() {
    mToolBar.EnableDownload(mCanDownload);
    mToolBar.EnableUpload(mCanUpload);
    mToolBar.EnableCreateFolder(mCanCreateFolder);
    mToolBar.EnableGotoFolder(mCanGoToFolder);
    mToolBar.EnableDelete(mCanDelete);
    mToolBar.EnablePerms(mCanSetPerms);
    mToolBar.EnableRefresh(mCanRefresh);
}

void BrowseWindow::ListSelChanged() {
    // Selections change while a request runs too (the list is refilled);
    // enabling then would let a second request start.
    if (mOutstanding || mClosing || mConnecting)
        return;
    EnableControls();
}

void BrowseWindow::ListStateChanged() {
    SaveBrowserState();
}

// ---------------------------------------------------------------------------
// Remembered state

void BrowseWindow::LoadBrowserState() {
    LoadListState(*mList, "BrowserState");
}

void BrowseWindow::SaveBrowserState() {
    SaveListState(*mList, "BrowserState");
}

void BrowseWindow::LoadWindowState() {
    ::LoadWindowState(*this, "BrowseWindowState", true);
}

void BrowseWindow::SaveWindowState() {
    ::SaveWindowState(*this, "BrowseWindowState");
}

PPx::OSStatus BrowseWindow::DoWindowBoundsChanged() {
    sPreferences prefs;
    BasicApp::CopyPreferences(prefs);
    if (prefs.misc[kMiscRememberBrowseWindow])
        SaveWindowState();
    return PPx::noErr;
}

PPx::OSStatus BrowseWindow::DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) {
    return StandardCursorRule(under, cursor);
}

// ---------------------------------------------------------------------------
// Commands

PPx::OSStatus BrowseWindow::DoCommandProcess(uint32_t command) {
    switch (command) {
    case 'mOPF':
        if (mCanOpenFolder) {
            const std::vector<uint32_t> selected = SelectedItems();
            if (!selected.empty())
                ListDoubleClick(selected.front());
        }
        return PPx::noErr;
    case 'mVIW':
        if (mCanView)
            OnView();
        return PPx::noErr;
    case 'mDNL':
        if (mCanDownload)
            OnDownload();
        return PPx::noErr;
    case 'mUPL':
        if (mCanUpload)
            OnUpload();
        return PPx::noErr;
    case 'mCSB':
        if (mCanRefresh)
            OnCreateSyncBookmark();
        return PPx::noErr;
    case 'mRNM':
        if (mCanRename)
            OnRename();
        return PPx::noErr;
    case 'mDEL':
        if (mCanDelete)
            OnDelete();
        return PPx::noErr;
    case 'mPRM':
        if (mCanSetPerms)
            OnPermissions();
        return PPx::noErr;
    case 'mCRF':
        if (mCanCreateFolder)
            OnCreateFolder();
        return PPx::noErr;
    case 'mGTF':
        if (mCanGoToFolder)
            OnGoToFolder();
        return PPx::noErr;
    case 'mCCB':
        if (mCanRefresh)
            OnCreateConnBookmark();
        return PPx::noErr;
    case 'mRFS':
        if (mCanRefresh)
            OnRefresh();
        return PPx::noErr;
    case 'CDUP':
        OnUp();
        return PPx::noErr;
    case 'PATH':
        OnPathPopupChanged();
        return PPx::noErr;
    case 'ABRT':
        AbortTransfer();
        return PPx::noErr;
    default:
        return PPx::eventNotHandledErr;
    }
}

PPx::OSStatus BrowseWindow::DoCommandUpdateStatus(uint32_t command, PPx::CommandStatus& status) {
    bool flag;
    switch (command) {
    case 'mOPF':
        flag = mCanOpenFolder;
        break;
    case 'mVIW':
        flag = mCanView;
        break;
    case 'mDNL':
        flag = mCanDownload;
        break;
    case 'mUPL':
        flag = mCanUpload;
        break;
    case 'mRNM':
        flag = mCanRename;
        break;
    case 'mDEL':
        flag = mCanDelete;
        break;
    case 'mPRM':
        flag = mCanSetPerms;
        break;
    case 'mCRF':
        flag = mCanCreateFolder;
        break;
    case 'mGTF':
        flag = mCanGoToFolder;
        break;
    case 'mCSB':
        flag = mCanRefresh;
        break;
    case 'mCCB':
        flag = mCanRefresh;
        break;
    case 'mRFS':
    case 'CDUP':
        flag = mCanRefresh;
        break;
    default:
        return PPx::eventNotHandledErr;
    }
    status.enabled = flag;
    return PPx::noErr;
}

bool BrowseWindow::CheckListedName(const std::string& name) {
    if (IsSingleComponent(name))
        return true;
    ShowStopAlert("The name \"" + DisplayableText(name) + "\" cannot be used on the server.",
                  "The server listed a name that is not a single item's name; nothing was "
                  "sent for it.");
    return false;
}

void BrowseWindow::ListDoubleClick(uint32_t item) {
    if (item == 0 || mOutstanding || mClosing)
        return;
    const std::vector<uint32_t> selected = SelectedItems();
    if (selected.size() != 1)
        return;
    const sFileInfo* info = ItemForID(item);
    if (!info)
        return;
    if (!info->isFolder) {
        OnDownload();
        return;
    }
    const std::string name = info->name;
    if (!CheckListedName(name))
        return;
    DisableControls();
    Send([&name](Connection& c) { c.ChangeDirTo(name); });
}

void BrowseWindow::OnRefresh() {
    DisableControls();
    Send([](Connection& c) { c.GetDirList(); });
}

void BrowseWindow::OnUp() {
    if (mOutstanding || mClosing || !mConnection)
        return;
    DisableControls();
    Send([](Connection& c) { c.ChangeDirTo(".."); });
}

void BrowseWindow::OnPathPopupChanged() {
    if (mOutstanding || mClosing || !mConnection)
        return;
    std::vector<std::string> items;
    for (int32_t i = 1; i <= mPathPopup->GetMaxValue(); ++i)
        items.push_back(mPathPopup->GetItemText(i));
    const std::string path = PathForPopupItem(items, mPathPopup->GetValue());
    DisableControls();
    Send([&path](Connection& c) { c.ChangeDirTo(path); });
}

void BrowseWindow::OnCreateSyncBookmark() {
    sSyncBookMarkData bookmark;
    CopyServerFields(mBookmark, bookmark);
    bookmark.remoteDir = mCurrentPath;
    // One selected folder is what the user means to synchronise.
    const std::vector<uint32_t> selected = SelectedItems();
    if (selected.size() == 1)
        if (const sFileInfo* item = ItemForID(selected.front()); item && item->isFolder)
            bookmark.remoteDir =
                (mCurrentPath.empty() || mCurrentPath.back() != '/' ? mCurrentPath + "/"
                                                                    : mCurrentPath) +
                item->name;
    bookmark.action = 3;
    if (SyncBookmarkCreator& creator = Creator())
        creator(bookmark, this);
}

void BrowseWindow::OnCreateConnBookmark() {
    sBookMarkData bookmark = mBookmark;
    bookmark.dir = mCurrentPath;
    DisableControls();
    ConnectSheet* sheet =
        PPx::MakeNibWindow<ConnectSheet>(PPx::SysNib(), "ConnectSheet", bookmark, false);
    if (sheet) {
        if (sheet->DoModal(this) == 'ok  ') {
            sheet->GetData(bookmark);
            BasicApp* app = BasicApp::mApp;
            if (ConnectWindow* bookmarks = app ? app->GetConnectWindow() : nullptr)
                bookmarks->AddBookmark(bookmark);
        }
        sheet->Close();
    }
    EnableControls();
}

// ---------------------------------------------------------------------------
// Permissions

void BrowseWindow::OnPermissions() {
    const std::vector<uint32_t> selected = SelectedItems();
    if (selected.empty())
        return;
    for (uint32_t item : selected)
        if (!CheckListedName(ItemForID(item)->name))
            return;
    PermissionsSheet* sheet = PermissionsSheet::Make(ItemForID(selected.front())->permissions);
    if (!sheet)
        return;
    sheet->SetItems(DisplayableText(ItemForID(selected.front())->name), selected.size());
    const uint32_t answer = sheet->DoModal(this);
    std::string mode;
    if (answer == 'ok  ')
        sheet->GetData(mode);
    sheet->Close();
    if (answer != 'ok  ')
        return;
    mPermMode = mode;
    DisableControls();
    mPermQueue.clear();
    // The sheet sets the nine bits; each item keeps its own set-user-id,
    // set-group-id and sticky bits, which the sheet offers no way to change.
    const unsigned long bits = std::strtoul(mode.c_str(), nullptr, 10) % 1000;
    for (uint32_t item : selected) {
        const sFileInfo& info = *ItemForID(item);
        mPermQueue.push_back(
            {info.name,
             std::to_string(PermissionsSheet::SpecialBitsOf(info.permissions) * 1000 + bits)});
    }
    if (selected.size() == 1)
        mRevealName = mPermQueue.front().first;
    SendPerms();
}

void BrowseWindow::SendPerms() {
    Send(
        [this](Connection& c) { c.SetPerms(mPermQueue.front().first, mPermQueue.front().second); });
}

void BrowseWindow::SetPermsComplete() {
    RequestEnded();
    if (!mPermQueue.empty())
        mPermQueue.pop_front();
    if (mPermQueue.empty())
        Send([](Connection& c) { c.GetDirList(); });
    else
        SendPerms();
}

// ---------------------------------------------------------------------------
// Opening

BrowseWindow* OpenBrowseWindow(const sBookMarkData& bookmark, PPx::Window* origin) {
    sPreferences prefs;
    BasicApp::CopyPreferences(prefs);
    PPx::Window* lastBrowser = PPx::Window::FrontWindow("BrowseWindow");
    if (!origin || !origin->IsVisible())
        origin = PPx::Window::FrontWindow();
    BrowseWindow* window = PPx::MakeNibWindow<BrowseWindow>(PPx::SysNib(), "BrowseWindow");
    if (!window)
        return nullptr;
    if (!prefs.misc[kMiscMetalWindows])
        window->ClearTexturedLook();
    // Only the size is remembered: the place follows the windows open now.
    if (lastBrowser)
        window->CascadeOn(*lastBrowser);
    else
        window->CenterOn(origin);
    window->Show();
    window->StartSession(bookmark);
    return window;
}

void SetSyncBookmarkCreator(SyncBookmarkCreator creator) {
    Creator() = std::move(creator);
}

void InstallBrowserOpener() {
    // What a crashed run left of its viewed files goes now.
    ViewFolder::RemoveStale();
    SetBrowserOpener([](const sBookMarkData& bookmark, PPx::Window* origin) {
        return OpenBrowseWindow(bookmark, origin) != nullptr;
    });
}
