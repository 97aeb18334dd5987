#include "ConnectSheet.h"

#include "BasicApp.h"
#include "BookmarkStore.h"
#include "ConnectWindow.h"
#include "WindowState.h"

#include "ppxui/Dialogs.h"

#include <cstdlib>

const char* const kCompleteNameMessage = "Please complete the Name field.";
const char* const kCompleteHostMessage = "Please complete the Host field.";
const char* const kCompletePortMessage = "Please complete the Port field.";
const char* const kNameInUseMessage =
    "Please select a different name.\nThe one you selected is already in use.";

std::string PortForSecureChange(const std::string& portText, bool secure) {
    if (portText.empty())
        return portText;
    long port = std::strtol(portText.c_str(), nullptr, 10);
    if (!secure && port == 22)
        return "21";
    if (secure && port == 21)
        return "22";
    return portText;
}

ConnectSheet::ConnectSheet() = default;

ConnectSheet::ConnectSheet(const sBookMarkData& bookmark, bool editing)
    : mBookmark(bookmark), mEditing(editing) {}

void ConnectSheet::FinishInit() {
    PPx::SysWindow window = GetSysWindow();
    mName = NibEditUnicodeText::CreatePPxView(window, 'NAME');
    mHost = NibEditUnicodeText::CreatePPxView(window, 'HOST');
    mPort = NibEditUnicodeText::CreatePPxView(window, 'PORT');
    mUser = NibEditUnicodeText::CreatePPxView(window, 'UNAM');
    mPassword = NibEditUnicodeText::CreatePPxView(window, 'PASS');
    mDir = NibEditUnicodeText::CreatePPxView(window, 'DIRE');
    mAccount = NibEditUnicodeText::CreatePPxView(window, 'ACCT');
    mSecure = NibCheckBox::CreatePPxView(window, 'SECR');
    mPassive = NibCheckBox::CreatePPxView(window, 'PASV');
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
    const bool secure = mSecure->GetValue() != 0;
    std::string port = mPort->GetText();
    std::string changed = PortForSecureChange(port, secure);
    if (changed != port)
        mPort->SetText(changed);
    mAccount->SetEnabled(!secure);
    mPassive->SetEnabled(!secure);
    ApplyCursorRule();
}

bool ConnectSheet::CollectData() {
    const std::string name = mName->GetText();
    const std::string host = mHost->GetText();
    const std::string portText = mPort->GetText();
    std::string error;
    int32_t port = 0;
    if (name.empty()) {
        DisplayError(kCompleteNameMessage);
        FocusControl(mName);
        return false;
    }
    if (host.empty()) {
        DisplayError(kCompleteHostMessage);
        FocusControl(mHost);
        return false;
    }
    if (!CheckHostText(host, error)) {
        DisplayError(error.c_str());
        FocusControl(mHost);
        return false;
    }
    if (portText.empty()) {
        DisplayError(kCompletePortMessage);
        FocusControl(mPort);
        return false;
    }
    if (!ReadPortText(portText, port)) {
        DisplayError(kBadPortMessage);
        FocusControl(mPort);
        return false;
    }
    mBookmark.host = host;
    if (!(mEditing && name == mBookmark.name) && !CheckUniqueName(name)) {
        DisplayError(kNameInUseMessage);
        FocusControl(mName);
        return false;
    }
    mBookmark.name = name;
    mBookmark.port = port;
    mBookmark.username = mUser->GetText();
    mBookmark.password = mPassword->GetText();
    mBookmark.dir = mDir->GetText();
    mBookmark.account = mAccount->GetText();
    mBookmark.passive = mPassive->GetValue() != 0;
    mBookmark.secure = mSecure->GetValue() != 0;
    return true;
}

void ConnectSheet::PopulateDialog() {
    mName->SetText(mBookmark.name);
    mHost->SetText(mBookmark.host);
    mPort->SetText(std::to_string(mBookmark.port));
    mUser->SetText(mBookmark.username);
    mPassword->SetText(mBookmark.password);
    mDir->SetText(mBookmark.dir);
    mAccount->SetText(mBookmark.account);
    mPassive->SetValue(mBookmark.passive ? 1 : 0);
    mSecure->SetValue(mBookmark.secure ? 1 : 0);
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
