// Sound playback with a fake player and clock: the whole-second limit,
// replacing a playing sound, the system sounds list, refusing a folder.
#include "app/SoundTools.h"
#include "platform/ui/Application.h"
#include "platform/ui/testing/Testing.h"
#include "tests/app/prefs_fakes.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// Fires the timer every quarter second of the fake clock until the sound
// stops; the time at which it stopped.
int64_t PlayUntilStopped(SoundTools& tools, FakePlayer& player) {
    while (player.clock->now <= 60000) {
        tools.DoTimer();
        if (!tools.IsPlaying())
            break;
        player.clock->now += 250;
    }
    return player.clock->now;
}

} // namespace

TEST(SoundTools, LimitStopsOnceOneMoreWholeSecondHasPlayed) {
    TempDir dir;
    writeFile(dir.file("ten.wav"), "x");
    auto player = std::make_shared<FakePlayer>();
    SoundTools tools(player, dir.path());
    ASSERT_EQ(tools.PlaySound(dir.file("ten.wav"), 3), PPx::noErr);
    EXPECT_TRUE(tools.IsInstalled());
    EXPECT_EQ(PlayUntilStopped(tools, *player), 4000);
    EXPECT_FALSE(tools.IsInstalled());
    EXPECT_EQ(player->aliveMovies, 0); // released at once
    for (int whole : {-1, 0}) {
        ASSERT_EQ(tools.PlaySound(dir.file("ten.wav"), whole), PPx::noErr);
        EXPECT_EQ(PlayUntilStopped(tools, *player), 10000) << whole;
    }
}

TEST(SoundTools, NextSoundReplacesThePlayingOne) {
    TempDir dir;
    writeFile(dir.file("one.wav"), "x");
    writeFile(dir.file("bad.wav"), "x");
    auto player = std::make_shared<FakePlayer>();
    {
        SoundTools tools(player, dir.path());
        ASSERT_EQ(tools.PlaySound(dir.file("one.wav"), -1), PPx::noErr);
        ASSERT_EQ(tools.PlaySound(dir.file("one.wav"), -1), PPx::noErr);
        EXPECT_EQ(player->aliveMovies, 1); // the first one is gone
        // An unplayable one stops the first and plays nothing.
        EXPECT_NE(tools.PlaySound(dir.file("bad.wav"), -1), PPx::noErr);
        EXPECT_FALSE(tools.IsPlaying());
        EXPECT_FALSE(tools.IsInstalled());
        ASSERT_EQ(tools.PlaySound(dir.file("one.wav"), -1), PPx::noErr);
    }
    EXPECT_EQ(player->aliveMovies, 0); // going, it takes its sound along
}

TEST(SoundTools, SoundsListHoldsOnlyFilesAsFullPaths) {
    TempDir dir;
    writeFile(dir.file("b.oga"), "x");
    writeFile(dir.file("a.oga"), "x");
    ASSERT_EQ(::mkdir(dir.file("folder.oga").c_str(), 0700), 0);
    SoundTools tools(std::make_shared<FakePlayer>(), dir.path());
    std::vector<std::string> list{"stale"};
    EXPECT_EQ(tools.GetSoundsList(list), PPx::noErr);
    EXPECT_EQ(list, (std::vector<std::string>{dir.file("a.oga"), dir.file("b.oga")}));
    SoundTools missing(std::make_shared<FakePlayer>(), dir.file("nowhere"));
    EXPECT_NE(missing.GetSoundsList(list), PPx::noErr);
    EXPECT_TRUE(list.empty());
}

TEST(SoundTools, FolderIsRefusedWithTheAlert) {
    PPx::UIApplication::EnsureForTests();
    TempDir dir;
    auto player = std::make_shared<FakePlayer>();
    SoundTools tools(player, dir.path());
    PPx::Testing::AlertInfo alert;
    PPx::Testing::Later([&alert] {
        alert = PPx::Testing::CurrentAlert();
        PPx::Testing::ClickAlertButton("OK");
    });
    EXPECT_FALSE(tools.VerifySoundFile(dir.path()));
    EXPECT_EQ(alert.message, "Invalid Sound File");
    EXPECT_EQ(alert.explanation, "Please select a sound file that can be played by Quicktime");
    EXPECT_TRUE(player->probed.empty()); // the player is not even asked
}
