#include "pump.h"

#include <cerrno>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sftptool {

namespace {

constexpr size_t kPiece = 256 * 1024;
constexpr int kPairBuffer = 4 * 1024 * 1024;

// Copies from `from` to `to` until either ends, then passes the end on.
void carry(int from, int to) {
    std::vector<char> buf(kPiece);
    for (;;) {
        const ssize_t n = recv(from, buf.data(), buf.size(), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t sent = 0; sent < n;) {
            const ssize_t m = send(to, buf.data() + sent, size_t(n - sent), MSG_NOSIGNAL);
            if (m < 0 && errno == EINTR)
                continue;
            if (m <= 0) {
                shutdown(from, SHUT_RD);
                shutdown(to, SHUT_WR);
                return;
            }
            sent += m;
        }
    }
    shutdown(to, SHUT_WR);
}

} // namespace

int startPump(int connection) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return -1;
    for (int fd : pair) {
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kPairBuffer, sizeof kPairBuffer);
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kPairBuffer, sizeof kPairBuffer);
    }
    try {
        // The threads inherit the blocked signals, so signals reach only the
        // main thread. They live as long as the tool.
        std::thread(carry, connection, pair[1]).detach();
        std::thread(carry, pair[1], connection).detach();
    } catch (...) {
        close(pair[0]);
        close(pair[1]);
        return -1;
    }
    return pair[0];
}

} // namespace sftptool
