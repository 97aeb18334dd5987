#include "app/AboutWindow.h"

#include "platform/media/Desktop.h"

const char* const kZarvelWebPage = "https://zarvel.example/";

AboutWindow::AboutWindow(std::string version) : mVersion(std::move(version)) {}

AboutWindow::~AboutWindow() = default;

void AboutWindow::FinishInit() {
    mLogo = NibBevelButton::CreatePPxView(GetSysWindow(), 'LOGO', 100);
    mLogo->AddCommandHandler(this);
    UpdateWindowTitle();
}

void AboutWindow::UpdateWindowTitle() {
    if (!mVersion.empty())
        SetTitle("Zarvel " + mVersion);
}

PPx::OSStatus AboutWindow::DoCommandProcess(uint32_t command) {
    if (command != 'LOGO')
        return PPx::eventNotHandledErr;
    OnLogoClicked();
    return PPx::noErr;
}

void AboutWindow::OnLogoClicked() {
    if (PPx::OpenURL(kZarvelWebPage))
        Hide();
}

PPx::OSStatus AboutWindow::DoWindowClose() {
    // The application object keeps this window for the life of the program.
    if (IsVisible())
        Hide();
    return PPx::noErr;
}
