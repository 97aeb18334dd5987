#include "QuickConnectWindow.h"

#include "BasicApp.h"
#include "BookmarkStore.h"
#include "BrowserFactory.h"
#include "ConnectSheet.h"
#include "ModalSheetAlert.h"
#include "WindowState.h"

void QuickConnectWindow::FinishInit() {
    PPx::SysWindow window = GetSysWindow();
    mHost = NibEditUnicodeText::CreatePPxView(window, 'HOST');
    mUser = NibEditUnicodeText::CreatePPxView(window, 'UNAM');
    mPassword = NibEditUnicodeText::CreatePPxView(window, 'PASS');
    mDir = NibEditUnicodeText::CreatePPxView(window, 'DIRE');
    mAccount = NibEditUnicodeText::CreatePPxView(window, 'ACCT');
    mAccountLabel = NibStaticText::CreatePPxView(window, 'ACTT');
    mPort = NibEditUnicodeText::CreatePPxView(window, 'PORT');
    mPassive = NibCheckBox::CreatePPxView(window, 'PASV');
    mSecure = NibCheckBox::CreatePPxView(window, 'SECR');
    mOK = NibPushButton::CreatePPxView(window, 'okok');

    InstallBoundsChangedHandler(this);
    AddCommandHandler(this);
    InstallCursorChangeHandler(this);
    mHost->SetFocus();
    // Every quick-connect window opens where the last one was left.
    LoadWindowState();
}

PPx::OSStatus QuickConnectWindow::DoCommandProcess(uint32_t command) {
    switch (command) {
    case 'SECR':
        OnSecureChange();
        return PPx::noErr;
    case 'ok  ': {
        sBookMarkData bookmark;
        if (CollectData(bookmark))
            OnConnect(bookmark);
        return PPx::noErr;
    }
    default:
        return PPx::eventNotHandledErr;
    }
}

PPx::OSStatus QuickConnectWindow::DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) {
    return StandardCursorRule(under, cursor);
}

PPx::OSStatus QuickConnectWindow::DoWindowBoundsChanged() {
    SaveWindowState();
    return PPx::noErr;
}

void QuickConnectWindow::OnSecureChange() {
    const bool secure = mSecure->GetValue() != 0;
    std::string port = mPort->GetText();
    std::string changed = PortForSecureChange(port, secure);
    if (changed != port)
        mPort->SetText(changed);
    mAccount->SetEnabled(!secure);
    mAccountLabel->SetEnabled(!secure);
    mPassive->SetEnabled(!secure);
    ApplyCursorRule();
}

bool QuickConnectWindow::CollectData(sBookMarkData& bookmark) {
    const std::string host = mHost->GetText();
    const std::string portText = mPort->GetText();
    std::string error;
    int32_t port = 0;
    if (host.empty()) {
        ShowMessage(kCompleteHostMessage);
        return false;
    }
    if (!CheckHostText(host, error)) {
        ShowMessage(error);
        return false;
    }
    if (portText.empty()) {
        ShowMessage(kCompletePortMessage);
        return false;
    }
    if (!ReadPortText(portText, port)) {
        ShowMessage(kBadPortMessage);
        return false;
    }
    bookmark.host = host;
    bookmark.port = port;
    bookmark.username = mUser->GetText();
    bookmark.password = mPassword->GetText();
    bookmark.dir = mDir->GetText();
    bookmark.account = mAccount->GetText();
    bookmark.passive = mPassive->GetValue() != 0;
    bookmark.secure = mSecure->GetValue() != 0;
    return true;
}

void QuickConnectWindow::OnConnect(const sBookMarkData& bookmark) {
    sBookMarkData copy = bookmark;
    std::string error;
    if (!ApplyHostURL(copy, error)) {
        ShowMessage(error);
        return;
    }
    if (OpenBrowserWindow(copy, nullptr))
        Close();
}

void QuickConnectWindow::LoadWindowState() {
    ::LoadWindowState(*this, "QuickConnectWindowState");
}

void QuickConnectWindow::SaveWindowState() {
    ::SaveWindowState(*this, "QuickConnectWindowState");
}

void QuickConnectWindow::ShowMessage(const std::string& message) {
    ModalSheetAlert alert;
    uint32_t answer = 0;
    alert.DoModal(this, message, answer, 0x10);
}
