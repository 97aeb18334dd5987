#include "SyncWindow.h"

#include "BasicApp.h"
#include "CDESCrypto.h"
#include "ModalSheetAlert.h"
#include "SyncBookmarkStore.h"
#include "SyncOpenSheet.h"
#include "SyncRunFactory.h"
#include "SyncSheet.h"
#include "WindowState.h"

#include "platform/core/Folders.h"
#include "ppxui/Dialogs.h"
#include "sync/core/SyncCache.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <strings.h>
#include <sys/stat.h>

using PPx::DataBrowser::ItemID;

const char* const kSelectLocalFolderMessage =
    "Please select a local folder on this bookmark before trying to connect";
const char* const kRemoveBookmarkQuestion =
    "Are you sure you want to remove the selected bookmark?";

namespace {

// Errors carry the stop icon.
const uint32_t kAlertErrorOK = 0x11;
const uint32_t kAlertOK = 0x10;
const uint32_t kAlertYesNo = 0x24C0;
const uint32_t kAlertYesNoExplained = 0x1C0;

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

// ---------------------------------------------------------------------------
// The list's content

SyncContent::SyncContent(SyncWindow* window) : mWindow(window) {
    LoadIcon();
}

void SyncContent::LoadIcon() {
    try {
        mIcon = PPx::Icon::File(PPx::SysNib::ResourcesFolder() + "/bookmark.png");
    } catch (...) {
        mIcon = PPx::Icon();
    }
}

void SyncContent::SupplyItemData(ItemID item, PPx::DataBrowser::PropertyID property,
                                 PPx::DataBrowser::ItemData& data) {
    const sSyncBookMarkData* bookmark = mWindow ? mWindow->BookmarkForItem(item) : nullptr;
    if (!bookmark)
        return;
    switch (property) {
    case 'name':
        data.SetText(bookmark->name);
        data.SetIcon(mIcon);
        break;
    case 'host':
        data.SetText(HostForDisplay(bookmark->host));
        break;
    case 'port':
        data.SetText(std::to_string(bookmark->port));
        break;
    case 'secr':
        data.SetCheckBox(bookmark->secure);
        break;
    case 'locd':
        data.SetText(bookmark->localDir);
        break;
    case 'remd':
        data.SetText(bookmark->remoteDir);
        break;
    default:
        break;
    }
}

void SyncContent::NotifyAboutItem(ItemID, PPx::DataBrowser::ItemMessage message) {
    if (!mWindow)
        return;
    switch (message) {
    case PPx::DataBrowser::kSelectionSetChanged:
        mWindow->ListSelChanged();
        break;
    case PPx::DataBrowser::kItemDoubleClicked:
        // As pressing Synchronize.
        if (PPx::View* button = mWindow->GetSyncButton(); button && button->IsEnabled())
            button->SimulateClick();
        break;
    case PPx::DataBrowser::kUserStateChanged:
        mWindow->SaveBrowserState();
        break;
    default:
        break;
    }
}

bool SyncContent::CompareItems(ItemID a, ItemID b, PPx::DataBrowser::PropertyID property) {
    if (!mWindow || property != 'name')
        return false;
    const sSyncBookMarkData* first = mWindow->BookmarkForItem(a);
    const sSyncBookMarkData* second = mWindow->BookmarkForItem(b);
    if (!first || !second)
        return false;
    return ::strcasecmp(first->name.c_str(), second->name.c_str()) < 0;
}

bool SyncContent::AddItemToDrag(ItemID item) {
    return mWindow && mWindow->BookmarkForItem(item);
}

std::vector<std::string> SyncContent::FilesForDrag(const std::vector<ItemID>& items) {
    if (!mWindow)
        return {};
    return mWindow->WriteDragFiles(items);
}

void SyncContent::PostProcessDragFromBrowser(bool dropped, const std::string& dropFolder) {
    if (mWindow && dropped && !dropFolder.empty())
        mWindow->ListDragComplete(dropFolder);
}

// ---------------------------------------------------------------------------
// The window

SyncWindow::SyncWindow() = default;

SyncWindow::~SyncWindow() {
    *mAlive = false;
    // The list outlives this part of the object.
    if (mList)
        if (auto* content = dynamic_cast<SyncContent*>(mList->GetContent()))
            content->Detach();
    for (const std::string& folder : mDragFolders) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
}

void SyncWindow::FinishInit() {
    PPx::SysWindow window = GetSysWindow();
    mAddButton = NibBevelButton::CreatePPxView(window, 'ADDB');
    mEditButton = NibBevelButton::CreatePPxView(window, 'EDBB');
    mRemoveButton = NibBevelButton::CreatePPxView(window, 'RMVB');
    mSyncButton = NibBevelButton::CreatePPxView(window, 'SYNC');
    mList = NibDataBrowserView::CreatePPxView(window, 'LIST', 100, new SyncContent(this));

    mEditButton->Disable();
    mRemoveButton->Disable();
    mSyncButton->Disable();

    LoadBrowserState();
    sPreferences prefs;
    BasicApp::CopyPreferences(prefs);
    if (prefs.misc[kMiscRememberSyncWindow])
        LoadWindowState();
    mList->SetSortProperty('name');
    SetDefaultButton(mSyncButton);

    InstallBoundsChangedHandler(this);
    InstallCursorChangeHandler(this);
    AddCommandHandler(this);

    LoadBookmarks();
    PopulateList();
    mList->SetFocus();
}

PPx::OSStatus SyncWindow::DoWindowClose() {
    Hide();
    return PPx::noErr;
}

const sSyncBookMarkData* SyncWindow::BookmarkForItem(uint32_t item) const {
    if (item == 0 || item > mBookmarks.size())
        return nullptr;
    return &mBookmarks[item - 1];
}

void SyncWindow::AddBookmark(const sSyncBookMarkData& bookmark) {
    mBookmarks.push_back(bookmark);
    SaveBookmarks();
    mList->AddItems({static_cast<ItemID>(mBookmarks.size())});
    mList->Sort();
}

bool SyncWindow::CheckUniqueName(const std::string& name) {
    return std::none_of(mBookmarks.begin(), mBookmarks.end(),
                        [&name](const sSyncBookMarkData& b) { return b.name == name; });
}

void SyncWindow::OpenBookmark(const std::string& path) {
    sSyncBookMarkData bookmark;
    if (!ReadExportedSyncBookmark(path, bookmark)) {
        PPx::StandardAlert(PPx::kAlertStopAlert,
                           "\"" + BaseName(path) +
                               "\" could not be opened as a synchronization bookmark.",
                           "The file is missing, unreadable or not a synchronization bookmark "
                           "file.");
        return;
    }
    ConnectBookmark(bookmark);
}

void SyncWindow::SaveBookmark(const std::string& folder) {
    for (ItemID item : mList->GetSelectedItems())
        if (const sSyncBookMarkData* selected = BookmarkForItem(item))
            if (!CreateBookmark(*selected, folder))
                break;
}

PPx::OSStatus SyncWindow::DoCommandProcess(uint32_t command) {
    switch (command) {
    case 'ADDB':
        OnAddBookmark();
        return PPx::noErr;
    case 'EDBB':
        OnEditBookmark();
        return PPx::noErr;
    case 'RMVB':
        OnRemoveBookmark();
        return PPx::noErr;
    case 'SYNC':
        OnSynchronize();
        return PPx::noErr;
    default:
        return PPx::eventNotHandledErr;
    }
}

PPx::OSStatus SyncWindow::DoWindowBoundsChanged() {
    sPreferences prefs;
    BasicApp::CopyPreferences(prefs);
    if (prefs.misc[kMiscRememberSyncWindow])
        SaveWindowState();
    return PPx::noErr;
}

PPx::OSStatus SyncWindow::DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) {
    return StandardCursorRule(under, cursor);
}

void SyncWindow::PopulateList() {
    mList->RemoveAllItems();
    std::vector<ItemID> items;
    for (size_t i = 1; i <= mBookmarks.size(); ++i)
        items.push_back(static_cast<ItemID>(i));
    mList->AddItems(items);
    mList->Sort();
    ListSelChanged();
}

void SyncWindow::LoadBookmarks() {
    try {
        mStorePath = SyncBookmarkStorePath();
    } catch (const PPx::OSError& error) {
        mStoreBlocked = true;
        NoticeStoreProblem("Your synchronization bookmarks could not be read.", error.what());
        return;
    }
    SyncStoreLoad load = LoadSyncBookmarkStore(mStorePath);
    switch (load.status) {
    case StoreLoad::Missing:
    case StoreLoad::Loaded:
        break;
    case StoreLoad::Partial:
        NoticeStoreProblem("Some of your synchronization bookmarks could not be read.",
                           "A copy of the bookmark file was kept as \"" + load.keptAs + "\".");
        break;
    case StoreLoad::Unreadable:
        NoticeStoreProblem("Your synchronization bookmarks could not be read.",
                           "The bookmark file was kept as \"" + load.keptAs +
                               "\"; new bookmarks go into a new file.");
        break;
    case StoreLoad::Blocked:
        mStoreBlocked = true;
        NoticeStoreProblem("Your synchronization bookmarks could not be read.",
                           "The bookmark file \"" + mStorePath +
                               "\" is left as it is, and changes are not saved until it can be "
                               "read.");
        break;
    }
    mBookmarks = std::move(load.bookmarks);
}

bool SyncWindow::SaveBookmarks() {
    if (mStoreBlocked) {
        ShowError("Your synchronization bookmarks could not be saved.",
                  "The bookmark file \"" + mStorePath +
                      "\" could not be read and is left as it is.");
        return false;
    }
    try {
        SaveSyncBookmarkStore(mStorePath, mBookmarks);
        return true;
    } catch (const std::exception& error) {
        ShowError("Your synchronization bookmarks could not be saved.", error.what());
        return false;
    }
}

void SyncWindow::EncryptBookmarks(std::vector<uint8_t>& data) {
    EncryptBookmarkData(data);
}

void SyncWindow::DecryptBookmarks(std::vector<uint8_t>& data) {
    DecryptBookmarkData(data);
}

void SyncWindow::ListSelChanged() {
    const bool any = !mList->GetSelectedItems().empty();
    mEditButton->SetEnabled(any);
    mRemoveButton->SetEnabled(any);
    mSyncButton->SetEnabled(any);
}

void SyncWindow::ListDragComplete(const std::string& dropFolder) {
    if (LocationIsSystemTrash(dropFolder)) {
        OnRemoveBookmark();
        return;
    }
    struct stat st {};
    if (::stat(dropFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    SaveBookmark(dropFolder);
}

bool SyncWindow::LocationIsSystemTrash(const std::string& folder) {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string trash;
    if (data && *data)
        trash = std::string(data) + "/Trash";
    else if (const char* home = std::getenv("HOME"))
        trash = std::string(home) + "/.local/share/Trash";
    else
        return false;
    std::error_code error;
    for (const std::string& candidate : {trash, trash + "/files"})
        if (std::filesystem::equivalent(folder, candidate, error) && !error)
            return true;
    return false;
}

int SyncWindow::SingleSelection() const {
    std::vector<ItemID> selected = mList->GetSelectedItems();
    if (selected.size() != 1 || !BookmarkForItem(selected[0]))
        return -1;
    return static_cast<int>(selected[0]) - 1;
}

void SyncWindow::OnAddBookmark() {
    SyncSheet* sheet = PPx::MakeNibWindow<SyncSheet>(PPx::SysNib(), "SyncSheet");
    if (!sheet)
        return;
    if (sheet->DoModal(this) == 'ok  ') {
        sSyncBookMarkData bookmark;
        sheet->GetData(bookmark);
        mBookmarks.push_back(bookmark);
        SaveBookmarks();
        mList->AddItems({static_cast<ItemID>(mBookmarks.size())});
        mList->Sort();
    }
    sheet->Close();
}

void SyncWindow::OnEditBookmark() {
    const int index = SingleSelection();
    if (index < 0)
        return;
    SyncSheet* sheet =
        PPx::MakeNibWindow<SyncSheet>(PPx::SysNib(), "SyncSheet", mBookmarks[index], true);
    if (!sheet)
        return;
    if (sheet->DoModal(this) != 'ok  ') {
        sheet->Close();
        return;
    }
    const sSyncBookMarkData before = mBookmarks[index];
    sSyncBookMarkData after;
    sheet->GetData(after);
    sheet->Close();
    mBookmarks[index] = after;
    const bool saved = SaveBookmarks();
    mList->UpdateItems({static_cast<ItemID>(index + 1)});
    mList->Sort();
    // The cache follows only what the store holds: after a failed save the
    // bookmark comes back under its old name and folders.
    if (saved)
        CheckSyncFileStatus(before, after);
}

void SyncWindow::OnRemoveBookmark() {
    const int index = SingleSelection();
    if (index < 0)
        return;
    if (!AskUser(kRemoveBookmarkQuestion))
        return;
    const sSyncBookMarkData removed = mBookmarks[index];
    mBookmarks.erase(mBookmarks.begin() + index);
    const bool saved = SaveBookmarks();
    PopulateList();
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
        Close();
}

bool SyncWindow::CreateBookmark(const sSyncBookMarkData& bookmark, const std::string& folder) {
    try {
        ExportSyncBookmark(bookmark, folder);
        return true;
    } catch (const std::exception& error) {
        ShowError("The bookmark \"" + bookmark.name + "\" could not be exported.", error.what());
        return false;
    }
}

bool SyncWindow::AskUser(const std::string& message, const std::string& explanation) {
    ModalSheetAlert alert;
    uint32_t answer = 'not!';
    alert.DoModal(this, message, answer, explanation.empty() ? kAlertYesNo : kAlertYesNoExplained,
                  explanation);
    return answer == 'Yes ';
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

void SyncWindow::LoadBrowserState() {
    LoadListState(*mList, "SyncState");
}

void SyncWindow::SaveBrowserState() {
    SaveListState(*mList, "SyncState");
}

void SyncWindow::LoadWindowState() {
    ::LoadWindowState(*this, "SyncWindowState");
}

void SyncWindow::SaveWindowState() {
    ::SaveWindowState(*this, "SyncWindowState");
}

std::vector<std::string> SyncWindow::WriteDragFiles(const std::vector<uint32_t>& items) {
    std::vector<std::string> files;
    try {
        std::string folder =
            PPx::TemporaryItemsFolder() + "/sync-drag-" + std::to_string(mDragFolders.size() + 1);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directory(folder);
        mDragFolders.push_back(folder);
        for (uint32_t item : items)
            if (const sSyncBookMarkData* bookmark = BookmarkForItem(item))
                files.push_back(ExportSyncBookmark(*bookmark, folder));
    } catch (const std::exception& error) {
        ShowError("The bookmark could not be exported.", error.what());
        files.clear();
    }
    return files;
}

void SyncWindow::ShowError(const std::string& message, const std::string& explanation) {
    ModalSheetAlert alert;
    uint32_t answer = 0;
    if (IsVisible())
        alert.DoModal(this, message, answer, kAlertErrorOK, explanation);
    else
        PPx::StandardAlert(PPx::kAlertStopAlert, message, explanation);
}

void SyncWindow::NoticeStoreProblem(const std::string& message, const std::string& explanation) {
    // Told once, when the event loop runs.
    std::weak_ptr<bool> alive = mAlive;
    PPx::PostToMainThread([this, alive, message, explanation] {
        if (alive.expired())
            return;
        Select();
        ShowError(message, explanation);
    });
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
