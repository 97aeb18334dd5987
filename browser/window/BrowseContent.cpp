#include "browser/window/BrowseContent.h"

#include "browser/window/BrowseText.h"
#include "browser/window/BrowseWindow.h"
#include "engine/LocalFiles.h"
#include "platform/core/LocalDates.h"

#include <cstdio>
#include <strings.h>
#include <tuple>

using PPx::DataBrowser::ItemData;
using PPx::DataBrowser::ItemID;
using PPx::DataBrowser::ItemMessage;
using PPx::DataBrowser::PropertyID;

namespace {

// In the user's locale, with the time: two changes on one day differ. A
// listing gives only the date of a file older than about half a year, so
// midnight exactly is shown as the date alone rather than a made-up time.
std::string DateText(const DateTimeRec& date) {
    if (date.hour == 0 && date.minute == 0 && date.second == 0)
        return PPx::FormatLocalDate(date.year, date.month, date.day);
    return PPx::FormatLocalDateTime(date.year, date.month, date.day, date.hour, date.minute,
                                    date.second, false);
}

auto DateKey(const DateTimeRec& d) {
    return std::make_tuple(d.year, d.month, d.day, d.hour, d.minute, d.second);
}

} // namespace

BrowseContent::BrowseContent(BrowseWindow* parent)
    : mParent(parent), mFolderIcon(PPx::Icon::Standard(PPx::Icon::Folder)),
      mDocumentIcon(PPx::Icon::Standard(PPx::Icon::Document)) {}

std::string BrowseContent::GetSizeForFile(uint64_t size) {
    return SizeText(size);
}

PPx::Icon BrowseContent::GetIconForFile(const std::string& name, bool isFolder, bool isLink) const {
    PPx::Icon icon = isFolder ? mFolderIcon : mDocumentIcon;
    // Hidden files (".profile") and names without a dot have no extension.
    const size_t dot = name.rfind('.');
    if (!isFolder && !name.empty() && name[0] != '.' && dot != std::string::npos)
        icon = PPx::Icon::ForExtension(name.substr(dot + 1));
    return isLink ? icon.WithLinkBadge() : icon;
}

void BrowseContent::SupplyItemData(ItemID item, PropertyID property, ItemData& data) {
    const sFileInfo* info = mParent ? mParent->ItemForID(item) : nullptr;
    if (!info)
        return;
    switch (property) {
    case 'name':
        data.SetIcon(GetIconForFile(info->name, info->isFolder, info->isLink));
        data.SetText(DisplayableText(info->name, 4096));
        break;
    case 'size':
        data.SetText(GetSizeForFile(info->size));
        break;
    case 'date':
        data.SetText(DateText(info->modDate));
        break;
    case 'perm':
        data.SetText(DisplayableText(info->permissions));
        break;
    case 'ownr':
        data.SetText(DisplayableText(info->owner));
        break;
    case 'grup':
        data.SetText(DisplayableText(info->group));
        break;
    default:
        break;
    }
}

bool BrowseContent::ItemIsEditable(ItemID item, PropertyID property) {
    return property == 'name' && mParent && mParent->ItemForID(item);
}

void BrowseContent::ChangeItemData(ItemID item, PropertyID property, const ItemData& data) {
    if (property != 'name' || !mParent)
        return;
    const sFileInfo* info = mParent->ItemForID(item);
    if (!info)
        return;
    const std::string& name = data.GetText();
    if (name.empty()) {
        mParent->SetError("The name cannot be empty.");
        return;
    }
    if (name.size() > 4095 || name == "." || name == "..") {
        mParent->SetError("Please specify a valid name.");
        return;
    }
    // The cell shows a visible form of a name it could not show as it is;
    // an unedited cell must not rename the item to that form.
    if (name == info->name || name == DisplayableText(info->name, 4096))
        return;
    mParent->RenameItem(item, name);
}

void BrowseContent::NotifyAboutItem(ItemID item, ItemMessage message) {
    if (!mParent)
        return;
    switch (message) {
    case PPx::DataBrowser::kSelectionSetChanged:
        mParent->ListSelChanged();
        break;
    case PPx::DataBrowser::kItemDoubleClicked:
        mParent->ListDoubleClick(item);
        break;
    case PPx::DataBrowser::kUserStateChanged:
        mParent->ListStateChanged();
        break;
    default:
        break;
    }
}

bool BrowseContent::CompareItems(ItemID a, ItemID b, PropertyID property) {
    const sFileInfo* first = mParent ? mParent->ItemForID(a) : nullptr;
    const sFileInfo* second = mParent ? mParent->ItemForID(b) : nullptr;
    return first && second && ItemLess(*first, *second, property);
}

bool BrowseContent::ItemLess(const sFileInfo& a, const sFileInfo& b, PropertyID property) {
    switch (property) {
    case 'name':
        return ::strcasecmp(a.name.c_str(), b.name.c_str()) < 0;
    case 'size':
        return a.size < b.size;
    case 'date':
        return DateKey(a.modDate) < DateKey(b.modDate);
    default:
        return false;
    }
}

// Dragging items out downloads them into the folder they are dropped on,
// once the drop target has said which (or deletes them, on the Trash). The
// window keeps the items from here to the end of the drag.
bool BrowseContent::AddItemToDrag(ItemID item) {
    if (!mParent || !mParent->AddDragItem(item, !mDragFromList))
        return false;
    mDragFromList = true;
    return true;
}

std::string BrowseContent::DirectSaveName(const std::vector<ItemID>& items) {
    for (ItemID item : items)
        if (const sFileInfo* info = mParent ? mParent->ItemForID(item) : nullptr)
            if (IsPlainName(info->name))
                return info->name;
    return "download";
}

void BrowseContent::PostProcessDragFromBrowser(bool dropped, const std::string& dropFolder) {
    mDragFromList = false;
    if (mParent)
        mParent->ListDragComplete(dropped ? dropFolder : std::string());
}

void BrowseContent::DropRefused(const std::string& message, const std::string& explanation) {
    if (mParent)
        mParent->ListDropRefused(message, explanation);
}

bool BrowseContent::DragIsAcceptable(const std::vector<std::string>& paths) {
    return mParent && mParent->mCanUpload && !paths.empty();
}

bool BrowseContent::ReceiveDraggedItems(const std::vector<std::string>& paths) {
    if (!DragIsAcceptable(paths))
        return false;
    mParent->ListDragReceived(paths);
    return true;
}

void BrowseContent::SupplyContextualMenu(std::vector<PPx::MenuEntry>& entries) {
    if (!mParent)
        return;
    const BrowseWindow& w = *mParent;
    auto add = [&entries](const char* text, uint32_t command, bool enabled) {
        PPx::MenuEntry entry;
        entry.text = text;
        entry.command = command;
        entry.enabled = enabled;
        entries.push_back(entry);
    };
    if (w.mCanOpenFolder)
        add("Open Folder", 'mOPF', true);
    add("View", 'mVIW', w.mCanView);
    add("Download...", 'mDNL', w.mCanDownload);
    add("Rename...", 'mRNM', w.mCanRename);
    add("Delete...", 'mDEL', w.mCanDelete);
    add("Set Permissions...", 'mPRM', w.mCanSetPerms);
    PPx::MenuEntry separator;
    separator.separator = true;
    entries.push_back(separator);
    add("Upload...", 'mUPL', w.mCanUpload);
    add("Create Folder...", 'mCRF', w.mCanCreateFolder);
    add("Go To Folder...", 'mGTF', w.mCanGoToFolder);
    add("Create Synchronize Bookmark...", 'mCSB', w.mCanRefresh);
    add("Create Connection Bookmark...", 'mCCB', w.mCanRefresh);
    add("Refresh", 'mRFS', w.mCanRefresh);
}

void BrowseContent::ProcessContextualMenuSelection(uint32_t command) {
    if (mParent && command)
        mParent->DoCommandProcess(command);
}
