#include "tools/sftp/terminal.h"

#include "tools/sftp/cmdline.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace sftptool {

volatile sig_atomic_t gInterrupted = 0;
volatile sig_atomic_t gHangup = 0;

namespace {

sigset_t gWaitMask;
std::mutex gTemporaryLock; // finish() may run on the helper thread below
std::string gTemporary;
Terminal* gTerminal = nullptr;

void onSignal(int sig) {
    if (sig == SIGINT)
        gInterrupted = 1;
    else
        gHangup = 1;
}

} // namespace

void installSignals() {
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGQUIT, SIG_DFL);

    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGHUP);
    sigaddset(&block, SIGTERM);
    sigprocmask(SIG_BLOCK, &block, &gWaitMask);
    sigdelset(&gWaitMask, SIGINT);
    sigdelset(&gWaitMask, SIGHUP);
    sigdelset(&gWaitMask, SIGTERM);

    // A hangup or termination ends the tool whatever it is doing, also while
    // the main thread sits in a library call that waits on the network with
    // the signals blocked. The helper inherits the blocked set and takes them.
    try {
        std::thread([] {
            sigset_t ends;
            sigemptyset(&ends);
            sigaddset(&ends, SIGHUP);
            sigaddset(&ends, SIGTERM);
            int sig = 0;
            while (sigwait(&ends, &sig) != 0) {
            }
            finish(1);
        }).detach();
    } catch (...) {
        // Without it the main thread still notices them between its steps.
    }
}

const sigset_t* waitMask() {
    return &gWaitMask;
}

void takeSignals() {
    sigset_t pending;
    if (sigpending(&pending) != 0)
        return;
    sigset_t wanted;
    sigemptyset(&wanted);
    bool any = false;
    for (int sig : {SIGINT, SIGHUP, SIGTERM}) {
        if (sigismember(&pending, sig)) {
            sigaddset(&wanted, sig);
            any = true;
        }
    }
    const struct timespec zero {};
    while (any) {
        const int sig = sigtimedwait(&wanted, nullptr, &zero);
        if (sig <= 0)
            break;
        onSignal(sig);
    }
}

void setTemporaryFile(const std::string& path) {
    const std::lock_guard<std::mutex> hold(gTemporaryLock);
    gTemporary = path;
}

void finish(int status) {
    gTemporaryLock.lock(); // kept: the tool ends here
    if (!gTemporary.empty())
        unlink(gTemporary.c_str());
    if (gTerminal)
        gTerminal->restore();
    _exit(status);
}

void Terminal::setup() {
    gTerminal = this;
    if (!isatty(1))
        mCrlf = false;
    if (!isatty(0) || tcgetattr(0, &mSaved) != 0)
        return;
    struct termios t = mSaved;
    // No kernel echo, no line editing, no flow control, no output conversion:
    // every byte of a name reaches the tool as typed, and the tool writes its
    // own CR LF. ^C stays the interrupt key for people at a terminal.
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | IEXTEN);
    t.c_lflag |= ISIG;
    t.c_cflag &= ~(CSIZE | PARENB);
    t.c_cflag |= CS8;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    t.c_cc[VQUIT] = _POSIX_VDISABLE;
    t.c_cc[VSUSP] = _POSIX_VDISABLE;
    if (tcsetattr(0, TCSANOW, &t) == 0)
        mRaw = true;
}

void Terminal::restore() {
    if (mRaw)
        tcsetattr(0, TCSANOW, &mSaved);
    mRaw = false;
}

void Terminal::write(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(1, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            finish(1); // nobody reads us any more
        done += size_t(n);
    }
}

bool Terminal::fill(int watchFd, bool (*onWatch)()) {
    for (;;) {
        if (gHangup)
            finish(1);
        gInterrupted = 0; // at the prompt an interrupt has nothing to stop
        struct pollfd fds[2] = {{0, POLLIN, 0}, {watchFd, POLLIN, 0}};
        const int n = ppoll(fds, watchFd >= 0 ? 2 : 1, nullptr, waitMask());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (watchFd >= 0 && fds[1].revents && !(onWatch && onWatch()))
            watchFd = -1;
        if (fds[0].revents) {
            char buf[4096];
            const ssize_t got = read(0, buf, sizeof buf);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got <= 0)
                return false;
            mInput.append(buf, size_t(got));
            return true;
        }
    }
}

bool Terminal::readLine(std::string& out, bool command, int watchFd, bool (*onWatch)()) {
    for (;;) {
        if (mSkipLF && !mInput.empty()) {
            if (mInput[0] == '\n')
                mInput.erase(0, 1);
            mSkipLF = false;
        }
        size_t end = std::string::npos;
        if (command) {
            end = findCommandEnd(mInput);
        } else {
            end = mInput.find_first_of("\r\n");
        }
        if (end != std::string::npos) {
            out = mInput.substr(0, end);
            // A CR typed at a terminal may be followed by an LF; both end one line.
            mSkipLF = mInput[end] == '\r';
            mInput.erase(0, end + 1);
            return true;
        }
        if (!fill(watchFd, onWatch))
            return false;
    }
}

} // namespace sftptool
