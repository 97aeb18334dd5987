#include "SSHTunnel/SFTPTunnel.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

int SFTPTunnel::sReapMillis = 2000;
int SFTPTunnel::sAbortGraceMillis = 5000;

namespace {

constexpr size_t kTextLimit = 255;
constexpr size_t kPathLimit = 1023;
constexpr size_t kChunk = 64 * 1024;
// A "line" that grows past this without a line end is handed out as it is,
// so that a tool gone wrong cannot fill the memory.
constexpr size_t kLineLimit = 1024 * 1024;
const char kPrompt[] = "sftp> ";
const char kKeyChanged[] = "WARNING: REMOTE HOST IDENTIFICATION HAS CHANGED!";
// How long a question of the login must stand alone to count as asked. The
// tool writes each question with one write and then waits, so the rest of a
// question that a read cut off follows within microseconds; every login pays
// this wait once per question.
constexpr int kSettleMillis = 5;
// While an interrupt is pending it is sent again this often (one that reached
// the tool before its command began is forgotten there); also how often a
// wait for the tool looks whether an interrupt came.
constexpr int kAbortRepeatMillis = 500;

long long NowMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool HasLineBreak(const char* text) {
    return std::strpbrk(text, "\r\n") != nullptr;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// A question the tool asks for the password: the unfinished line ends with
// ": " and names a password or passphrase.
bool IsPasswordQuestion(const std::string& tail) {
    if (tail.size() < 2 || tail.compare(tail.size() - 2, 2, ": ") != 0)
        return false;
    return tail.find("password") != std::string::npos ||
           tail.find("Password") != std::string::npos ||
           tail.find("passphrase") != std::string::npos;
}

bool IsHostKeyQuestion(const std::string& tail) {
    const size_t end = tail.find_last_not_of(' ');
    return end != std::string::npos && tail[end] == '?' &&
           tail.find("(yes/no") != std::string::npos;
}

} // namespace

SFTPTunnel::SFTPTunnel(const char* sftpPath) {
    if (sftpPath)
        SetSFTPPath(sftpPath);
}

SFTPTunnel::~SFTPTunnel() {
    Disconnect();
}

void SFTPTunnel::SetSFTPPath(const char* path) {
    mSFTPPath.clear();
    if (path && std::strlen(path) <= kPathLimit)
        mSFTPPath = path;
}

void SFTPTunnel::SetIdleCallback(SFTPIdleCallback callback, void* userData) {
    mCallback = callback;
    mCallbackUserData = userData;
}

const char* SFTPTunnel::FindSFTP() {
    if (mSFTPPath.empty())
        return nullptr;
    struct stat found {};
    if (::stat(mSFTPPath.c_str(), &found) != 0 || !S_ISREG(found.st_mode))
        return nullptr;
    mFound = mSFTPPath;
    return mFound.c_str();
}

SFTPErr SFTPTunnel::Connect(const char* host, const char* user, const char* password,
                            uint16_t port) {
    if (!host || !user || !*host || !*user || port == 0)
        return kSFTPParamErr;
    if (!password)
        password = "";
    if (std::strlen(host) > kTextLimit || std::strlen(user) > kTextLimit ||
        std::strlen(password) > kTextLimit)
        return kSFTPParamErr;
    // A line end would type a second line at the tool; a leading dash would
    // make the destination an option of the tool.
    if (HasLineBreak(host) || HasLineBreak(user) || HasLineBreak(password) || *user == '-' ||
        *host == '-' || std::strchr(host, '@'))
        return kSFTPParamErr;
    // A tool left over from an earlier login goes first, and an interrupt
    // raised for it: it would otherwise interrupt, or end, this login.
    Disconnect();
    mAbortedAt.store(0);
    mHost = host;
    mUsername = user;
    mPassword = password;
    mPort = port;
    mStoredKeyPlace.clear();
    const SFTPErr result = DoConnect();
    if (result == kSFTPNoErr)
        mConnected = true;
    else
        Disconnect(); // every failed login ends and collects its tool
    return result;
}

SFTPErr SFTPTunnel::DoConnect() {
    const char* tool = FindSFTP();
    if (!tool)
        return kSFTPNotFound;
    const std::string portArg = "-oPort=" + std::to_string(mPort);
    const std::string destination = mUsername + "@" + mHost;
    if (destination.size() >= 1024)
        return kSFTPParamErr;
    std::vector<std::string> args = {tool, "-oCheckHostIP=no", "-oProtocol=2,1", portArg,
                                     destination};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    int fd = -1;
    const pid_t pid = ::forkpty(&fd, nullptr, nullptr, nullptr);
    if (pid < 0)
        return kSFTPCannotStart;
    if (pid == 0) {
        // Only what is safe between fork and exec: nothing of the parent's
        // descriptors or signal state reaches the tool.
        ::closefrom(3);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        ::signal(SIGINT, SIG_DFL);
        ::execve(argv[0], argv.data(), environ);
        ::_exit(2);
    }
    {
        std::lock_guard hold(mPidLock);
        mSFTPpid = pid;
    }
    mFD = fd;
    mLineBuffer.clear();
    const int flags = ::fcntl(mFD, F_GETFL);
    if (flags < 0 || ::fcntl(mFD, F_SETFL, flags | O_NONBLOCK) < 0 ||
        ::fcntl(mFD, F_SETFD, FD_CLOEXEC) < 0)
        return kSFTPCommErr;

    bool passwordSent = false;
    bool keyChanged = false;
    for (;;) {
        // Whole lines first: "Connection closed" and the refusal of a changed
        // host key, each at the start of a line.
        size_t end;
        while ((end = mLineBuffer.find('\n')) != std::string::npos) {
            std::string line = mLineBuffer.substr(0, end + 1);
            mLineBuffer.erase(0, end + 1);
            if (StartsWith(line, "Connection closed"))
                return kSFTPClosed;
            if (StartsWith(line, kKeyChanged))
                keyChanged = true;
            const size_t in = line.find(" key in ");
            if (keyChanged && StartsWith(line, "Offending ") && in != std::string::npos) {
                line.erase(line.find_last_not_of("\r\n") + 1);
                mStoredKeyPlace = line.substr(in + 8);
            }
            if (keyChanged && StartsWith(line, "Host key verification failed"))
                return kSFTPHostKeyChanged;
        }
        // The unfinished line is a question only when the tool waits for an
        // answer: one that looks like a question but is followed by more
        // within a moment was only cut by the read. The prompt is taken as it
        // is after every command, once what already arrived behind it is
        // read: a command typed too early still reaches the tool only at its
        // prompt, while an answer must reach its own question.
        const std::string& tail = mLineBuffer;
        const bool question = IsPasswordQuestion(tail) || IsHostKeyQuestion(tail);
        if ((question && MoreWithin(kSettleMillis)) || (tail == kPrompt && MoreWithin(0))) {
            const SFTPErr read = WaitForData();
            if (read != kSFTPNoErr)
                return read;
            continue;
        }
        if (tail == kPrompt) {
            mLineBuffer.clear();
            return kSFTPNoErr;
        }
        if (IsPasswordQuestion(tail)) {
            if (passwordSent)
                return kSFTPBadPassword;
            mLineBuffer.clear();
            if (!WriteAll(mPassword + "\n"))
                return kSFTPCommErr;
            passwordSent = true;
        } else if (IsHostKeyQuestion(tail)) {
            mLineBuffer.clear();
            if (!WriteAll("yes\n"))
                return kSFTPCommErr;
        }
        const SFTPErr read = WaitForData();
        if (read != kSFTPNoErr)
            return read;
    }
}

SFTPErr SFTPTunnel::WaitForData() {
    if (mFD < 0)
        return kSFTPClosed;
    char chunk[kChunk];
    bool ended = false;
    for (;;) {
        // Never without end: an interrupt may come from another thread while
        // this one waits, and an interrupted tool is waited for only so long,
        // lines or not.
        int timeout = mCallback ? 100 : kAbortRepeatMillis;
        const long long abortedAt = mAbortedAt.load();
        if (abortedAt != 0 && !ended) {
            const long long left = abortedAt + sAbortGraceMillis - NowMillis();
            if (left <= 0) {
                Signal(SIGKILL); // its terminal ends, which ends the wait below
                ended = true;
            } else {
                timeout = static_cast<int>(std::min<long long>(left, timeout));
            }
        }
        struct pollfd watch {
            mFD, POLLIN, 0
        };
        const int ready = ::poll(&watch, 1, timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return kSFTPCommErr;
        }
        if (ready == 0) {
            if (mAbortedAt.load() != 0 && !ended)
                Signal(SIGINT);
            if (mCallback)
                mCallback(mCallbackUserData);
            continue;
        }
        const ssize_t count = ::read(mFD, chunk, sizeof chunk);
        if (count > 0) {
            mLineBuffer.append(chunk, static_cast<size_t>(count));
            return kSFTPNoErr;
        }
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        // 0 bytes, or EIO once the tool's side of the terminal is gone: the end.
        if (count == 0 || errno == EIO) {
            mConnected = false;
            return kSFTPClosed;
        }
        return kSFTPCommErr;
    }
}

SFTPErr SFTPTunnel::ReadLine(char* buffer, int size) {
    if (!buffer || size <= 0)
        return kSFTPParamErr;
    std::string line;
    const SFTPErr result = ReadLine(line);
    if (result != kSFTPNoErr)
        return result;
    const size_t length = std::min(line.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, line.data(), length);
    buffer[length] = '\0';
    return kSFTPNoErr;
}

SFTPErr SFTPTunnel::ReadLine(std::string& line) {
    if (!mConnected)
        return kSFTPClosed;
    for (;;) {
        // A line ends at LF, or at a CR followed by anything but LF; a CR at
        // the end of what arrived may still be followed by its LF.
        size_t end = std::string::npos;
        for (size_t i = 0; i < mLineBuffer.size(); ++i) {
            const char c = mLineBuffer[i];
            if (c == '\n') {
                end = i + 1;
                break;
            }
            if (c == '\r' && i + 1 < mLineBuffer.size() && mLineBuffer[i + 1] != '\n' &&
                mLineBuffer[i + 1] != '\r') {
                end = i + 1;
                break;
            }
        }
        // The prompt has nothing after it: what has already arrived behind
        // it is read before deciding.
        if (end == std::string::npos &&
            ((mLineBuffer == kPrompt && !MoreWithin(0)) || mLineBuffer.size() >= kLineLimit))
            end = mLineBuffer.size();
        if (end != std::string::npos) {
            line.assign(mLineBuffer, 0, end);
            mLineBuffer.erase(0, end);
            return kSFTPNoErr;
        }
        const SFTPErr read = WaitForData();
        if (read != kSFTPNoErr)
            return read;
    }
}

bool SFTPTunnel::MoreWithin(int millis) {
    struct pollfd watch {
        mFD, POLLIN, 0
    };
    int ready;
    while ((ready = ::poll(&watch, 1, millis)) < 0 && errno == EINTR) {
    }
    return ready > 0 && (watch.revents & POLLIN);
}

bool SFTPTunnel::IsPrompt(const char* text) {
    return text && std::strcmp(text, kPrompt) == 0;
}

bool SFTPTunnel::WriteAll(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::write(mFD, text.data() + done, text.size() - done);
        if (count > 0) {
            done += static_cast<size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno == EAGAIN) {
            struct pollfd watch {
                mFD, POLLOUT, 0
            };
            if (::poll(&watch, 1, 1000) < 0 && errno != EINTR)
                return false;
            continue;
        }
        return false;
    }
    return true;
}

SFTPErr SFTPTunnel::SendCommand(const char* command) {
    if (!mConnected || mFD < 0)
        return kSFTPClosed;
    if (!command || HasLineBreak(command))
        return kSFTPParamErr;
    mAbortedAt.store(0);
    if (!WriteAll(std::string(command) + "\n"))
        return mConnected ? kSFTPCommErr : kSFTPClosed;
    std::string echo;
    return ReadLine(echo);
}

SFTPErr SFTPTunnel::WaitForPrompt() {
    std::string line;
    for (;;) {
        const SFTPErr result = ReadLine(line);
        if (result != kSFTPNoErr)
            return result;
        if (line == kPrompt)
            return kSFTPNoErr;
    }
}

void SFTPTunnel::CloseTerminal(bool sayQuit) {
    if (mFD >= 0) {
        // Typed only at the prompt: during the login it would be taken for
        // an answer (a password).
        if (sayQuit)
            WriteAll("quit\n");
        ::close(mFD);
        mFD = -1;
    }
    mLineBuffer.clear();
}

void SFTPTunnel::Disconnect() {
    const bool loggedIn = mConnected;
    mConnected = false;
    const bool hadTerminal = mFD >= 0;
    CloseTerminal(loggedIn);
    if (!hadTerminal)
        Signal(SIGQUIT);
    Reap();
}

// Collects the tool: it ends by itself once its terminal is closed; one that
// does not within sReapMillis is killed.
void SFTPTunnel::Reap() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(sReapMillis);
    for (;;) {
        {
            std::lock_guard hold(mPidLock);
            if (mSFTPpid <= 0)
                return;
            int status = 0;
            const pid_t done = ::waitpid(mSFTPpid, &status, WNOHANG);
            if (done == mSFTPpid || (done < 0 && errno == ECHILD)) {
                mSFTPpid = -1;
                return;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(mSFTPpid, SIGKILL);
                while (::waitpid(mSFTPpid, &status, 0) < 0 && errno == EINTR) {
                }
                mSFTPpid = -1;
                return;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void SFTPTunnel::Signal(int sig) {
    std::lock_guard hold(mPidLock);
    // The process is not collected while the lock is held, so the number
    // still names our child.
    if (mSFTPpid > 0)
        ::kill(mSFTPpid, sig);
}

void SFTPTunnel::AbortTransfer() {
    long long none = 0;
    mAbortedAt.compare_exchange_strong(none, NowMillis());
    Signal(SIGINT);
}

void SFTPTunnel::Terminate() {
    Signal(SIGKILL);
}
