#pragma once
// The About window: the program's name and version, and a logo that opens
// the project's web page.
#include "app/NibWindow.h"

#include <string>

// The project's web page the logo opens.
extern const char* const kZarvelWebPage; // "https://zarvel.example/"

class AboutWindow : public NibWindow, public PPx::CommandProcessDoer {
public:
    // VERSION: the program's version; empty keeps the window's own title.
    explicit AboutWindow(std::string version = ZARVEL_VERSION);
    ~AboutWindow() override;

    void FinishInit() override;
    const char* ClassName() const override { return "AboutWindow"; }
    // A window of its own: the menu bar stays with the main windows.
    bool HasMenuBar() const override { return false; }
    // Closing while shown only hides.
    PPx::OSStatus DoWindowClose() override;
    PPx::OSStatus DoCommandProcess(uint32_t command) override;

    virtual void UpdateWindowTitle();
    // Opens the web page; the window hides once a browser took it.
    virtual void OnLogoClicked();

private:
    std::string mVersion;
    NibBevelButton* mLogo = nullptr;
};
