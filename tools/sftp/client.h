#pragma once
// One SFTP session over libssh2: login with host-key check, then the
// commands typed at the "sftp> " prompt.
#include "cmdline.h"
#include "terminal.h"

#include <libssh2.h>
#include <libssh2_sftp.h>

#include <string>
#include <vector>

namespace sftptool {

class Client {
public:
    Client(Terminal& term, Destination dest) : mTerm(term), mDest(std::move(dest)) {}

    void connect();          // TCP, SSH handshake, host key, password, SFTP channel
    [[noreturn]] void run(); // the prompt loop
    // Says "Connection closed" and ends the tool.
    [[noreturn]] void connectionClosed();

private:
    enum class Wait { Ready, Timeout, Interrupted };

    Wait waitSocket(int timeoutMs, bool interruptible);
    template <class F> int retry(F f);
    template <class F> auto retryPtr(F f);
    std::string failure(int rc);

    void checkHostKey();
    void authenticate();
    void execute(const std::string& command);

    bool realPath(const std::string& path, std::string& out, std::string& error);
    int stat(const std::string& path, LIBSSH2_SFTP_ATTRIBUTES& attrs, int how);

    void doCd(const std::vector<Word>& w);
    void doLs(const std::vector<Word>& w);
    void doGet(const std::vector<Word>& w);
    void doPut(const std::vector<Word>& w);
    void doModTime(const std::vector<Word>& w);
    void doSimple(const std::string& verb, const std::vector<Word>& w);
    void closeHandle(LIBSSH2_SFTP_HANDLE* h);

    // Progress of the running transfer.
    void startProgress();
    void progress(uint64_t done, bool force);

    Terminal& mTerm;
    Destination mDest;
    int mSock = -1;
    LIBSSH2_SESSION* mSession = nullptr;
    LIBSSH2_SFTP* mSftp = nullptr;
    std::string mCwd;
    bool mHaveRest = false;
    uint64_t mRest = 0;
    long long mNextProgress = 0;
};

} // namespace sftptool
