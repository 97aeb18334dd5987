// The browser window's drags: its items dragged out onto a local folder (a
// download) or the Trash (a delete), and local items dropped on its list (an
// upload).
#include "browser/window/BrowseWindow.h"
#include "platform/core/Folders.h"

bool BrowseWindow::AddDragItem(uint32_t item, bool first) {
    const sFileInfo* info = ItemForID(item);
    if (!mCanDownload || !info)
        return false;
    if (first) {
        mDragItems.clear();
        mDragPath = mCurrentPath;
    }
    mDragItems.push_back(*info);
    return true;
}

void BrowseWindow::ListDragComplete(const std::string& dropFolder) {
    std::vector<sFileInfo> items;
    items.swap(mDragItems);
    if (dropFolder.empty() || items.empty())
        return;
    PPx::Window::Busy busy(this);
    // The names are relative to the folder they were listed in.
    if (mDragPath != mCurrentPath) {
        ShowStopAlert("The dragged items were left alone.",
                      "Another folder was shown before the drop was complete.");
        return;
    }
    if (!LocationIsSystemTrash(dropFolder))
        DownloadItems(dropFolder, items);  // no chooser: the drop said where
    else if (mCanRefresh && !mOutstanding) // the window takes commands
        DeleteItems(items);                // with its confirmation
}

bool BrowseWindow::LocationIsSystemTrash(const std::string& folder) {
    return PPx::IsTrashFolder(folder);
}

void BrowseWindow::ListDropRefused(const std::string& message, const std::string& explanation) {
    ShowStopAlert(message, explanation);
}

void BrowseWindow::ListDragReceived(const std::vector<std::string>& paths) {
    DoUpload(paths);
}
