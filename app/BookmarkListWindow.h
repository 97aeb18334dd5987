#pragma once
// What the connection and synchronisation bookmark windows have in common:
// a list of bookmark records kept in an enciphered store, added, edited and
// removed through a sheet, exported by dragging out of the list (or removed
// by dragging into the trash), and a default button that runs the selected
// one. The windows say what differs through the settings and the hooks.
#include "app/BookmarkSheet.h"
#include "app/BookmarkStore.h"
#include "app/NibWindow.h"
#include "engine/ConnectionRecords.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

template <class Record> class BookmarkListWindow;

// The list's content: name, host, port and SFTP columns of the window's
// records; a double-click presses the run button.
template <class Record> class BookmarkListContent : public PPx::DataBrowser::Content {
public:
    explicit BookmarkListContent(BookmarkListWindow<Record>* window);

    void SupplyItemData(PPx::DataBrowser::ItemID item, PPx::DataBrowser::PropertyID property,
                        PPx::DataBrowser::ItemData& data) override;
    void NotifyAboutItem(PPx::DataBrowser::ItemID item,
                         PPx::DataBrowser::ItemMessage message) override;
    bool CompareItems(PPx::DataBrowser::ItemID a, PPx::DataBrowser::ItemID b,
                      PPx::DataBrowser::PropertyID property) override;
    bool AddItemToDrag(PPx::DataBrowser::ItemID item) override;
    std::string DirectSaveName(const std::vector<PPx::DataBrowser::ItemID>& items) override;
    std::vector<std::string>
    FilesForDrag(const std::vector<PPx::DataBrowser::ItemID>& items) override;
    void PostProcessDragFromBrowser(bool dropped, const std::string& dropFolder) override;
    void DropRefused(const std::string& message, const std::string& explanation) override;
    virtual void LoadIcon();
    // The window is going: every callback does nothing from now on.
    void Detach() { mWindow = nullptr; }

protected:
    BookmarkListWindow<Record>* mWindow; // not owned; may be null
    PPx::Icon mIcon;
    bool mDragFromList = false; // a drag started in this list has not ended yet
};

// What one kind of bookmark window calls things and where it keeps them.
struct BookmarkListSettings {
    std::string noun;           // "bookmark", in messages
    uint32_t runCommand;        // the default button and its command
    int rememberPreference;     // the misc preference that keeps the frame
    std::string listStateKey;   // the columns and sorting
    std::string windowStateKey; // the frame
    std::string dragPrefix;     // the private folders drags are written to
    std::string extension;      // of the exported files
    bool centerForStoreProblem; // a store problem first places an unplaced window
};

// A bookmark window that hides when a connection (or run) it started opens
// its own window; once the last window the user can see closes, it is shown
// again instead of the program quitting.
class HidesForConnect {
public:
    virtual ~HidesForConnect() = default;
    // Hidden by a connection, and not closed by the user since.
    bool HiddenByConnect() const { return mHiddenByConnect; }
    void ForgetHiddenByConnect() { mHiddenByConnect = false; }

protected:
    bool mClosingForConnect = false;
    bool mHiddenByConnect = false;
};

template <class Record>
class BookmarkListWindow : public NibWindow,
                           public HidesForConnect,
                           public PPx::CommandProcessDoer,
                           public PPx::WindowBoundsChangedDoer,
                           public PPx::WindowCursorChangeDoer {
public:
    explicit BookmarkListWindow(BookmarkListSettings settings);
    ~BookmarkListWindow() override;

    void FinishInit() override;
    PPx::OSStatus DoWindowClose() override;
    // Closes (hides) the window for the connection or run it just opened.
    void CloseForConnect();

    // Services to other windows.
    virtual void AddBookmark(const Record& bookmark);
    virtual bool CheckUniqueName(const std::string& name);
    virtual void OpenBookmark(const std::string& path);
    // Exports the selected bookmarks into FOLDER.
    virtual void SaveBookmark(const std::string& folder);

    PPx::OSStatus DoCommandProcess(uint32_t command) override;
    PPx::OSStatus DoWindowBoundsChanged() override;
    PPx::OSStatus DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) override;

    virtual void PopulateList();
    virtual void LoadBookmarks();
    // Writes the store; a failure is shown and answers false.
    virtual bool SaveBookmarks();
    virtual void EncryptBookmarks(std::vector<uint8_t>& data);
    virtual void DecryptBookmarks(std::vector<uint8_t>& data);
    virtual void ListSelChanged();
    // Drags out of the list: ITEM joins the drag (FIRST: a new drag starts
    // with it), copied as it is now; false when it cannot be dragged. The
    // drop acts on those copies, whatever is selected by then: exported into
    // the folder DROPFOLDER, or removed (after the question) when that is the
    // Trash. They are left alone, and the user told, when the list no longer
    // holds them, or (on the Trash) while a sheet of the window is open.
    virtual bool AddDragItem(uint32_t item, bool first);
    virtual void ListDragComplete(const std::string& dropFolder);
    virtual bool LocationIsSystemTrash(const std::string& folder);
    // A drop target named a place where nothing may go: told, nothing done.
    virtual void ListDropRefused(const std::string& message, const std::string& explanation);
    virtual void OnAddBookmark();
    virtual void OnEditBookmark();
    virtual void OnRemoveBookmark();
    virtual void ConnectBookmark(const Record& bookmark) = 0;
    // Exports into FOLDER; a failure is shown and answers false.
    virtual bool CreateBookmark(const Record& bookmark, const std::string& folder);
    // Yes/No on this window: true for Yes.
    virtual bool AskUser(const std::string& message, const std::string& explanation = {});
    virtual void LoadBrowserState();
    virtual void SaveBrowserState();
    virtual void LoadWindowState();
    virtual void SaveWindowState();

    // Writes the bookmarks of ITEMS as files into a private folder, for a
    // drag to offer; empty when that failed (the failure is shown).
    std::vector<std::string> WriteDragFiles(const std::vector<uint32_t>& items);

    const std::vector<Record>& GetBookmarks() const { return mBookmarks; }
    const Record* BookmarkForItem(uint32_t item) const;
    // The name of the file the bookmark exports to.
    std::string ExportName(const Record& bookmark) const;
    NibDataBrowserView* GetList() const { return mList; }
    NibBevelButton* GetRunButton() const { return mRunButton; }

protected:
    // The store and the files of this kind of record.
    virtual std::string StorePath() = 0; // throws OSError
    virtual RecordStoreLoad<Record> LoadStore(const std::string& path) = 0;
    virtual void SaveStore(const std::string& path, const std::vector<Record>& bookmarks) = 0;
    virtual std::string ExportRecord(const Record& bookmark, const std::string& folder) = 0;
    virtual bool ReadExportedRecord(const std::string& path, Record& out) = 0;
    virtual PPx::DataBrowser::Content* MakeContent() = 0;
    // The editing sheet, for a new record when BOOKMARK is null.
    virtual BookmarkSheet<Record>* MakeSheet(const Record* bookmark) = 0;
    // After the store took an edited or removed record (SAVED) or did not.
    virtual void BookmarkEdited(const Record& before, const Record& after, bool saved);
    virtual void BookmarkRemoved(const Record& removed, bool saved);

    // Exports each of BOOKMARKS into FOLDER, up to the first failure.
    void ExportBookmarks(const std::vector<Record>& bookmarks, const std::string& folder);
    // The index of the one selected bookmark, or -1 unless exactly one is.
    int SingleSelection() const;
    void EnableButtons(bool enabled);
    void ShowError(const std::string& message, const std::string& explanation);
    void NoticeStoreProblem(const std::string& message, const std::string& explanation);

    std::vector<Record> mBookmarks;

private:
    BookmarkListSettings mSettings;
    NibBevelButton* mAddButton = nullptr;
    NibBevelButton* mEditButton = nullptr;
    NibBevelButton* mRemoveButton = nullptr;
    NibBevelButton* mRunButton = nullptr;
    NibDataBrowserView* mList = nullptr;

    std::string mStorePath;
    bool mStoreBlocked = false; // the store could not be read nor moved aside
    std::vector<std::string> mDragFolders;
    std::vector<Record> mDragBookmarks; // the drag's bookmarks, as they were when it started
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
};

extern template class BookmarkListContent<sBookMarkData>;
extern template class BookmarkListContent<sSyncBookMarkData>;
extern template class BookmarkListWindow<sBookMarkData>;
extern template class BookmarkListWindow<sSyncBookMarkData>;

extern const char* const kRemoveBookmarkQuestion;
