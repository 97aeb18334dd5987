#include "app/BookmarkListWindow.h"

#include "app/BasicApp.h"
#include "app/CDESCrypto.h"
#include "app/ModalSheetAlert.h"
#include "app/WindowState.h"
#include "platform/core/Folders.h"
#include "platform/ui/Dialogs.h"

#include <algorithm>
#include <filesystem>
#include <strings.h>
#include <sys/stat.h>

using PPx::DataBrowser::ItemID;

const char* const kRemoveBookmarkQuestion =
    "Are you sure you want to remove the selected bookmark?";

namespace {

// Errors carry the stop icon.
const uint32_t kAlertErrorOK = 0x11;
const uint32_t kAlertYesNo = 0x24C0;
const uint32_t kAlertYesNoExplained = 0x1C0;

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

// ---------------------------------------------------------------------------
// The list's content

template <class Record>
BookmarkListContent<Record>::BookmarkListContent(BookmarkListWindow<Record>* window)
    : mWindow(window) {
    LoadIcon();
}

template <class Record> void BookmarkListContent<Record>::LoadIcon() {
    try {
        mIcon = PPx::Icon::File(PPx::SysNib::ResourcesFolder() + "/bookmark.png");
    } catch (...) {
        mIcon = PPx::Icon();
    }
}

template <class Record>
void BookmarkListContent<Record>::SupplyItemData(ItemID item, PPx::DataBrowser::PropertyID property,
                                                 PPx::DataBrowser::ItemData& data) {
    const Record* bookmark = mWindow ? mWindow->BookmarkForItem(item) : nullptr;
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

template <class Record>
void BookmarkListContent<Record>::NotifyAboutItem(ItemID, PPx::DataBrowser::ItemMessage message) {
    if (!mWindow)
        return;
    switch (message) {
    case PPx::DataBrowser::kSelectionSetChanged:
        mWindow->ListSelChanged();
        break;
    case PPx::DataBrowser::kItemDoubleClicked:
        // As pressing the default button.
        if (PPx::View* button = mWindow->GetRunButton(); button && button->IsEnabled())
            button->SimulateClick();
        break;
    case PPx::DataBrowser::kUserStateChanged:
        mWindow->SaveBrowserState();
        break;
    default:
        break;
    }
}

template <class Record>
bool BookmarkListContent<Record>::CompareItems(ItemID a, ItemID b,
                                               PPx::DataBrowser::PropertyID property) {
    if (!mWindow || property != 'name')
        return false;
    const Record* first = mWindow->BookmarkForItem(a);
    const Record* second = mWindow->BookmarkForItem(b);
    if (!first || !second)
        return false;
    return ::strcasecmp(first->name.c_str(), second->name.c_str()) < 0;
}

// The window keeps the dragged bookmarks from here to the end of the drag.
template <class Record> bool BookmarkListContent<Record>::AddItemToDrag(ItemID item) {
    if (!mWindow || !mWindow->AddDragItem(item, !mDragFromList))
        return false;
    mDragFromList = true;
    return true;
}

template <class Record>
std::string BookmarkListContent<Record>::DirectSaveName(const std::vector<ItemID>& items) {
    const Record* first = mWindow && !items.empty() ? mWindow->BookmarkForItem(items[0]) : nullptr;
    return first ? mWindow->ExportName(*first) : std::string();
}

template <class Record>
std::vector<std::string>
BookmarkListContent<Record>::FilesForDrag(const std::vector<ItemID>& items) {
    if (!mWindow)
        return {};
    return mWindow->WriteDragFiles(items);
}

template <class Record>
void BookmarkListContent<Record>::PostProcessDragFromBrowser(bool dropped,
                                                             const std::string& dropFolder) {
    mDragFromList = false;
    if (mWindow)
        mWindow->ListDragComplete(dropped ? dropFolder : std::string());
}

template <class Record>
void BookmarkListContent<Record>::DropRefused(const std::string& message,
                                              const std::string& explanation) {
    if (mWindow)
        mWindow->ListDropRefused(message, explanation);
}

// ---------------------------------------------------------------------------
// The window

template <class Record>
BookmarkListWindow<Record>::BookmarkListWindow(BookmarkListSettings settings)
    : mSettings(std::move(settings)) {}

template <class Record> BookmarkListWindow<Record>::~BookmarkListWindow() {
    *mAlive = false;
    // The list outlives this part of the object.
    if (mList)
        if (auto* content = dynamic_cast<BookmarkListContent<Record>*>(mList->GetContent()))
            content->Detach();
    // The files written for drags go with the window.
    for (const std::string& folder : mDragFolders) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
}

template <class Record> void BookmarkListWindow<Record>::FinishInit() {
    PPx::SysWindow window = GetSysWindow();
    mAddButton = NibBevelButton::CreatePPxView(window, 'ADDB');
    mEditButton = NibBevelButton::CreatePPxView(window, 'EDBB');
    mRemoveButton = NibBevelButton::CreatePPxView(window, 'RMVB');
    mRunButton = NibBevelButton::CreatePPxView(window, mSettings.runCommand);
    mList = NibDataBrowserView::CreatePPxView(window, 'LIST', 100, MakeContent());

    mEditButton->Disable();
    mRemoveButton->Disable();
    mRunButton->Disable();

    LoadBrowserState();
    sPreferences prefs;
    BasicApp::CopyPreferences(prefs);
    if (prefs.misc[mSettings.rememberPreference])
        LoadWindowState();
    mList->SetSortProperty('name');
    SetDefaultButton(mRunButton);

    InstallBoundsChangedHandler(this);
    InstallCursorChangeHandler(this);
    AddCommandHandler(this);

    LoadBookmarks();
    PopulateList();
    mList->SetFocus();
}

template <class Record> PPx::OSStatus BookmarkListWindow<Record>::DoWindowClose() {
    // A close by the user forgets an earlier one by a connection.
    mHiddenByConnect = mClosingForConnect;
    mClosingForConnect = false;
    Hide();
    return PPx::noErr;
}

template <class Record> void BookmarkListWindow<Record>::CloseForConnect() {
    mClosingForConnect = true;
    Close();
}

template <class Record>
const Record* BookmarkListWindow<Record>::BookmarkForItem(uint32_t item) const {
    if (item == 0 || item > mBookmarks.size())
        return nullptr;
    return &mBookmarks[item - 1];
}

template <class Record>
std::string BookmarkListWindow<Record>::ExportName(const Record& bookmark) const {
    return ExportFileName(bookmark.name, mSettings.extension);
}

template <class Record> void BookmarkListWindow<Record>::AddBookmark(const Record& bookmark) {
    mBookmarks.push_back(bookmark);
    SaveBookmarks();
    mList->AddItems({static_cast<ItemID>(mBookmarks.size())});
    mList->Sort();
}

template <class Record> bool BookmarkListWindow<Record>::CheckUniqueName(const std::string& name) {
    return std::none_of(mBookmarks.begin(), mBookmarks.end(),
                        [&name](const Record& b) { return b.name == name; });
}

template <class Record> void BookmarkListWindow<Record>::OpenBookmark(const std::string& path) {
    Record bookmark;
    if (!ReadExportedRecord(path, bookmark)) {
        PPx::StandardAlert(this, PPx::kAlertStopAlert,
                           "\"" + BaseName(path) + "\" could not be opened as a " + mSettings.noun +
                               ".",
                           "The file is missing, unreadable or not a " + mSettings.noun + " file.");
        return;
    }
    ConnectBookmark(bookmark);
}

template <class Record> void BookmarkListWindow<Record>::SaveBookmark(const std::string& folder) {
    std::vector<Record> selected;
    for (ItemID item : mList->GetSelectedItems())
        if (const Record* bookmark = BookmarkForItem(item))
            selected.push_back(*bookmark);
    ExportBookmarks(selected, folder);
}

template <class Record>
void BookmarkListWindow<Record>::ExportBookmarks(const std::vector<Record>& bookmarks,
                                                 const std::string& folder) {
    for (const Record& bookmark : bookmarks)
        if (!CreateBookmark(bookmark, folder))
            break;
}

template <class Record>
PPx::OSStatus BookmarkListWindow<Record>::DoCommandProcess(uint32_t command) {
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
    default:
        return PPx::eventNotHandledErr;
    }
}

template <class Record> PPx::OSStatus BookmarkListWindow<Record>::DoWindowBoundsChanged() {
    sPreferences prefs;
    BasicApp::CopyPreferences(prefs);
    if (prefs.misc[mSettings.rememberPreference])
        SaveWindowState();
    return PPx::noErr;
}

template <class Record>
PPx::OSStatus BookmarkListWindow<Record>::DoWindowCursorChange(PPx::View* under,
                                                               PPx::ThemeCursor& cursor) {
    return StandardCursorRule(under, cursor);
}

template <class Record> void BookmarkListWindow<Record>::PopulateList() {
    mList->RemoveAllItems();
    std::vector<ItemID> items;
    for (size_t i = 1; i <= mBookmarks.size(); ++i)
        items.push_back(static_cast<ItemID>(i));
    mList->AddItems(items);
    mList->Sort();
    ListSelChanged();
}

template <class Record> void BookmarkListWindow<Record>::LoadBookmarks() {
    const std::string unread = "Your " + mSettings.noun + "s could not be read.";
    try {
        mStorePath = StorePath();
    } catch (const PPx::OSError& error) {
        mStoreBlocked = true;
        NoticeStoreProblem(unread, error.what());
        return;
    }
    RecordStoreLoad<Record> load = LoadStore(mStorePath);
    switch (load.status) {
    case StoreLoadStatus::Missing:
    case StoreLoadStatus::Loaded:
        break;
    case StoreLoadStatus::Partial:
        NoticeStoreProblem("Some of your " + mSettings.noun + "s could not be read.",
                           "A copy of the bookmark file was kept as \"" + load.keptAs + "\".");
        break;
    case StoreLoadStatus::Unreadable:
        NoticeStoreProblem(unread, "The bookmark file was kept as \"" + load.keptAs +
                                       "\"; new bookmarks go into a new file.");
        break;
    case StoreLoadStatus::Blocked:
        mStoreBlocked = true;
        NoticeStoreProblem(unread, "The bookmark file \"" + mStorePath +
                                       "\" is left as it is, and changes are not saved until "
                                       "it can be read.");
        break;
    }
    mBookmarks = std::move(load.bookmarks);
}

template <class Record> bool BookmarkListWindow<Record>::SaveBookmarks() {
    const std::string unsaved = "Your " + mSettings.noun + "s could not be saved.";
    if (mStoreBlocked) {
        ShowError(unsaved, "The bookmark file \"" + mStorePath +
                               "\" could not be read and is left as it is.");
        return false;
    }
    try {
        SaveStore(mStorePath, mBookmarks);
        return true;
    } catch (const std::exception& error) {
        ShowError(unsaved, error.what());
        return false;
    }
}

template <class Record>
void BookmarkListWindow<Record>::EncryptBookmarks(std::vector<uint8_t>& data) {
    EncryptBookmarkData(data);
}

template <class Record>
void BookmarkListWindow<Record>::DecryptBookmarks(std::vector<uint8_t>& data) {
    DecryptBookmarkData(data);
}

template <class Record> void BookmarkListWindow<Record>::ListSelChanged() {
    EnableButtons(SingleSelection() >= 0);
}

template <class Record> void BookmarkListWindow<Record>::EnableButtons(bool enabled) {
    mEditButton->SetEnabled(enabled);
    mRemoveButton->SetEnabled(enabled);
    mRunButton->SetEnabled(enabled);
}

template <class Record> bool BookmarkListWindow<Record>::AddDragItem(uint32_t item, bool first) {
    const Record* bookmark = BookmarkForItem(item);
    if (!bookmark)
        return false;
    if (first)
        mDragBookmarks.clear();
    mDragBookmarks.push_back(*bookmark);
    return true;
}

template <class Record>
void BookmarkListWindow<Record>::ListDragComplete(const std::string& dropFolder) {
    std::vector<Record> dragged;
    dragged.swap(mDragBookmarks);
    if (dropFolder.empty() || dragged.empty())
        return;
    const bool trash = LocationIsSystemTrash(dropFolder);
    if (trash && dragged.size() != 1)
        return; // one bookmark is removed at a time
    struct stat st {};
    if (!trash && (::stat(dropFolder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
        return;
    const bool one = dragged.size() == 1;
    const std::string leftAlone =
        "The dragged " + mSettings.noun + (one ? " was" : "s were") + " left alone.";
    // The target may answer long after the release: the list may have
    // changed meanwhile, and item IDs are positions.
    std::vector<ItemID> items;
    for (const Record& bookmark : dragged) {
        auto found = std::find(mBookmarks.begin(), mBookmarks.end(), bookmark);
        if (found == mBookmarks.end()) {
            ShowError(leftAlone, std::string(one ? "It" : "One of them") +
                                     " was changed or removed before the drop was complete.");
            return;
        }
        items.push_back(static_cast<ItemID>(found - mBookmarks.begin() + 1));
    }
    if (!trash) {
        ExportBookmarks(dragged, dropFolder);
        return;
    }
    // An open sheet may be about to change the list by position.
    if (IsBusy()) {
        ShowError(leftAlone, "The window was waiting for another answer when the drop was "
                             "complete.");
        return;
    }
    // The question speaks of the selected bookmark: the one that will go.
    mList->SetSelection(items);
    mList->RevealItem(items[0]);
    OnRemoveBookmark();
}

template <class Record>
bool BookmarkListWindow<Record>::LocationIsSystemTrash(const std::string& folder) {
    return PPx::IsTrashFolder(folder);
}

template <class Record>
void BookmarkListWindow<Record>::ListDropRefused(const std::string& message,
                                                 const std::string& explanation) {
    ShowError(message, explanation);
}

template <class Record> int BookmarkListWindow<Record>::SingleSelection() const {
    std::vector<ItemID> selected = mList->GetSelectedItems();
    if (selected.size() != 1 || !BookmarkForItem(selected[0]))
        return -1;
    return static_cast<int>(selected[0]) - 1;
}

template <class Record> void BookmarkListWindow<Record>::OnAddBookmark() {
    BookmarkSheet<Record>* sheet = MakeSheet(nullptr);
    if (!sheet)
        return;
    if (sheet->DoModal(this) == 'ok  ') {
        Record bookmark;
        sheet->GetData(bookmark);
        mBookmarks.push_back(bookmark);
        SaveBookmarks();
        mList->AddItems({static_cast<ItemID>(mBookmarks.size())});
        mList->Sort();
    }
    sheet->Close();
}

template <class Record> void BookmarkListWindow<Record>::OnEditBookmark() {
    const int index = SingleSelection();
    if (index < 0)
        return;
    BookmarkSheet<Record>* sheet = MakeSheet(&mBookmarks[index]);
    if (!sheet)
        return;
    if (sheet->DoModal(this) != 'ok  ') {
        sheet->Close();
        return;
    }
    const Record before = mBookmarks[index];
    Record after;
    sheet->GetData(after);
    sheet->Close();
    mBookmarks[index] = after;
    const bool saved = SaveBookmarks();
    mList->UpdateItems({static_cast<ItemID>(index + 1)});
    mList->Sort();
    BookmarkEdited(before, after, saved);
}

template <class Record> void BookmarkListWindow<Record>::OnRemoveBookmark() {
    const int index = SingleSelection();
    if (index < 0)
        return;
    if (!AskUser(kRemoveBookmarkQuestion))
        return;
    const Record removed = mBookmarks[index];
    mBookmarks.erase(mBookmarks.begin() + index);
    const bool saved = SaveBookmarks();
    PopulateList();
    BookmarkRemoved(removed, saved);
}

template <class Record>
void BookmarkListWindow<Record>::BookmarkEdited(const Record&, const Record&, bool) {}

template <class Record> void BookmarkListWindow<Record>::BookmarkRemoved(const Record&, bool) {}

template <class Record>
bool BookmarkListWindow<Record>::CreateBookmark(const Record& bookmark, const std::string& folder) {
    try {
        ExportRecord(bookmark, folder);
        return true;
    } catch (const std::exception& error) {
        ShowError("The bookmark \"" + bookmark.name + "\" could not be exported.", error.what());
        return false;
    }
}

template <class Record>
bool BookmarkListWindow<Record>::AskUser(const std::string& message,
                                         const std::string& explanation) {
    ModalSheetAlert alert;
    uint32_t answer = 'not!';
    alert.DoModal(this, message, answer, explanation.empty() ? kAlertYesNo : kAlertYesNoExplained,
                  explanation);
    return answer == 'Yes ';
}

template <class Record> void BookmarkListWindow<Record>::LoadBrowserState() {
    LoadListState(*mList, mSettings.listStateKey);
}

template <class Record> void BookmarkListWindow<Record>::SaveBrowserState() {
    SaveListState(*mList, mSettings.listStateKey);
}

template <class Record> void BookmarkListWindow<Record>::LoadWindowState() {
    ::LoadWindowState(*this, mSettings.windowStateKey);
}

template <class Record> void BookmarkListWindow<Record>::SaveWindowState() {
    ::SaveWindowState(*this, mSettings.windowStateKey);
}

template <class Record>
std::vector<std::string>
BookmarkListWindow<Record>::WriteDragFiles(const std::vector<uint32_t>& items) {
    std::vector<std::string> files;
    try {
        std::string folder = PPx::TemporaryItemsFolder() + "/" + mSettings.dragPrefix +
                             std::to_string(mDragFolders.size() + 1);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directory(folder);
        mDragFolders.push_back(folder);
        for (uint32_t item : items)
            if (const Record* bookmark = BookmarkForItem(item))
                files.push_back(ExportRecord(*bookmark, folder));
    } catch (const std::exception& error) {
        ShowError("The bookmark could not be exported.", error.what());
        files.clear();
    }
    return files;
}

template <class Record>
void BookmarkListWindow<Record>::ShowError(const std::string& message,
                                           const std::string& explanation) {
    ModalSheetAlert alert;
    uint32_t answer = 0;
    if (IsVisible())
        alert.DoModal(this, message, answer, kAlertErrorOK, explanation);
    else
        PPx::StandardAlert(PPx::kAlertStopAlert, message, explanation);
}

template <class Record>
void BookmarkListWindow<Record>::NoticeStoreProblem(const std::string& message,
                                                    const std::string& explanation) {
    // Told once, when the event loop runs and the window is up.
    std::weak_ptr<bool> alive = mAlive;
    PPx::PostToMainThread([this, alive, message, explanation] {
        if (alive.expired())
            return;
        if (mSettings.centerForStoreProblem && !WasPlaced() && !IsVisible())
            CenterOn(nullptr);
        Select();
        ShowError(message, explanation);
    });
}

template class BookmarkListContent<sBookMarkData>;
template class BookmarkListContent<sSyncBookMarkData>;
template class BookmarkListWindow<sBookMarkData>;
template class BookmarkListWindow<sSyncBookMarkData>;
