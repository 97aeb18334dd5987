#pragma once
// A sound player that needs no audio device: its movies play on a clock the
// test moves, and it says a file is playable unless its name holds "bad".
#include "platform/media/Sound.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

struct FakeClock {
    int64_t now = 0; // milliseconds since the movie started
};

class FakeMovie : public PPx::SoundMovie {
public:
    FakeMovie(std::shared_ptr<FakeClock> clock, int64_t length, int* alive)
        : mClock(std::move(clock)), mLength(length), mAlive(alive) {
        ++*mAlive;
    }
    ~FakeMovie() override { --*mAlive; }
    void Start() override {
        mClock->now = 0;
        started = true;
    }
    void Stop() override { stopped = true; }
    bool IsDone() const override { return mClock->now >= mLength; }
    int64_t PlayedMilliseconds() const override { return std::min(mClock->now, mLength); }

    bool started = false;
    bool stopped = false;

private:
    std::shared_ptr<FakeClock> mClock;
    int64_t mLength;
    int* mAlive;
};

class FakePlayer : public PPx::SoundPlayer {
public:
    std::unique_ptr<PPx::SoundMovie> Open(const std::string& path, PPx::OSStatus& status) override {
        opened.push_back(path);
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || Bad(path)) {
            status = PPx::noMovieFound;
            return nullptr;
        }
        status = PPx::noErr;
        auto movie = std::make_unique<FakeMovie>(clock, lengthMs, &aliveMovies);
        last = movie.get();
        return movie;
    }
    bool CanPlay(const std::string& path) override {
        probed.push_back(path);
        return !Bad(path);
    }
    static bool Bad(const std::string& path) { return path.find("bad") != std::string::npos; }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    int64_t lengthMs = 10000;
    int aliveMovies = 0;
    FakeMovie* last = nullptr;
    std::vector<std::string> opened;
    std::vector<std::string> probed;
};
