#pragma once
// Sound files played through the desktop's audio output. A player opens a
// file as a "movie" that is then started, serviced and stopped by its owner;
// tests put a player of their own in its place.
#include "platform/core/Errors.h"

#include <cstdint>
#include <memory>
#include <string>

namespace PPx {

// The file holds nothing the player can play.
constexpr OSStatus noMovieFound = -2048;

// One sound file opened for playing. Main thread only.
class SoundMovie {
public:
    virtual ~SoundMovie() = default;
    // Plays from the beginning.
    virtual void Start() = 0;
    virtual void Stop() = 0;
    // Gives the sound time to play (the owner's timer calls it).
    virtual void Task() {}
    // Played to its end, or failed on the way.
    virtual bool IsDone() const = 0;
    // How far it has played.
    virtual int64_t PlayedMilliseconds() const = 0;
};

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Opens the file at PATH; null, with STATUS set, when it cannot be opened.
    virtual std::unique_ptr<SoundMovie> Open(const std::string& path, OSStatus& status) = 0;
    // Whether the file holds sound the player can play. Waits for the
    // answer, letting non-input events run meanwhile.
    virtual bool CanPlay(const std::string& path) = 0;
};

// The player over the desktop's audio output.
std::shared_ptr<SoundPlayer> SystemSoundPlayer();

} // namespace PPx
