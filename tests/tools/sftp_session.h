#pragma once
// Test helpers for the sftp tool: a session of the tool on a pseudo-terminal,
// typed at as the program does, and a TCP proxy that can slow down or cut the
// link to the server.
#include <atomic>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace sftptest {

class ToolSession {
public:
    // Starts the tool for user@127.0.0.1 on `port` with $HOME set to `home`;
    // `extraArgs`, when given, replace the usual arguments.
    ToolSession(const std::string& home, int port, const std::string& user,
                std::vector<std::string> extraArgs = {});
    ~ToolSession();

    // Reads until `text` appears in output not consumed yet; returns the output
    // up to and including it and consumes it. Throws at the end of the
    // terminal or after a generous time-out.
    std::string expect(const std::string& text);
    // True when `text` arrives before the terminal ends.
    bool sees(const std::string& text);
    // Everything until the terminal ends.
    std::string rest();

    void type(const std::string& bytes);
    // Answers the host-key question when it comes, then the password; returns
    // the text seen before the prompt.
    std::string login(const std::string& password, bool expectQuestion);
    // Types a command and returns its output: the lines between the echo and
    // the next prompt. `echo` receives the echo line.
    std::string command(const std::string& text, std::string* echo = nullptr);

    pid_t pid() const { return mPid; }
    int master() const { return mFd; }
    void closeTerminal();
    // Waits for the tool to end; returns its wait status, or -1 on time-out.
    int wait(int seconds = 60);

private:
    bool fill(int timeoutMs);

    int mFd = -1;
    pid_t mPid = -1;
    bool mReaped = false;
    std::string mBuf;
};

class Proxy {
public:
    // Listens on 127.0.0.1; each accepted connection is forwarded to
    // `targetPort`, at most `bytesPerSecond` towards each side (0: no limit).
    Proxy(int targetPort, long bytesPerSecond = 0);
    ~Proxy();
    int port() const { return mPort; }
    // Cuts every connection at once, as a server that dies.
    void drop() { mDrop = true; }

private:
    void serve();
    int mListen = -1;
    int mPort = 0;
    int mTarget;
    long mRate;
    std::atomic<bool> mDrop{false};
    std::atomic<bool> mStop{false};
    std::thread mThread;
};

// "name" in the tool's quoting: double quotes, with \ before " and \.
std::string toolQuoted(const std::string& name);

} // namespace sftptest
