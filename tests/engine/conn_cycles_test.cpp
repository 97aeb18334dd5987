// A thousand connections made and dropped: every worker ends, and no thread
// or descriptor is left behind. The test runs a pyftpdlib server of its own,
// so that no other test's traffic shares it.
#include "engine/EnginePreferences.h"
#include "engine/FTPThread.h"
#include "tests/engine/conn_frontend.h"
#include "tests/support/tempdir.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

using namespace conntest;

namespace {

class PrivateServer {
public:
    PrivateServer() {
        const char* source = std::getenv("ZARVEL_SOURCE_DIR");
        const std::string script = std::string(source ? source : ".") + "/tests/servers/pyftpd.py";
        const std::string root = mDir.file("root");
        const std::string portFile = mDir.file("port");
        std::vector<std::string> args = {"/usr/bin/python3", script,  "--root", root,
                                         "--portfile",       portFile};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        // The server's log goes to a file of its own, not into the test's output.
        const std::string log = mDir.file("log");
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT, 0644);
        ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (::posix_spawn(&mPid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            mPid = -1;
        ::posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 400 && mPid > 0 && port == 0; ++i) {
            std::ifstream in(portFile);
            if (!(in >> port))
                std::this_thread::sleep_for(25ms);
        }
        home = root + "/home";
    }
    ~PrivateServer() {
        if (mPid > 0) {
            ::kill(mPid, SIGTERM);
            ::waitpid(mPid, nullptr, 0);
        }
    }
    int port = 0;
    std::string home;

private:
    testsupport::TempDir mDir;
    pid_t mPid = -1;
};

} // namespace

TEST(ConnCycles, ThousandConnectAndDisconnectCyclesLeaveNothingBehind) {
    PrivateServer server;
    ASSERT_GT(server.port, 0) << "pyftpdlib did not start";
    sBookMarkData bookmark;
    bookmark.host = "127.0.0.1";
    bookmark.port = server.port;
    bookmark.username = "zarvel";
    bookmark.password = "zarvel-secret";
    bookmark.passive = true;
    auto settle = [](int threads, int fds) {
        FTPThread::WaitForWorkers(60s);
        // A worker's thread is gone a moment after its object.
        return PPx::RunEventLoopUntil(
            [&] { return Threads() <= threads && OpenDescriptors() <= fds; }, 30s);
    };
    {
        // The first connection makes what lives on (the event dispatcher and the like).
        RecordingFrontend warm;
        auto c = Open(warm, bookmark);
        ASSERT_TRUE(c) << warm.lastError;
    }
    ASSERT_TRUE(FTPThread::WaitForWorkers(60s));
    RecordingFrontend::Drain(200ms);
    const int threads = Threads();
    const int fds = OpenDescriptors();

    for (int cycle = 0; cycle < 1000; ++cycle) {
        RecordingFrontend frontend;
        auto connection = Open(frontend, bookmark);
        ASSERT_TRUE(connection) << "cycle " << cycle << ": " << frontend.lastError << " after "
                                << (frontend.log.empty() ? "nothing" : frontend.log.back());
        // Half of them say goodbye, the others are dropped at once.
        if (cycle % 2 == 0) {
            ASSERT_TRUE(frontend.Do([&] { connection->Disconnect(); })) << "cycle " << cycle;
            EXPECT_FALSE(connection->IsConnected());
        }
        connection.reset();
        ASSERT_EQ(frontend.ends, frontend.requests) << "cycle " << cycle;
        ASSERT_TRUE(frontend.faults.empty()) << frontend.faults.front();
        // Keep the number of live workers bounded as a window would.
        if (cycle % 100 == 99) {
            ASSERT_TRUE(settle(threads, fds)) << "cycle " << cycle << ": " << Threads()
                                              << " threads, " << OpenDescriptors() << " fds";
        }
    }
    EXPECT_TRUE(settle(threads, fds)) << Threads() << " threads (" << threads << " before), "
                                      << OpenDescriptors() << " descriptors (" << fds << " before)";
    EXPECT_EQ(FTPThread::LiveWorkers(), 0u);
}
