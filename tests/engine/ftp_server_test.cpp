// The FTP engine against a real server (pyftpdlib or vsftpd, chosen by the
// environment variable ZARVEL_FTP_SERVER), in passive and in active mode.
#include "engine/FTPEngine.h"
#include "tests/engine/modtimes_checks.h"
#include "tests/support/servers.h"
#include "tests/support/tempdir.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string ServerName() {
    return testsupport::serverFromEnv("ZARVEL_FTP_SERVER");
}

off_t SizeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

struct Aborter : TransferProgress {
    FTPEngine* engine = nullptr;
    unsigned long long last = 0;
    void StartTransfer() override {}
    void EndTransfer() override {}
    void UpdateProgress(unsigned long long bytes) override {
        last = bytes;
        engine->AbortTransfer();
    }
};

// Each test works in a folder of its own on the server, made by the engine
// so that the server's user owns it.
class FtpServerTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        server = testsupport::testServer(ServerName());
        ASSERT_TRUE(engine.Connect(server.host, server.port, 30)) << engine.GetLastError();
        ASSERT_TRUE(engine.Authenticate(server.user, server.password, "")) << engine.GetLastError();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = std::string("ftp-") + info->name() + "-" + std::to_string(::getpid());
        for (char& c : folder)
            if (c == '/')
                c = '-';
        ASSERT_TRUE(engine.SendCreateFolder(folder)) << engine.GetLastError();
        ASSERT_TRUE(engine.ChangeDir(folder)) << engine.GetLastError();
        remote = server.root + "/" + folder;
    }
    void TearDown() override {
        if (engine.IsConnected())
            engine.SendCommand("QUIT");
        engine.Disconnect();
    }
    bool Passive() const { return GetParam(); }

    testsupport::TestServer server;
    FTPEngine engine;
    std::string folder;
    std::string remote; // the folder as this process sees it
    TempDir local;
};

} // namespace

TEST(FtpServerLogin, GoodAndBadPasswords) {
    const auto server = testsupport::testServer(ServerName());
    FTPEngine bad;
    ASSERT_TRUE(bad.Connect(server.host, server.port, 30)) << bad.GetLastError();
    EXPECT_FALSE(bad.Authenticate(server.user, "wrong password", ""));
    EXPECT_EQ(bad.GetResponseCode() / 100, 5) << bad.GetLastError();

    FTPEngine good;
    ASSERT_TRUE(good.Connect(server.host, server.port, 30));
    EXPECT_TRUE(good.Authenticate(server.user, server.password, "")) << good.GetLastError();
    std::string path;
    EXPECT_TRUE(good.SendGetWorkingDir(path)) << good.GetLastError();
    EXPECT_EQ(path.substr(0, 1), "/");
    std::string system;
    EXPECT_TRUE(good.SendSystem(system));
    EXPECT_NE(system.find("UNIX"), std::string::npos);
    EXPECT_TRUE(good.SendNOOP());

    FTPEngine nobody;
    ASSERT_TRUE(nobody.Connect(server.host, server.port + 0, 30));
    if (ServerName() == "pyftpd")
        EXPECT_TRUE(nobody.Authenticate("", "", "")) << nobody.GetLastError();
    else
        EXPECT_FALSE(nobody.Authenticate("", "", ""));
}

TEST_P(FtpServerTest, ListingDownloadUploadAndResumeAreByteExact) {
    const std::string data = testsupport::randomBytes(3 * 1024 * 1024 + 123, 7);
    writeFile(remote + "/down.bin", data);
    std::string listing;
    ASSERT_TRUE(engine.GetDirList(nullptr, listing, Passive())) << engine.GetLastError();
    EXPECT_NE(listing.find("down.bin"), std::string::npos);
    EXPECT_NE(listing.find(std::to_string(data.size())), std::string::npos);
    ASSERT_TRUE(engine.GetDirList("down.bin", listing, Passive())) << engine.GetLastError();
    EXPECT_NE(listing.find("down.bin"), std::string::npos);

    ASSERT_TRUE(engine.GetFile("down.bin", local.file("down.bin"), 0, false, Passive(),
                               static_cast<int64_t>(data.size())))
        << engine.GetLastError();
    EXPECT_TRUE(readFile(local.file("down.bin")) == data);

    // Resume a download from the middle.
    const size_t half = data.size() / 2 + 17;
    writeFile(local.file("half.bin"), data.substr(0, half));
    ASSERT_TRUE(engine.GetFile("down.bin", local.file("half.bin"), half, false, Passive(),
                               static_cast<int64_t>(data.size())))
        << engine.GetLastError();
    EXPECT_TRUE(readFile(local.file("half.bin")) == data);

    // Upload, then resume an upload from the middle.
    writeFile(local.file("up.bin"), data);
    ASSERT_TRUE(engine.PutFile("up.bin", local.file("up.bin"), 0, false, Passive()))
        << engine.GetLastError();
    EXPECT_TRUE(readFile(remote + "/up.bin") == data);
    writeFile(remote + "/resume.bin", data.substr(0, half));
    ::chmod((remote + "/resume.bin").c_str(), 0666);
    ASSERT_TRUE(engine.PutFile("resume.bin", local.file("up.bin"), half, false, Passive()))
        << engine.GetLastError();
    EXPECT_TRUE(readFile(remote + "/resume.bin") == data);

    // A file that is not there: no local file appears.
    EXPECT_FALSE(engine.GetFile("missing.bin", local.file("missing.bin"), 0, false, Passive()));
    EXPECT_EQ(SizeOf(local.file("missing.bin")), -1);
    EXPECT_TRUE(engine.SendNOOP()) << engine.GetLastError();

    // An empty file both ways.
    writeFile(local.file("empty"), "");
    ASSERT_TRUE(engine.PutFile("empty", local.file("empty"), 0, false, Passive()));
    ASSERT_TRUE(engine.GetFile("empty", local.file("empty2"), 0, false, Passive(), 0));
    EXPECT_EQ(SizeOf(local.file("empty2")), 0);
}

TEST_P(FtpServerTest, AsciiModeConvertsLineEndsBothWays) {
    const std::string text = "first line\nsecond line\n\nlast line\n";
    writeFile(local.file("notes.txt"), text);
    ASSERT_TRUE(engine.PutFile("notes.txt", local.file("notes.txt"), 0, true, Passive()))
        << engine.GetLastError();
    // The server stores its own line ends (LF) after an ASCII upload.
    EXPECT_EQ(readFile(remote + "/notes.txt"), text);
    // The local file was sent through a converted copy, and stays as it was.
    EXPECT_EQ(readFile(local.file("notes.txt")), text);

    ASSERT_TRUE(engine.GetFile("notes.txt", local.file("back.txt"), 0, true, Passive()))
        << engine.GetLastError();
    EXPECT_EQ(readFile(local.file("back.txt")), text);
    // The same file in binary mode arrives as stored.
    ASSERT_TRUE(engine.GetFile("notes.txt", local.file("raw.txt"), 0, false, Passive()));
    EXPECT_EQ(readFile(local.file("raw.txt")), text);
}

TEST_P(FtpServerTest, RenameMkdirChmodDeleteAndModTime) {
    writeFile(local.file("a.txt"), "hello");
    ASSERT_TRUE(engine.PutFile("a.txt", local.file("a.txt"), 0, false, Passive()));
    ASSERT_TRUE(engine.SendRename("a.txt", "b.txt")) << engine.GetLastError();
    EXPECT_EQ(SizeOf(remote + "/a.txt"), -1);
    EXPECT_EQ(readFile(remote + "/b.txt"), "hello");
    EXPECT_FALSE(engine.SendRename("missing.txt", "c.txt"));

    ASSERT_TRUE(engine.SendCreateFolder("sub")) << engine.GetLastError();
    struct stat info {};
    ASSERT_EQ(::stat((remote + "/sub").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_FALSE(engine.SendCreateFolder("no/such/parent"));
    EXPECT_TRUE(engine.ChangeDir("sub"));
    EXPECT_TRUE(engine.ChangeDir(".."));
    EXPECT_FALSE(engine.ChangeDir("not-there"));

    ASSERT_TRUE(engine.SetPerms("b.txt", "640")) << engine.GetLastError();
    ASSERT_EQ(::stat((remote + "/b.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    // MDTM gives universal time.
    const time_t stamp = 1104635045; // 2005-01-02 03:04:05 UTC
    struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (remote + "/b.txt").c_str(), times, 0), 0);
    DateTimeRec date;
    ASSERT_TRUE(engine.GetModTime("b.txt", date)) << engine.GetLastError();
    EXPECT_EQ(date.year, 2005);
    EXPECT_EQ(date.month, 1);
    EXPECT_EQ(date.day, 2);
    EXPECT_EQ(date.hour, 3);
    EXPECT_EQ(date.minute, 4);
    EXPECT_EQ(date.second, 5);
    EXPECT_FALSE(engine.GetModTime("missing.txt", date));

    EXPECT_FALSE(engine.DeleteFolder("sub-missing"));
    ASSERT_TRUE(engine.DeleteFile("b.txt")) << engine.GetLastError();
    EXPECT_EQ(SizeOf(remote + "/b.txt"), -1);
    EXPECT_FALSE(engine.DeleteFile("b.txt"));
    ASSERT_TRUE(engine.DeleteFolder("sub")) << engine.GetLastError();
    EXPECT_EQ(SizeOf(remote + "/sub"), -1);
}

TEST_P(FtpServerTest, AbortMidTransferKeepsTheDialogueAndReportsNothingComplete) {
    const off_t big = 512 * 1024 * 1024;
    {
        const int fd = ::open((remote + "/big.bin").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, big), 0);
        ::close(fd);
    }
    Aborter aborter;
    aborter.engine = &engine;
    engine.SetParent(&aborter);
    writeFile(local.file("big.bin"), "an older file");
    EXPECT_TRUE(engine.GetFile("big.bin", local.file("big.bin"), 0, false, Passive(), big));
    EXPECT_TRUE(engine.TransferAborted());
    EXPECT_EQ(readFile(local.file("big.bin")), "an older file");
    EXPECT_TRUE(engine.SendNOOP()) << engine.GetLastError();

    // Where no file stood, what arrived stays for a later resume; it is
    // shorter than the file.
    EXPECT_TRUE(engine.GetFile("big.bin", local.file("new.bin"), 0, false, Passive(), big));
    EXPECT_LT(SizeOf(local.file("new.bin")), big);
    EXPECT_TRUE(engine.SendNOOP()) << engine.GetLastError();

    // An aborted upload is cut with a reset; the server keeps at most a part.
    ASSERT_EQ(::truncate(local.file("new.bin").c_str(), big), 0);
    EXPECT_TRUE(engine.PutFile("up.bin", local.file("new.bin"), 0, false, Passive()));
    EXPECT_TRUE(engine.TransferAborted());
    EXPECT_LT(SizeOf(remote + "/up.bin"), big);
    EXPECT_TRUE(engine.SendNOOP()) << engine.GetLastError();
    engine.SetParent(nullptr);
    ::unlink((remote + "/big.bin").c_str());
    ::unlink((remote + "/up.bin").c_str());
}

// Dates asked in groups: the same dates as one by one, and a failure that
// leaves the dialogue in step for the next command.
TEST(FtpServerModTimes, GroupsGiveTheDatesOfSingleCallsAndFailAsTheyDo) {
    const auto server = testsupport::testServer(ServerName());
    FTPEngine engine;
    ASSERT_TRUE(engine.Connect(server.host, server.port, 30)) << engine.GetLastError();
    ASSERT_TRUE(engine.Authenticate(server.user, server.password, "")) << engine.GetLastError();
    const std::string folder = "ftp-modtimes-" + std::to_string(::getpid());
    ASSERT_TRUE(engine.SendCreateFolder(folder)) << engine.GetLastError();
    ASSERT_TRUE(engine.ChangeDir(folder)) << engine.GetLastError();
    const std::string remote = server.root + "/" + folder;

    // More files than one group holds, each with a date of its own.
    std::vector<std::string> names;
    std::vector<DateTimeRec> expected;
    for (int i = 0; i < 100; ++i) {
        names.push_back("file " + std::to_string(i) + ".txt");
        writeFile(remote + "/" + names.back(), "x");
        const time_t stamp = 1104635045 + static_cast<time_t>(i) * 90061;
        struct timespec times[2] = {{stamp, 0}, {stamp, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (remote + "/" + names.back()).c_str(), times, 0), 0);
        struct tm utc {};
        ::gmtime_r(&stamp, &utc);
        expected.push_back(DateTimeRec{int16_t(utc.tm_year + 1900), int16_t(utc.tm_mon + 1),
                                       int16_t(utc.tm_mday), int16_t(utc.tm_hour),
                                       int16_t(utc.tm_min), int16_t(utc.tm_sec), 0});
    }

    // A missing file in the middle of the second group fails with the
    // server's own refusal; the replies after it in that group must not
    // reach the commands that follow.
    std::string missingError;
    testsupport::ExpectDatesAsOneByOne(engine, names, expected, "missing.txt", 40,
                                       "x\r\nDELE file 3.txt", missingError);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(missingError.substr(0, 1), "5") << missingError;
    EXPECT_EQ(readFile(remote + "/file 3.txt"), "x");
    std::vector<std::string> withMissing = names;
    withMissing.insert(withMissing.begin() + 40, "missing.txt");
    std::vector<DateTimeRec> dates;
    EXPECT_FALSE(engine.GetModTimes(withMissing, dates));
    DateTimeRec one;
    ASSERT_TRUE(engine.GetModTime(names[99], one)) << engine.GetLastError();
    EXPECT_EQ(one, expected[99]);
    std::string listing;
    ASSERT_TRUE(engine.GetDirList(nullptr, listing, true)) << engine.GetLastError();
    EXPECT_NE(listing.find("file 99.txt"), std::string::npos);
    EXPECT_TRUE(engine.SendNOOP()) << engine.GetLastError();
    EXPECT_EQ(engine.GetResponseCode(), 200);

    for (const std::string& name : names)
        EXPECT_TRUE(engine.DeleteFile(name)) << engine.GetLastError();
    EXPECT_TRUE(engine.ChangeDir(".."));
    EXPECT_TRUE(engine.DeleteFolder(folder)) << engine.GetLastError();
    engine.SendCommand("QUIT");
    engine.Disconnect();
}

INSTANTIATE_TEST_SUITE_P(Modes, FtpServerTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Passive" : "Active"; });

namespace {

// Calls its parent on every chunk, not only every tenth of a second.
class EveryChunkEngine : public FTPEngine {
protected:
    uint32_t CurrentTicks() override { return mTicks += 10; }

private:
    uint32_t mTicks = 1;
};

struct Killer : TransferProgress {
    testsupport::PrivateServer* server = nullptr;
    void StartTransfer() override {}
    void EndTransfer() override {}
    void UpdateProgress(unsigned long long) override {
        if (server)
            server->Kill();
        server = nullptr;
    }
};

} // namespace

// The server dies in the middle of a download and of an upload: each is a
// failure with a message that says so, the file that stood at the
// destination stays, and the engine knows that the connection is gone.
TEST(FtpServerGone, MidTransferIsAFailure) {
    const off_t big = 2LL * 1024 * 1024 * 1024;
    for (const bool upload : {false, true}) {
        SCOPED_TRACE(upload ? "upload" : "download");
        testsupport::PrivateServer server(ServerName());
        ASSERT_TRUE(server.Started());
        TempDir local;
        const std::string file = upload ? local.file("big.bin") : server.info.root + "/big.bin";
        {
            const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT, 0644);
            ASSERT_GE(fd, 0);
            ASSERT_EQ(::ftruncate(fd, big), 0);
            ::close(fd);
        }
        Killer killer;
        killer.server = &server;
        EveryChunkEngine engine;
        engine.SetParent(&killer);
        ASSERT_TRUE(engine.Connect(server.info.host, server.info.port, 10));
        ASSERT_TRUE(engine.Authenticate(server.info.user, server.info.password, ""))
            << engine.GetLastError();
        if (upload) {
            EXPECT_FALSE(engine.PutFile("up.bin", file, 0, false, true));
            EXPECT_STREQ(engine.GetLastError(), "Could not send data");
        } else {
            writeFile(local.file("old.bin"), "an older file");
            EXPECT_FALSE(engine.GetFile("big.bin", local.file("old.bin"), 0, false, true, big));
            // The data stream may end before the control connection does.
            const std::string message = engine.GetLastError();
            EXPECT_TRUE(message == "The server closed the connection" ||
                        message == "The connection was lost during the transfer")
                << message;
            EXPECT_EQ(readFile(local.file("old.bin")), "an older file");
        }
        EXPECT_EQ(killer.server, nullptr) << "the transfer ended before the server was killed";
        EXPECT_FALSE(engine.IsConnected());
    }
}
