// Sound playback with a fake player and clock: limits in whole seconds,
// replacing a playing sound, the system sounds list, the sound picker.
#include "SoundTools.h"
#include "prefs_fakes.h"

#include "ppxui/Application.h"
#include "ppxui/Testing.h"
#include "ppxui/Window.h"
#include "tempdir.h"

#include <gtest/gtest.h>

using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// Moves the fake clock a quarter second per firing of the timer, as the
// real timer would, until the sound stops; the time at which it stopped.
int64_t PlayUntilStopped(SoundTools& tools, FakePlayer& player, int64_t giveUpMs = 60000) {
    while (tools.IsPlaying() && player.clock->now <= giveUpMs) {
        tools.DoTimer();
        if (!tools.IsPlaying())
            break;
        player.clock->now += 250;
    }
    return player.clock->now;
}

} // namespace

TEST(SoundTools, LimitOfThreeStopsOnceFourWholeSecondsHavePlayed) {
    TempDir dir;
    writeFile(dir.file("ten.wav"), "x");
    auto player = std::make_shared<FakePlayer>();
    SoundTools tools(player, dir.path());

    ASSERT_EQ(tools.PlaySound(dir.file("ten.wav"), 3), PPx::noErr);
    EXPECT_TRUE(player->last->started);
    EXPECT_TRUE(tools.IsInstalled());
    // Still playing at 3.75 s: three whole seconds.
    player->clock->now = 3750;
    tools.DoTimer();
    EXPECT_TRUE(tools.IsPlaying());
    player->clock->now = 4000;
    tools.DoTimer();
    EXPECT_FALSE(tools.IsPlaying());
    EXPECT_FALSE(tools.IsInstalled());
    EXPECT_EQ(player->aliveMovies, 0); // released at once

    // The same through quarter-second firings from the start.
    ASSERT_EQ(tools.PlaySound(dir.file("ten.wav"), 3), PPx::noErr);
    EXPECT_EQ(PlayUntilStopped(tools, *player), 4000);
}

TEST(SoundTools, WithoutLimitPlaysToTheEnd) {
    TempDir dir;
    writeFile(dir.file("ten.wav"), "x");
    auto player = std::make_shared<FakePlayer>();
    SoundTools tools(player, dir.path());
    for (int limit : {-1, 0}) {
        ASSERT_EQ(tools.PlaySound(dir.file("ten.wav"), limit), PPx::noErr);
        EXPECT_EQ(PlayUntilStopped(tools, *player), 10000) << limit;
    }
}

TEST(SoundTools, SecondSoundStopsTheFirstAtOnce) {
    TempDir dir;
    writeFile(dir.file("one.wav"), "x");
    writeFile(dir.file("two.wav"), "x");
    auto player = std::make_shared<FakePlayer>();
    SoundTools tools(player, dir.path());
    ASSERT_EQ(tools.PlaySound(dir.file("one.wav"), -1), PPx::noErr);
    player->clock->now = 1000;
    tools.DoTimer();
    ASSERT_EQ(tools.PlaySound(dir.file("two.wav"), -1), PPx::noErr);
    EXPECT_EQ(player->opened, (std::vector<std::string>{dir.file("one.wav"), dir.file("two.wav")}));
    EXPECT_EQ(player->aliveMovies, 1); // the first one is gone
    EXPECT_TRUE(tools.IsPlaying());
}

TEST(SoundTools, UnplayableFilePlaysNothing) {
    TempDir dir;
    writeFile(dir.file("one.wav"), "x");
    writeFile(dir.file("bad.wav"), "x");
    auto player = std::make_shared<FakePlayer>();
    SoundTools tools(player, dir.path());
    ASSERT_EQ(tools.PlaySound(dir.file("one.wav"), -1), PPx::noErr);
    EXPECT_NE(tools.PlaySound(dir.file("bad.wav"), -1), PPx::noErr);
    EXPECT_NE(tools.PlaySound(dir.file("missing.wav"), 3), PPx::noErr);
    EXPECT_FALSE(tools.IsPlaying());
    EXPECT_FALSE(tools.IsInstalled());
    EXPECT_EQ(player->aliveMovies, 0);
}

TEST(SoundTools, DestroyingStopsAndReleasesTheSound) {
    TempDir dir;
    writeFile(dir.file("one.wav"), "x");
    auto player = std::make_shared<FakePlayer>();
    {
        SoundTools tools(player, dir.path());
        ASSERT_EQ(tools.PlaySound(dir.file("one.wav"), -1), PPx::noErr);
    }
    EXPECT_EQ(player->aliveMovies, 0);
}

TEST(SoundTools, SoundsListHoldsOnlyFilesAsFullPathsInNameOrder) {
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

class SoundPickerTest : public ::testing::Test {
protected:
    void SetUp() override {
        PPx::UIApplication::EnsureForTests();
        writeFile(dir.file("good.wav"), "x");
        writeFile(dir.file("bad.wav"), "x");
        ASSERT_EQ(::mkdir(dir.file("folder").c_str(), 0700), 0);
    }
    void TearDown() override { PPx::Testing::ProcessEvents(); }

    // Runs the picker, answering the chooser with ACTION; collects an alert
    // that follows.
    bool Pick(std::string& path, std::function<void()> action) {
        PPx::Testing::Later([this, action] {
            chooserShown = PPx::Testing::ChooserShown();
            PPx::Testing::Later([this] {
                alert = PPx::Testing::CurrentAlert();
                if (alert.shown)
                    PPx::Testing::ClickAlertButton("OK");
            });
            action();
        });
        return tools.PickSoundFile(nullptr, path);
    }

    TempDir dir;
    std::shared_ptr<FakePlayer> player = std::make_shared<FakePlayer>();
    SoundTools tools{player, dir.path()};
    bool chooserShown = false;
    PPx::Testing::AlertInfo alert;
};

TEST_F(SoundPickerTest, PlayableFileIsTaken) {
    std::string path = "/previous.wav";
    EXPECT_TRUE(Pick(path, [&] { PPx::Testing::ChooseInChooser({dir.file("good.wav")}); }));
    EXPECT_TRUE(chooserShown);
    EXPECT_EQ(path, dir.file("good.wav"));
    EXPECT_FALSE(alert.shown);
}

TEST_F(SoundPickerTest, CancelKeepsThePath) {
    std::string path = "/previous.wav";
    EXPECT_FALSE(Pick(path, [] { PPx::Testing::CancelChooser(); }));
    EXPECT_EQ(path, "/previous.wav");
    EXPECT_FALSE(alert.shown);
}

TEST_F(SoundPickerTest, UnplayableFileIsRefusedWithTheAlert) {
    std::string path = "/previous.wav";
    EXPECT_FALSE(Pick(path, [&] { PPx::Testing::ChooseInChooser({dir.file("bad.wav")}); }));
    EXPECT_EQ(path, "/previous.wav");
    ASSERT_TRUE(alert.shown);
    EXPECT_EQ(alert.message, "Invalid Sound File");
    EXPECT_EQ(alert.explanation, "Please select a sound file that can be played by Quicktime");
}

TEST_F(SoundPickerTest, FolderIsNoSoundFile) {
    PPx::Testing::Later([this] {
        alert = PPx::Testing::CurrentAlert();
        PPx::Testing::ClickAlertButton("OK");
    });
    EXPECT_FALSE(tools.VerifySoundFile(dir.file("folder")));
    EXPECT_TRUE(alert.shown);
    EXPECT_EQ(alert.message, "Invalid Sound File");
    // The player is not even asked about a folder.
    EXPECT_TRUE(player->probed.empty());
}
