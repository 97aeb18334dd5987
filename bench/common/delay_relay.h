// A TCP relay on 127.0.0.1 that holds every byte a fixed delay before passing
// it on, in each direction, so that a loopback connection behaves like one
// with a round trip of twice the delay.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <limits>
#include <string>

namespace benchdelay {

// Takes the bytes received so far and gives what may go on (it may keep an
// unfinished piece back).
using Rewrite = std::function<std::string(std::string&)>;

// Copies `from` to `to`, each piece delayed by `delay` from its arrival; the
// reader waits while `maxQueued` bytes or more are held.
void Pump(int from, int to, std::chrono::milliseconds delay, const Rewrite& rewrite,
          size_t maxQueued = std::numeric_limits<size_t>::max());

// A connected socket to 127.0.0.1:`port` with TCP_NODELAY, or -1.
int ConnectLocal(int port);

// A listening socket on 127.0.0.1 with a free port (stored in `port`), or -1.
int ListenLocal(int& port);

// Both directions of one accepted connection to `target`, then closes both.
void Relay(int client, int target, std::chrono::milliseconds delay, const Rewrite& fromServer,
           size_t maxQueued = std::numeric_limits<size_t>::max());

// The program around a proxy: checks for TARGET_PORT DELAY_MS, prints the
// port it listens on, then hands each accepted connection to `serve` on a
// thread of its own until killed.
int ProxyMain(
    int argc, char** argv,
    const std::function<void(int client, int target, std::chrono::milliseconds delay)>& serve);

} // namespace benchdelay
