#pragma once
// The synchronisation bookmark window: the list of synchronisation bookmarks,
// where they are added, edited, removed, exported and synchronised. It is
// made once at start-up and only hidden when closed.
#include "app/BookmarkListWindow.h"
#include "sync/bookmarks/SyncBookmarkStore.h"

#include <string>
#include <vector>

class SyncWindow;

// The list's content: the connection columns and the two folders.
class SyncContent : public BookmarkListContent<sSyncBookMarkData> {
public:
    explicit SyncContent(SyncWindow* window);
    virtual const char* ClassName() const { return "SyncContent"; }

    void SupplyItemData(PPx::DataBrowser::ItemID item, PPx::DataBrowser::PropertyID property,
                        PPx::DataBrowser::ItemData& data) override;
};

class SyncWindow : public BookmarkListWindow<sSyncBookMarkData> {
public:
    SyncWindow();

    const char* ClassName() const override { return "SyncWindow"; }

    PPx::OSStatus DoCommandProcess(uint32_t command) override;

    void ListSelChanged() override;
    virtual void OnSynchronize();
    // Runs a bookmark read from an exported file once the user confirmed
    // what it will do; it is not added to the list.
    void ConnectBookmark(const sSyncBookMarkData& bookmark) override;
    virtual void CheckSyncFileStatus(const sSyncBookMarkData& before,
                                     const sSyncBookMarkData& after);
    virtual void RemoveSyncFile(const sSyncBookMarkData& bookmark);

    NibBevelButton* GetSyncButton() const { return GetRunButton(); }

protected:
    std::string StorePath() override;
    SyncStoreLoad LoadStore(const std::string& path) override;
    void SaveStore(const std::string& path,
                   const std::vector<sSyncBookMarkData>& bookmarks) override;
    std::string ExportRecord(const sSyncBookMarkData& bookmark, const std::string& folder) override;
    bool ReadExportedRecord(const std::string& path, sSyncBookMarkData& out) override;
    PPx::DataBrowser::Content* MakeContent() override;
    BookmarkSheet<sSyncBookMarkData>* MakeSheet(const sSyncBookMarkData* bookmark) override;
    // The cache follows only what the store holds: after a failed save the
    // bookmark comes back under its old name and folders.
    void BookmarkEdited(const sSyncBookMarkData& before, const sSyncBookMarkData& after,
                        bool saved) override;
    void BookmarkRemoved(const sSyncBookMarkData& removed, bool saved) override;

private:
    // Starts the run; FROMLIST for the window's own Synchronize.
    void StartRun(const sSyncBookMarkData& bookmark, bool fromList);
    bool ConfirmOpened(const sSyncBookMarkData& bookmark);
};

// Lets the application object make this window at start-up and hand it the
// ".sync.zarvel" files it is asked to open.
void InstallSyncWindow();
// Shows DRAFT in the bookmark sheet over PARENT and adds what the user keeps
// to the synchronisation bookmark window.
void CreateSyncBookmark(const sSyncBookMarkData& draft, PPx::Window* parent);

extern const char* const kSelectLocalFolderMessage;
