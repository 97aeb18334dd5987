#include "browser/sheets/BrowseToolBar.h"

#include "platform/ui/Nib.h"

#include <sys/stat.h>

const char* const kBrowseToolbarID = "com.qivo.toolbar.ftp.browse";
const char* const kDownloadItemID = "com.qivo.toolbar.ftp.browse.download";
const char* const kUploadItemID = "com.qivo.toolbar.ftp.browse.upload";
const char* const kCreateFolderItemID = "com.qivo.toolbar.ftp.browse.createfolder";
const char* const kGotoFolderItemID = "com.qivo.toolbar.ftp.browse.gotofolder";
const char* const kDeleteItemID = "com.qivo.toolbar.ftp.browse.delete";
const char* const kPermsItemID = "com.qivo.toolbar.ftp.browse.perms";
const char* const kRefreshItemID = "com.qivo.toolbar.ftp.browse.refresh";
const char* const kAboutItemID = "com.qivo.toolbar.ftp.browse.about";

const char* const kDownloadIconID = "download.png";
const char* const kUploadIconID = "upload.png";
const char* const kCreateFolderIconID = "createfolder.png";
const char* const kGotoFolderIconID = "gotofolder.png";
const char* const kDeleteIconID = "delete.png";
const char* const kPermsIconID = "perms.png";
const char* const kRefreshIconID = "refresh.png";
const char* const kAboutIconID = "about.png";

BaseToolBar::BaseToolBar(const std::string& identifier, uint32_t attributes)
    : PPx::Toolbar(identifier), mAttributes(attributes) {}

namespace {

struct ItemRow {
    const char* const* identifier;
    const char* const* icon;
    const char* themeIcon;
    const char* label;
    uint32_t command;
    const char* helpShort;
    const char* helpLong;
};

// In the order identifiers are matched.
const ItemRow kItems[] = {
    {&kDownloadItemID, &kDownloadIconID, "go-down", "Download", 'mDNL', "Download item",
     "Click to initiate a download."},
    {&kUploadItemID, &kUploadIconID, "go-up", "Upload", 'mUPL', "Upload item",
     "Click to initiate an upload."},
    {&kCreateFolderItemID, &kCreateFolderIconID, "folder-new", "Create Folder", 'mCRF',
     "Create Folder", "Click to create a new folder on the remote system."},
    {&kGotoFolderItemID, &kGotoFolderIconID, "go-jump", "Go To Folder", 'mGTF', "Go To Folder",
     "Click to change the current directory."},
    {&kDeleteItemID, &kDeleteIconID, "edit-delete", "Delete", 'mDEL', "Delete",
     "Click to remove items from the remote system."},
    {&kPermsItemID, &kPermsIconID, "document-properties", "Permissions", 'mPRM', "Set Permissions",
     "Click to change the permissions on an item in the remote system."},
    {&kRefreshItemID, &kRefreshIconID, "view-refresh", "Refresh", 'mRFS', "Refresh",
     "Click to reload the remote system item list."},
    {&kAboutItemID, &kAboutIconID, "help-about", "About", 'abou', "Display about box",
     "Show the program credits, version number, etc."},
};

const ItemRow* FindByIcon(const std::string& fileName) {
    for (const ItemRow& row : kItems)
        if (fileName == *row.icon)
            return &row;
    return nullptr;
}

} // namespace

BrowseToolBar::BrowseToolBar() : BaseToolBar(kBrowseToolbarID, 0) {
    SetDisplaySize(kDisplaySizeDefault);
}

void BrowseToolBar::GetDefaultIdentifiers(std::vector<std::string>& out) {
    out = {kDownloadItemID,          kUploadItemID,  kDeleteItemID,       kPermsItemID,
           kSeparatorIdentifier,     kRefreshItemID, kCreateFolderItemID, kGotoFolderItemID,
           kFlexibleSpaceIdentifier, kAboutItemID};
}

void BrowseToolBar::GetAllowedIdentifiers(std::vector<std::string>& out) {
    out = {kDownloadItemID,          kUploadItemID,       kDeleteItemID,     kPermsItemID,
           kRefreshItemID,           kCreateFolderItemID, kGotoFolderItemID, kSeparatorIdentifier,
           kFlexibleSpaceIdentifier, kAboutItemID};
}

bool BrowseToolBar::CreateItem(const std::string& identifier, PPx::ToolbarItem& item) {
    for (const ItemRow& row : kItems) {
        if (identifier != *row.identifier)
            continue;
        item.identifier = identifier;
        LoadIcon(*row.icon, item);
        item.label = row.label;
        item.command = row.command;
        item.helpShort = row.helpShort;
        item.helpLong = row.helpLong;
        item.removable = row.command != 'abou';
        return true;
    }
    return false;
}

void BrowseToolBar::LoadIcon(const std::string& fileName, PPx::ToolbarItem& item) {
    item.iconName.clear();
    item.iconFile.clear();
    if (const ItemRow* row = FindByIcon(fileName))
        item.iconName = row->themeIcon;
    if (fileName.empty() || fileName.find('/') != std::string::npos)
        return;
    std::string path = PPx::SysNib::ResourcesFolder() + "/" + fileName;
    struct stat info;
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        item.iconFile = path;
}

void BrowseToolBar::EnableDownload(bool enable) {
    SetItemEnabled(kDownloadItemID, enable);
}
void BrowseToolBar::EnableUpload(bool enable) {
    SetItemEnabled(kUploadItemID, enable);
}
void BrowseToolBar::EnableCreateFolder(bool enable) {
    SetItemEnabled(kCreateFolderItemID, enable);
}
void BrowseToolBar::EnableGotoFolder(bool enable) {
    SetItemEnabled(kGotoFolderItemID, enable);
}
void BrowseToolBar::EnableDelete(bool enable) {
    SetItemEnabled(kDeleteItemID, enable);
}
void BrowseToolBar::EnablePerms(bool enable) {
    SetItemEnabled(kPermsItemID, enable);
}
void BrowseToolBar::EnableRefresh(bool enable) {
    SetItemEnabled(kRefreshItemID, enable);
}
