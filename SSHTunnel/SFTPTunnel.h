#pragma once
// Drives the sftp command-line tool on a pseudo-terminal: starts it, answers
// its host-key and password questions, then types commands at its "sftp> "
// prompt and hands its output back one line at a time. It knows nothing of
// what the commands mean.
//
// One worker thread uses a tunnel; the main thread may only call
// AbortTransfer and Terminate.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <sys/types.h>

typedef int SFTPErr;
typedef void (*SFTPIdleCallback)(void*);

enum : SFTPErr {
    kSFTPNoErr = 0,
    kSFTPParamErr = -1,
    kSFTPNotFound = -2,
    kSFTPCannotStart = -3,
    kSFTPCommErr = -4,
    kSFTPBadPassword = -5,
    kSFTPClosed = -6,
    // The server's host key is not the one on record; the tool refused it.
    kSFTPHostKeyChanged = -7,
};

class SFTPTunnel {
public:
    explicit SFTPTunnel(const char* sftpPath = nullptr);
    virtual ~SFTPTunnel();
    SFTPTunnel(const SFTPTunnel&) = delete;
    SFTPTunnel& operator=(const SFTPTunnel&) = delete;

    virtual SFTPErr Connect(const char* host, const char* user, const char* password,
                            uint16_t port);
    // Tells the tool to quit, closes the terminal and collects the process
    // (killing it when it does not end within a short while).
    virtual void Disconnect();
    // Types `command` and a line end, and swallows the tool's echo line.
    virtual SFTPErr SendCommand(const char* command);
    // One complete line, line end included, cut to size-1 bytes. The prompt
    // "sftp> " (at the start of a line, with nothing after it) comes back as a
    // line of its own; other text without a line end waits for the rest.
    virtual SFTPErr ReadLine(char* buffer, int size);
    // The same, whole: no line is cut.
    SFTPErr ReadLine(std::string& line);
    virtual SFTPErr WaitForPrompt();
    // The line is the prompt: "sftp> " with nothing after it.
    virtual bool IsPrompt(const char* text);
    virtual void SetSFTPPath(const char* path);
    virtual void SetIdleCallback(SFTPIdleCallback callback, void* userData);
    // Interrupts the tool's running command (any thread). A tool that has not
    // come back to its prompt sAbortGraceMillis later is ended, whether or not
    // it prints anything meanwhile; the next command forgets the interrupt.
    virtual void AbortTransfer();
    // Ends the tool at once (any thread): a worker waiting on it sees the
    // terminal end.
    void Terminate();

    // After kSFTPHostKeyChanged: the known-hosts file and line that hold the
    // old key, as the tool names them ("/home/u/.ssh/known_hosts:3"); empty
    // when it named none.
    const std::string& StoredKeyPlace() const { return mStoredKeyPlace; }

    const char* FindSFTP();
    int GetFD() const { return mFD; }
    bool IsConnected() const { return mConnected; }

    // How long Disconnect waits for the tool to end before killing it.
    static int sReapMillis;
    // How long an interrupted tool has to come back to its prompt.
    static int sAbortGraceMillis;

private:
    SFTPErr DoConnect();
    SFTPErr WaitForData();
    // Bytes are ready to read, or arrive within `millis`.
    bool MoreWithin(int millis);
    bool WriteAll(const std::string& text);
    void CloseTerminal(bool sayQuit);
    void Reap();
    void Signal(int sig);

    std::string mHost;
    std::string mUsername;
    std::string mPassword;
    uint16_t mPort = 22;
    int mFD = -1;
    pid_t mSFTPpid = -1; // guarded by mPidLock
    std::mutex mPidLock;
    bool mConnected = false;
    std::string mLineBuffer; // bytes read and not yet handed out
    SFTPIdleCallback mCallback = nullptr;
    void* mCallbackUserData = nullptr;
    // When the running command was first interrupted (steady clock, ms); 0
    // for none.
    std::atomic<long long> mAbortedAt{0};
    std::string mSFTPPath;
    std::string mFound;
    std::string mStoredKeyPlace;
};
