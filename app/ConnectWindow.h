#pragma once
// The connection bookmark window: the list of bookmarks, where they are
// added, edited, removed, exported, imported and connected to. It is made
// once at start-up and only hidden when closed.
#include "ConnectionRecords.h"
#include "NibWindow.h"

#include <memory>
#include <string>
#include <vector>

class ConnectWindow;

class BookmarkContent : public PPx::DataBrowser::Content {
public:
    explicit BookmarkContent(ConnectWindow* window);
    virtual const char* ClassName() const { return "BookmarkContent"; }

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
    bool DragIsAcceptable(const std::vector<std::string>& paths) override;
    bool ReceiveDraggedItems(const std::vector<std::string>& paths) override;
    virtual void LoadIcon();
    // The window is going: every callback does nothing from now on.
    void Detach() { mWindow = nullptr; }

private:
    ConnectWindow* mWindow; // not owned; may be null
    PPx::Icon mIcon;
};

class ConnectWindow : public NibWindow,
                      public PPx::CommandProcessDoer,
                      public PPx::WindowBoundsChangedDoer,
                      public PPx::WindowCursorChangeDoer {
public:
    ConnectWindow();
    ~ConnectWindow() override;

    void FinishInit() override;
    const char* ClassName() const override { return "ConnectWindow"; }
    PPx::OSStatus DoWindowClose() override;

    // Services to other windows.
    virtual void AddBookmark(const sBookMarkData& bookmark);
    virtual bool CheckUniqueName(const std::string& name);
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
    virtual void OnConnect();
    virtual void ConnectBookmark(const sBookMarkData& bookmark);
    // Exports into FOLDER; a failure is shown and answers false.
    virtual bool CreateBookmark(const sBookMarkData& bookmark, const std::string& folder);
    virtual bool AskUser(const std::string& question);
    virtual void LoadBrowserState();
    virtual void SaveBrowserState();
    virtual void LoadWindowState();
    virtual void SaveWindowState();

    // Reads the ".zarvel" files and adds their bookmarks (a name already in
    // use gets a number); the count added.
    virtual int ImportBookmarks(const std::vector<std::string>& paths);
    // Writes the bookmarks of ITEMS as files into a private folder, for a
    // drag to offer; empty when that failed (the failure is shown).
    std::vector<std::string> WriteDragFiles(const std::vector<uint32_t>& items);

    const std::vector<sBookMarkData>& GetBookmarks() const { return mBookmarks; }
    const sBookMarkData* BookmarkForItem(uint32_t item) const;
    NibDataBrowserView* GetList() const { return mList; }
    NibBevelButton* GetConnectButton() const { return mConnectButton; }

private:
    // The index of the one selected bookmark, or -1 unless exactly one is.
    int SingleSelection() const;
    void OpenConnection(const sBookMarkData& bookmark, bool fromList);
    void ShowError(const std::string& message, const std::string& explanation);
    void NoticeStoreProblem(const std::string& message, const std::string& explanation);

    NibBevelButton* mAddButton = nullptr;
    NibBevelButton* mEditButton = nullptr;
    NibBevelButton* mRemoveButton = nullptr;
    NibBevelButton* mConnectButton = nullptr;
    NibDataBrowserView* mList = nullptr;
    std::vector<sBookMarkData> mBookmarks;

    std::string mStorePath;
    bool mStoreBlocked = false; // the store could not be read nor moved aside
    std::vector<std::string> mDragFolders;
    std::shared_ptr<bool> mAlive = std::make_shared<bool>(true);
};
