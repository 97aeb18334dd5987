#pragma once
// What the parts of the client (session, commands, transfers) share inside
// the tool.
#include <chrono>
#include <unistd.h>

namespace sftptool {

// How long a busy wait sleeps at most before it looks at signals again.
constexpr int kPollMs = 100;
// After an interrupt: how long a transfer waits for the replies in flight,
// and a single request for its reply, before giving them up. Together well
// within the time the program's driver grants before it ends the tool.
constexpr long long kDrainMs = 1500;
constexpr long long kAbandonMs = 1000;

inline long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A descriptor closed when it goes out of scope.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            close(fd);
    }
};

} // namespace sftptool
