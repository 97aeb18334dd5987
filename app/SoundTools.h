#pragma once
// Plays the sound files the user chose: after transfers, when a re-dialled
// connection comes up, and as short previews in the preferences window.
// Also lists the system's sounds and lets the user pick another file.
#include "platform/core/Errors.h"
#include "platform/core/Timer.h"
#include "platform/media/Sound.h"

#include <memory>
#include <string>
#include <vector>

namespace PPx {
class Window;
}

// Where the desktop's sound theme keeps its sounds.
extern const char* const kSystemSoundsFolder; // "/usr/share/sounds/freedesktop/stereo"

class SoundTools : public PPx::Timer {
public:
    // PLAYER null: the desktop's player. SOUNDSFOLDER empty: the system's.
    explicit SoundTools(std::shared_ptr<PPx::SoundPlayer> player = nullptr,
                        std::string soundsFolder = std::string());
    ~SoundTools() override;

    // Plays the file at PATH: whole when LIMIT is below 1, otherwise until
    // more than LIMIT whole seconds have played. A sound already playing
    // stops first. noErr when playback started; otherwise nothing plays.
    virtual PPx::OSStatus PlaySound(const std::string& path, int limit);
    // The files (not folders) of the system sounds folder as full paths,
    // sorted by name; empty when the folder is missing.
    virtual PPx::OSStatus GetSoundsList(std::vector<std::string>& out);
    // Lets the user choose a sound file in a chooser on PARENT; true only
    // when a playable file was chosen, which is then in PATH.
    virtual bool PickSoundFile(PPx::Window* parent, std::string& path);
    // Whether the file can be played; tells the user when not.
    virtual bool VerifySoundFile(const std::string& path);

    bool IsPlaying() const { return mMovie != nullptr; }
    void StopSound();

    // The periodic service while a sound plays (every quarter second).
    void DoTimer() override;

private:
    std::shared_ptr<PPx::SoundPlayer> mPlayer;
    std::string mSoundsFolder;
    std::unique_ptr<PPx::SoundMovie> mMovie;
    int mMaxSeconds = -1;
    bool mPicked = false;
    std::string mPickedPath;
};
