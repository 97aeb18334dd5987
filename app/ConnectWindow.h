#pragma once
// The connection bookmark window: the list of bookmarks, where they are
// added, edited, removed, exported, imported and connected to. It is made
// once at start-up and only hidden when closed.
#include "app/BookmarkListWindow.h"

#include <string>
#include <vector>

class ConnectWindow;

class BookmarkContent : public BookmarkListContent<sBookMarkData> {
public:
    explicit BookmarkContent(ConnectWindow* window);
    virtual const char* ClassName() const { return "BookmarkContent"; }

    bool DragIsAcceptable(const std::vector<std::string>& paths) override;
    bool ReceiveDraggedItems(const std::vector<std::string>& paths) override;

private:
    ConnectWindow* mConnectWindow; // not owned; the base's pointer says whether it is still there
};

class ConnectWindow : public BookmarkListWindow<sBookMarkData> {
public:
    ConnectWindow();

    const char* ClassName() const override { return "ConnectWindow"; }

    PPx::OSStatus DoCommandProcess(uint32_t command) override;

    virtual void OnConnect();
    void ConnectBookmark(const sBookMarkData& bookmark) override;

    // Reads the ".zarvel" files and adds their bookmarks (a name already in
    // use gets a number); the count added.
    virtual int ImportBookmarks(const std::vector<std::string>& paths);

    NibBevelButton* GetConnectButton() const { return GetRunButton(); }

protected:
    std::string StorePath() override;
    StoreLoad LoadStore(const std::string& path) override;
    void SaveStore(const std::string& path, const std::vector<sBookMarkData>& bookmarks) override;
    std::string ExportRecord(const sBookMarkData& bookmark, const std::string& folder) override;
    bool ReadExportedRecord(const std::string& path, sBookMarkData& out) override;
    PPx::DataBrowser::Content* MakeContent() override;
    BookmarkSheet<sBookMarkData>* MakeSheet(const sBookMarkData* bookmark) override;

private:
    void OpenConnection(const sBookMarkData& bookmark, bool fromList);
};
