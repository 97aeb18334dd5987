#include "ConnectSheet.h"

#include "BasicApp.h"
#include "BookmarkStore.h"
#include "ConnectWindow.h"
#include "WindowState.h"

#include "ppxui/Dialogs.h"

const char* const kCompleteNameMessage = "Please complete the Name field.";
const char* const kNameInUseMessage =
    "Please select a different name.\nThe one you selected is already in use.";

ConnectSheet::ConnectSheet() = default;

ConnectSheet::ConnectSheet(const sBookMarkData& bookmark, bool editing)
    : mBookmark(bookmark), mEditing(editing) {}

void ConnectSheet::FinishInit() {
    PPx::SysWindow window = GetSysWindow();
    mName = NibEditUnicodeText::CreatePPxView(window, 'NAME');
    mForm.Bind(window, 'DIRE', false);
    mOK = NibPushButton::CreatePPxView(window, 'okok');
    mCancel = NibPushButton::CreatePPxView(window, 'cncl');

    // A new bookmark starts from what the interface file sets.
    if (!mBookmark.name.empty())
        PopulateDialog();

    AddCommandHandler(this);
    InstallCursorChangeHandler(this);
    FocusControl(mName);
}

uint32_t ConnectSheet::DoModal(PPx::Window* parent) {
    Show(parent);
    PPx::RunAppModalLoopForWindow(this);
    Hide();
    return mResult;
}

PPx::OSStatus ConnectSheet::DoCommandProcess(uint32_t command) {
    switch (command) {
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

PPx::OSStatus ConnectSheet::DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) {
    return StandardCursorRule(under, cursor);
}

void ConnectSheet::OnSecureChange() {
    mForm.OnSecureChange();
    ApplyCursorRule();
}

bool ConnectSheet::CollectData() {
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
    mBookmark.host = data.host;
    if (!(mEditing && name == mBookmark.name) && !CheckUniqueName(name)) {
        DisplayError(kNameInUseMessage);
        FocusControl(mName);
        return false;
    }
    mBookmark.name = name;
    ApplyFormData(data, mBookmark);
    return true;
}

void ConnectSheet::PopulateDialog() {
    mName->SetText(mBookmark.name);
    mForm.Fill(FormDataOf(mBookmark));
    ApplyCursorRule();
}

void ConnectSheet::DisplayError(const char* message) {
    PPx::StandardAlert(PPx::kAlertStopAlert, message, "");
}

bool ConnectSheet::CheckUniqueName(const std::string& name) {
    BasicApp* app = BasicApp::mApp;
    ConnectWindow* window = app ? app->GetConnectWindow() : nullptr;
    return window && window->CheckUniqueName(name);
}

void ConnectSheet::FocusControl(PPx::View* control) {
    if (control && !control->HasFocus())
        control->SetFocus();
}
