// The browser window's drags: its items dragged out onto a local folder (a
// download) or the Trash (a delete), and local items dropped on its list (an
// upload).
#include "browser/window/BrowseWindow.h"
#include "platform/core/Folders.h"

void BrowseWindow::ListDragComplete(const std::string& dropFolder) {
    if (dropFolder.empty())
        return;
    PPx::Window::Busy busy(this);
    if (!LocationIsSystemTrash(dropFolder))
        DoDownload(dropFolder); // no chooser: the drop said where
    else if (mCanDelete)
        OnDelete(); // with its confirmation
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
