#include "tools/sftp/pump.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <linux/sockios.h>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
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

// The pump in place, if any; the main thread's alone (its threads are handed
// theirs). Freed only once taken out: at the tool's exit its threads may
// still be using it.
struct Pump {
    int connection = -1; // the connection, for the threads
    int local = -1;      // the pump's end of the pair; the library has the other
    int leave = -1;      // readable once the pump is to be taken out
    int flags = 0;       // the library's file status flags on its descriptor
    std::thread in, out;
    std::atomic<bool> leaving{false};
    std::atomic<bool> inDone{false};
};
Pump* gPump = nullptr;
std::atomic<bool> gStreaming{false};

// Waits, on the network's side of the pump, until there is something to read,
// with a low-water mark while the session expects a stream.
class Batching {
public:
    Batching(int fd, int leave) : mFd(fd), mLeave(leave) {
        // TCP wakes a reader at the mark and takes a shorter read; a local
        // socket would hold a read until the mark is reached.
        int domain = 0;
        socklen_t size = sizeof domain;
        mMarkable = getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) == 0 &&
                    (domain == AF_INET || domain == AF_INET6);
    }
    // False when the pump is to be taken out: what the connection holds then
    // stays there for the library.
    bool wait() {
        for (;;) {
            if (!mMarkable || !gStreaming.load(std::memory_order_relaxed))
                setMark(1);
            else if (mMark < kMark)
                setMark(fittingMark()); // the buffer grows as a stream goes on
            struct pollfd p[2] = {{mFd, POLLIN, 0}, {mLeave, POLLIN, 0}};
            const int r = poll(p, 2, mMark > 1 ? kMarkWaitMs : -1);
            if (r < 0 && errno == EINTR)
                continue;
            if (r > 0 && p[1].revents)
                return false;
            if (r != 0)
                return true; // bytes, the end or an error: the read finds out which
            int queued = 0;
            if (ioctl(mFd, SIOCINQ, &queued) != 0 || queued > 0)
                return true;
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
    int mLeave;
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

// How a carry ended.
enum class End { From, To, Leave };

// Moves the bytes through a pipe, where the kernel hands on the pages
// themselves rather than copying them twice through this thread. False when
// the kernel cannot splice between these descriptors: nothing was moved then.
// Otherwise true once either end is reached or the pump leaves (`end` says
// which); every piece taken from `from` has been passed on by then.
bool splice(int from, int to, End& end, Batching* batching) {
    int pipe[2];
    if (pipe2(pipe, O_CLOEXEC) != 0)
        return false;
    fcntl(pipe[1], F_SETPIPE_SZ, int(kPiece));
    bool moved = false;
    end = End::From;
    for (;;) {
        if (batching && !batching->wait()) {
            moved = true;
            end = End::Leave;
            break;
        }
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
                end = End::To;
                break;
            }
            n -= m;
        }
        if (end == End::To)
            break;
    }
    close(pipe[0]);
    close(pipe[1]);
    return moved;
}

// Carries what `from` sends to `to` until either ends, then passes the end on;
// or until the pump leaves. `network` says that `from` is the connection,
// whose side stops when the pump's `leave` turns readable; the library's
// side ends with its own end.
void carry(int from, int to, Pump* pump, bool network) {
    End end = End::From;
    std::optional<Batching> batching;
    if (network)
        batching.emplace(from, pump->leave);
    Batching* const batch = batching ? &*batching : nullptr;
    if (!splice(from, to, end, batch)) {
        std::vector<char> buf(kPiece);
        for (;;) {
            if (batch && !batch->wait()) {
                end = End::Leave;
                break;
            }
            const ssize_t n = recv(from, buf.data(), buf.size(), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            if (!sendAll(to, buf.data(), size_t(n))) {
                end = End::To;
                break;
            }
        }
    }
    // The library's side ends when the pump is taken out: not an end of
    // the connection.
    const bool leaving = end == End::Leave || pump->leaving.load();
    if (!leaving) {
        if (end == End::To)
            shutdown(from, SHUT_RD);
        shutdown(to, SHUT_WR);
    }
    if (network)
        pump->inDone = true;
}

} // namespace

bool pumpInPlace(int fd) {
    if (gPump)
        return true;
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
    const int leave = eventfd(0, EFD_CLOEXEC);
    if (connection < 0 || leave < 0 || fcntl(pair[0], F_SETFL, flags) != 0 ||
        fcntl(connection, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        if (connection >= 0) {
            fcntl(connection, F_SETFL, flags);
            close(connection);
        }
        if (leave >= 0)
            close(leave);
        close(pair[0]);
        close(pair[1]);
        return false;
    }
    auto* pump = new Pump;
    pump->connection = connection;
    pump->local = pair[1];
    pump->leave = leave;
    pump->flags = flags;
    // The threads inherit the blocked signals, so signals reach only the
    // main thread.
    try {
        pump->in = std::thread(carry, connection, pair[1], pump, true);
    } catch (...) {
        fcntl(connection, F_SETFL, flags);
        close(connection);
        close(leave);
        close(pair[0]);
        close(pair[1]);
        delete pump;
        return false;
    }
    gPump = pump;
    bool placed = false;
    try {
        pump->out = std::thread(carry, pair[1], connection, pump, false);
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

void pumpOut(int fd, const std::function<void(int timeoutMs)>& readSome) {
    Pump* const pump = gPump;
    if (!pump)
        return;
    // The network's side stops between two pieces: what it passed on waits
    // on `fd` for the library, the rest stays in the connection. Reading on
    // meanwhile keeps it from waiting for room in the pair.
    pump->leaving = true;
    const uint64_t one = 1;
    (void)!write(pump->leave, &one, sizeof one);
    while (!pump->inDone.load())
        readSome(1);
    pump->in.join();
    int queued = 0;
    while (ioctl(fd, FIONREAD, &queued) == 0 && queued > 0)
        readSome(0);
    // The library writes no more: its side passes on what it wrote, then
    // sees the end.
    shutdown(fd, SHUT_WR);
    if (pump->out.joinable())
        pump->out.join();
    gPump = nullptr;
    // A mark the network's side set as it stopped must not hold the
    // library's reads.
    const int noMark = 1;
    setsockopt(pump->connection, SOL_SOCKET, SO_RCVLOWAT, &noMark, sizeof noMark);
    fcntl(pump->connection, F_SETFL, pump->flags);
    dup3(pump->connection, fd, O_CLOEXEC);
    close(pump->connection);
    close(pump->local);
    close(pump->leave);
    delete pump;
}

void pumpExpect(uint64_t bytes) {
    const bool streaming = bytes >= uint64_t(2 * kMark);
    if (streaming == gStreaming.load(std::memory_order_relaxed))
        return;
    gStreaming = streaming;
    // The end of the stream must not wait below a mark: dropping it wakes
    // the pump at once for what has arrived.
    const int one = 1;
    if (!streaming && gPump)
        setsockopt(gPump->connection, SOL_SOCKET, SO_RCVLOWAT, &one, sizeof one);
}

} // namespace sftptool
