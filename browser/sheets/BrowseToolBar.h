#pragma once
// The browser window's toolbar: Download, Upload, Delete, Permissions |
// Refresh, Create Folder, Go To Folder ... About. Clicks send the items'
// commands through the window's command path, like the menu items.
#include "platform/ui/Toolbar.h"

#include <cstdint>
#include <string>
#include <vector>

// A toolbar with its own identifier; what it holds comes from the derived
// class.
class BaseToolBar : public PPx::Toolbar {
public:
    // ATTRIBUTES: 0, not configurable by the user (the only kind here).
    explicit BaseToolBar(const std::string& identifier, uint32_t attributes = 0);
    virtual const char* ClassName() const { return "BaseToolBar"; }
    uint32_t GetAttributes() const { return mAttributes; }

private:
    uint32_t mAttributes;
};

extern const char* const kBrowseToolbarID;
extern const char* const kDownloadItemID;
extern const char* const kUploadItemID;
extern const char* const kCreateFolderItemID;
extern const char* const kGotoFolderItemID;
extern const char* const kDeleteItemID;
extern const char* const kPermsItemID;
extern const char* const kRefreshItemID;
extern const char* const kAboutItemID;
// Our own icon files in the Resources folder.
extern const char* const kDownloadIconID;
extern const char* const kUploadIconID;
extern const char* const kCreateFolderIconID;
extern const char* const kGotoFolderIconID;
extern const char* const kDeleteIconID;
extern const char* const kPermsIconID;
extern const char* const kRefreshIconID;
extern const char* const kAboutIconID;

class BrowseToolBar : public BaseToolBar {
public:
    BrowseToolBar();
    const char* ClassName() const override { return "BrowseToolBar"; }

    // Items not made yet are left alone; About is always enabled.
    virtual void EnableDownload(bool enable);
    virtual void EnableUpload(bool enable);
    virtual void EnableCreateFolder(bool enable);
    virtual void EnableGotoFolder(bool enable);
    virtual void EnableDelete(bool enable);
    virtual void EnablePerms(bool enable);
    virtual void EnableRefresh(bool enable);

protected:
    void GetDefaultIdentifiers(std::vector<std::string>& out) override;
    void GetAllowedIdentifiers(std::vector<std::string>& out) override;
    bool CreateItem(const std::string& identifier, PPx::ToolbarItem& item) override;
    // Gives ITEM the icon of FILENAME: our file when it is there, and the
    // theme's icon of that kind. Never fails: without either, no icon.
    virtual void LoadIcon(const std::string& fileName, PPx::ToolbarItem& item);
};
