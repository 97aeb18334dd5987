// sftp_delay_proxy TARGET_PORT DELAY_MS: a TCP proxy on 127.0.0.1 that holds
// every byte DELAY_MS before passing it on, in each direction, so that a
// loopback connection behaves like one with a round trip of twice the delay.
// Prints the port it listens on, then serves until killed.
#include "bench/common/delay_relay.h"

#include <chrono>
#include <cstddef>

namespace {

constexpr size_t kMaxQueued = 256u << 20; // far above any window in flight

} // namespace

int main(int argc, char** argv) {
    return benchdelay::ProxyMain(argc, argv,
                                 [](int c, int target, std::chrono::milliseconds delay) {
                                     benchdelay::Relay(c, target, delay, nullptr, kMaxQueued);
                                 });
}
