#include "tests/tools/sftp_session.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sftptest {

namespace {

constexpr int kTimeoutMs = 120000; // generous: a slow machine must not fail a test

const char* toolPath() {
    const char* p = std::getenv("ZARVEL_SFTP_TOOL");
    if (!p)
        throw std::runtime_error("ZARVEL_SFTP_TOOL is not set: run the test through ctest");
    return p;
}

} // namespace

ToolSession::ToolSession(const std::string& home, int port, const std::string& user,
                         std::vector<std::string> extraArgs) {
    std::vector<std::string> args = {toolPath(), "-oCheckHostIP=no", "-oProtocol=2,1",
                                     "-oPort=" + std::to_string(port), user + "@127.0.0.1"};
    if (!extraArgs.empty()) {
        args = {toolPath()};
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    }
    const std::string homeVar = "HOME=" + home;
    mPid = forkpty(&mFd, nullptr, nullptr, nullptr);
    if (mPid < 0)
        throw std::runtime_error("forkpty failed");
    if (mPid == 0) {
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        setenv("HOME", home.c_str(), 1);
        execv(toolPath(), argv.data());
        _exit(127);
    }
}

ToolSession::~ToolSession() {
    if (mFd >= 0)
        close(mFd);
    if (!mReaped && mPid > 0) {
        kill(mPid, SIGKILL);
        waitpid(mPid, nullptr, 0);
    }
}

bool ToolSession::fill(int timeoutMs) {
    struct pollfd p {
        mFd, POLLIN, 0
    };
    const int n = poll(&p, 1, timeoutMs);
    if (n <= 0)
        return false;
    char buf[65536];
    const ssize_t got = read(mFd, buf, sizeof buf);
    if (got <= 0)
        throw std::runtime_error("terminal ended; output so far: " + mBuf);
    mBuf.append(buf, size_t(got));
    return true;
}

std::string ToolSession::expect(const std::string& text) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
    for (;;) {
        const size_t at = mBuf.find(text);
        if (at != std::string::npos) {
            std::string out = mBuf.substr(0, at + text.size());
            mBuf.erase(0, at + text.size());
            return out;
        }
        if (std::chrono::steady_clock::now() > end)
            throw std::runtime_error("timed out waiting for '" + text + "'; output: " + mBuf);
        fill(1000);
    }
}

bool ToolSession::sees(const std::string& text) {
    try {
        expect(text);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::string ToolSession::rest() {
    std::string out;
    try {
        while (fill(kTimeoutMs)) {
        }
    } catch (const std::exception&) {
    }
    out.swap(mBuf);
    return out;
}

void ToolSession::type(const std::string& bytes) {
    if (write(mFd, bytes.data(), bytes.size()) != ssize_t(bytes.size()))
        throw std::runtime_error("cannot type at the tool");
}

std::string ToolSession::login(const std::string& password, bool expectQuestion) {
    std::string seen;
    if (expectQuestion) {
        seen += expect("(yes/no)? ");
        type("yes\n");
    }
    const std::string before = expect("password: ");
    seen += before;
    if (!expectQuestion && before.find("(yes/no)?") != std::string::npos)
        throw std::runtime_error("unexpected host-key question: " + before);
    type(password + "\n");
    seen += expect("sftp> ");
    return seen;
}

std::string ToolSession::command(const std::string& text, std::string* echo) {
    type(text + "\n");
    const std::string e = expect("\n");
    if (echo)
        *echo = e;
    // Every output line ends in CR LF, so a prompt is "sftp> " at a line start;
    // the echo's line end counts as the start of the first line.
    mBuf.insert(mBuf.begin(), '\n');
    std::string out = expect("\nsftp> ");
    return out.substr(1, out.size() - 7);
}

void ToolSession::closeTerminal() {
    if (mFd >= 0)
        close(mFd);
    mFd = -1;
}

int ToolSession::wait(int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        int status = 0;
        const pid_t r = waitpid(mPid, &status, WNOHANG);
        if (r == mPid) {
            mReaped = true;
            return status;
        }
        if (mFd >= 0) {
            struct pollfd p {
                mFd, POLLIN, 0
            };
            if (poll(&p, 1, 50) > 0) {
                char buf[4096];
                const ssize_t n = read(mFd, buf, sizeof buf);
                if (n > 0)
                    mBuf.append(buf, size_t(n));
                else
                    usleep(50000);
            }
        } else {
            usleep(50000);
        }
    }
    return -1;
}

Proxy::Proxy(int targetPort, long bytesPerSecond) : mTarget(targetPort), mRate(bytesPerSecond) {
    mListen = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(mListen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(mListen, 8) != 0)
        throw std::runtime_error("proxy cannot listen");
    socklen_t len = sizeof a;
    getsockname(mListen, reinterpret_cast<sockaddr*>(&a), &len);
    mPort = ntohs(a.sin_port);
    mThread = std::thread([this] { serve(); });
}

Proxy::~Proxy() {
    mStop = true;
    mThread.join();
    close(mListen);
}

// One connection at a time is enough for the tests: a poll loop that moves
// bytes both ways, paced when a rate is set, until the link ends or is cut.
void Proxy::serve() {
    std::vector<int> open;
    while (!mStop) {
        struct pollfd lp {
            mListen, POLLIN, 0
        };
        if (poll(&lp, 1, 50) <= 0)
            continue;
        const int c = accept4(mListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0)
            continue;
        const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(mTarget));
        if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            close(c);
            close(s);
            continue;
        }
        // A token bucket per direction, so that idle time earns no burst.
        auto last = std::chrono::steady_clock::now();
        double budget[2] = {16384, 16384};
        int fds[2] = {c, s};
        bool done = false;
        while (!done && !mStop && !mDrop) {
            struct pollfd p[2] = {{c, POLLIN, 0}, {s, POLLIN, 0}};
            if (poll(p, 2, 20) <= 0)
                continue;
            for (int i = 0; i < 2 && !done; ++i) {
                if (!p[i].revents)
                    continue;
                size_t want = 65536;
                if (mRate > 0) {
                    const auto now = std::chrono::steady_clock::now();
                    const double secs = std::chrono::duration<double>(now - last).count();
                    last = now;
                    for (double& b : budget)
                        b = std::min(b + secs * double(mRate), 65536.0);
                    if (budget[i] < 1)
                        continue;
                    want = std::min<size_t>(want, size_t(budget[i]));
                }
                char buf[65536];
                const ssize_t n = recv(fds[i], buf, want, 0);
                if (n <= 0) {
                    done = true;
                    break;
                }
                budget[i] -= double(n);
                ssize_t off = 0;
                while (off < n) {
                    const ssize_t w = send(fds[1 - i], buf + off, size_t(n - off), MSG_NOSIGNAL);
                    if (w <= 0) {
                        done = true;
                        break;
                    }
                    off += w;
                }
            }
            if (mRate > 0)
                usleep(2000);
        }
        // A dropped link ends as a dead server's would: the sockets just close.
        close(c);
        close(s);
    }
}

std::string toolQuoted(const std::string& name) {
    std::string out = "\"";
    for (char ch : name) {
        if (ch == '"' || ch == '\\')
            out += '\\';
        out += ch;
    }
    return out + "\"";
}

} // namespace sftptest
