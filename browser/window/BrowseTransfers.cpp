// The browser window's transfers: viewing a remote file, downloads and
// uploads of files and folder trees.
#include "app/BasicApp.h"
#include "app/FileSelect.h"
#include "app/ModalSheetAlert.h"
#include "app/Preferences.h"
#include "app/SoundTools.h"
#include "browser/core/Listing.h"
#include "browser/sheets/OperationSheets.h"
#include "browser/sheets/TransferSheet.h"
#include "browser/viewer/ItemViewer.h"
#include "browser/viewer/ViewFolder.h"
#include "browser/window/BrowseText.h"
#include "browser/window/BrowseWindow.h"
#include "engine/LocalFiles.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const uint32_t kNoteFlags = 0x10; // note icon, OK

// The names of a listing of folder PATH, relative to the current folder:
// entries other than links (unless KEEPLINKS), their names made path + "/" +
// name. A name that is not one plain name goes to LEFTOUT instead.
std::vector<sFileInfo> ListedEntries(const std::string& path, const std::string& listing,
                                     int32_t serverType, std::vector<std::string>& leftOut,
                                     bool keepLinks = false) {
    std::vector<sFileInfo> entries;
    BuildFileList(listing, entries, serverType);
    const std::string prefix = path + "/";
    std::vector<sFileInfo> kept;
    for (sFileInfo& entry : entries) {
        if (entry.isLink && !keepLinks)
            continue;
        std::string name = entry.name;
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0)
            name.erase(0, prefix.size());
        if (name == "." || name == "..")
            continue;
        if (!IsPlainName(name)) {
            leftOut.push_back(prefix + name);
            continue;
        }
        entry.name = prefix + name;
        kept.push_back(entry);
    }
    return kept;
}

// What stands at PATH, without following a link.
enum class Local { kNothing, kFile, kFolder, kOther };
Local LocalKind(const std::string& path, uint64_t* size = nullptr) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return Local::kNothing;
    if (S_ISDIR(st.st_mode))
        return Local::kFolder;
    if (S_ISREG(st.st_mode)) {
        if (size)
            *size = static_cast<uint64_t>(st.st_size);
        return Local::kFile;
    }
    return Local::kOther;
}

std::string FolderPart(const std::string& name) {
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash);
}

// "a", "b" and "c" (at most ten names, then how many more).
std::string NameList(const std::vector<std::string>& names) {
    const size_t shown = std::min<size_t>(names.size(), 10);
    std::string text;
    for (size_t i = 0; i < shown; ++i) {
        if (i > 0)
            text += i + 1 == shown && shown == names.size() ? " and " : ", ";
        text += "\"" + DisplayableText(names[i]) + "\"";
    }
    if (shown < names.size())
        text += " and " + std::to_string(names.size() - shown) + " more";
    return text;
}

} // namespace

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
    CloseTransferSheet();
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

// ---------------------------------------------------------------------------
// Choosers

bool BrowseWindow::TransferModeIsASCII() const {
    return !mBookmark.secure && mModePopup && mModePopup->GetValue() == 2;
}

namespace {

// What the chooser ended with; nothing when it was cancelled.
std::vector<std::string> ChosenPaths(FileSelect* chooser) {
    std::vector<std::string> chosen;
    if (chooser->IsValid())
        chooser->GetFileList(chosen);
    return chosen;
}

} // namespace

void BrowseWindow::OnDownload() {
    if (mOutstanding || mClosing || !mConnection)
        return;
    mChooser = std::make_unique<FileSelect>();
    mChooser->ChooseFolder(
        this,
        [](FileSelect* chooser, void* data) {
            const std::vector<std::string> chosen = ChosenPaths(chooser);
            if (!chosen.empty())
                static_cast<BrowseWindow*>(data)->DoDownload(chosen.front());
        },
        this);
}

void BrowseWindow::OnUpload() {
    if (mOutstanding || mClosing || !mConnection)
        return;
    mChooser = std::make_unique<FileSelect>();
    mChooser->ChooseObject(
        this,
        [](FileSelect* chooser, void* data) {
            const std::vector<std::string> chosen = ChosenPaths(chooser);
            if (!chosen.empty())
                static_cast<BrowseWindow*>(data)->DoUpload(chosen);
        },
        this);
}

void BrowseWindow::TellLeftOut() {
    const size_t count = mLeftOut.size() + mLeftOutLinks.size();
    if (count == 0)
        return;
    const std::string message =
        count == 1 ? "The item " + NameList(mLeftOut.empty() ? mLeftOutLinks : mLeftOut) +
                         " was left out of the transfer."
                   : std::to_string(count) + " items were left out of the transfer.";
    std::string explanation;
    if (!mLeftOutLinks.empty())
        explanation = "Symbolic links are not uploaded: " + NameList(mLeftOutLinks) + ".";
    if (!mLeftOut.empty())
        explanation += std::string(explanation.empty() ? "" : "\n") +
                       "Left out, as the name is not a single item's name here or a link or "
                       "other item stands where it would go: " +
                       NameList(mLeftOut) + ".";
    mLeftOut.clear();
    mLeftOutLinks.clear();
    ModalSheetAlert alert;
    uint32_t answer = 'not!';
    alert.DoModal(this, message, answer, kNoteFlags, explanation);
}

// ---------------------------------------------------------------------------
// Downloads

void BrowseWindow::DoDownload(const std::string& destination) {
    DownloadItems(destination, SelectedFiles());
}

void BrowseWindow::DownloadItems(const std::string& destination,
                                 const std::vector<sFileInfo>& items) {
    if (mOutstanding || mClosing || !mConnection || mViewing)
        return;
    mDownloadInfo = sDownloadInfo();
    mDownloadInfo.destination = destination;
    mDownloadInfo.ascii = TransferModeIsASCII();
    mLeftOut.clear();
    for (const sFileInfo& item : items) {
        if (item.isLink)
            continue; // never downloaded, neither chosen nor found in folders
        if (!IsPlainName(item.name)) {
            mLeftOut.push_back(item.name);
            continue;
        }
        mDownloadInfo.files.push_back(item);
    }
    if (mDownloadInfo.files.empty()) {
        TellLeftOut();
        return;
    }
    BuildFileListForDownload();
}

void BrowseWindow::BuildFileListForDownload() {
    while (mDownloadInfo.index < mDownloadInfo.files.size()) {
        const sFileInfo& item = mDownloadInfo.files[mDownloadInfo.index++];
        if (item.isFolder && !item.isLink) {
            const std::string path = item.name;
            DisableControls();
            mOutstanding = true;
            mConnection->CreateFileList(path, kFileListDownload);
            return;
        }
    }
    CheckDownloadList();
}

void BrowseWindow::TransferListComplete(const std::string& path, const std::string& listing,
                                        int mode) {
    if (mode == kFileListDownload) {
        // Appended: the list grows breadth first, each folder before its contents.
        std::vector<sFileInfo> entries = ListedEntries(path, listing, mServerType, mLeftOut);
        mDownloadInfo.files.insert(mDownloadInfo.files.end(), entries.begin(), entries.end());
        BuildFileListForDownload();
    } else if (mode == kFileListUploadCheck) {
        std::vector<std::string> ignored;
        mUploadCheckPath = path;
        // Links too: an upload onto one would write through it.
        mUploadCheckList = ListedEntries(path, listing, mServerType, ignored, true);
        CheckUploadList();
    } else {
        EnableControls();
    }
}

int BrowseWindow::DecideCollision(const std::string& name, bool canResume, bool& skipAll,
                                  bool& resumeAll, bool& replaceAll) {
    if (skipAll)
        return CollisionSheet::kSkip;
    if (replaceAll)
        return CollisionSheet::kReplace;
    if (resumeAll && canResume)
        return CollisionSheet::kResume;
    CollisionSheet* sheet = CollisionSheet::Make(name, canResume);
    if (!sheet)
        return CollisionSheet::kSkip; // cannot ask: leave the file as it is
    int answer = CollisionSheet::kSkip;
    if (sheet->DoModal(this) == 'ok  ')
        answer = sheet->GetData();
    sheet->Close();
    switch (answer) {
    case CollisionSheet::kReplaceAll:
        replaceAll = true;
        return CollisionSheet::kReplace;
    case CollisionSheet::kResumeAll:
        resumeAll = true;
        return canResume ? CollisionSheet::kResume : CollisionSheet::kSkip;
    case CollisionSheet::kSkipAll:
        skipAll = true;
        return CollisionSheet::kSkip;
    case CollisionSheet::kReplace:
        return answer;
    case CollisionSheet::kResume:
        return canResume ? answer : CollisionSheet::kSkip;
    default:
        return CollisionSheet::kSkip;
    }
}

void BrowseWindow::CheckDownloadList() {
    sPreferences prefs;
    BasicApp::CopyPreferences(prefs);
    bool skipAll = prefs.downloadMode == kExistingSkip;
    bool resumeAll = prefs.downloadMode == kExistingResume;
    bool replaceAll = prefs.downloadMode == kExistingReplace;
    const bool resumable = mResumeSupported && !mDownloadInfo.ascii;

    std::string destination = mDownloadInfo.destination;
    if (destination.empty() || destination.size() > 1024 || destination.front() != '/') {
        SetError("Could not parse the download list");
        mDownloadInfo = sDownloadInfo();
        return;
    }
    if (destination.back() == '/' && destination.size() > 1)
        destination.pop_back();

    // Unsafe names are told before anything is made on disk.
    TellLeftOut();

    std::vector<sFileInfo> kept;
    mDownloadTargets.clear();
    std::vector<std::string> refusedFolders; // and everything below them
    auto below = [](const std::string& name, const std::string& folder) {
        return name.size() > folder.size() && name.compare(0, folder.size(), folder) == 0 &&
               name[folder.size()] == '/';
    };
    for (sFileInfo item : mDownloadInfo.files) {
        if (std::any_of(refusedFolders.begin(), refusedFolders.end(),
                        [&](const std::string& f) { return below(item.name, f); }))
            continue;
        std::string local;
        if (!LocalPathBelow(destination, item.name, local)) {
            mLeftOut.push_back(item.name);
            continue;
        }
        item.resumeOffset.clear();
        uint64_t localSize = 0;
        const Local there = LocalKind(local, &localSize);
        if (item.isFolder) {
            // A real folder, never a link: nothing may reach outside.
            if (there == Local::kNothing)
                ::mkdir(local.c_str(), 0777);
            if (LocalKind(local) != Local::kFolder) {
                refusedFolders.push_back(item.name);
                mLeftOut.push_back(item.name);
                continue;
            }
            kept.push_back(item);
            continue;
        }
        if (there == Local::kNothing) {
            kept.push_back(item);
            mDownloadTargets.push_back({item.name, local, item.size});
            continue;
        }
        if (there != Local::kFile) {
            mLeftOut.push_back(item.name); // a link, a folder or a device there
            continue;
        }
        if (resumeAll && resumable && localSize == item.size)
            continue; // already complete
        // A longer local file is no part of this one: asked about, never resumed.
        const bool canResume = resumable && localSize < item.size;
        const int answer = DecideCollision(item.name, canResume, skipAll, resumeAll, replaceAll);
        if (answer == CollisionSheet::kSkip)
            continue;
        if (answer == CollisionSheet::kResume) {
            if (localSize >= item.size)
                continue; // complete
            item.resumeOffset = std::to_string(localSize);
            mDownloadTargets.push_back({item.name, local, item.size});
        }
        kept.push_back(item);
    }
    TellLeftOut();
    mDownloadInfo.files = kept;

    const bool anyFile =
        std::any_of(kept.begin(), kept.end(), [](const sFileInfo& item) { return !item.isFolder; });
    if (!anyFile) {
        mDownloadInfo = sDownloadInfo();
        EnableControls();
        return;
    }
    OpenTransferSheet(mDownloadInfo.files);
    DisableControls();
    mOutstanding = true;
    mConnection->Download(mDownloadInfo);
}

// ---------------------------------------------------------------------------
// Uploads

void BrowseWindow::DoUpload(const std::vector<std::string>& paths) {
    if (mOutstanding || mClosing || !mConnection || mViewing)
        return;
    mUploadInfo = sUploadInfo();
    mUploadInfo.ascii = TransferModeIsASCII();
    mLeftOut.clear();
    mLeftOutLinks.clear();
    for (std::string path : paths) {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        const size_t slash = path.rfind('/');
        if (slash == std::string::npos || slash + 1 >= path.size())
            continue;
        const std::string base = slash == 0 ? "/" : path.substr(0, slash);
        UploadAppendItem(base, path.substr(slash + 1));
    }
    sPreferences prefs;
    BasicApp::CopyPreferences(prefs);
    mUploadCheckList.clear();
    mUploadCheckPath.clear();
    mUploadSkipAll = prefs.uploadMode == kExistingSkip;
    mUploadResumeAll = prefs.uploadMode == kExistingResume;
    mUploadReplaceAll = prefs.uploadMode == kExistingReplace;
    mUploadInfo.skipped.clear();
    mUploadInfo.index = 0;
    CheckUploadList();
}

// NAME (relative to BASE) into the upload list, a folder with its contents.
// Symbolic links are left out, chosen or found: what they lead to may lie
// anywhere outside the chosen tree.
void BrowseWindow::UploadAppendItem(const std::string& base, const std::string& name) {
    const std::string leaf = name.substr(name.rfind('/') + 1);
    const size_t bad = leaf.find_first_of("\\/:");
    const bool folderOnDisk = [&] {
        struct stat st;
        return ::stat((base + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }();
    if (bad != std::string::npos) {
        ModalSheetAlert alert;
        uint32_t answer = 'not!';
        alert.DoModal(this,
                      std::string(folderOnDisk ? "The folder '" : "The file '") +
                          DisplayableText(leaf) + "' will be ignored because it contains a '" +
                          leaf[bad] + "' on the name.",
                      answer, kNoteFlags);
        return;
    }
    if (!IsPlainName(leaf)) {
        mLeftOut.push_back(leaf);
        return;
    }
    const std::string path = base + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return;
    if (S_ISLNK(st.st_mode)) {
        mLeftOutLinks.push_back(name);
        return;
    }
    if (!S_ISDIR(st.st_mode) && !S_ISREG(st.st_mode))
        return;
    sFileInfo item;
    item.name = name;
    item.owner = base;
    item.isFolder = S_ISDIR(st.st_mode);
    item.size = item.isFolder ? 0 : static_cast<uint64_t>(st.st_size);
    mUploadInfo.files.push_back(item);
    if (item.isFolder)
        UploadAppendFolder(base, name);
}

void BrowseWindow::UploadAppendFolder(const std::string& base, const std::string& remote) {
    DIR* dir = ::opendir((base + "/" + remote).c_str());
    if (!dir)
        return;
    std::vector<std::string> names;
    while (struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!name.empty() && name[0] != '.')
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        UploadAppendItem(base, remote + "/" + name);
}

void BrowseWindow::CheckUploadList() {
    const bool resumable = mResumeSupported && !mUploadInfo.ascii;
    while (mUploadInfo.index < mUploadInfo.files.size()) {
        const int32_t index = static_cast<int32_t>(mUploadInfo.index++);
        sFileInfo& item = mUploadInfo.files[static_cast<size_t>(index)];
        if (item.isFolder)
            continue;
        const std::string folder = FolderPart(item.name);
        if (!folder.empty() && folder != mUploadCheckPath) {
            --mUploadInfo.index;
            DisableControls();
            mOutstanding = true;
            mConnection->CreateFileList(folder, kFileListUploadCheck);
            return;
        }
        const std::vector<sFileInfo>& listed = folder.empty() ? mItems : mUploadCheckList;
        // A link at the name is a collision too: writing would go through it.
        auto found = std::find_if(listed.begin(), listed.end(),
                                  [&](const sFileInfo& entry) { return entry.name == item.name; });
        if (found == listed.end())
            continue;
        if (found->isFolder) {
            mUploadInfo.skipped.push_back(index); // a folder stands in its place
            mLeftOut.push_back(item.name);
            continue;
        }
        const uint64_t remoteSize = found->size;
        if (mUploadResumeAll && resumable && remoteSize == item.size) {
            mUploadInfo.skipped.push_back(index); // already complete
            continue;
        }
        // A longer remote file is no part of this one, nor is a link's size
        // the size of a file: asked about, never resumed.
        const bool canResume = resumable && !found->isLink && remoteSize < item.size;
        const int answer = DecideCollision(item.name, canResume, mUploadSkipAll, mUploadResumeAll,
                                           mUploadReplaceAll);
        item.resumeOffset.clear();
        if (answer == CollisionSheet::kSkip) {
            mUploadInfo.skipped.push_back(index);
        } else if (answer == CollisionSheet::kResume) {
            if (remoteSize >= item.size)
                mUploadInfo.skipped.push_back(index);
            else
                item.resumeOffset = std::to_string(remoteSize);
        }
    }
    mUploadCheckList.clear();
    mUploadCheckPath.clear();
    std::sort(mUploadInfo.skipped.rbegin(), mUploadInfo.skipped.rend());
    for (int32_t index : mUploadInfo.skipped)
        mUploadInfo.files.erase(mUploadInfo.files.begin() + index);
    mUploadInfo.skipped.clear();
    TellLeftOut();
    if (mUploadInfo.files.empty()) {
        EnableControls();
        return;
    }
    OpenTransferSheet(mUploadInfo.files);
    DisableControls();
    mOutstanding = true;
    mConnection->Upload(mUploadInfo);
}

// ---------------------------------------------------------------------------
// Progress and completion

void BrowseWindow::OpenTransferSheet(const std::vector<sFileInfo>& files) {
    mTransferAborted = mTransferFailed = mEndPending = false;
    if (mTransferSheet)
        return;
    int count = 0;
    unsigned long long total = 0;
    for (const sFileInfo& item : files)
        if (!item.isFolder) {
            ++count;
            total += item.size;
        }
    mTransferSheet = TransferSheet::Make(count, total);
    if (mTransferSheet)
        mTransferSheet->Show(this);
}

void BrowseWindow::CloseTransferSheet() {
    mEndPending = false;
    if (!mTransferSheet)
        return;
    mTransferSheet->Hide();
    mTransferSheet->Close();
    mTransferSheet = nullptr;
}

// A file's end is counted only once the worker has gone on to the next file
// or finished: a file that failed is reported ended before its failure.
void BrowseWindow::StartTransfer(const sFileProgress& progress) {
    if (!mTransferSheet)
        return;
    if (mEndPending)
        mTransferSheet->EndTransfer(mPendingEnd);
    mEndPending = false;
    mTransferSheet->StartTransfer(progress);
}

void BrowseWindow::UpdateTransfer(const sFileProgress& progress) {
    if (mTransferSheet)
        mTransferSheet->UpdateTransfer(progress);
}

void BrowseWindow::EndTransfer(const sFileProgress& progress) {
    mPendingEnd = progress;
    mEndPending = true;
}

void BrowseWindow::AbortTransfer() {
    mTransferAborted = true;
    if (mConnection)
        mConnection->AbortTransfer();
}

std::string BrowseWindow::IncompleteDownloads() {
    std::vector<std::string> lines;
    for (const DownloadTarget& target : mDownloadTargets) {
        uint64_t held = 0;
        if (LocalKind(target.path, &held) == Local::kFile && held < target.size)
            lines.push_back("\"" + DisplayableText(target.name) + "\": " + std::to_string(held) +
                            " of " + std::to_string(target.size) + " bytes");
    }
    mDownloadTargets.clear();
    if (lines.empty())
        return std::string();
    std::string text = lines.size() == 1 ? "Left incomplete: " : "Left incomplete:";
    const size_t shown = std::min<size_t>(lines.size(), 10);
    for (size_t i = 0; i < shown; ++i)
        text += (lines.size() == 1 ? "" : "\n") + lines[i];
    if (shown < lines.size())
        text += "\nand " + std::to_string(lines.size() - shown) + " more";
    const std::string it = lines.size() == 1 ? "it" : "them";
    sPreferences prefs;
    BasicApp::CopyPreferences(prefs);
    if (!mResumeSupported || mDownloadInfo.ascii)
        text += "\nDownloading " + it + " again starts over.";
    else if (prefs.downloadMode == kExistingResume)
        text += "\nDownloading " + it + " again resumes " + it + ".";
    else if (prefs.downloadMode == kExistingAsk)
        text += "\nDownloading " + it + " again offers Resume, which completes " + it + ".";
    else
        text += "\nDownloading " + it +
                " again with the preference for existing files set to Ask or Resume completes " +
                it + ".";
    return text;
}

void BrowseWindow::FinishTransfer(bool upload) {
    // Only a batch that went through whole is called complete.
    const bool complete = !mTransferAborted && !mTransferFailed;
    if (mTransferSheet) {
        if (complete && mEndPending)
            mTransferSheet->EndTransfer(mPendingEnd);
        mEndPending = false;
        sPreferences prefs;
        BasicApp::CopyPreferences(prefs);
        if (complete && prefs.misc[kMiscKeepTransferSheet])
            mTransferSheet->Wait();
        CloseTransferSheet();
    }
    sPreferences prefs;
    BasicApp::CopyPreferences(prefs);
    const bool play = upload ? prefs.playUploadSound : prefs.playDownloadSound;
    const std::string& sound = upload ? prefs.uploadSound : prefs.downloadSound;
    if (complete && play && !sound.empty()) {
        if (!mSound)
            mSound = std::make_unique<SoundTools>();
        mSound->PlaySound(sound, -1);
    }
    if (mTransferAborted)
        SetStatus("Transfer cancelled");
    // What arrived of a cut file stays for a resume; the user hears of it.
    const std::string incomplete = upload || complete ? std::string() : IncompleteDownloads();
    if (!incomplete.empty()) {
        ModalSheetAlert alert;
        uint32_t answer = 'not!';
        alert.DoModal(this,
                      mTransferAborted ? "The download was cancelled."
                                       : "Some files of the download failed.",
                      answer, kNoteFlags, incomplete);
    }
    mDownloadTargets.clear();
    mTransferAborted = mTransferFailed = false;
    if (upload) {
        mUploadInfo = sUploadInfo();
        DisableControls();
        mOutstanding = true;
        mConnection->GetDirList();
        return;
    }
    mDownloadInfo = sDownloadInfo();
    EnableControls();
}
