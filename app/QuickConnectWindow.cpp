#include "app/QuickConnectWindow.h"

#include "app/BasicApp.h"
#include "app/BookmarkStore.h"
#include "app/BrowserFactory.h"
#include "app/ModalSheetAlert.h"
#include "app/WindowState.h"

void QuickConnectWindow::FinishInit() {
    PPx::SysWindow window = GetSysWindow();
    mForm.Bind(window, 'DIRE', true);
    mOK = NibPushButton::CreatePPxView(window, 'okok');
    mCancel = NibPushButton::CreatePPxView(window, 'cncl');

    InstallBoundsChangedHandler(this);
    AddCommandHandler(this);
    InstallCursorChangeHandler(this);
    // Return connects, as in every other form.
    SetDefaultButton(mOK);
    // Escape closes it, as Cancel does (Ctrl+W too, as in every window).
    SetCancelButton(mCancel);
    mForm.Host()->SetFocus();
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
    case 'not!':
        Close();
        return PPx::noErr;
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
    mForm.OnSecureChange();
    ApplyCursorRule();
}

bool QuickConnectWindow::CollectData(sBookMarkData& bookmark) {
    BookmarkFormData data;
    std::string error;
    PPx::View* field = nullptr;
    if (!mForm.Read(data, error, field)) {
        ShowMessage(error);
        return false;
    }
    ApplyFormData(data, bookmark);
    return true;
}

void QuickConnectWindow::OnConnect(const sBookMarkData& bookmark) {
    sBookMarkData copy = bookmark;
    std::string error;
    if (!ApplyHostURL(copy, error)) {
        ShowMessage(error);
        return;
    }
    // The browser window opens where this one stood.
    if (OpenBrowserWindow(copy, this))
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
    // A refusal, shown with the stop icon as the editing sheet shows it.
    alert.DoModal(this, message, answer, 0x11);
}
