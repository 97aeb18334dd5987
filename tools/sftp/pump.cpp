#include "pump.h"

#include <cerrno>
#include <fcntl.h>
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

bool pumpInPlace(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0)
        return false;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return false;
    for (int end : pair) {
        setsockopt(end, SOL_SOCKET, SO_SNDBUF, &kPairBuffer, sizeof kPairBuffer);
        setsockopt(end, SOL_SOCKET, SO_RCVBUF, &kPairBuffer, sizeof kPairBuffer);
    }
    // The connection's own descriptor for the threads, which wait in their
    // calls (the flag is shared with `fd` until `fd` is replaced below).
    const int connection = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (connection < 0 || fcntl(pair[0], F_SETFL, flags) != 0 ||
        fcntl(connection, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        if (connection >= 0) {
            fcntl(connection, F_SETFL, flags);
            close(connection);
        }
        close(pair[0]);
        close(pair[1]);
        return false;
    }
    // The threads inherit the blocked signals, so signals reach only the
    // main thread. They live as long as the tool.
    std::thread in;
    try {
        in = std::thread(carry, connection, pair[1]);
    } catch (...) {
        fcntl(connection, F_SETFL, flags);
        close(connection);
        close(pair[0]);
        close(pair[1]);
        return false;
    }
    in.detach();
    bool placed = false;
    try {
        std::thread(carry, pair[1], connection).detach();
        // From here on the library's reads and writes go through the pump;
        // what the connection already holds is read by the pump, in order.
        placed = dup3(pair[0], fd, O_CLOEXEC) == fd;
    } catch (...) {
    }
    close(pair[0]);
    // Half a pump already reads the connection: the session cannot go on in
    // step, and its end tells the library so.
    if (!placed)
        shutdown(connection, SHUT_RDWR);
    return placed;
}

} // namespace sftptool
