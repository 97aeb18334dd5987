// The About window, and the two long-lived windows at start-up: the title
// with the version, the logo with and without a browser, closing, and the
// application's 'pref', 'abou' and 'clos'.
#include "app/AboutWindow.h"
#include "app/BasicApp.h"
#include "app/PreferencesWindow.h"
#include "platform/core/Events.h"
#include "platform/media/Desktop.h"
#include "platform/ui/Application.h"
#include "platform/ui/testing/Testing.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace PPx;
using testsupport::TempDir;

namespace {

OSStatus AppCommand(uint32_t command) {
    Event event = MakeCommandEvent(command);
    return ApplicationTarget().SendEvent(event);
}

Window* Find(const std::string& className) {
    for (Window* window : Window::AllWindows())
        if (className == window->ClassName())
            return window;
    return nullptr;
}

} // namespace

TEST(AboutWindow, TitleLogoAndClose) {
    UIApplication::EnsureForTests();
    bool browserWorks = false;
    std::vector<std::string> opened;
    SetOpenURLHandler([&](const std::string& url) {
        opened.push_back(url);
        return browserWorks;
    });
    auto* about = MakeNibWindow<AboutWindow>(SysNib(), "AboutWindow", "2.1");
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->GetTitle(), "Zarvel 2.1");
    about->Show();
    // No browser could take the page: the window stays.
    ASSERT_TRUE(Testing::ClickControl(about->GetSysWindow(), 'LOGO'));
    EXPECT_EQ(opened, std::vector<std::string>{kZarvelWebPage});
    EXPECT_TRUE(about->IsVisible());
    browserWorks = true;
    Testing::ClickControl(about->GetSysWindow(), 'LOGO');
    EXPECT_FALSE(about->IsVisible());
    // Closing hides; the object stays, shown or not.
    about->Show();
    for (int i = 0; i < 2; ++i) {
        about->Close();
        Testing::ProcessEvents();
        ASSERT_EQ(Find("AboutWindow"), about);
        EXPECT_FALSE(about->IsVisible());
    }
    delete about;
    SetOpenURLHandler(nullptr);

    auto* plain = MakeNibWindow<AboutWindow>(SysNib(), "AboutWindow", "");
    EXPECT_EQ(plain->GetTitle(), "About Zarvel"); // no version: the window's own
    delete plain;
    Testing::ProcessEvents();
}

TEST(StartUp, BothWindowsMadeHiddenWithTheirLookAndShownByTheirCommands) {
    TempDir config;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    UIApplication::EnsureForTests();
    {
        // The user turned the textured look off.
        PreferencesMaster file;
        sPreferences plain;
        plain.misc[kMiscMetalWindows] = false;
        file.SetPreferences(plain);
        file.SavePreferences();
    }
    {
        BasicApp app;
        auto* prefs = static_cast<PreferencesWindow*>(Find("PreferencesWindow"));
        Window* about = Find("AboutWindow");
        ASSERT_TRUE(prefs && about);
        EXPECT_FALSE(prefs->IsVisible());
        EXPECT_FALSE(about->IsVisible());
        EXPECT_EQ(about->GetTitle(), std::string("Zarvel ") + ZARVEL_VERSION);
        EXPECT_FALSE(prefs->HasTexturedLook());
        EXPECT_TRUE(about->HasTexturedLook()); // whatever the preferences say
        // Readers reach the master record through the application object.
        sPreferences changed;
        changed.redialSecs = 5;
        prefs->GetMaster().SetPreferences(changed);
        sPreferences copy;
        BasicApp::CopyPreferences(copy);
        EXPECT_EQ(copy.redialSecs, 5);

        AppCommand('pref');
        AppCommand('abou');
        EXPECT_TRUE(prefs->IsVisible());
        EXPECT_EQ(Window::FrontWindow(), about);
        AppCommand('clos');
        Testing::ProcessEvents();
        EXPECT_FALSE(about->IsVisible());
        EXPECT_TRUE(prefs->IsVisible());
        AppCommand('abou');
        EXPECT_EQ(Find("AboutWindow"), about);
        EXPECT_TRUE(about->IsVisible());
    }
    Testing::ProcessEvents();
}
