// The SFTP command layer against a scripted stand-in for the tool: what it
// types (quoting), and how it reads lines that only look like success.
#include "engine/SFTPEngine.h"
#include "platform/core/Timer.h"
#include "tests/support/tempdir.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

using testsupport::readFile;
using testsupport::TempDir;

namespace {

class Progress : public TransferProgress {
public:
    void StartTransfer() override { log += "strt "; }
    void EndTransfer() override { log += "endt "; }
    void UpdateProgress(unsigned long long bytes) override { log += std::to_string(bytes) + " "; }
    std::string log;
};

class SFTPEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* fake = std::getenv("ZARVEL_FAKE_SFTP");
        ASSERT_NE(fake, nullptr);
        SFTPEngine::SetToolPath(fake);
        setenv("FAKE_SFTP_LOG", dir.file("typed").c_str(), 1);
        setenv("FAKE_SFTP_PASSWORD", "secret", 1);
        setenv("FAKE_SFTP_MODE", "plain", 1);
        engine.SetParent(&progress);
        ASSERT_TRUE(engine.Initialize());
        ASSERT_TRUE(engine.Connect("127.0.0.1", 2200, "user", "secret", 30))
            << engine.GetLastError();
    }
    void TearDown() override {
        engine.Disconnect();
        SFTPEngine::SetToolPath("");
    }
    // What was typed at the tool after the login.
    std::string Typed() {
        const std::string all = readFile(dir.file("typed"));
        return all.substr(all.find("secret\n") + 7);
    }

    TempDir dir;
    Progress progress;
    SFTPEngine engine;
};

TEST_F(SFTPEngineTest, EveryNameGoesQuotedAndLineEndsNeverGo) {
    EXPECT_TRUE(engine.SendRename("a b", "q\"uo\\te"));
    EXPECT_TRUE(engine.SendCreateFolder("plain"));
    EXPECT_TRUE(engine.SetPerms("x y", "644"));
    EXPECT_TRUE(engine.DeleteFile("-rf"));
    EXPECT_FALSE(engine.DeleteFolder("a\nrm b"));
    EXPECT_FALSE(engine.ChangeDir(std::string("a\0b", 3)));
    EXPECT_FALSE(engine.SetPerms("x", "644; rm"));
    EXPECT_TRUE(engine.IsConnected());
    EXPECT_EQ(Typed(), "rename \"a b\" \"q\\\"uo\\\\te\"\n"
                       "mkdir \"plain\"\n"
                       "chmod 644 \"x y\"\n"
                       "rm \"-rf\"\n");
}

TEST_F(SFTPEngineTest, RepliesSplitAnywhereReadWhole) {
    std::string path;
    ASSERT_TRUE(engine.SendGetWorkingDir(path));
    EXPECT_EQ(path, "/home/a b");
    // A listing whose names read like the prompt or a keyword is a listing.
    std::string listing;
    ASSERT_TRUE(engine.GetDirList("there", listing)) << engine.GetLastError();
    EXPECT_NE(listing.find("sftp> "), std::string::npos);
    EXPECT_NE(listing.find("Fetching"), std::string::npos);
    DateTimeRec date;
    ASSERT_TRUE(engine.GetModTime("f", date));
    EXPECT_EQ(date.year, 2005);
    EXPECT_EQ(date.day, 5);
    EXPECT_EQ(date.second, 5);
}

TEST_F(SFTPEngineTest, OneByteAtATimeReadsTheSame) {
    engine.Disconnect();
    setenv("FAKE_SFTP_MODE", "bytes", 1);
    ASSERT_TRUE(engine.Connect("127.0.0.1", 2200, "user", "secret", 30)) << engine.GetLastError();
    std::string path;
    ASSERT_TRUE(engine.SendGetWorkingDir(path));
    EXPECT_EQ(path, "/home/a b");
    std::string listing;
    ASSERT_TRUE(engine.GetDirList(nullptr, listing)) << engine.GetLastError();
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 2);
    TempDir local;
    ASSERT_TRUE(engine.GetFile("good", local.path(), "good", 0)) << engine.GetLastError();
    EXPECT_FALSE(engine.GetFile("bad", local.path(), "bad", 0));
    EXPECT_STREQ(engine.GetLastError(),
                 "Couldn't open remote file \"1 bytes transferred\": No such file");
    DateTimeRec date;
    ASSERT_TRUE(engine.GetModTime("f", date));
    EXPECT_EQ(date.year, 2005);
}

TEST_F(SFTPEngineTest, AFailedListingIsAnErrorNotAnEmptyFolder) {
    std::string listing = "stale";
    EXPECT_FALSE(engine.GetDirList("missing", listing));
    EXPECT_EQ(listing, "");
    EXPECT_STREQ(engine.GetLastError(), "Couldn't list directory: No such file or directory");
    // Still in step with the tool.
    std::string path;
    EXPECT_TRUE(engine.SendGetWorkingDir(path));
}

TEST_F(SFTPEngineTest, ProgressSplitOverReadsAndKeywordsOnlyAtTheLineStart) {
    TempDir local;
    ASSERT_TRUE(engine.GetFile("good", local.path(), "good", 0)) << engine.GetLastError();
    EXPECT_EQ(progress.log.substr(0, 5), "strt ");
    EXPECT_EQ(progress.log.substr(progress.log.size() - 5), "endt ");
    // An error line that holds "bytes transferred" or "Fetching" is an error.
    EXPECT_FALSE(engine.GetFile("bad", local.path(), "bad", 0));
    EXPECT_STREQ(engine.GetLastError(),
                 "Couldn't open remote file \"1 bytes transferred\": No such file");
    EXPECT_FALSE(engine.PutFile("fetching", local.path(), 0));
    EXPECT_STREQ(engine.GetLastError(), "Couldn't open \"Fetching\": No such file");
}

TEST_F(SFTPEngineTest, AFailedLocalFolderChangeFailsTheTransfer) {
    TempDir local;
    const std::string nowhere = local.file("nowhere");
    ::mkdir(nowhere.c_str(), 0755);
    // The tool cannot enter it (as far as it says): nothing is fetched, and
    // a transfer that never began has no end to tell.
    EXPECT_FALSE(engine.GetFile("good", nowhere, "good", 0));
    EXPECT_EQ(Typed().find("get "), std::string::npos);
    EXPECT_FALSE(engine.GetFile("good", local.file("absent"), "good", 0));
    EXPECT_STREQ(engine.GetLastError(), "Could not locate source file");
    EXPECT_FALSE(engine.PutFile("good", local.file("absent"), 0));
    EXPECT_STREQ(engine.GetLastError(), "Could not find source file");
    EXPECT_EQ(progress.log, "strt strt strt ");
}

// The tool is told its local folder only when it changes: another path, a
// folder put in place of the last one, a failed change, a new session.
TEST_F(SFTPEngineTest, TheLocalFolderIsChangedOnlyWhenItDiffers) {
    TempDir local;
    const std::string a = local.file("a"), b = local.file("b");
    ASSERT_EQ(::mkdir(a.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(b.c_str(), 0755), 0);
    ASSERT_TRUE(engine.GetFile("good", a, "one", 0)) << engine.GetLastError();
    ASSERT_TRUE(engine.GetFile("good", a, "one", 0)) << engine.GetLastError();
    ASSERT_TRUE(engine.GetFile("good", b, "two", 0)) << engine.GetLastError();
    ASSERT_TRUE(engine.GetFile("good", b, "three", 0)) << engine.GetLastError();
    // The same path, another folder.
    const std::string moved = local.file("b-old");
    ASSERT_EQ(::rename(b.c_str(), moved.c_str()), 0);
    ASSERT_EQ(::mkdir(b.c_str(), 0755), 0);
    ASSERT_TRUE(engine.GetFile("good", b, "four", 0)) << engine.GetLastError();
    const std::string nowhere = local.file("nowhere");
    ASSERT_EQ(::mkdir(nowhere.c_str(), 0755), 0);
    EXPECT_FALSE(engine.GetFile("good", nowhere, "five", 0));
    ASSERT_TRUE(engine.GetFile("good", b, "six", 0)) << engine.GetLastError();
    engine.Disconnect();
    ASSERT_TRUE(engine.Connect("127.0.0.1", 2200, "user", "secret", 30)) << engine.GetLastError();
    ASSERT_TRUE(engine.GetFile("good", b, "seven", 0)) << engine.GetLastError();
    const std::string typed = Typed();
    std::string lcds;
    for (size_t at = typed.find("lcd "); at != std::string::npos; at = typed.find("lcd ", at + 1))
        lcds += typed.substr(at + 4, typed.find('\n', at) - at - 4) + " ";
    EXPECT_EQ(lcds, "\"" + a + "\" \"" + b + "\" \"" + b + "\" \"" + nowhere + "\" \"" + b +
                        "\" \"" + b + "\" ");
}

TEST_F(SFTPEngineTest, ErrorLinesForDatesAndFolders) {
    DateTimeRec date{};
    EXPECT_FALSE(engine.GetModTime("missing", date));
    EXPECT_STREQ(engine.GetLastError(), "Bad date format from server");
    // Like every other error line, without its line end.
    EXPECT_FALSE(engine.ChangeDir("missing"));
    EXPECT_STREQ(engine.GetLastError(), "Couldn't canonicalize: No such file or directory");
    std::string path;
    EXPECT_TRUE(engine.SendGetWorkingDir(path)) << "in step with the tool";
}

uint32_t gTicks = 1000;

// The progress throttle runs across files: a file that begins more than nine
// ticks after the last report shows its first count at once.
TEST_F(SFTPEngineTest, ProgressThrottleRunsAcrossFiles) {
    PPx::SetTickSource([] { return gTicks; });
    TempDir local;
    ASSERT_TRUE(engine.GetFile("good", local.path(), "one", 0)) << engine.GetLastError();
    EXPECT_EQ(progress.log, "strt endt ") << "one clock tick: held back";
    gTicks += 20;
    ASSERT_TRUE(engine.GetFile("good", local.path(), "two", 0)) << engine.GetLastError();
    PPx::SetTickSource(nullptr);
    EXPECT_EQ(progress.log, "strt endt strt 32768 endt ");
}

TEST_F(SFTPEngineTest, ReportsOfRemovalAndModeChangeAreNoErrors) {
    EXPECT_TRUE(engine.DeleteFile("x")) << engine.GetLastError();
    EXPECT_TRUE(engine.DeleteFolder("x")) << engine.GetLastError();
    EXPECT_TRUE(engine.SetPerms("x", "644")) << engine.GetLastError();
    // Any other line is the tool's error.
    EXPECT_FALSE(engine.DeleteFile("denied"));
    EXPECT_STREQ(engine.GetLastError(), "Couldn't remove file: Permission denied");
    std::string path;
    EXPECT_TRUE(engine.SendGetWorkingDir(path));
    EXPECT_EQ(path, "/home/a b");
}

TEST_F(SFTPEngineTest, FixedTextsOfAMissingWorkingFolderAndUploadSource) {
    TempDir local;
    EXPECT_FALSE(engine.PutFile("x", local.file("absent"), 0));
    EXPECT_STREQ(engine.GetLastError(), "Could not find source file");
    EXPECT_EQ(Typed().find("put "), std::string::npos);
    engine.Disconnect();
    setenv("FAKE_SFTP_MODE", "nopwd", 1);
    ASSERT_TRUE(engine.Connect("127.0.0.1", 2200, "user", "secret", 30));
    std::string path = "stale";
    EXPECT_FALSE(engine.SendGetWorkingDir(path));
    EXPECT_STREQ(engine.GetLastError(), "GetWorkingDirectory failed!");
    EXPECT_TRUE(engine.IsConnected());
}

TEST_F(SFTPEngineTest, ToolKilledMidSessionIsAClosedConnection) {
    engine.Disconnect();
    setenv("FAKE_SFTP_MODE", "die", 1);
    ASSERT_TRUE(engine.Connect("127.0.0.1", 2200, "user", "secret", 30));
    std::string path;
    EXPECT_FALSE(engine.SendGetWorkingDir(path));
    EXPECT_STREQ(engine.GetLastError(), "Server closed connection");
    EXPECT_FALSE(engine.IsConnected());
    EXPECT_FALSE(engine.ChangeDir("x"));
    EXPECT_STREQ(engine.GetLastError(), "Server closed connection");
}

TEST_F(SFTPEngineTest, PortOutsideSixteenBitsIsAParameterError) {
    engine.Disconnect();
    EXPECT_FALSE(engine.Connect("127.0.0.1", 65536, "user", "secret", 30));
    EXPECT_STREQ(engine.GetLastError(), "Parameter error");
    EXPECT_TRUE(engine.Connect("127.0.0.1", 65535, "user", "secret", 30));
}

} // namespace
