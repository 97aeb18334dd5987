// Worker threads copy the preferences while the main thread loads, gathers
// and saves them: every copy is whole, and nothing waits on a file or alert.
#include "app/BasicApp.h"
#include "app/Preferences.h"
#include "platform/ui/Application.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(PreferencesThreads, WorkersReadWholeRecordsWhileTheMainThreadSaves) {
    PPx::UIApplication::EnsureForTests();
    testsupport::TempDir dir;
    PreferencesMaster master(dir.path());
    int alerts = 0;
    master.SetAlert([&alerts](const std::string&, const std::string&) { ++alerts; });

    // Before the load, a worker gets the defaults (and loads nothing).
    sPreferences early;
    std::thread([&] { master.GetPreferences(early); }).join();
    EXPECT_FALSE(early.loaded);
    EXPECT_EQ(early.noopSecs, 60);

    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::atomic<long> reads{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&] {
            while (!stop.load()) {
                sPreferences copy;
                master.GetPreferences(copy);
                // Each record written below keeps these fields in step.
                if (copy.loaded && (copy.noopSecs != copy.redialSecs ||
                                    copy.uploadSound != std::to_string(copy.noopSecs)))
                    ++torn;
                ++reads;
            }
        });
    }
    for (int i = 0; i < 200; ++i) {
        sPreferences prefs;
        prefs.noopSecs = prefs.redialSecs = i;
        prefs.playUploadSound = true;
        prefs.uploadSound = std::to_string(i);
        master.SetPreferences(prefs);
        master.SavePreferences();
        if (i % 50 == 0) {
            master.LoadPreferences(); // reads back what was just written
            sPreferences mine;
            master.GetPreferences(mine);
            EXPECT_EQ(mine.noopSecs, i);
        }
    }
    stop = true;
    for (auto& worker : workers)
        worker.join();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(alerts, 0);
}

TEST(PreferencesThreads, CopyThroughTheApplicationWhileItComesAndGoes) {
    PPx::UIApplication::EnsureForTests();
    testsupport::TempDir dir;
    PreferencesMaster master(dir.path());
    master.LoadPreferences();
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop.load()) {
            sPreferences copy;
            BasicApp::CopyPreferences(copy); // defaults without an application
            EXPECT_EQ(copy.noopSecs, 60);
        }
    });
    for (int i = 0; i < 20; ++i) {
        BasicApp app;
        app.SetPreferencesMaster(&master);
        sPreferences copy;
        app.GetPreferences(copy);
        EXPECT_TRUE(copy.loaded);
    }
    stop = true;
    worker.join();
}
