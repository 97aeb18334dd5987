#pragma once
// Where the test servers started by tests/servers listen, and who may log in.
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

// The folder the fixture server of `name` keeps its state in.
std::string serverDir(const std::string& name);

} // namespace testsupport
