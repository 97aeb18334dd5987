#pragma once
// The synchronisation bookmark window: the list of synchronisation bookmarks,
// where they are added, edited, removed, exported and synchronised. It is
// made once at start-up and only hidden when closed.
#include "ConnectionRecords.h"
#include "NibWindow.h"

#include <memory>
#include <string>
#include <vector>

class SyncWindow;

class SyncContent : public PPx::DataBrowser::Content {
public:
    explicit SyncContent(SyncWindow* window);
    virtual const char* ClassName() const { return "SyncContent"; }

    void SupplyItemData(PPx::DataBrowser::ItemID item, PPx::DataBrowser::PropertyID property,
                        PPx::DataBrowser::ItemData& data) override;
    void NotifyAboutItem(PPx::DataBrowser::ItemID item,
                         PPx::DataBrowser::ItemMessage message) override;
    bool CompareItems(PPx::DataBrowser::ItemID a, PPx::DataBrowser::ItemID b,
                      PPx::DataBrowser::PropertyID property) override;
    bool AddItemToDrag(PPx::DataBrowser::ItemID item) override;
    std::vector<std::string>
    FilesForDrag(const std::vector<PPx::DataBrowser::ItemID>& items) override;
    void PostProcessDragFromBrowser(bool dropped, const std::string& dropFolder) override;
    virtual void LoadIcon();
    // The window is going: every callback does nothing from now on.
    void Detach() { mWindow = nullptr; }

private:
    SyncWindow* mWindow; // not owned; may be null
    PPx::Icon mIcon;
};

class SyncWindow : public NibWindow,
                   public PPx::CommandProcessDoer,
                   public PPx::WindowBoundsChangedDoer,
                   public PPx::WindowCursorChangeDoer {
public:
    SyncWindow();
    ~SyncWindow() override;

    void FinishInit() override;
    const char* ClassName() const override { return "SyncWindow"; }
    PPx::OSStatus DoWindowClose() override;

    // Services to other windows.
    virtual void AddBookmark(const sSyncBookMarkData& bookmark);
    virtual bool CheckUniqueName(const std::string& name);
    // Reads an exported file and, once the user confirmed what it will do,
    // runs it. It is not added to the list.
    virtual void OpenBookmark(const std::string& path);
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
    virtual void ListDragComplete(const std::string& dropFolder);
    virtual bool LocationIsSystemTrash(const std::string& folder);
    virtual void OnAddBookmark();
    virtual void OnEditBookmark();
    virtual void OnRemoveBookmark();
    virtual void OnSynchronize();
    virtual void ConnectBookmark(const sSyncBookMarkData& bookmark);
    // Exports into FOLDER; a failure is shown and answers false.
    virtual bool CreateBookmark(const sSyncBookMarkData& bookmark, const std::string& folder);
    // Yes/No on this window: true for Yes.
    virtual bool AskUser(const std::string& message, const std::string& explanation = {});
    virtual void CheckSyncFileStatus(const sSyncBookMarkData& before,
                                     const sSyncBookMarkData& after);
    virtual void RemoveSyncFile(const sSyncBookMarkData& bookmark);
    virtual void LoadBrowserState();
    virtual void SaveBrowserState();
    virtual void LoadWindowState();
    virtual void SaveWindowState();

    // Writes the bookmarks of ITEMS as files into a private folder, for a
    // drag to offer; empty when that failed (the failure is shown).
    std::vector<std::string> WriteDragFiles(const std::vector<uint32_t>& items);

    const std::vector<sSyncBookMarkData>& GetBookmarks() const { return mBookmarks; }
    const sSyncBookMarkData* BookmarkForItem(uint32_t item) const;
    NibDataBrowserView* GetList() const { return mList; }
    NibBevelButton* GetSyncButton() const { return mSyncButton; }

private:
    // The index of the one selected bookmark, or -1 unless exactly one is.
    int SingleSelection() const;
    // Starts the run; FROMLIST for the window's own Synchronize.
    void StartRun(const sSyncBookMarkData& bookmark, bool fromList);
    bool ConfirmOpened(const sSyncBookMarkData& bookmark);
    void ShowError(const std::string& message, const std::string& explanation);
    void NoticeStoreProblem(const std::string& message, const std::string& explanation);

    NibBevelButton* mAddButton = nullptr;
    NibBevelButton* mEditButton = nullptr;
    NibBevelButton* mRemoveButton = nullptr;
    NibBevelButton* mSyncButton = nullptr;
    NibDataBrowserView* mList = nullptr;
    std::vector<sSyncBookMarkData> mBookmarks;

    std::string mStorePath;
    bool mStoreBlocked = false; // the store could not be read nor moved aside
    std::vector<std::string> mDragFolders;
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
};

// Lets the application object make this window at start-up and hand it the
// ".sync.zarvel" files it is asked to open.
void InstallSyncWindow();

extern const char* const kSelectLocalFolderMessage;
extern const char* const kRemoveBookmarkQuestion;
