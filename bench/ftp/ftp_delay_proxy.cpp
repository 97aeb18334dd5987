// ftp_delay_proxy TARGET_PORT DELAY_MS: an FTP proxy on 127.0.0.1 that holds
// every byte DELAY_MS before passing it on, in each direction, on the control
// connection and on every passive data connection, so that a loopback server
// behaves like one with a round trip of twice the delay. It rewrites the
// server's 227 and 229 replies to name a data listener of its own. (Opening
// a data connection completes at the proxy without the delay, for every
// client alike.) Prints the port it listens on, then serves until killed.
#include "bench/common/delay_relay.h"

#include <chrono>
#include <cstdio>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using benchdelay::ListenLocal;
using benchdelay::Relay;

// A listener for one passive data connection to the server's `port`.
int OpenDataRelay(int port, std::chrono::milliseconds delay) {
    int ours = 0;
    const int ls = ListenLocal(ours);
    if (ls < 0)
        return -1;
    std::thread([ls, port, delay] {
        pollfd waiter{ls, POLLIN, 0};
        const int c = poll(&waiter, 1, 60000) == 1 ? accept(ls, nullptr, nullptr) : -1;
        close(ls);
        if (c >= 0)
            Relay(c, port, delay, nullptr);
    }).detach();
    return ours;
}

// Whole lines of the server's control replies, with the passive replies
// pointed at a data relay.
std::string RewriteReplies(std::string& pending, std::chrono::milliseconds delay) {
    std::string out;
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, end + 1);
        pending.erase(0, end + 1);
        unsigned h[4], p1, p2, port;
        const size_t open = line.find('(');
        if (line.rfind("227 ", 0) == 0 && open != std::string::npos &&
            std::sscanf(line.c_str() + open, "(%u,%u,%u,%u,%u,%u)", &h[0], &h[1], &h[2], &h[3], &p1,
                        &p2) == 6) {
            const int relay = OpenDataRelay(int(p1 * 256 + p2), delay);
            char text[128];
            std::snprintf(text, sizeof text, "227 Entering Passive Mode (127,0,0,1,%d,%d).\r\n",
                          relay >> 8, relay & 0xFF);
            line = text;
        } else if (line.rfind("229 ", 0) == 0 && open != std::string::npos &&
                   std::sscanf(line.c_str() + open, "(|||%u|)", &port) == 1) {
            const int relay = OpenDataRelay(int(port), delay);
            line = "229 Entering Extended Passive Mode (|||" + std::to_string(relay) + "|)\r\n";
        }
        out += line;
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    return benchdelay::ProxyMain(
        argc, argv, [](int c, int target, std::chrono::milliseconds delay) {
            Relay(c, target, delay,
                  [delay](std::string& pending) { return RewriteReplies(pending, delay); });
        });
}
