#include "engine/CUnixSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

std::string DottedAddress(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text)))
        return {};
    return text;
}

// The socket's send time-out in milliseconds for poll(), -1 when none is set.
int SendTimeoutMillis(int fd) {
    timeval tv{};
    socklen_t size = sizeof(tv);
    if (getsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, &size) != 0)
        return -1;
    if (tv.tv_sec == 0 && tv.tv_usec == 0)
        return -1;
    return static_cast<int>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
}

} // namespace

CUnixSocket::~CUnixSocket() {
    if (mSocketFD >= 0)
        ::close(mSocketFD);
}

bool CUnixSocket::CreateTCP() {
    Close();
    // CLOEXEC so that the sftp tool and other children never inherit a connection.
    SetSocketFD(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (mSocketFD < 0)
        return false;
    // There is no per-socket broken-pipe option here: every send passes
    // MSG_NOSIGNAL instead.
    mFailed = false;
    return true;
}

void CUnixSocket::Close() {
    if (mSocketFD >= 0)
        ::close(mSocketFD);
    SetSocketFD(-1);
    mFailed = true;
}

bool CUnixSocket::Connect(const char* host, int port) {
    if (mSocketFD < 0 || host == nullptr)
        return false;
    if (port < 0 || port > 65535)
        return false;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    sockaddr_in address{};
    std::memcpy(&address, found->ai_addr, sizeof(address));
    ::freeaddrinfo(found);
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));

    mFailed = false;
    if (::connect(mSocketFD, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0)
        return true;
    if (errno != EINTR)
        return false;

    // An interrupted connect goes on in the background: wait for its outcome
    // (within the send time-out, when one is set) instead of starting another.
    pollfd waiter{mSocketFD, POLLOUT, 0};
    int ready;
    do {
        ready = ::poll(&waiter, 1, SendTimeoutMillis(mSocketFD));
    } while (ready < 0 && errno == EINTR);
    if (ready != 1)
        return false;
    int error = 0;
    socklen_t size = sizeof(error);
    if (::getsockopt(mSocketFD, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return false;
    return error == 0;
}

bool CUnixSocket::Bind(int port, uint32_t address) {
    if (mSocketFD < 0)
        return false;
    if (port < 0 || port > 65535)
        return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    local.sin_addr.s_addr = htonl(address);
    auto bindOnce = [&] {
        return ::bind(mSocketFD, reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0;
    };

    if (bindOnce())
        return true;
    ::sleep(1);
    if (bindOnce())
        return true;
    int reuse = 1;
    if (::setsockopt(mSocketFD, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) != 0)
        return false;
    return bindOnce();
}

bool CUnixSocket::Listen(int backlog) {
    if (mSocketFD < 0)
        return false;
    return ::listen(mSocketFD, backlog) == 0;
}

bool CUnixSocket::Accept(CUnixSocket& client, std::string& peerAddress, int& peerPort) {
    if (mSocketFD < 0)
        return false;
    sockaddr_in peer{};
    socklen_t size = sizeof(peer);
    int fd;
    do {
        size = sizeof(peer);
        fd = ::accept4(mSocketFD, reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
    } while (fd < 0 && (errno == EINTR || errno == ECONNABORTED));
    if (fd < 0)
        return false;
    client.SetSocketFD(fd);
    peerAddress = DottedAddress(peer);
    peerPort = ntohs(peer.sin_port);
    return true;
}

bool CUnixSocket::SendData(const void* buffer, uint32_t length) {
    if (length == 0)
        return true;
    const char* next = static_cast<const char*>(buffer);
    uint32_t remaining = length;
    while (remaining > 0) {
        // MSG_NOSIGNAL: a peer that closed the connection yields EPIPE, not SIGPIPE.
        const ssize_t sent = ::send(mSocketFD, next, remaining, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 1) {
            mFailed = true;
            return false;
        }
        next += sent;
        remaining -= static_cast<uint32_t>(sent);
    }
    return true;
}

bool CUnixSocket::ReadData(void* buffer, uint32_t& length) {
    if (length == 0)
        return true;
    const uint32_t wanted = length;
    char* start = static_cast<char*>(buffer);
    length = 0;
    while (length < wanted) {
        const ssize_t got = ::recv(mSocketFD, start + length, wanted - length, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 1) {
            mFailed = true;
            return false;
        }
        length += static_cast<uint32_t>(got);
    }
    return true;
}

bool CUnixSocket::GetSockAddress(std::string& address, int& port) {
    sockaddr_in local{};
    socklen_t size = sizeof(local);
    if (::getsockname(GetFD(), reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return false;
    if (local.sin_family != AF_INET)
        return false;
    address = DottedAddress(local);
    port = ntohs(local.sin_port);
    return true;
}

void CUnixSocket::SetSocketFD(int fd) {
    mSocketFD = fd;
}

int CUnixSocket::GetFD() {
    return mSocketFD;
}

bool CUnixSocket::Disconnected() {
    if (mSocketFD < 0 || mFailed)
        return true;
    int error = 0;
    socklen_t size = sizeof(error);
    if (::getsockopt(mSocketFD, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
        return true;

    // A listening socket has no stream to look at.
    int listening = 0;
    size = sizeof(listening);
    if (::getsockopt(mSocketFD, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening)
        return false;

    // SO_ERROR stays 0 after an orderly close by the peer: look at the stream
    // without consuming it. Pending data means the connection is still worth
    // reading; end of stream or a hard error means it is gone.
    char probe;
    ssize_t got;
    do {
        got = ::recv(mSocketFD, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got > 0)
        return false;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return false;
    return true;
}
