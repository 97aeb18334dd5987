// The SFTP road of the program (SFTPEngine over the driver and the real
// tool) against the fault-injecting server of the "sftpfault" fixture: a
// damaged download is never a success, and an abort always comes back.
#include "engine/SFTPEngine.h"
#include "tests/support/servers.h"
#include "tests/support/tempdir.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

using Clock = std::chrono::steady_clock;

class EngineFault : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("HOME", home.path().c_str(), 1);
        server = testsupport::testServer("sftpfault");
        struct passwd* pw = getpwnam(server.user.c_str());
        ASSERT_NE(pw, nullptr);
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        remote = std::filesystem::canonical(server.root).string() + "/" + name + "-" +
                 std::to_string(getpid());
        ASSERT_EQ(mkdir(remote.c_str(), 0777), 0);
        ASSERT_EQ(lchown(remote.c_str(), pw->pw_uid, pw->pw_gid), 0);
        local = home.file("local");
        ASSERT_EQ(mkdir(local.c_str(), 0755), 0);
        ASSERT_TRUE(engine.Initialize());
        ASSERT_TRUE(engine.Connect(server.host, server.port, server.user, server.password, 30))
            << engine.GetLastError();
    }
    void TearDown() override {
        engine.Disconnect();
        std::error_code ec;
        std::filesystem::remove_all(remote, ec);
    }

    // Runs `transfer` while another thread aborts it a second after it began;
    // fails when it does not come back in good time.
    template <class F> bool aborted(F transfer) {
        std::thread abort([this] {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            engine.AbortTransfer();
        });
        const auto start = Clock::now();
        const bool result = transfer();
        abort.join();
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
        return result;
    }

    testsupport::TestServer server;
    TempDir home;
    std::string remote, local;
    SFTPEngine engine;
};

TEST_F(EngineFault, ShortAndEmptyReads) {
    const std::string data = testsupport::randomBytes(1024 * 1024 + 3, 11);
    writeFile(remote + "/cap-8192-f", data);
    ASSERT_TRUE(engine.GetFile(remote + "/cap-8192-f", local, "short", 0)) << engine.GetLastError();
    EXPECT_TRUE(readFile(local + "/short") == data);

    writeFile(remote + "/empty-f", "twelve bytes");
    writeFile(local + "/empty", "kept");
    EXPECT_FALSE(engine.GetFile(remote + "/empty-f", local, "empty", 0));
    EXPECT_NE(std::string(engine.GetLastError()).find("no data"), std::string::npos)
        << engine.GetLastError();
    EXPECT_EQ(readFile(local + "/empty"), "kept");
    // Where nothing stood, nothing is left.
    EXPECT_FALSE(engine.GetFile(remote + "/empty-f", local, "new-empty", 0));
    struct stat left {};
    EXPECT_NE(::lstat((local + "/new-empty").c_str(), &left), 0);
    EXPECT_TRUE(engine.IsConnected());
}

TEST_F(EngineFault, AbortComesBackFromAStalledServer) {
    writeFile(remote + "/stall-f", testsupport::randomBytes(1024 * 1024, 12));
    writeFile(local + "/stalled", "kept");
    aborted([&] { return engine.GetFile(remote + "/stall-f", local, "stalled", 0); });
    EXPECT_EQ(readFile(local + "/stalled"), "kept");

    writeFile(local + "/stall-up", testsupport::randomBytes(8 * 1024 * 1024, 13));
    // A new session: the server of the first one stays silent for good.
    engine.Disconnect();
    ASSERT_TRUE(engine.Connect(server.host, server.port, server.user, server.password, 30))
        << engine.GetLastError();
    ASSERT_TRUE(engine.ChangeDir(remote)) << engine.GetLastError();
    aborted([&] { return engine.PutFile("stall-up", local, 0); });
}

TEST_F(EngineFault, AbortEndsAPacketCutShortThenSilence) {
    writeFile(remote + "/truncated-f", testsupport::randomBytes(100000, 14));
    EXPECT_FALSE(aborted([&] { return engine.GetFile(remote + "/truncated-f", local, "cut", 0); }));
    EXPECT_FALSE(engine.IsConnected());
}

TEST_F(EngineFault, AnEndlessListingFailsClearly) {
    ASSERT_EQ(mkdir((remote + "/endless-d").c_str(), 0777), 0);
    std::string listing;
    EXPECT_FALSE(engine.GetDirList((remote + "/endless-d").c_str(), listing));
    EXPECT_NE(std::string(engine.GetLastError()).find("more than 200000 names"), std::string::npos)
        << engine.GetLastError();
    EXPECT_TRUE(listing.empty());
    EXPECT_TRUE(engine.IsConnected());
}

TEST_F(EngineFault, AHostileWorkingFolderIsShownSafely) {
    ASSERT_TRUE(engine.ChangeDir(remote + "/hostile-realpath")) << engine.GetLastError();
    std::string path;
    ASSERT_TRUE(engine.SendGetWorkingDir(path));
    EXPECT_EQ(path, "/?[2J??sftp> evil???");
}

} // namespace
