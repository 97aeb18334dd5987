// The browser window's transfers: viewing a remote file, downloads and
// uploads of files and folder trees.
#include "BrowseWindow.h"

#include "BrowseText.h"
#include "ItemViewer.h"
#include "ViewFolder.h"

// ---------------------------------------------------------------------------
// Viewing

void BrowseWindow::OnView() {
    const std::vector<uint32_t> selected = SelectedItems();
    if (selected.empty() || mOutstanding || mClosing || !mConnection)
        return;
    sFileInfo item = *ItemForID(selected.front());
    if (!CheckListedName(item.name))
        return;
    mViewFolder = ViewFolder::Make();
    if (!mViewFolder)
        return;
    mViewing = true;
    // A link goes down as the file it leads to.
    item.isFolder = false;
    item.isLink = false;
    item.resumeOffset.clear();
    mDownloadInfo = sDownloadInfo();
    mDownloadInfo.destination = mViewFolder->Path();
    mDownloadInfo.files.push_back(item);
    mDownloadInfo.index = 1;
    mDownloadInfo.ascii = false;
    SetStatus("Downloading...");
    DisableControls();
    mOutstanding = true;
    mConnection->Download(mDownloadInfo);
}

void BrowseWindow::ViewComplete() {
    const std::string name = mDownloadInfo.files.empty() ? "" : mDownloadInfo.files.front().name;
    if (mViewFolder && !name.empty())
        ItemViewer().Display(this, mViewFolder->Path(), name);
    EndViewing();
    mDownloadInfo = sDownloadInfo();
    EnableControls();
}

void BrowseWindow::EndViewing() {
    mViewing = false;
    mViewFolder.reset();
}
