#include "sync/bookmarks/SyncSheet.h"

#include "app/BasicApp.h"
#include "app/FileSelect.h"
#include "sync/bookmarks/SyncWindow.h"

#include <sys/stat.h>
#include <vector>

const char* const kSelectLocalDirMessage = "You must select a local directory.";
const char* const kLocalDirNotFolderMessage =
    "The local directory does not exist or is not a folder. Please select another one.";

SyncSheet::SyncSheet() : SyncSheet(sSyncBookMarkData(), false) {}

SyncSheet::SyncSheet(const sSyncBookMarkData& bookmark, bool editing)
    : BookmarkSheet('RDIR', bookmark, editing) {}

void SyncSheet::BindMore(PPx::SysWindow window) {
    mLocalDir = NibStaticText::CreatePPxView(window, 'LDIR');
    mChoose = NibBevelButton::CreatePPxView(window, 'PDIR');
    mAction = NibRadioGroup::CreatePPxView(window, 'SYNO');
    mDeleteLocal = NibCheckBox::CreatePPxView(window, 'DELL');
    mDeleteRemote = NibCheckBox::CreatePPxView(window, 'DELR');
}

void SyncSheet::FinishMore() {
    mLocalDir->SetMiddleTruncation();
}

PPx::OSStatus SyncSheet::DoCommandProcess(uint32_t command) {
    switch (command) {
    case 'PDIR':
        OnSelPath();
        return PPx::noErr;
    case 'SYNO':
        OnActionChange();
        return PPx::noErr;
    default:
        return BookmarkSheet::DoCommandProcess(command);
    }
}

void SyncSheet::OnActionChange() {
    auto offer = [](NibCheckBox* box, bool offered) {
        if (offered) {
            box->Enable();
        } else {
            box->SetValue(0);
            box->Disable();
        }
    };
    switch (mAction->GetValue()) {
    case 1: // upload only: the remote side is written to
        offer(mDeleteLocal, false);
        offer(mDeleteRemote, true);
        break;
    case 2: // download only
        offer(mDeleteLocal, true);
        offer(mDeleteRemote, false);
        break;
    case 3:
        offer(mDeleteLocal, false);
        offer(mDeleteRemote, false);
        break;
    default:
        break;
    }
}

void SyncSheet::OnSelPath() {
    FileSelect chooser;
    chooser.ChooseFolder(this, nullptr, nullptr);
    std::vector<std::string> chosen;
    chooser.GetFileList(chosen);
    if (chooser.IsValid() && !chosen.empty())
        mLocalDir->SetText(chosen.front());
}

bool SyncSheet::CheckMore() {
    const std::string localDir = mLocalDir->GetText();
    if (localDir.empty()) {
        DisplayError(kSelectLocalDirMessage);
        return false;
    }
    // A run on a folder that is not there would find nothing locally.
    struct stat st {};
    if (::stat(localDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        DisplayError(kLocalDirNotFolderMessage);
        return false;
    }
    return true;
}

void SyncSheet::CollectMore() {
    mBookmark.localDir = mLocalDir->GetText();
    mBookmark.action = mAction->GetValue();
    // An option the direction does not offer is never stored as chosen.
    mBookmark.deleteLocal = mDeleteLocal->IsEnabled() && mDeleteLocal->GetValue() != 0;
    mBookmark.deleteRemote = mDeleteRemote->IsEnabled() && mDeleteRemote->GetValue() != 0;
}

void SyncSheet::PopulateMore() {
    mLocalDir->SetText(mBookmark.localDir);
    mAction->SetValue(mBookmark.action);
    mDeleteLocal->SetValue(mBookmark.deleteLocal ? 1 : 0);
    mDeleteRemote->SetValue(mBookmark.deleteRemote ? 1 : 0);
    // Both rules take effect at once: what is shown is what OK stores.
    OnActionChange();
    mForm.OnSecureChange();
}

bool SyncSheet::CheckUniqueName(const std::string& name) {
    BasicApp* app = BasicApp::mApp;
    SyncWindow* window = app ? app->GetSyncWindow() : nullptr;
    return window && window->CheckUniqueName(name);
}
