#include "tests/engine/ftp_scripted_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int ListenOn(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof(address);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(fd, 8) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size))
        throw std::runtime_error("scripted server cannot listen");
    port = ntohs(address.sin_port);
    return fd;
}

int AcceptWithin(int listener, int timeoutMs) {
    pollfd waiter{listener, POLLIN, 0};
    if (::poll(&waiter, 1, timeoutMs) != 1)
        return -1;
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

} // namespace

ScriptedSession::~ScriptedSession() {
    Close();
    if (mPasvListener >= 0)
        ::close(mPasvListener);
}

void ScriptedSession::SendAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0)
            return;
        done += static_cast<size_t>(sent);
    }
}

void ScriptedSession::Send(const std::string& bytes, size_t piece) {
    if (mFD < 0)
        return;
    if (piece == 0) {
        SendAll(mFD, bytes);
        return;
    }
    for (size_t at = 0; at < bytes.size(); at += piece) {
        SendAll(mFD, bytes.substr(at, piece));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::string ScriptedSession::Read() {
    for (;;) {
        const size_t end = mBuffer.find("\r\n");
        if (end != std::string::npos) {
            std::string line = mBuffer.substr(0, end);
            mBuffer.erase(0, end + 2);
            mCommands.push_back(line);
            ++mTogether;
            return line;
        }
        mTogether = static_cast<size_t>(-1);
        if (mFD < 0)
            return {};
        pollfd waiter{mFD, POLLIN, 0};
        if (::poll(&waiter, 1, 20000) != 1)
            return {};
        char chunk[4096];
        const ssize_t got = ::recv(mFD, chunk, sizeof(chunk), 0);
        if (got <= 0)
            return {};
        mBuffer.append(chunk, static_cast<size_t>(got));
    }
}

std::string ScriptedSession::Expect(const std::string& prefix) {
    const std::string line = Read();
    EXPECT_EQ(line.substr(0, prefix.size()), prefix) << "the client sent \"" << line << "\"";
    return line;
}

void ScriptedSession::Login() {
    Reply("220 Scripted server ready");
    Expect("USER");
    Reply("331 Password please");
    Expect("PASS");
    Reply("230 Logged in");
}

void ScriptedSession::Close() {
    if (mFD >= 0)
        ::close(mFD);
    mFD = -1;
}

void ScriptedSession::ServeData(const std::string& command, const std::string& bytes) {
    AnswerPasv();
    Expect(command);
    const int data = AcceptData();
    Reply("150 Opening");
    SendAll(data, bytes);
    CloseData(data);
    Reply("226 Done");
}

void ScriptedSession::AnswerPasv(const std::string& reply) {
    Expect("PASV");
    if (mPasvListener < 0)
        mPasvListener = ListenOn(mPasvPort);
    char text[256];
    if (reply.empty())
        std::snprintf(text, sizeof(text), "227 Entering Passive Mode (127,0,0,1,%d,%d).",
                      mPasvPort >> 8, mPasvPort & 0xFF);
    else
        std::snprintf(text, sizeof(text), reply.c_str(), mPasvPort >> 8, mPasvPort & 0xFF);
    Reply(text);
}

int ScriptedSession::AcceptData(int timeoutMs) {
    return AcceptWithin(mPasvListener, timeoutMs);
}

int ScriptedSession::ConnectTo(int port, const std::string& fromAddress) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, fromAddress.c_str(), &local.sin_addr);
    ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof(local));
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<uint16_t>(port));
    remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof(remote)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int ScriptedSession::ConnectActive(const std::string&) {
    const std::string line = Expect("PORT");
    unsigned n[6] = {};
    if (std::sscanf(line.c_str(), "PORT %u,%u,%u,%u,%u,%u", &n[0], &n[1], &n[2], &n[3], &n[4],
                    &n[5]) != 6)
        return -1;
    mActivePort = static_cast<int>(n[4] * 256 + n[5]);
    Reply("200 PORT command successful");
    return mActivePort;
}

std::string ScriptedSession::ReadAll(int fd) {
    std::string all;
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::recv(fd, chunk, sizeof(chunk), 0);
        if (got <= 0)
            return all;
        all.append(chunk, static_cast<size_t>(got));
    }
}

void ScriptedSession::CloseData(int fd, bool reset) {
    if (fd < 0)
        return;
    if (reset) {
        linger abortive{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof(abortive));
    }
    ::close(fd);
}

ScriptedFtpServer::ScriptedFtpServer(Script script, int sessions) {
    mListener = ListenOn(mPort);
    mThread = std::thread([this, script, sessions] {
        for (int i = 0; i < sessions; ++i) {
            const int fd = AcceptWithin(mListener, 20000);
            if (fd < 0)
                return;
            ScriptedSession session(fd);
            script(session);
            mCommands.insert(mCommands.end(), session.Commands().begin(), session.Commands().end());
        }
    });
}

ScriptedFtpServer::~ScriptedFtpServer() {
    if (mThread.joinable())
        mThread.join();
    if (mListener >= 0)
        ::close(mListener);
}

std::vector<std::string> ScriptedFtpServer::Finish() {
    if (mThread.joinable())
        mThread.join();
    return mCommands;
}
