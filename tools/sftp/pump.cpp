#include "tools/sftp/pump.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sftptool {

namespace {

constexpr size_t kPiece = 256 * 1024;
constexpr int kPairBuffer = 4 * 1024 * 1024;

// Passes on what `from` sent to `to`; false when `to` takes no more.
bool sendAll(int to, const char* data, size_t size) {
    while (size) {
        const ssize_t m = send(to, data, size, MSG_NOSIGNAL);
        if (m < 0 && errno == EINTR)
            continue;
        if (m <= 0)
            return false;
        data += m;
        size -= size_t(m);
    }
    return true;
}

// Moves the bytes through a pipe, where the kernel hands on the pages
// themselves rather than copying them twice through this thread. False when
// the kernel cannot splice between these descriptors: nothing was moved then.
// Otherwise true once either end is reached; `toFailed` says which.
bool splice(int from, int to, bool& toFailed) {
    int pipe[2];
    if (pipe2(pipe, O_CLOEXEC) != 0)
        return false;
    fcntl(pipe[1], F_SETPIPE_SZ, int(kPiece));
    bool moved = false;
    toFailed = false;
    for (;;) {
        ssize_t n = ::splice(from, nullptr, pipe[1], nullptr, kPiece, SPLICE_F_MOVE);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && !moved && errno == EINVAL)
            break;
        moved = true;
        if (n <= 0)
            break;
        while (n > 0) {
            const ssize_t m = ::splice(pipe[0], nullptr, to, nullptr, size_t(n), SPLICE_F_MOVE);
            if (m < 0 && errno == EINTR)
                continue;
            if (m <= 0) {
                toFailed = true;
                break;
            }
            n -= m;
        }
        if (toFailed)
            break;
    }
    close(pipe[0]);
    close(pipe[1]);
    return moved;
}

// Carries what `from` sends to `to` until either ends, then passes the end on.
void carry(int from, int to) {
    bool toFailed = false;
    if (!splice(from, to, toFailed)) {
        std::vector<char> buf(kPiece);
        for (;;) {
            const ssize_t n = recv(from, buf.data(), buf.size(), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            if (!sendAll(to, buf.data(), size_t(n))) {
                toFailed = true;
                break;
            }
        }
    }
    if (toFailed)
        shutdown(from, SHUT_RD);
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
