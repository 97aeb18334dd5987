// The About window and the two long-lived windows at start-up: the title
// with the version, the logo with and without a browser, closing, and the
// application's 'pref' and 'abou' commands.
#include "AboutWindow.h"
#include "BasicApp.h"
#include "PreferencesWindow.h"

#include "platform/core/Events.h"
#include "platform/media/Desktop.h"
#include "ppxui/Application.h"
#include "ppxui/Testing.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace PPx;
using testsupport::TempDir;

namespace {

OSStatus AppCommand(uint32_t command) {
    Event event = MakeCommandEvent(command);
    return ApplicationTarget().SendEvent(event);
}

class AboutTest : public ::testing::Test {
protected:
    void SetUp() override {
        UIApplication::EnsureForTests();
        SetOpenURLHandler([this](const std::string& url) {
            opened.push_back(url);
            return browserWorks;
        });
    }
    void TearDown() override {
        SetOpenURLHandler(nullptr);
        delete window;
        Testing::ProcessEvents();
    }
    void Make(const std::string& version) {
        window = MakeNibWindow<AboutWindow>(SysNib(), "AboutWindow", version);
        ASSERT_NE(window, nullptr);
    }

    AboutWindow* window = nullptr;
    std::vector<std::string> opened;
    bool browserWorks = true;
};

bool Alive(Window* window) {
    auto all = Window::AllWindows();
    return std::find(all.begin(), all.end(), window) != all.end();
}

} // namespace

TEST_F(AboutTest, TitleCarriesTheVersion) {
    Make("2.1");
    EXPECT_EQ(window->GetTitle(), "Zarvel 2.1");
}

TEST_F(AboutTest, EmptyVersionKeepsTheWindowsOwnTitle) {
    Make("");
    EXPECT_EQ(window->GetTitle(), "About Zarvel");
}

TEST_F(AboutTest, LogoOpensTheWebPageAndHides) {
    Make("2.1");
    window->Show();
    ASSERT_TRUE(Testing::ClickControl(window->GetSysWindow(), 'LOGO'));
    EXPECT_EQ(opened, std::vector<std::string>{kZarvelWebPage});
    EXPECT_FALSE(window->IsVisible());
}

TEST_F(AboutTest, FailingBrowserLeavesTheWindowShown) {
    browserWorks = false;
    Make("2.1");
    window->Show();
    ASSERT_TRUE(Testing::ClickControl(window->GetSysWindow(), 'LOGO'));
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_TRUE(window->IsVisible());
}

TEST_F(AboutTest, ClosingHidesAndKeepsTheObject) {
    Make("2.1");
    window->Show();
    window->Close();
    Testing::ProcessEvents();
    ASSERT_TRUE(Alive(window));
    EXPECT_FALSE(window->IsVisible());
    // A close that reaches it while hidden leaves it alone too.
    window->Close();
    Testing::ProcessEvents();
    EXPECT_TRUE(Alive(window));
}

TEST(StartUp, MakesBothWindowsHiddenAndShowsThemOnTheirCommands) {
    TempDir config;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    UIApplication::EnsureForTests();
    SetOpenURLHandler([](const std::string&) { return false; });
    {
        BasicApp app;
        Window* prefs = nullptr;
        Window* about = nullptr;
        for (Window* window : Window::AllWindows()) {
            if (std::string(window->ClassName()) == "PreferencesWindow")
                prefs = window;
            if (std::string(window->ClassName()) == "AboutWindow")
                about = window;
        }
        ASSERT_NE(prefs, nullptr);
        ASSERT_NE(about, nullptr);
        EXPECT_FALSE(prefs->IsVisible());
        EXPECT_FALSE(about->IsVisible());
        EXPECT_EQ(about->GetTitle(), std::string("Zarvel ") + ZARVEL_VERSION);

        // Readers reach the master record through the application object.
        auto* prefsWindow = static_cast<PreferencesWindow*>(prefs);
        sPreferences changed;
        changed.redialSecs = 5;
        prefsWindow->GetMaster().SetPreferences(changed);
        sPreferences copy;
        BasicApp::CopyPreferences(copy);
        EXPECT_EQ(copy.redialSecs, 5);

        AppCommand('pref');
        EXPECT_TRUE(prefs->IsVisible());
        AppCommand('abou');
        EXPECT_TRUE(about->IsVisible());
        EXPECT_EQ(Window::FrontWindow(), about);
        AppCommand('clos');
        Testing::ProcessEvents();
        EXPECT_FALSE(about->IsVisible());
        EXPECT_TRUE(prefs->IsVisible());
        AppCommand('abou');
        EXPECT_TRUE(about->IsVisible());
    }
    SetOpenURLHandler(nullptr);
    Testing::ProcessEvents();
}

TEST(StartUp, WithoutThePreferencesWindowReadersGetTheDefaults) {
    TempDir config, resources;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    const char* source = std::getenv("ZARVEL_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    for (const char* name : {"AboutWindow.ui", "zarvel-logo.png", "MenuBar.ui"})
        testsupport::writeFile(
            resources.file(name),
            testsupport::readFile(std::string(source) + "/resources/Resources/" + name));
    const char* before = std::getenv("ZARVEL_RESOURCES");
    std::string saved = before ? before : "";
    ::setenv("ZARVEL_RESOURCES", resources.path().c_str(), 1);
    UIApplication::EnsureForTests();
    {
        BasicApp app;
        EXPECT_EQ(app.GetPreferencesMaster(), nullptr);
        sPreferences copy;
        copy.redialSecs = 12345; // left alone without a preferences window
        BasicApp::CopyPreferences(copy);
        EXPECT_EQ(copy.redialSecs, 12345);
        bool about = false;
        for (Window* window : Window::AllWindows())
            about = about || std::string(window->ClassName()) == "AboutWindow";
        EXPECT_TRUE(about);
        EXPECT_EQ(AppCommand('pref'), noErr); // nothing to show, no harm
    }
    ::setenv("ZARVEL_RESOURCES", saved.c_str(), 1);
    Testing::ProcessEvents();
}
