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
#include "browser/sheets/RedialSheet.h"
#include "browser/sheets/TransferSheet.h"
#include "browser/viewer/ViewFolder.h"
#include "browser/window/BrowseContent.h"
#include "browser/window/BrowseText.h"
#include "platform/core/Preferences.h"
#include "platform/ui/Dialogs.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <numeric>
#include <system_error>

using PPx::DataBrowser::ItemID;
using PPx::DataBrowser::PropertyID;

namespace {

const uint32_t kAskFlags = 0x130; // note icon, OK and Cancel

const char* const kEmptyName = "The name cannot be empty.";
const char* const kInvalidName = "Please specify a valid name.";
const char* const kLineBreakInName = "The text cannot contain line breaks or NUL characters.";
const char* const kConnectionLost = "Connection Lost";
const char* const kServerClosed = "The remote server has closed the connection.";

// A listing job's end, and which listing it was.
constexpr PPx::FourCharCode kListingParsed = 'LSTp';
constexpr PPx::FourCharCode kParamGeneration = 'GENR';

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
        const ConnectFailure failure = DescribeConnectFailure(text, mBookmark.username);
        RedialSheet* sheet =
            RedialSheet::Make(DisplayableText(failure.message, 1024), failure.redialByItself);
        uint32_t answer = 'not!';
        if (sheet) {
            answer = sheet->DoModal(this);
            sheet->Close();
        }
        if (answer == 'ok  ') {
            mRedialing = true;
            Redial();
        } else {
            Close();
        }
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

// Deleting a connection inside one of its own callbacks would pull its backend
// from under the running call: the new attempt starts from the event loop.
void BrowseWindow::Redial() {
    std::weak_ptr<bool> alive = mAlive;
    PPx::PostToMainThread([this, alive] {
        if (alive.expired() || IsClosePending())
            return;
        delete mConnection;
        mConnection = nullptr;
        mOutstanding = false;
        StartSession(mBookmark);
    });
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
// The listing road

void BrowseWindow::ConnectComplete() {
    RequestEnded();
    mConnecting = false;
    if (mRedialing) {
        sPreferences prefs;
        BasicApp::CopyPreferences(prefs);
        if (prefs.playRedialSound && !prefs.redialSound.empty()) {
            if (!mSound)
                mSound = std::make_unique<SoundTools>();
            mSound->PlaySound(prefs.redialSound, -1);
        }
        mRedialing = false;
    }
    Send([](Connection& c) { c.GetServerInfo(); });
}

void BrowseWindow::GetServerInfoComplete(bool resumeSupported, int serverType) {
    RequestEnded();
    mResumeSupported = resumeSupported;
    mServerType = serverType;
    Send([](Connection& c) { c.GetDirList(); });
}

void BrowseWindow::GetDirListComplete(const std::string& path, const std::string& listing) {
    RequestEnded();
    mCurrentPath = path;
    BuildPathPopup(path);
    DisableControls();
    ParseListing(listing);
}

// A folder of many thousand items takes tens of milliseconds to parse and
// order: that is done on a thread of its own, so that the window goes on
// drawing and answering meanwhile. Its controls stay disabled until the
// list is filled, and the list keeps showing the old items until then.
struct BrowseWindow::ParsedListing {
    std::vector<sFileInfo> items;
    std::vector<ItemID> order;
    int32_t serverType = kServerUnix;
    std::exception_ptr error;
};

void BrowseWindow::ParseListing(const std::string& listing) {
    if (mListingJob.joinable())
        mListingJob.join();
    if (!mListingHandler.IsInstalled())
        mListingHandler =
            mListingTarget.InstallCommandHandler(kListingParsed, [this](PPx::Event& event) {
                int64_t generation = 0;
                // One that a later listing overtook is dropped.
                if (event.GetInteger(kParamGeneration, generation) &&
                    generation == mListingGeneration)
                    ListingParsed();
                return PPx::noErr;
            });
    auto parsed = std::make_shared<ParsedListing>();
    parsed->serverType = mServerType;
    mParsed = parsed;
    const uint32_t generation = ++mListingGeneration;
    const PropertyID property = mList ? mList->GetSortProperty() : 0;
    const bool ascending = !mList || mList->GetSortOrderAscending();
    auto text = std::make_shared<const std::string>(listing);
    // The window's events go by a weak reference: once the window is gone,
    // the job's end is dropped.
    const PPx::EventTargetRef target = mListingTarget.Ref();
    auto job = [parsed, text, property, ascending, generation, target] {
        try {
            BuildFileList(*text, parsed->items, parsed->serverType);
            parsed->order = SortedOrder(parsed->items, property, ascending);
        } catch (...) {
            parsed->error = std::current_exception();
        }
        PPx::Event done = PPx::MakeCommandEvent(kListingParsed);
        done.SetInteger(kParamGeneration, generation);
        PPx::PostEvent(target, std::move(done));
    };
    try {
        mListingJob = std::thread(job);
    } catch (const std::system_error&) {
        job(); // no thread to be had: here, then
    }
}

void BrowseWindow::ListingParsed() {
    // A window on its way out shows nothing more.
    if (mClosing || IsClosePending())
        return;
    // The job has nothing left to do but end; joining it also orders its
    // writes before the reads here.
    if (mListingJob.joinable())
        mListingJob.join();
    const std::shared_ptr<ParsedListing> parsed = std::move(mParsed);
    if (!parsed)
        return;
    // Out of memory, say: the old list stays, and the user may try again.
    if (parsed->error) {
        std::fprintf(stderr, "zarvel: the listing could not be shown\n");
        EnableControls();
        return;
    }
    mServerType = parsed->serverType;
    mListedItems = std::move(parsed->items);
    mListedOrder = std::move(parsed->order);
    if (ResolveLinks())
        return;
    PopulateList();
    EnableControls();
}

// The list's ids (index + 1) in the order the list sorts them by PROPERTY.
std::vector<ItemID> BrowseWindow::SortedOrder(const std::vector<sFileInfo>& items,
                                              PropertyID property, bool ascending) {
    std::vector<ItemID> order(items.size());
    std::iota(order.begin(), order.end(), ItemID(1));
    std::stable_sort(order.begin(), order.end(), [&](ItemID a, ItemID b) {
        return ascending ? BrowseContent::ItemLess(items[a - 1], items[b - 1], property)
                         : BrowseContent::ItemLess(items[b - 1], items[a - 1], property);
    });
    return order;
}

bool BrowseWindow::ResolveLinks() {
    if (mServerType == kServerWindowsNT)
        return false;
    mLinkIndexes.clear();
    std::vector<std::string> names;
    for (size_t i = 0; i < mListedItems.size(); ++i)
        // A name that is no single item would have the server look elsewhere;
        // such a link simply stays a file.
        if (mListedItems[i].isLink && IsSingleComponent(mListedItems[i].name)) {
            mLinkIndexes.push_back(static_cast<int32_t>(i));
            names.push_back(mListedItems[i].name);
        }
    if (names.empty())
        return false;
    Send([&names](Connection& c) { c.ResolveLinks(names); });
    return true;
}

void BrowseWindow::ResolveLinksComplete(const std::vector<std::string>& folderLinks) {
    RequestEnded();
    for (int32_t index : mLinkIndexes) {
        if (index < 0 || static_cast<size_t>(index) >= mListedItems.size())
            continue;
        sFileInfo& item = mListedItems[static_cast<size_t>(index)];
        if (std::find(folderLinks.begin(), folderLinks.end(), item.name) != folderLinks.end())
            item.isFolder = true;
    }
    PopulateList();
    EnableControls();
}

void BrowseWindow::ChangeDirToComplete() {
    RequestEnded();
    Send([](Connection& c) { c.GetDirList(); });
}

void BrowseWindow::RenameComplete() {
    RequestEnded();
    Send([](Connection& c) { c.GetDirList(); });
}

void BrowseWindow::CreateFolderComplete() {
    RequestEnded();
    Send([](Connection& c) { c.GetDirList(); });
}

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

void BrowseWindow::BuildPathPopup(const std::string& path) {
    if (!mPathPopup)
        return;
    mPathPopup->RemoveAllItems();
    for (const std::string& item : PathPopupItems(path))
        mPathPopup->AppendItem(item);
    mPathPopup->SetValue(mPathPopup->GetMaxValue());
}

const sFileInfo* BrowseWindow::ItemForID(uint32_t item) const {
    if (item == 0 || item > mItems.size())
        return nullptr;
    return &mItems[item - 1];
}

void BrowseWindow::PopulateList() {
    mList->RemoveAllItems();
    mItems.swap(mListedItems);
    mListedItems.clear();
    // Added in the order they sort in, the sort below leaves them as they are.
    std::vector<ItemID> ids;
    ids.swap(mListedOrder);
    if (ids.size() != mItems.size()) {
        ids.resize(mItems.size());
        std::iota(ids.begin(), ids.end(), ItemID(1));
    }
    mList->AddItems(ids);
    mList->Sort();
    mList->AutoSizeColumns();
    const std::vector<ItemID> order = mList->GetItemsInOrder();
    if (!order.empty())
        mList->RevealItem(order.front());
    if (!mRevealName.empty()) {
        for (size_t i = 0; i < mItems.size(); ++i)
            if (mItems[i].name == mRevealName) {
                mList->RevealItem(static_cast<ItemID>(i + 1));
                break;
            }
    }
    mRevealName.clear();
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

bool BrowseWindow::IsListedName(const std::string& name) const {
    return std::any_of(mItems.begin(), mItems.end(),
                       [&](const sFileInfo& item) { return item.name == name; });
}

std::string BrowseWindow::NameTakenText(const std::string& name) {
    return "An item named \"" + DisplayableText(name) +
           "\" already exists in this folder. Choose another name, or rename or delete that "
           "item first.";
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

bool BrowseWindow::AskName(const std::string& prompt, const std::string& initial, std::string& name,
                           const std::string* differentFrom) {
    ActionSheet* sheet = ActionSheet::Make(prompt, initial);
    if (!sheet)
        return false;
    // A name that cannot be used is told over the sheet, which stays open
    // for another try.
    sheet->SetCheck([this, differentFrom](const std::string& text) -> std::optional<std::string> {
        if (text.empty())
            return std::string(kEmptyName);
        if (text == "." || text == "..")
            return std::string(kInvalidName);
        if (differentFrom && text == *differentFrom)
            return std::string(); // the old name: simply asked again
        if (differentFrom && IsListedName(text))
            return NameTakenText(text); // a rename onto another item
        return std::nullopt;
    });
    const bool accepted = sheet->DoModal(this) == 'ok  ';
    if (accepted)
        sheet->GetData(name);
    sheet->Close();
    return accepted;
}

void BrowseWindow::OnCreateFolder() {
    std::string name;
    if (!AskName("Enter the name of the new folder:", "", name, nullptr))
        return;
    DisableControls();
    mRevealName = name;
    Send([&name](Connection& c) { c.CreateFolder(name); });
}

void BrowseWindow::OnRename() {
    const std::vector<uint32_t> selected = SelectedItems();
    if (selected.empty())
        return;
    const std::string old = ItemForID(selected.front())->name;
    if (!CheckListedName(old))
        return;
    std::string name;
    if (!AskName("Enter the new name for this item:", old, name, &old))
        return;
    DisableControls();
    Send([&](Connection& c) { c.Rename(old, name); });
    mRevealName = name;
}

void BrowseWindow::RenameItem(uint32_t item, const std::string& newName) {
    const sFileInfo* info = ItemForID(item);
    if (!info || mOutstanding || mClosing || !mConnection)
        return;
    const std::string old = info->name;
    if (!CheckListedName(old))
        return;
    if (HasLineBreakOrNul(newName)) {
        SetError(kLineBreakInName);
        return;
    }
    // Some servers rename over an existing item without a word.
    if (IsListedName(newName)) {
        SetError(NameTakenText(newName));
        return;
    }
    DisableControls();
    Send([&](Connection& c) { c.Rename(old, newName); });
    mRevealName = newName;
}

void BrowseWindow::OnGoToFolder() {
    ActionSheet* sheet = ActionSheet::Make("Enter the path you want to go to:", "");
    if (!sheet)
        return;
    DisableControls();
    std::string path;
    bool accepted = false;
    while (sheet->DoModal(this) == 'ok  ') {
        sheet->GetData(path);
        if (!HasLineBreakOrNul(path)) {
            accepted = true;
            break;
        }
        ShowStopAlert(kLineBreakInName, "");
    }
    sheet->Close();
    if (!accepted) {
        EnableControls();
        return;
    }
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
