// The server fixtures themselves: each one answers on the port it announced.
#include "tests/support/servers.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string greeting(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string got;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        char buf[256];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n > 0)
            got.assign(buf, static_cast<size_t>(n));
    }
    close(fd);
    return got;
}

TEST(ServerFixtures, PyftpdGreets) {
    auto s = testsupport::testServer("pyftpd");
    EXPECT_EQ(greeting(s.port).rfind("220", 0), 0u);
}

} // namespace
