#include "SyncSheet.h"

#include "BasicApp.h"
#include "ConnectSheet.h"
#include "FileSelect.h"
#include "SyncWindow.h"
#include "WindowState.h"

#include "ppxui/Dialogs.h"

#include <sys/stat.h>
#include <vector>

const char* const kSelectLocalDirMessage = "You must select a local directory.";
const char* const kLocalDirNotFolderMessage =
    "The local directory does not exist or is not a folder. Please select another one.";

SyncSheet::SyncSheet() = default;

SyncSheet::SyncSheet(const sSyncBookMarkData& bookmark, bool editing)
    : mBookmark(bookmark), mEditing(editing) {}

void SyncSheet::FinishInit() {
    PPx::SysWindow window = GetSysWindow();
    mName = NibEditUnicodeText::CreatePPxView(window, 'NAME');
    mForm.Bind(window, 'RDIR', false);
    mLocalDir = NibStaticText::CreatePPxView(window, 'LDIR');
    mChoose = NibBevelButton::CreatePPxView(window, 'PDIR');
    mAction = NibRadioGroup::CreatePPxView(window, 'SYNO');
    mDeleteLocal = NibCheckBox::CreatePPxView(window, 'DELL');
    mDeleteRemote = NibCheckBox::CreatePPxView(window, 'DELR');
    mOK = NibPushButton::CreatePPxView(window, 'okok');
    mCancel = NibPushButton::CreatePPxView(window, 'cncl');

    // A new bookmark starts from what the interface file sets.
    if (!mBookmark.name.empty())
        PopulateDialog();
    mLocalDir->SetMiddleTruncation();

    AddCommandHandler(this);
    InstallCursorChangeHandler(this);
    FocusControl(mName);
}

uint32_t SyncSheet::DoModal(PPx::Window* parent) {
    Show(parent);
    PPx::RunAppModalLoopForWindow(this);
    Hide();
    return mResult;
}

PPx::OSStatus SyncSheet::DoCommandProcess(uint32_t command) {
    switch (command) {
    case 'PDIR':
        OnSelPath();
        return PPx::noErr;
    case 'SYNO':
        OnActionChange();
        return PPx::noErr;
    case 'SECR':
        OnSecureChange();
        return PPx::noErr;
    case 'ok  ':
        if (CollectData()) {
            mResult = 'ok  ';
            PPx::QuitAppModalLoopForWindow(this);
        }
        return PPx::noErr;
    case 'not!':
        mResult = 'not!';
        PPx::QuitAppModalLoopForWindow(this);
        return PPx::noErr;
    default:
        return PPx::eventNotHandledErr;
    }
}

PPx::OSStatus SyncSheet::DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) {
    return StandardCursorRule(under, cursor);
}

void SyncSheet::OnSecureChange() {
    mForm.OnSecureChange();
    ApplyCursorRule();
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

bool SyncSheet::CollectData() {
    const std::string name = mName->GetText();
    if (name.empty()) {
        DisplayError(kCompleteNameMessage);
        FocusControl(mName);
        return false;
    }
    BookmarkFormData data;
    std::string error;
    PPx::View* field = nullptr;
    if (!mForm.Read(data, error, field)) {
        DisplayError(error.c_str());
        FocusControl(field);
        return false;
    }
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
    mBookmark.host = data.host;
    if (!(mEditing && name == mBookmark.name) && !CheckUniqueName(name)) {
        DisplayError(kNameInUseMessage);
        FocusControl(mName);
        return false;
    }
    mBookmark.name = name;
    mBookmark.port = data.port;
    mBookmark.username = data.username;
    mBookmark.password = data.password;
    mBookmark.remoteDir = data.dir;
    mBookmark.localDir = localDir;
    mBookmark.account = data.account;
    mBookmark.passive = data.passive;
    mBookmark.secure = data.secure;
    mBookmark.action = mAction->GetValue();
    // An option the direction does not offer is never stored as chosen.
    mBookmark.deleteLocal = mDeleteLocal->IsEnabled() && mDeleteLocal->GetValue() != 0;
    mBookmark.deleteRemote = mDeleteRemote->IsEnabled() && mDeleteRemote->GetValue() != 0;
    return true;
}

void SyncSheet::PopulateDialog() {
    mName->SetText(mBookmark.name);
    BookmarkFormData data;
    data.host = mBookmark.host;
    data.port = mBookmark.port;
    data.username = mBookmark.username;
    data.password = mBookmark.password;
    data.account = mBookmark.account;
    data.dir = mBookmark.remoteDir;
    data.passive = mBookmark.passive;
    data.secure = mBookmark.secure;
    mForm.Fill(data);
    mLocalDir->SetText(mBookmark.localDir);
    mAction->SetValue(mBookmark.action);
    mDeleteLocal->SetValue(mBookmark.deleteLocal ? 1 : 0);
    mDeleteRemote->SetValue(mBookmark.deleteRemote ? 1 : 0);
    // Both rules take effect at once: what is shown is what OK stores.
    OnActionChange();
    mForm.OnSecureChange();
    ApplyCursorRule();
}

void SyncSheet::DisplayError(const char* message) {
    PPx::StandardAlert(PPx::kAlertStopAlert, message, "");
}

bool SyncSheet::CheckUniqueName(const std::string& name) {
    BasicApp* app = BasicApp::mApp;
    SyncWindow* window = app ? app->GetSyncWindow() : nullptr;
    return window && window->CheckUniqueName(name);
}

void SyncSheet::FocusControl(PPx::View* control) {
    if (control && !control->HasFocus())
        control->SetFocus();
}
