#include "engine/CUnixSocket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kLoopback = INADDR_LOOPBACK;

// A listening socket on a free loopback port.
struct Listener {
    CUnixSocket socket;
    int port = 0;
    Listener() {
        EXPECT_TRUE(socket.CreateTCP());
        EXPECT_TRUE(socket.Bind(0, kLoopback));
        EXPECT_TRUE(socket.Listen(5));
        std::string address;
        EXPECT_TRUE(socket.GetSockAddress(address, port));
        EXPECT_EQ(address, "127.0.0.1");
        EXPECT_GT(port, 0);
    }
};

// A connected pair over loopback: `client` dialled, `server` accepted.
struct Pair {
    Listener listener;
    CUnixSocket client;
    CUnixSocket server;
    Pair() {
        EXPECT_TRUE(client.CreateTCP());
        EXPECT_TRUE(client.Connect("127.0.0.1", listener.port));
        std::string peer;
        int peerPort = 0;
        EXPECT_TRUE(listener.socket.Accept(server, peer, peerPort));
        EXPECT_EQ(peer, "127.0.0.1");
        std::string own;
        int ownPort = 0;
        EXPECT_TRUE(client.GetSockAddress(own, ownPort));
        EXPECT_EQ(peerPort, ownPort);
    }
};

} // namespace

TEST(CUnixSocket, SendsAndReceivesExactCountsOverLoopback) {
    Pair pair;
    EXPECT_FALSE(pair.client.Disconnected());
    EXPECT_FALSE(pair.server.Disconnected());

    // Large enough that send and receive loop over partial transfers.
    std::vector<char> out(4 * 1024 * 1024);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(i * 7 + i / 4096);
    std::thread sender([&] { EXPECT_TRUE(pair.client.SendData(out.data(), out.size())); });
    std::vector<char> in(out.size());
    uint32_t length = static_cast<uint32_t>(in.size());
    EXPECT_TRUE(pair.server.ReadData(in.data(), length));
    sender.join();
    EXPECT_EQ(length, out.size());
    EXPECT_TRUE(in == out);
    // Pending data never counts as a lost connection.
    EXPECT_TRUE(pair.server.SendData("x", 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(pair.client.Disconnected());

    uint32_t zero = 0;
    EXPECT_TRUE(pair.client.ReadData(in.data(), zero));
    EXPECT_EQ(zero, 0u);
    EXPECT_TRUE(pair.client.SendData(nullptr, 0));
}

TEST(CUnixSocket, ShortStreamGivesPartialLengthAndDisconnects) {
    Pair pair;
    char bytes[256] = {};
    EXPECT_TRUE(pair.server.SendData(bytes, 100));
    pair.server.Close();
    uint32_t length = sizeof(bytes);
    EXPECT_FALSE(pair.client.ReadData(bytes, length));
    EXPECT_EQ(length, 100u);
    EXPECT_TRUE(pair.client.Disconnected());
}

TEST(CUnixSocket, PeerCloseIsSeenAsDisconnectedWithoutReading) {
    Pair pair;
    EXPECT_FALSE(pair.client.Disconnected());
    pair.server.Close();
    EXPECT_TRUE(pair.server.Disconnected());
    // The FIN needs a moment to travel even over loopback.
    bool seen = false;
    for (int i = 0; i < 200 && !seen; ++i) {
        seen = pair.client.Disconnected();
        if (!seen)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(seen);
}

TEST(CUnixSocket, SendToClosedPeerFailsWithoutSignal) {
    // Default SIGPIPE disposition: a signal would end this test process.
    struct sigaction old {};
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, &old);

    Pair pair;
    pair.server.Close();
    std::vector<char> block(64 * 1024, 'z');
    bool failed = false;
    // The first send may still be accepted before the reset arrives.
    for (int i = 0; i < 100 && !failed; ++i) {
        failed = !pair.client.SendData(block.data(), block.size());
        if (!failed)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(failed);
    EXPECT_TRUE(pair.client.Disconnected());
    sigaction(SIGPIPE, &old, nullptr);
}

TEST(CUnixSocket, ConnectFailures) {
    CUnixSocket none;
    EXPECT_FALSE(none.Connect("127.0.0.1", 21)); // no descriptor
    EXPECT_TRUE(none.Disconnected());

    CUnixSocket socket;
    ASSERT_TRUE(socket.CreateTCP());
    // Names the resolver refuses without asking any server.
    EXPECT_FALSE(socket.Connect("bad..host", 21));
    EXPECT_FALSE(socket.Connect("no such host", 21));
    EXPECT_FALSE(socket.Connect(nullptr, 21));
    EXPECT_FALSE(socket.Connect("", 21));
    EXPECT_FALSE(socket.Connect("127.0.0.1", 70000));

    // A port nobody listens on: take a free one, then close it.
    int port = 0;
    {
        Listener gone;
        port = gone.port;
    }
    ASSERT_TRUE(socket.CreateTCP());
    EXPECT_FALSE(socket.Connect("127.0.0.1", port));
    // A failed connect leaves the descriptor for the caller to close.
    EXPECT_GE(socket.GetFD(), 0);
    ASSERT_TRUE(socket.CreateTCP());
    EXPECT_FALSE(socket.Connect("localhost", port));
}

TEST(CUnixSocket, CreateTCPClosesTheHeldConnection) {
    Pair pair;
    const int old = pair.client.GetFD();
    ASSERT_TRUE(pair.client.CreateTCP());
    EXPECT_NE(pair.client.GetFD(), -1);
    (void)old;
    // The server side sees the stream end.
    char byte;
    uint32_t length = 1;
    EXPECT_FALSE(pair.server.ReadData(&byte, length));
    EXPECT_EQ(length, 0u);
    EXPECT_TRUE(pair.server.Disconnected());
    // A fresh socket that is not connected cannot be used either.
    pair.client.Close();
    EXPECT_TRUE(pair.client.Disconnected());
    EXPECT_EQ(pair.client.GetFD(), -1);
}

TEST(CUnixSocket, ListenerIsNotDisconnectedAndAcceptIntoFreshObject) {
    Listener listener;
    EXPECT_FALSE(listener.socket.Disconnected());
    CUnixSocket none;
    EXPECT_FALSE(none.Listen(1));
    std::string address;
    int port = 0;
    EXPECT_FALSE(none.Accept(listener.socket, address, port));
    EXPECT_FALSE(none.GetSockAddress(address, port));
}

TEST(CUnixSocket, BindRetriesThenReusesAddressInTimeWait) {
    // Leave the port in TIME_WAIT: the accepting side closes first. Linux
    // lets a new bind share it only when the old socket allowed reuse too.
    int port = 0;
    {
        Pair pair;
        int reuse = 1;
        ASSERT_EQ(setsockopt(pair.server.GetFD(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)),
                  0);
        port = pair.listener.port;
        pair.server.Close();
        pair.listener.socket.Close();
        char byte;
        uint32_t length = 1;
        pair.client.ReadData(&byte, length);
    }
    CUnixSocket socket;
    ASSERT_TRUE(socket.CreateTCP());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(socket.Bind(port, kLoopback));
    const auto waited = std::chrono::steady_clock::now() - start;
    // Two refusals, one second apart, before address reuse makes it work.
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_TRUE(socket.Listen(1));
}

TEST(CUnixSocket, SignalsDoNotBreakABlockedRead) {
    // A handler installed without SA_RESTART makes a blocked recv fail with EINTR.
    struct sigaction handler {
    }, old{};
    handler.sa_handler = [](int) {};
    sigaction(SIGUSR1, &handler, &old);

    Pair pair;
    std::atomic<bool> reading{false};
    bool ok = false;
    char in[5] = {};
    uint32_t length = sizeof(in);
    std::thread reader([&] {
        reading = true;
        ok = pair.client.ReadData(in, length);
    });
    while (!reading)
        std::this_thread::yield();
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        pthread_kill(reader.native_handle(), SIGUSR1);
    }
    EXPECT_TRUE(pair.server.SendData("hello", 5));
    reader.join();
    sigaction(SIGUSR1, &old, nullptr);
    EXPECT_TRUE(ok);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(std::string(in, 5), "hello");
}
