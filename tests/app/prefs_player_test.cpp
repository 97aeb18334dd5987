// The desktop's sound player on real files: the system sounds can be
// played, a text file or a picture cannot, and a short sound plays to its
// end (or fails) without hanging when the machine has no audio device.
#include "app/SoundTools.h"
#include "platform/core/EventLoop.h"
#include "platform/media/Sound.h"
#include "platform/ui/Application.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// A mono 16-bit WAV file of SECONDS of a quiet tone.
std::string Wave(double seconds) {
    const uint32_t rate = 8000;
    uint32_t samples = static_cast<uint32_t>(rate * seconds);
    std::string data;
    auto put = [&data](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            data.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    };
    data += "RIFF";
    put(36 + samples * 2, 4);
    data += "WAVEfmt ";
    put(16, 4);
    put(1, 2);
    put(1, 2);
    put(rate, 4);
    put(rate * 2, 4);
    put(2, 2);
    put(16, 2);
    data += "data";
    put(samples * 2, 4);
    for (uint32_t i = 0; i < samples; ++i)
        put(static_cast<uint16_t>((i / 8) % 2 ? 2000 : -2000), 2);
    return data;
}

std::string FirstSystemSound() {
    SoundTools tools;
    std::vector<std::string> list;
    tools.GetSoundsList(list);
    return list.empty() ? std::string() : list.front();
}

} // namespace

TEST(SystemSoundPlayer, TellsSoundFromOtherFiles) {
    PPx::UIApplication::EnsureForTests();
    TempDir dir;
    writeFile(dir.file("tone.wav"), Wave(0.5));
    writeFile(dir.file("notes.txt"), "These are not sounds.\n");
    auto player = PPx::SystemSoundPlayer();
    EXPECT_TRUE(player->CanPlay(dir.file("tone.wav")));
    EXPECT_FALSE(player->CanPlay(dir.file("notes.txt")));
    EXPECT_FALSE(player->CanPlay(dir.file("missing.wav")));
    EXPECT_FALSE(player->CanPlay(dir.path()));
    if (const char* source = std::getenv("ZARVEL_SOURCE_DIR")) {
        EXPECT_FALSE(player->CanPlay(std::string(source) + "/resources/Resources/zarvel-logo.png"));
    }
    std::string system = FirstSystemSound();
    if (system.empty())
        GTEST_SKIP() << "no system sounds installed";
    EXPECT_TRUE(player->CanPlay(system)) << system;
}

TEST(SystemSoundPlayer, ShortSoundEndsByItself) {
    PPx::UIApplication::EnsureForTests();
    TempDir dir;
    writeFile(dir.file("tone.wav"), Wave(0.5));
    SoundTools tools;
    ASSERT_EQ(tools.PlaySound(dir.file("tone.wav"), -1), PPx::noErr);
    EXPECT_NE(tools.PlaySound(dir.file("missing.wav"), -1), PPx::noErr);
    ASSERT_EQ(tools.PlaySound(dir.file("tone.wav"), -1), PPx::noErr);
    // Played through, or given up for want of an audio device: either way
    // the sound ends and nothing stays open.
    EXPECT_TRUE(
        PPx::RunEventLoopUntil([&] { return !tools.IsPlaying(); }, std::chrono::seconds(20)));
    EXPECT_FALSE(tools.IsInstalled());
}
