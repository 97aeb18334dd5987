#include "ConnectWindow.h"

#include "BasicApp.h"
#include "BookmarkStore.h"
#include "BrowserFactory.h"
#include "CDESCrypto.h"
#include "ConnectSheet.h"
#include "ModalSheetAlert.h"
#include "WindowState.h"

#include "platform/core/Folders.h"
#include "platform/core/Preferences.h"
#include "ppxui/Dialogs.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

using PPx::DataBrowser::ItemID;

namespace {

// Errors carry the stop icon.
const uint32_t kAlertErrorOK = 0x11;
const uint32_t kAlertYesNo = 0x24C0;

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool IsConnectionBookmarkFile(const std::string& path) {
    return EndsWith(path, kBookMarkExtension) && !EndsWith(path, ".sync.zarvel");
}

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

// ---------------------------------------------------------------------------
// The list's content

BookmarkContent::BookmarkContent(ConnectWindow* window) : mWindow(window) {
    LoadIcon();
}

void BookmarkContent::LoadIcon() {
    try {
        mIcon = PPx::Icon::File(PPx::SysNib::ResourcesFolder() + "/bookmark.png");
    } catch (...) {
        mIcon = PPx::Icon();
    }
}

void BookmarkContent::SupplyItemData(ItemID item, PPx::DataBrowser::PropertyID property,
                                     PPx::DataBrowser::ItemData& data) {
    const sBookMarkData* bookmark = mWindow ? mWindow->BookmarkForItem(item) : nullptr;
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
    default:
        break;
    }
}

void BookmarkContent::NotifyAboutItem(ItemID, PPx::DataBrowser::ItemMessage message) {
    if (!mWindow)
        return;
    switch (message) {
    case PPx::DataBrowser::kSelectionSetChanged:
        mWindow->ListSelChanged();
        break;
    case PPx::DataBrowser::kItemDoubleClicked:
        // As pressing Connect.
        if (PPx::View* button = mWindow->GetConnectButton(); button && button->IsEnabled())
            button->SimulateClick();
        break;
    case PPx::DataBrowser::kUserStateChanged:
        mWindow->SaveBrowserState();
        break;
    default:
        break;
    }
}

bool BookmarkContent::CompareItems(ItemID a, ItemID b, PPx::DataBrowser::PropertyID property) {
    if (!mWindow || property != 'name')
        return false;
    const sBookMarkData* first = mWindow->BookmarkForItem(a);
    const sBookMarkData* second = mWindow->BookmarkForItem(b);
    if (!first || !second)
        return false;
    return ::strcasecmp(first->name.c_str(), second->name.c_str()) < 0;
}

bool BookmarkContent::AddItemToDrag(ItemID item) {
    return mWindow && mWindow->BookmarkForItem(item);
}

std::vector<std::string> BookmarkContent::FilesForDrag(const std::vector<ItemID>& items) {
    if (!mWindow)
        return {};
    return mWindow->WriteDragFiles(items);
}

void BookmarkContent::PostProcessDragFromBrowser(bool dropped, const std::string& dropFolder) {
    if (mWindow && dropped && !dropFolder.empty())
        mWindow->ListDragComplete(dropFolder);
}

bool BookmarkContent::DragIsAcceptable(const std::vector<std::string>& paths) {
    return mWindow && std::any_of(paths.begin(), paths.end(), IsConnectionBookmarkFile);
}

bool BookmarkContent::ReceiveDraggedItems(const std::vector<std::string>& paths) {
    return mWindow && mWindow->ImportBookmarks(paths) > 0;
}

// ---------------------------------------------------------------------------
// The window

ConnectWindow::ConnectWindow() = default;

ConnectWindow::~ConnectWindow() {
    *mAlive = false;
    // The list outlives this part of the object.
    if (mList)
        if (auto* content = dynamic_cast<BookmarkContent*>(mList->GetContent()))
            content->Detach();
    // The files written for drags go with the window.
    for (const std::string& folder : mDragFolders) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
}

void ConnectWindow::FinishInit() {
    PPx::SysWindow window = GetSysWindow();
    mAddButton = NibBevelButton::CreatePPxView(window, 'ADDB');
    mEditButton = NibBevelButton::CreatePPxView(window, 'EDBB');
    mRemoveButton = NibBevelButton::CreatePPxView(window, 'RMVB');
    mConnectButton = NibBevelButton::CreatePPxView(window, 'CONN');
    mList = NibDataBrowserView::CreatePPxView(window, 'LIST', 100, new BookmarkContent(this));

    mEditButton->Disable();
    mRemoveButton->Disable();
    mConnectButton->Disable();

    LoadBrowserState();
    sPreferences prefs;
    BasicApp::CopyPreferences(prefs);
    if (prefs.misc[kMiscRememberBookmarkWindow])
        LoadWindowState();
    mList->SetSortProperty('name');
    SetDefaultButton(mConnectButton);

    InstallBoundsChangedHandler(this);
    InstallCursorChangeHandler(this);
    AddCommandHandler(this);

    LoadBookmarks();
    PopulateList();
    mList->SetFocus();
}

PPx::OSStatus ConnectWindow::DoWindowClose() {
    Hide();
    return PPx::noErr;
}

const sBookMarkData* ConnectWindow::BookmarkForItem(uint32_t item) const {
    if (item == 0 || item > mBookmarks.size())
        return nullptr;
    return &mBookmarks[item - 1];
}

void ConnectWindow::AddBookmark(const sBookMarkData& bookmark) {
    mBookmarks.push_back(bookmark);
    SaveBookmarks();
    mList->AddItems({static_cast<ItemID>(mBookmarks.size())});
    mList->Sort();
}

bool ConnectWindow::CheckUniqueName(const std::string& name) {
    return std::none_of(mBookmarks.begin(), mBookmarks.end(),
                        [&name](const sBookMarkData& b) { return b.name == name; });
}

void ConnectWindow::OpenBookmark(const std::string& path) {
    sBookMarkData bookmark;
    if (!ReadExportedBookmark(path, bookmark)) {
        PPx::StandardAlert(PPx::kAlertStopAlert,
                           "\"" + BaseName(path) + "\" could not be opened as a bookmark.",
                           "The file is missing, unreadable or not a bookmark file.");
        return;
    }
    ConnectBookmark(bookmark);
}

void ConnectWindow::SaveBookmark(const std::string& folder) {
    for (ItemID item : mList->GetSelectedItems())
        if (const sBookMarkData* selected = BookmarkForItem(item))
            if (!CreateBookmark(*selected, folder))
                break;
}

PPx::OSStatus ConnectWindow::DoCommandProcess(uint32_t command) {
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
    case 'CONN':
        OnConnect();
        return PPx::noErr;
    default:
        return PPx::eventNotHandledErr;
    }
}

PPx::OSStatus ConnectWindow::DoWindowBoundsChanged() {
    sPreferences prefs;
    BasicApp::CopyPreferences(prefs);
    if (prefs.misc[kMiscRememberBookmarkWindow])
        SaveWindowState();
    return PPx::noErr;
}

PPx::OSStatus ConnectWindow::DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) {
    return StandardCursorRule(under, cursor);
}

void ConnectWindow::PopulateList() {
    mList->RemoveAllItems();
    std::vector<ItemID> items;
    for (size_t i = 1; i <= mBookmarks.size(); ++i)
        items.push_back(static_cast<ItemID>(i));
    mList->AddItems(items);
    mList->Sort();
    ListSelChanged();
}

void ConnectWindow::LoadBookmarks() {
    try {
        mStorePath = BookmarkStorePath();
    } catch (const PPx::OSError& error) {
        mStoreBlocked = true;
        NoticeStoreProblem("Your bookmarks could not be read.", error.what());
        return;
    }
    StoreLoad load = LoadBookmarkStore(mStorePath);
    switch (load.status) {
    case StoreLoad::Missing:
    case StoreLoad::Loaded:
        break;
    case StoreLoad::Partial:
        NoticeStoreProblem("Some of your bookmarks could not be read.",
                           "A copy of the bookmark file was kept as \"" + load.keptAs + "\".");
        break;
    case StoreLoad::Unreadable:
        NoticeStoreProblem("Your bookmarks could not be read.",
                           "The bookmark file was kept as \"" + load.keptAs +
                               "\"; new bookmarks go into a new file.");
        break;
    case StoreLoad::Blocked:
        mStoreBlocked = true;
        NoticeStoreProblem("Your bookmarks could not be read.",
                           "The bookmark file \"" + mStorePath +
                               "\" is left as it is, and changes are not saved until it can be "
                               "read.");
        break;
    }
    mBookmarks = std::move(load.bookmarks);
}

bool ConnectWindow::SaveBookmarks() {
    if (mStoreBlocked) {
        ShowError("Your bookmarks could not be saved.",
                  "The bookmark file \"" + mStorePath +
                      "\" could not be read and is left as it is.");
        return false;
    }
    try {
        SaveBookmarkStore(mStorePath, mBookmarks);
        return true;
    } catch (const std::exception& error) {
        ShowError("Your bookmarks could not be saved.", error.what());
        return false;
    }
}

void ConnectWindow::EncryptBookmarks(std::vector<uint8_t>& data) {
    EncryptBookmarkData(data);
}

void ConnectWindow::DecryptBookmarks(std::vector<uint8_t>& data) {
    DecryptBookmarkData(data);
}

void ConnectWindow::ListSelChanged() {
    const bool one = SingleSelection() >= 0;
    mEditButton->SetEnabled(one);
    mRemoveButton->SetEnabled(one);
    mConnectButton->SetEnabled(one);
}

void ConnectWindow::ListDragComplete(const std::string& dropFolder) {
    if (LocationIsSystemTrash(dropFolder)) {
        OnRemoveBookmark();
        return;
    }
    struct stat st {};
    if (::stat(dropFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return;
    SaveBookmark(dropFolder);
}

bool ConnectWindow::LocationIsSystemTrash(const std::string& folder) {
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

int ConnectWindow::SingleSelection() const {
    std::vector<ItemID> selected = mList->GetSelectedItems();
    if (selected.size() != 1 || !BookmarkForItem(selected[0]))
        return -1;
    return static_cast<int>(selected[0]) - 1;
}

void ConnectWindow::OnAddBookmark() {
    ConnectSheet* sheet = PPx::MakeNibWindow<ConnectSheet>(PPx::SysNib(), "ConnectSheet");
    if (!sheet)
        return;
    if (sheet->DoModal(this) == 'ok  ') {
        sBookMarkData bookmark;
        sheet->GetData(bookmark);
        mBookmarks.push_back(bookmark);
        SaveBookmarks();
        mList->AddItems({static_cast<ItemID>(mBookmarks.size())});
        mList->Sort();
    }
    sheet->Close();
}

void ConnectWindow::OnEditBookmark() {
    const int index = SingleSelection();
    if (index < 0)
        return;
    ConnectSheet* sheet =
        PPx::MakeNibWindow<ConnectSheet>(PPx::SysNib(), "ConnectSheet", mBookmarks[index], true);
    if (!sheet)
        return;
    if (sheet->DoModal(this) == 'ok  ') {
        sheet->GetData(mBookmarks[index]);
        SaveBookmarks();
        mList->UpdateItems({static_cast<ItemID>(index + 1)});
        mList->Sort();
    }
    sheet->Close();
}

void ConnectWindow::OnRemoveBookmark() {
    const int index = SingleSelection();
    if (index < 0)
        return;
    if (!AskUser("Are you sure you want to remove the selected bookmark?"))
        return;
    mBookmarks.erase(mBookmarks.begin() + index);
    SaveBookmarks();
    PopulateList();
}

void ConnectWindow::OnConnect() {
    const int index = SingleSelection();
    if (index < 0)
        return;
    OpenConnection(mBookmarks[index], true);
}

void ConnectWindow::ConnectBookmark(const sBookMarkData& bookmark) {
    OpenConnection(bookmark, false);
}

void ConnectWindow::OpenConnection(const sBookMarkData& bookmark, bool fromList) {
    sBookMarkData copy = bookmark;
    std::string error;
    if (!ApplyHostURL(copy, error)) {
        ShowError(error, "\"" + HostForDisplay(bookmark.host) + "\"");
        return;
    }
    if (copy.port < 1 || copy.port > 65535) {
        ShowError(kBadPortMessage, "");
        return;
    }
    sPreferences prefs;
    BasicApp::CopyPreferences(prefs);
    if (!OpenBrowserWindow(copy, fromList ? this : nullptr))
        return;
    if (prefs.misc[kMiscHideBookmarksOnConnect] && (fromList || IsVisible()))
        Close();
}

bool ConnectWindow::CreateBookmark(const sBookMarkData& bookmark, const std::string& folder) {
    try {
        ExportBookmark(bookmark, folder);
        return true;
    } catch (const std::exception& error) {
        ShowError("The bookmark \"" + bookmark.name + "\" could not be exported.", error.what());
        return false;
    }
}

bool ConnectWindow::AskUser(const std::string& question) {
    ModalSheetAlert alert;
    uint32_t answer = 'not!';
    alert.DoModal(this, question, answer, kAlertYesNo);
    return answer == 'Yes ';
}

void ConnectWindow::LoadBrowserState() {
    LoadListState(*mList, "ConnectState");
}

void ConnectWindow::SaveBrowserState() {
    SaveListState(*mList, "ConnectState");
}

void ConnectWindow::LoadWindowState() {
    ::LoadWindowState(*this, "ConnectWindowState");
}

void ConnectWindow::SaveWindowState() {
    ::SaveWindowState(*this, "ConnectWindowState");
}

int ConnectWindow::ImportBookmarks(const std::vector<std::string>& paths) {
    int added = 0;
    std::vector<std::string> refused;
    for (const std::string& path : paths) {
        if (!IsConnectionBookmarkFile(path))
            continue;
        sBookMarkData bookmark;
        if (!ReadExportedBookmark(path, bookmark)) {
            refused.push_back(BaseName(path));
            continue;
        }
        if (std::find(mBookmarks.begin(), mBookmarks.end(), bookmark) != mBookmarks.end())
            continue; // already here
        const std::string base = bookmark.name;
        for (int n = 2; !CheckUniqueName(bookmark.name); ++n)
            bookmark.name = base + " " + std::to_string(n);
        mBookmarks.push_back(bookmark);
        ++added;
    }
    if (added > 0) {
        SaveBookmarks();
        PopulateList();
    }
    if (!refused.empty()) {
        std::string names;
        for (const std::string& name : refused)
            names += (names.empty() ? "\"" : ", \"") + name + "\"";
        ShowError(refused.size() == 1 ? "This file is not a bookmark file."
                                      : "These files are not bookmark files.",
                  names);
    }
    return added;
}

std::vector<std::string> ConnectWindow::WriteDragFiles(const std::vector<uint32_t>& items) {
    std::vector<std::string> files;
    try {
        std::string folder =
            PPx::TemporaryItemsFolder() + "/drag-" + std::to_string(mDragFolders.size() + 1);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directory(folder);
        mDragFolders.push_back(folder);
        for (uint32_t item : items)
            if (const sBookMarkData* bookmark = BookmarkForItem(item))
                files.push_back(ExportBookmark(*bookmark, folder));
    } catch (const std::exception& error) {
        ShowError("The bookmark could not be exported.", error.what());
        files.clear();
    }
    return files;
}

void ConnectWindow::ShowError(const std::string& message, const std::string& explanation) {
    ModalSheetAlert alert;
    uint32_t answer = 0;
    if (IsVisible())
        alert.DoModal(this, message, answer, kAlertErrorOK, explanation);
    else
        PPx::StandardAlert(PPx::kAlertStopAlert, message, explanation);
}

void ConnectWindow::NoticeStoreProblem(const std::string& message, const std::string& explanation) {
    // Told once, when the event loop runs and the window is up.
    std::weak_ptr<bool> alive = mAlive;
    PPx::PostToMainThread([this, alive, message, explanation] {
        if (alive.expired())
            return;
        if (!WasPlaced() && !IsVisible())
            CenterOn(nullptr);
        Select();
        ShowError(message, explanation);
    });
}
