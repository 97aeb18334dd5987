// The browser window's Delete: the chosen items, and everything inside the
// chosen folders, after the user confirmed.
#include "browser/core/Listing.h"
#include "browser/sheets/OperationSheets.h"
#include "browser/window/BrowseText.h"
#include "browser/window/BrowseWindow.h"

void BrowseWindow::OnDelete() {
    DeleteItems(SelectedFiles());
}

void BrowseWindow::DeleteItems(const std::vector<sFileInfo>& items) {
    mDeleteInfo = sDeleteInfo();
    for (sFileInfo copy : items) {
        if (!CheckListedName(copy.name)) {
            mDeleteInfo = sDeleteInfo();
            return;
        }
        // A link goes as itself, never as the folder it leads to.
        if (copy.isLink)
            copy.isFolder = false;
        mDeleteInfo.files.push_back(copy);
    }
    BuildFileListForDelete();
}

void BrowseWindow::BuildFileListForDelete() {
    while (mDeleteInfo.index < mDeleteInfo.files.size()) {
        const sFileInfo& entry = mDeleteInfo.files[mDeleteInfo.index++];
        if (entry.isFolder && !entry.isLink) {
            const std::string path = entry.name;
            DisableControls();
            Send([&path](Connection& c) { c.CreateFileList(path, kFileListDelete); });
            return;
        }
    }
    if (mDeleteInfo.files.empty())
        return;
    const int count = static_cast<int>(mDeleteInfo.files.size());
    DeleteConfirmSheet* confirm = DeleteConfirmSheet::Make(count);
    uint32_t answer = 'not!';
    if (confirm) {
        answer = confirm->DoModal(this);
        confirm->Close();
    }
    if (answer != 'ok  ') {
        mDeleteInfo = sDeleteInfo();
        EnableControls();
        return;
    }
    DisableControls();
    mDeleteSheet = DeleteSheet::Make(count);
    if (mDeleteSheet)
        mDeleteSheet->Show(this);
    Send([this](Connection& c) { c.Delete(mDeleteInfo); });
}

void BrowseWindow::CreateFileListComplete(const std::string& path, const std::string& listing,
                                          int mode) {
    PPx::Window::Busy busy(this);
    RequestEnded();
    if (mode != kFileListDelete) {
        TransferListComplete(path, listing, mode);
        return;
    }
    std::vector<sFileInfo> entries;
    int32_t serverType = mServerType;
    BuildFileList(listing, entries, serverType);
    const std::string prefix = path + "/";
    for (sFileInfo& entry : entries) {
        std::string name = entry.name;
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
            name.erase(0, prefix.size());
        if (name == "." || name == "..")
            continue;
        if (!IsSingleComponent(name)) {
            // Deleting around it would leave a half-deleted tree behind.
            mDeleteInfo = sDeleteInfo();
            CheckListedName(name);
            EnableControls();
            return;
        }
        entry.name = prefix + name;
        if (entry.isLink)
            entry.isFolder = false;
        mDeleteInfo.files.push_back(entry);
    }
    BuildFileListForDelete();
}

void BrowseWindow::DeleteComplete() {
    RequestEnded();
    CloseDeleteSheet();
    mDeleteInfo = sDeleteInfo();
    Send([](Connection& c) { c.GetDirList(); });
}
