// The browser toolbar on a real window: its items in order, their texts
// and commands, enabling, and icons that are missing.
#include "browser/sheets/BrowseToolBar.h"
#include "tests/browser/sheets_testing.h"

#include <functional>
#include <vector>

using namespace sheetstest;

namespace {

struct Recorder : PPx::CommandProcessDoer {
    std::vector<uint32_t> seen;
    PPx::OSStatus DoCommandProcess(uint32_t command) override {
        seen.push_back(command);
        return PPx::noErr;
    }
};

class OpenToolBar : public BrowseToolBar {
public:
    using BrowseToolBar::GetAllowedIdentifiers;
    using BrowseToolBar::LoadIcon;
};

// Its icon files are nowhere to be found.
class IconlessToolBar : public BrowseToolBar {
protected:
    void LoadIcon(const std::string& fileName, PPx::ToolbarItem& item) override {
        BrowseToolBar::LoadIcon("missing-" + fileName, item);
    }
};

using ToolBar = SheetTest;

const std::vector<std::string> kCommandItems = {
    kDownloadItemID, kUploadItemID,       kDeleteItemID,    kPermsItemID,
    kRefreshItemID,  kCreateFolderItemID, kGotoFolderItemID};

TEST_F(ToolBar, DefaultItemsInOrderWithTheirTexts) {
    OpenToolBar bar;
    EXPECT_EQ(bar.GetIdentifier(), "com.qivo.toolbar.ftp.browse");
    EXPECT_STREQ(bar.ClassName(), "BrowseToolBar");
    EXPECT_EQ(bar.GetAttributes(), 0u);
    EXPECT_TRUE(bar.GetShownIdentifiers().empty());
    bar.Attach(mOwner);
    bar.Show();
    EXPECT_TRUE(bar.IsShown());
    const std::vector<std::string> expected = {
        "com.qivo.toolbar.ftp.browse.download",     "com.qivo.toolbar.ftp.browse.upload",
        "com.qivo.toolbar.ftp.browse.delete",       "com.qivo.toolbar.ftp.browse.perms",
        PPx::Toolbar::kSeparatorIdentifier,         "com.qivo.toolbar.ftp.browse.refresh",
        "com.qivo.toolbar.ftp.browse.createfolder", "com.qivo.toolbar.ftp.browse.gotofolder",
        PPx::Toolbar::kFlexibleSpaceIdentifier,     "com.qivo.toolbar.ftp.browse.about",
    };
    EXPECT_EQ(bar.GetShownIdentifiers(), expected);
    std::vector<std::string> allowed;
    bar.GetAllowedIdentifiers(allowed);
    EXPECT_EQ(allowed, (std::vector<std::string>{expected[0], expected[1], expected[2], expected[3],
                                                 expected[5], expected[6], expected[7], expected[4],
                                                 expected[8], expected[9]}));

    struct Row {
        const char* id;
        const char* label;
        uint32_t command;
        const char* tip;
        const char* status;
    };
    const Row rows[] = {
        {kDownloadItemID, "Download", 'mDNL', "Download item", "Click to initiate a download."},
        {kUploadItemID, "Upload", 'mUPL', "Upload item", "Click to initiate an upload."},
        {kCreateFolderItemID, "Create Folder", 'mCRF', "Create Folder",
         "Click to create a new folder on the remote system."},
        {kGotoFolderItemID, "Go To Folder", 'mGTF', "Go To Folder",
         "Click to change the current directory."},
        {kDeleteItemID, "Delete", 'mDEL', "Delete",
         "Click to remove items from the remote system."},
        {kPermsItemID, "Permissions", 'mPRM', "Set Permissions",
         "Click to change the permissions on an item in the remote system."},
        {kRefreshItemID, "Refresh", 'mRFS', "Refresh",
         "Click to reload the remote system item list."},
        {kAboutItemID, "About", 'abou', "Display about box",
         "Show the program credits, version number, etc."},
    };
    Recorder recorder;
    mOwner->AddCommandHandler(&recorder);
    std::vector<uint32_t> commands;
    for (const Row& row : rows) {
        PPx::ToolbarItem item;
        ASSERT_TRUE(bar.GetItem(row.id, item)) << row.id;
        EXPECT_EQ(item.label, row.label);
        EXPECT_EQ(item.command, row.command);
        EXPECT_EQ(item.helpShort, row.tip);
        EXPECT_EQ(item.helpLong, row.status);
        EXPECT_EQ(item.removable, row.command != 'abou') << row.id;
        EXPECT_TRUE(bar.ItemHasIcon(row.id)) << row.id;
        bar.ClickItem(row.id);
        commands.push_back(row.command);
    }
    EXPECT_EQ(recorder.seen, commands); // clicks go the window's command path
    mOwner->RemoveHandlers(&recorder);
}

TEST_F(ToolBar, EnablingEachItemAndAboutAlwaysOn) {
    BrowseToolBar bar;
    // Before the items exist nothing happens and nothing fails.
    bar.EnableDownload(false);
    bar.EnableRefresh(false);
    EXPECT_FALSE(bar.HasItem(kDownloadItemID));
    bar.Attach(mOwner);
    for (const std::string& id : kCommandItems)
        EXPECT_TRUE(bar.IsItemEnabled(id)) << id;

    const std::vector<std::function<void(bool)>> enable = {
        [&](bool on) { bar.EnableDownload(on); },  [&](bool on) { bar.EnableUpload(on); },
        [&](bool on) { bar.EnableDelete(on); },    [&](bool on) { bar.EnablePerms(on); },
        [&](bool on) { bar.EnableRefresh(on); },   [&](bool on) { bar.EnableCreateFolder(on); },
        [&](bool on) { bar.EnableGotoFolder(on); }};
    for (size_t i = 0; i < kCommandItems.size(); ++i) {
        enable[i](false);
        for (size_t j = 0; j < kCommandItems.size(); ++j)
            EXPECT_EQ(bar.IsItemEnabled(kCommandItems[j]), j > i) << kCommandItems[j];
        EXPECT_TRUE(bar.IsItemEnabled(kAboutItemID));
    }
    Recorder recorder;
    mOwner->AddCommandHandler(&recorder);
    bar.ClickItem(kDeleteItemID); // disabled: no command
    bar.EnableDelete(true);
    bar.ClickItem(kDeleteItemID);
    EXPECT_EQ(recorder.seen, std::vector<uint32_t>{'mDEL'});
    mOwner->RemoveHandlers(&recorder);
}

TEST_F(ToolBar, MissingIconFilesGiveItemsWithoutIcons) {
    IconlessToolBar bar;
    bar.Attach(mOwner);
    for (const std::string& id : kCommandItems) {
        EXPECT_TRUE(bar.HasItem(id)) << id;
        EXPECT_FALSE(bar.ItemHasIcon(id)) << id;
    }
    EXPECT_TRUE(bar.HasItem(kAboutItemID));

    OpenToolBar open;
    PPx::ToolbarItem item;
    open.LoadIcon("download.png", item);
    EXPECT_EQ(item.iconName, "go-down");
    EXPECT_NE(item.iconFile.find("/download.png"), std::string::npos);
    for (const char* name : {"nothing.png", "../Resources/download.png", ""}) {
        open.LoadIcon(name, item);
        EXPECT_TRUE(item.iconFile.empty()) << name;
        EXPECT_TRUE(item.iconName.empty()) << name;
    }
}

} // namespace
