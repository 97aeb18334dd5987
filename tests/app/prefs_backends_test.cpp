// The notice 'prfU' that OK in the preferences window posts reaches every
// open FTP connection, which then runs its keep-alive at the new interval.
#include "app/PreferencesWindow.h"
#include "engine/EnginePreferences.h"
#include "engine/FTPBackend.h"
#include "engine/FTPThread.h"
#include "platform/core/EventLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/testing/Testing.h"
#include "tests/app/prefs_fakes.h"
#include "tests/engine/conn_frontend.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

using namespace conntest;
using testsupport::TempDir;

TEST(PrefsReachBackends, OKAppliesTheNewKeepAliveToTwoOpenFTPConnections) {
    PPx::UIApplication::EnsureForTests();
    TempDir prefsFolder, sounds;
    auto* window = PPx::MakeNibWindow<PreferencesWindow>(
        PPx::SysNib(), "PreferencesWindow",
        std::make_unique<SoundTools>(std::make_shared<FakePlayer>(), sounds.path()),
        prefsFolder.path());
    ASSERT_NE(window, nullptr);
    // What the application hands the engine: a fresh copy on every call.
    SetEnginePreferencesProvider([window] {
        sPreferences prefs;
        window->GetMaster().GetPreferences(prefs);
        EnginePreferences engine;
        engine.ftpTimeoutSecs = prefs.ftpTimeoutSecs;
        engine.noopSecs = prefs.noopSecs;
        engine.listHiddenFiles = prefs.misc[kMiscListHiddenFiles];
        return engine;
    });

    {
        ServerSpec server = Server("pyftpd");
        RecordingFrontend first, second;
        auto a = Open(first, Bookmark(server));
        auto b = Open(second, Bookmark(server));
        ASSERT_TRUE(a && b) << first.lastError << second.lastError;
        auto* backendA = dynamic_cast<FTPBackend*>(a->Backend());
        auto* backendB = dynamic_cast<FTPBackend*>(b->Backend());
        ASSERT_TRUE(backendA && backendB);
        EXPECT_EQ(backendA->KeepAliveInterval(), 60);
        EXPECT_EQ(backendB->KeepAliveInterval(), 60);

        window->Show();
        PPx::View::FromWidget(PPx::FindControl(window->GetSysWindow(), 'NOPS'))->SetText("7");
        PPx::Testing::ClickControl(window->GetSysWindow(), 'okok');
        EXPECT_TRUE(PPx::RunEventLoopUntil(
            [&] {
                return backendA->KeepAliveInterval() == 7 && backendB->KeepAliveInterval() == 7;
            },
            std::chrono::seconds(10)));
        EXPECT_FALSE(window->IsVisible());
    }
    FTPThread::WaitForWorkers(std::chrono::seconds(30));
    SetEnginePreferencesProvider(nullptr);
    delete window;
    PPx::Testing::ProcessEvents();
}
