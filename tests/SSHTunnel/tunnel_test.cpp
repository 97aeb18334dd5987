#include "SSHTunnel/SFTPTunnel.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

using testsupport::readFile;
using testsupport::TempDir;

namespace {

class TunnelTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* fake = std::getenv("ZARVEL_FAKE_SFTP");
        ASSERT_NE(fake, nullptr);
        tunnel.SetSFTPPath(fake);
        setenv("FAKE_SFTP_LOG", dir.file("typed").c_str(), 1);
        setenv("FAKE_SFTP_PASSWORD", "secret", 1);
        Mode("plain");
    }
    void TearDown() override {
        tunnel.Disconnect();
        // Every road collects its tool: no child is left, finished or not.
        errno = 0;
        EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
        EXPECT_EQ(errno, ECHILD);
    }
    static void Mode(const char* mode) { setenv("FAKE_SFTP_MODE", mode, 1); }
    std::string Typed() { return readFile(dir.file("typed")); }
    SFTPErr Login(const char* password = "secret") {
        return tunnel.Connect("127.0.0.1", "user", password, 2222);
    }
    std::string Line() {
        std::string line;
        EXPECT_EQ(tunnel.ReadLine(line), kSFTPNoErr);
        return line;
    }

    TempDir dir;
    SFTPTunnel tunnel;
};

TEST_F(TunnelTest, MissingToolIsReportedWithoutStartingAnything) {
    SFTPTunnel none;
    EXPECT_EQ(none.Connect("h", "u", "p", 22), kSFTPNotFound);
    none.SetSFTPPath(dir.file("absent").c_str());
    EXPECT_EQ(none.Connect("h", "u", "p", 22), kSFTPNotFound);
}

TEST_F(TunnelTest, RefusesArgumentsThatWouldTypeOrInjectMore) {
    EXPECT_EQ(tunnel.Connect("h", "u", "pass\nquit", 22), kSFTPParamErr);
    EXPECT_EQ(tunnel.Connect("-oProxyCommand=x", "u", "p", 22), kSFTPParamErr);
    EXPECT_EQ(tunnel.Connect("h", "-ox", "p", 22), kSFTPParamErr);
    EXPECT_EQ(tunnel.Connect("h", std::string(256, 'u').c_str(), "p", 22), kSFTPParamErr);
    EXPECT_EQ(tunnel.Connect("h", "u", "p", 0), kSFTPParamErr);
}

TEST_F(TunnelTest, LoginThroughSplitPromptsWithTheFullPort) {
    ASSERT_EQ(tunnel.Connect("127.0.0.1", "user", "secret", 65535), kSFTPNoErr);
    EXPECT_TRUE(tunnel.IsConnected());
    EXPECT_EQ(Typed(), "ARGS -oCheckHostIP=no -oProtocol=2,1 -oPort=65535 user@127.0.0.1\n"
                       "secret\n");
}

TEST_F(TunnelTest, SecondPasswordQuestionIsABadPassword) {
    EXPECT_EQ(Login("wrong"), kSFTPBadPassword);
    // Nothing more is typed at the next password question.
    EXPECT_EQ(Typed().substr(Typed().find('\n') + 1), "wrong\n");
    EXPECT_FALSE(tunnel.IsConnected());
    EXPECT_EQ(tunnel.GetFD(), -1);
}

TEST_F(TunnelTest, HostKeyQuestionIsAnsweredYes) {
    Mode("hostkey");
    ASSERT_EQ(Login(), kSFTPNoErr);
    EXPECT_NE(Typed().find("\nyes\nsecret\n"), std::string::npos);
}

TEST_F(TunnelTest, ConnectionClosedBeforeThePromptSplitOverReads) {
    Mode("closed");
    EXPECT_EQ(Login(), kSFTPClosed);
    EXPECT_EQ(tunnel.GetFD(), -1);
}

TEST_F(TunnelTest, ToolThatCannotBeRunEndsTheLogin) {
    const std::string plain = dir.file("not-executable");
    testsupport::writeFile(plain, "#!/bin/sh\n");
    tunnel.SetSFTPPath(plain.c_str());
    EXPECT_EQ(Login(), kSFTPClosed);
}

TEST_F(TunnelTest, LinesAreWholeWhateverTheChunks) {
    ASSERT_EQ(Login(), kSFTPNoErr);
    ASSERT_EQ(tunnel.SendCommand("pwd"), kSFTPNoErr);
    // The reply arrives in three pieces, its CR apart from its LF.
    std::string reply = Line();
    EXPECT_EQ(reply.back(), '\n');
    reply.erase(reply.find_last_not_of("\r\n") + 1);
    EXPECT_EQ(reply, "Remote working directory: /home/a b");
    EXPECT_EQ(Line(), "sftp> ");
    ASSERT_EQ(tunnel.SendCommand("ls -l"), kSFTPNoErr);
    // A name that reads like the prompt is part of its line, not a prompt.
    const std::string first = Line();
    EXPECT_FALSE(tunnel.IsPrompt(first.c_str()));
    EXPECT_NE(first.find("sftp> "), std::string::npos);
    EXPECT_EQ(tunnel.WaitForPrompt(), kSFTPNoErr);
    // The small-buffer form cuts, and still consumes the whole line.
    ASSERT_EQ(tunnel.SendCommand("pwd"), kSFTPNoErr);
    char small[8];
    ASSERT_EQ(tunnel.ReadLine(small, sizeof small), kSFTPNoErr);
    EXPECT_STREQ(small, "Remote ");
    EXPECT_EQ(Line(), "sftp> ");
}

TEST_F(TunnelTest, ToolThatDiesEndsEveryLaterRead) {
    Mode("die");
    ASSERT_EQ(Login(), kSFTPNoErr);
    tunnel.SendCommand("pwd");
    std::string line;
    EXPECT_EQ(tunnel.WaitForPrompt(), kSFTPClosed);
    EXPECT_EQ(tunnel.ReadLine(line), kSFTPClosed);
    EXPECT_EQ(tunnel.SendCommand("pwd"), kSFTPClosed);
    EXPECT_FALSE(tunnel.IsConnected());
}

TEST_F(TunnelTest, TerminateFreesAWorkerWaitingOnAHungTool) {
    Mode("hang");
    ASSERT_EQ(Login(), kSFTPNoErr);
    ASSERT_EQ(tunnel.SendCommand("get x"), kSFTPNoErr);
    std::thread killer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        tunnel.Terminate();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(tunnel.WaitForPrompt(), kSFTPClosed);
    killer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST_F(TunnelTest, AnInterruptedToolThatPrintsNothingIsEndedAfterItsGrace) {
    // Nothing arrives from the tool, so only the wait itself can end it.
    Mode("deaf");
    ASSERT_EQ(Login(), kSFTPNoErr);
    ASSERT_EQ(tunnel.SendCommand("get x"), kSFTPNoErr);
    const int grace = SFTPTunnel::sAbortGraceMillis;
    SFTPTunnel::sAbortGraceMillis = 300;
    std::thread abort([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        tunnel.AbortTransfer();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(tunnel.WaitForPrompt(), kSFTPClosed);
    abort.join();
    SFTPTunnel::sAbortGraceMillis = grace;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

// An interrupt belongs to the session it was raised in: after an aborted
// transfer whose tool had to be ended, the next login (a redial) must not be
// interrupted or killed for it.
TEST_F(TunnelTest, AnInterruptOfAnEndedSessionDoesNotReachTheNextLogin) {
    Mode("deaf");
    ASSERT_EQ(Login(), kSFTPNoErr);
    ASSERT_EQ(tunnel.SendCommand("get x"), kSFTPNoErr);
    const int grace = SFTPTunnel::sAbortGraceMillis;
    SFTPTunnel::sAbortGraceMillis = 0;
    tunnel.AbortTransfer();
    EXPECT_EQ(tunnel.WaitForPrompt(), kSFTPClosed);
    Mode("plain");
    EXPECT_EQ(Login(), kSFTPNoErr);
    SFTPTunnel::sAbortGraceMillis = grace;
    EXPECT_TRUE(tunnel.IsConnected());
}

TEST_F(TunnelTest, ToolThatIgnoresItsTerminalIsKilledOnDisconnect) {
    Mode("silent");
    SFTPTunnel::sReapMillis = 100;
    std::thread stop([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        tunnel.Terminate();
    });
    // The login never finishes by itself: the silent tool is ended from outside.
    EXPECT_EQ(Login(), kSFTPClosed);
    stop.join();
    SFTPTunnel::sReapMillis = 2000;
}

} // namespace
