#pragma once
// Where the test servers started by tests/servers listen, and who may log in.
#include "tests/support/tempdir.h"

#include <string>

namespace testsupport {

struct TestServer {
    std::string host = "127.0.0.1";
    int port = 0;
    std::string root; // the server's files, as the test process sees them
    std::string user;
    std::string password;
};

// Reads what the fixture named `name` left behind; fails the test when the
// server is not running.
TestServer testServer(const std::string& name);

// The fixture server a test file runs against: the one the environment
// variable VARIABLE names, or FALLBACK.
std::string serverFromEnv(const char* variable, const char* fallback = "pyftpd");

// The folder the fixture server of `name` keeps its state in.
std::string serverDir(const std::string& name);

// A server of the fixture kind `kind`, private to one test so that the test
// may kill it: started by the fixture script into a folder of its own.
class PrivateServer {
public:
    explicit PrivateServer(const std::string& kind);
    ~PrivateServer();
    PrivateServer(const PrivateServer&) = delete;
    PrivateServer& operator=(const PrivateServer&) = delete;
    bool Started() const { return mStarted; }

    // SIGKILL to the server and every process below it.
    void Kill();
    // SIGKILL to every session the server serves, by process id, as a crash
    // of each would end it; the server itself goes on taking connections.
    void KillSessions();

    TestServer info;

private:
    std::string Command(const char* action) const;
    std::string mKind;
    TempDir mBase;
    std::string mScript;
    bool mStarted = false;
};

} // namespace testsupport
