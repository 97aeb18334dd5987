#include "tools/sftp/pump.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sftptool {

namespace {

constexpr size_t kPiece = 1024 * 1024;
constexpr int kPairBuffer = 4 * 1024 * 1024;

// While a stream comes in, the pump asks the kernel to wake it only once this
// much has arrived: on a fast link every wake-up costs the sender (often the
// server's busiest process) more than the bytes it hands on. Not more than a
// quarter of the receive buffer, so that the kernel never has to grow the
// buffer for it (which would also cap the TCP window at the mark).
constexpr int kMark = 256 * 1024;
constexpr int kLeastMark = 32 * 1024;
// How long a piece below the mark may wait: the end of a stream, or a server
// that slowed down or stopped.
constexpr int kMarkWaitMs = 1;

std::atomic<int> gNetwork{-1};
std::atomic<bool> gStreaming{false};

// Waits, on the network's side of the pump, until there is something to read,
// with a low-water mark while the session expects a stream.
class Batching {
public:
    explicit Batching(int fd) : mFd(fd) {
        // TCP wakes a reader at the mark and takes a shorter read; a local
        // socket would hold a read until the mark is reached.
        int domain = 0;
        socklen_t size = sizeof domain;
        mMarkable = getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) == 0 &&
                    (domain == AF_INET || domain == AF_INET6);
    }
    void wait() {
        if (!mMarkable)
            return;
        for (;;) {
            if (!gStreaming.load(std::memory_order_relaxed))
                setMark(1);
            else if (mMark < kMark)
                setMark(fittingMark()); // the buffer grows as a stream goes on
            if (mMark == 1)
                return; // the read waits for the first byte
            struct pollfd p {
                mFd, POLLIN, 0
            };
            const int r = poll(&p, 1, kMarkWaitMs);
            if (r < 0 && errno == EINTR)
                continue;
            if (r != 0)
                return; // bytes, the end or an error: the read finds out which
            int queued = 0;
            if (ioctl(mFd, SIOCINQ, &queued) != 0 || queued > 0)
                return;
        }
    }

private:
    int fittingMark() const {
        int buffer = 0;
        socklen_t size = sizeof buffer;
        if (getsockopt(mFd, SOL_SOCKET, SO_RCVBUF, &buffer, &size) != 0)
            return 1;
        const int mark = std::min(kMark, buffer / 4);
        return mark >= kLeastMark ? mark : 1;
    }
    void setMark(int mark) {
        if (mark == mMark)
            return;
        if (setsockopt(mFd, SOL_SOCKET, SO_RCVLOWAT, &mark, sizeof mark) == 0)
            mMark = mark;
    }
    int mFd;
    bool mMarkable = false;
    int mMark = 1;
};

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
bool splice(int from, int to, bool& toFailed, Batching* batching) {
    int pipe[2];
    if (pipe2(pipe, O_CLOEXEC) != 0)
        return false;
    fcntl(pipe[1], F_SETPIPE_SZ, int(kPiece));
    bool moved = false;
    toFailed = false;
    for (;;) {
        if (batching)
            batching->wait();
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
// `network` says that `from` is the connection.
void carry(int from, int to, bool network) {
    bool toFailed = false;
    Batching batching(from);
    Batching* const batch = network ? &batching : nullptr;
    if (!splice(from, to, toFailed, batch)) {
        std::vector<char> buf(kPiece);
        for (;;) {
            if (batch)
                batch->wait();
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
        in = std::thread(carry, connection, pair[1], true);
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
        std::thread(carry, pair[1], connection, false).detach();
        // From here on the library's reads and writes go through the pump;
        // what the connection already holds is read by the pump, in order.
        placed = dup3(pair[0], fd, O_CLOEXEC) == fd;
        if (placed)
            gNetwork = connection;
    } catch (...) {
    }
    close(pair[0]);
    // Half a pump already reads the connection: the session cannot go on in
    // step, and its end tells the library so.
    if (!placed)
        shutdown(connection, SHUT_RDWR);
    return placed;
}

void pumpExpect(uint64_t bytes) {
    const bool streaming = bytes >= uint64_t(2 * kMark);
    if (streaming == gStreaming.load(std::memory_order_relaxed))
        return;
    gStreaming = streaming;
    // The end of the stream must not wait below a mark: dropping it wakes
    // the pump at once for what has arrived.
    const int fd = gNetwork.load();
    const int one = 1;
    if (!streaming && fd >= 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &one, sizeof one);
}

} // namespace sftptool
