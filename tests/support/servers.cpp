#include "servers.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace testsupport {

std::string serverDir(const std::string& name) {
    const char* base = std::getenv("ZARVEL_SERVERS");
    if (!base)
        throw std::runtime_error("ZARVEL_SERVERS is not set: run the test through ctest");
    return std::string(base) + "/" + name;
}

TestServer testServer(const std::string& name) {
    TestServer s;
    const std::string dir = serverDir(name);
    std::ifstream in(dir + "/port");
    if (!(in >> s.port) || s.port <= 0)
        throw std::runtime_error("test server " + name + " is not running");
    s.root = dir + "/root";
    std::ifstream creds(dir + "/credentials");
    if (!(creds >> s.user >> s.password)) {
        s.user = "zarvel";
        s.password = "zarvel-secret";
    }
    if (name == "pyftpd")
        s.root += "/home";
    return s;
}

} // namespace testsupport
