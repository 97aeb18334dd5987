#include "engine/FTPDataConnection.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

bool SetSocketTimeouts(int fd, int seconds) {
    if (fd < 0)
        return false;
    timeval tv{};
    tv.tv_sec = seconds >= 1 ? seconds : 300;
    return ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv)) == 0 &&
           ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) == 0;
}

// Bulk data goes out in large writes; waiting for an ACK before sending the
// tail of each write only stalls the pipe.
void NoDelay(int fd) {
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on));
}

} // namespace

FTPDataConnection::~FTPDataConnection() {
    Disconnect();
}

void FTPDataConnection::Publish() {
    std::lock_guard<std::mutex> lock(mWakeLock);
    mWakeStream = mSocket.GetFD();
    mWakeListener = mListener.GetFD();
    if (mInterrupted.load()) {
        if (mWakeStream >= 0)
            ::shutdown(mWakeStream, SHUT_RDWR);
        if (mWakeListener >= 0)
            ::shutdown(mWakeListener, SHUT_RDWR);
    }
}

bool FTPDataConnection::MakeDataConnection(const std::string& host, uint32_t& address,
                                           uint16_t& port, bool passive, int timeout) {
    Disconnect();
    mError = 0;
    CUnixSocket& socket = passive ? mSocket : mListener;
    if (!socket.CreateTCP())
        return false;
    Publish();
    // Before connecting, so that the connect itself is bounded too.
    if (!SetSocketTimeouts(socket.GetFD(), timeout))
        return false;
    if (passive) {
        if (mInterrupted.load() || !mSocket.Connect(host.c_str(), port))
            return false;
        NoDelay(mSocket.GetFD());
        return true;
    }

    if (!mListener.Bind(0, address))
        return false;
    std::string boundAddress;
    int boundPort = 0;
    if (!mListener.GetSockAddress(boundAddress, boundPort))
        return false;
    port = static_cast<uint16_t>(boundPort);
    return mListener.Listen(10);
}

bool FTPDataConnection::AcceptDataConnection(const std::string& allowedPeer) {
    // A stranger that races the server to our port is turned away; the listen
    // time-out still bounds the whole wait.
    for (int attempt = 0; attempt < 16; ++attempt) {
        if (mInterrupted.load())
            return false;
        CUnixSocket client;
        std::string peer;
        int peerPort = 0;
        if (!mListener.Accept(client, peer, peerPort)) {
            mError = errno ? errno : EIO;
            return false;
        }
        if (peer != allowedPeer)
            continue; // client closes it
        {
            std::lock_guard<std::mutex> lock(mWakeLock);
            mSocket.Close();
            mSocket.SetSocketFD(client.GetFD());
            client.SetSocketFD(-1);
            mWakeListener = -1;
            mListener.Close();
        }
        Publish();
        timeval tv{};
        socklen_t size = sizeof(tv);
        int seconds = 300;
        if (::getsockopt(mSocket.GetFD(), SOL_SOCKET, SO_RCVTIMEO, &tv, &size) == 0 && tv.tv_sec)
            seconds = static_cast<int>(tv.tv_sec);
        SetSocketTimeouts(mSocket.GetFD(), seconds);
        NoDelay(mSocket.GetFD());
        return !mInterrupted.load();
    }
    mError = EACCES;
    return false;
}

bool FTPDataConnection::RetrieveData(std::string& listing, size_t limit) {
    char buffer[65536];
    for (;;) {
        uint32_t length = sizeof(buffer);
        const bool more = RetrieveData(buffer, length);
        if (length > limit - std::min(limit, listing.size())) {
            mError = EFBIG;
            return false;
        }
        listing.append(buffer, length);
        if (!more)
            return !Failed();
    }
}

bool FTPDataConnection::RetrieveData(void* buffer, uint32_t& length) {
    const uint32_t wanted = length;
    length = 0;
    const int fd = mSocket.GetFD();
    if (fd < 0) {
        mError = ENOTCONN;
        return false;
    }
    if (wanted == 0)
        return true;
    ssize_t got;
    do {
        got = ::recv(fd, buffer, wanted, 0);
    } while (got < 0 && errno == EINTR && !mInterrupted.load());
    if (got > 0) {
        length = static_cast<uint32_t>(got);
        return true;
    }
    if (mInterrupted.load())
        mError = EINTR; // our own shut-down looks like an end of stream
    else if (got < 0)
        mError = errno ? errno : EIO;
    return false;
}

bool FTPDataConnection::SendData(const void* buffer, uint32_t& length) {
    if (mSocket.GetFD() < 0) {
        mError = ENOTCONN;
        return false;
    }
    if (mSocket.SendData(buffer, length) && !mInterrupted.load())
        return true;
    mError = mInterrupted.load() ? EINTR : (errno ? errno : EIO);
    return false;
}

bool FTPDataConnection::WaitReady(bool forSending, int timeoutMs) {
    const int fd = mSocket.GetFD();
    if (fd < 0)
        return true;
    pollfd waiter{fd, static_cast<short>(forSending ? POLLOUT : POLLIN), 0};
    int ready;
    do {
        ready = ::poll(&waiter, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR && !mInterrupted.load());
    return ready != 0;
}

bool FTPDataConnection::SetTimeout(int seconds) {
    const int fd = mSocket.GetFD() >= 0 ? mSocket.GetFD() : mListener.GetFD();
    return SetSocketTimeouts(fd, seconds);
}

void FTPDataConnection::Disconnect() {
    std::lock_guard<std::mutex> lock(mWakeLock);
    mWakeStream = -1;
    mWakeListener = -1;
    if (mSocket.GetFD() >= 0)
        mSocket.Close();
    if (mListener.GetFD() >= 0)
        mListener.Close();
}

void FTPDataConnection::Reset() {
    const int fd = mSocket.GetFD();
    if (fd >= 0) {
        linger abortive{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
    }
    Disconnect();
}

void FTPDataConnection::Interrupt() {
    std::lock_guard<std::mutex> lock(mWakeLock);
    mInterrupted.store(true);
    if (mWakeStream >= 0)
        ::shutdown(mWakeStream, SHUT_RDWR);
    if (mWakeListener >= 0)
        ::shutdown(mWakeListener, SHUT_RDWR);
}

void FTPDataConnection::ClearInterrupt() {
    mInterrupted.store(false);
}
