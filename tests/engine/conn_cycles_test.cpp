// A thousand connections made and dropped against pyftpdlib: every worker
// ends, and no thread or descriptor is left behind.
#include "EnginePreferences.h"
#include "FTPThread.h"
#include "conn_frontend.h"

#include <gtest/gtest.h>

using namespace conntest;

TEST(ConnCycles, ThousandConnectAndDisconnectCyclesLeaveNothingBehind) {
    const ServerSpec server = Server("pyftpd");
    const sBookMarkData bookmark = Bookmark(server);
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
        ASSERT_TRUE(connection) << "cycle " << cycle << ": " << frontend.lastError;
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
