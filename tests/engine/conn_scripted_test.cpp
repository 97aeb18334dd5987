// The FTP worker against a scripted server: the faults real servers do not
// produce on demand (a lost control connection, a failing keep-alive, a
// refused listing) and the timing of the request slot.
#include "engine/EnginePreferences.h"
#include "engine/FTPBackend.h"
#include "engine/FTPThread.h"
#include "tests/engine/conn_frontend.h"
#include "tests/engine/ftp_scripted_server.h"
#include "tests/support/tempdir.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <thread>

using namespace conntest;

namespace {

sBookMarkData Scripted(const ScriptedFtpServer& server) {
    sBookMarkData b;
    b.host = "127.0.0.1";
    b.port = server.Port();
    b.username = "user";
    b.password = "secret";
    b.passive = true;
    return b;
}

bool Has(const std::vector<std::string>& commands, const std::string& command) {
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

// Waits for the client to leave, keeping what it sent.
void UntilClientLeaves(ScriptedSession& s) {
    while (!s.Read().empty()) {
    }
}

sFileInfo File(const std::string& name) {
    sFileInfo f;
    f.name = name;
    return f;
}

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class ConnScriptedTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetEnginePreferencesProvider([this] { return prefs; });
    }
    void TearDown() override {
        connection.reset();
        EXPECT_TRUE(FTPThread::WaitForWorkers(30s));
        SetEnginePreferencesProvider(nullptr);
    }
    void ExpectWellBehaved() {
        RecordingFrontend::Drain();
        EXPECT_EQ(frontend.ends, frontend.requests);
        EXPECT_TRUE(frontend.faults.empty()) << frontend.faults.front();
        EXPECT_EQ(frontend.ProgressFault(), "");
    }

    EnginePreferences prefs;
    RecordingFrontend frontend;
    std::unique_ptr<Connection> connection;
};

} // namespace

TEST_F(ConnScriptedTest, FailingKeepAliveIsAnErrorWithNoRequestOutstanding) {
    prefs.noopSecs = 1;
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        s.Expect("NOOP");
        s.Reply("421 Service closing control connection");
        s.Close();
    });
    connection = Open(frontend, Scripted(server));
    ASSERT_TRUE(connection) << frontend.lastError;
    ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return !frontend.idleErrors.empty(); }, 30s));
    EXPECT_NE(frontend.idleErrors[0].find("421"), std::string::npos) << frontend.idleErrors[0];
    const auto ping = std::find(frontend.log.begin(), frontend.log.end(), "stat Pinging server...");
    const auto error =
        std::find(frontend.log.begin(), frontend.log.end(), "err  " + frontend.idleErrors[0]);
    EXPECT_LT(ping, error);
    EXPECT_TRUE(PPx::RunEventLoopUntil([&] { return !connection->IsConnected(); }, 10s));
    // A connection that is down pings no more.
    RecordingFrontend::Drain(2500ms);
    EXPECT_EQ(frontend.idleErrors.size(), 1u);
    ExpectWellBehaved();
}

TEST_F(ConnScriptedTest, KeepAliveOfZeroIsOffNotABusyLoop) {
    prefs.noopSecs = 0;
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        UntilClientLeaves(s);
    });
    connection = Open(frontend, Scripted(server));
    ASSERT_TRUE(connection);
    auto* backend = dynamic_cast<FTPBackend*>(connection->Backend());
    ASSERT_TRUE(backend);
    EXPECT_EQ(backend->KeepAliveInterval(), 0);
    const double before = CpuSeconds();
    RecordingFrontend::Drain(1500ms);
    EXPECT_LT(CpuSeconds() - before, 0.75);
    connection.reset();
    const auto commands = server.Finish();
    EXPECT_FALSE(Has(commands, "NOOP"));
}

TEST_F(ConnScriptedTest, ThePreferredTimeOutHoldsWhileLoggingIn) {
    // A server that greets and then never answers again (as one that lost
    // the session): the login must give up within the preferred time-out,
    // not the engine's far longer default.
    prefs.ftpTimeoutSecs = 2;
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Reply("220 hello");
        UntilClientLeaves(s);
    });
    const auto start = std::chrono::steady_clock::now();
    connection = Open(frontend, Scripted(server));
    EXPECT_FALSE(connection);
    EXPECT_EQ(frontend.lastError, "Timed out waiting for data");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    connection.reset();
    const auto commands = server.Finish();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands[0].rfind("USER ", 0), 0u);
}

TEST_F(ConnScriptedTest, RequestReplacedWhilePendingNeverRuns) {
    std::atomic<bool> busy{false}, release{false};
    ScriptedFtpServer server([&](ScriptedSession& s) {
        s.Login();
        s.Expect("CWD a");
        busy = true;
        while (!release)
            std::this_thread::sleep_for(5ms);
        s.Reply("250 OK");
        s.Expect("CWD c");
        s.Reply("250 OK");
        UntilClientLeaves(s);
    });
    connection = Open(frontend, Scripted(server));
    ASSERT_TRUE(connection);
    frontend.Sent();
    connection->ChangeDirTo("a");
    ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return busy.load(); }, 30s));
    // Two more while the first runs: the second replaces the first in the slot.
    connection->ChangeDirTo("b");
    connection->ChangeDirTo("c");
    release = true;
    // Both completions may arrive in one turn of the loop, so count them.
    ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return frontend.Count("cdtc") >= 2; }, 60s));
    RecordingFrontend::Drain(200ms);
    EXPECT_EQ(frontend.Count("cdtc"), 2);
    connection.reset();
    const auto commands = server.Finish();
    EXPECT_FALSE(Has(commands, "CWD b"));
    // Sending while a request runs breaks the one-outstanding rule on purpose,
    // so the front end's bookkeeping of it is not checked here.
}

TEST_F(ConnScriptedTest, LostControlConnectionEndsADownloadOfSeveralFilesWithOneError) {
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        s.Expect("TYPE");
        s.Reply("200 Binary");
        s.AnswerPasv();
        s.Expect("RETR one");
        s.Close();
    });
    connection = Open(frontend, Scripted(server));
    ASSERT_TRUE(connection);
    testsupport::TempDir local;
    sDownloadInfo down;
    down.destination = local.path();
    down.files = {File("one"), File("two"), File("three")};
    frontend.answer = [](const std::string&) { return true; };
    EXPECT_FALSE(frontend.Do([&] { connection->Download(down); }));
    EXPECT_EQ(frontend.asks, 0);
    EXPECT_EQ(frontend.Count("err "), 1);
    EXPECT_EQ(frontend.Count("dnlc"), 0);
    ExpectWellBehaved();
}

TEST_F(ConnScriptedTest, UploadCheckTakesARefusalAsEmptyButNotALostConnection) {
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        s.AnswerPasv();
        s.Expect("LIST target");
        s.Reply("550 No such file or directory");
        s.AnswerPasv();
        s.Expect("LIST target");
        s.Close();
    });
    connection = Open(frontend, Scripted(server));
    ASSERT_TRUE(connection);
    frontend.lastListing = "stale";
    ASSERT_TRUE(frontend.Do([&] { connection->CreateFileList("target", kFileListUploadCheck); }))
        << frontend.lastError;
    EXPECT_EQ(frontend.lastListing, "");
    EXPECT_EQ(frontend.lastMode, kFileListUploadCheck);
    EXPECT_FALSE(frontend.Do([&] { connection->CreateFileList("target", kFileListUploadCheck); }));
    ExpectWellBehaved();
}

TEST_F(ConnScriptedTest, PathWithABlankIsListedFromInsideAndAlwaysLeftAgain) {
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        for (int round = 0; round < 2; ++round) {
            s.Expect("PWD");
            s.Reply("257 \"/home\" is the current directory");
            s.Expect("CWD with blank");
            s.Reply("250 OK");
            s.AnswerPasv();
            s.Expect("LIST");
            s.Reply("550 Permission denied");
            s.Expect("CWD /home");
            s.Reply("250 OK");
        }
        UntilClientLeaves(s);
    });
    connection = Open(frontend, Scripted(server));
    ASSERT_TRUE(connection);
    EXPECT_FALSE(frontend.Do([&] { connection->CreateFileList("with blank", kFileListDownload); }));
    EXPECT_EQ(frontend.lastError, "550 Permission denied");
    ASSERT_TRUE(
        frontend.Do([&] { connection->CreateFileList("with blank", kFileListUploadCheck); }));
    EXPECT_EQ(frontend.lastListing, "");
    connection.reset();
    const auto commands = server.Finish();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "CWD /home"), 2);
    ExpectWellBehaved();
}

// The worker on its own: a quit while it waits for an answer stops the list.
TEST_F(ConnScriptedTest, QuitDuringAnAskStopsTheItemList) {
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        s.Expect("TYPE");
        s.Reply("200 Binary");
        s.AnswerPasv();
        s.Expect("RETR one");
        s.Reply("550 No such file");
        UntilClientLeaves(s);
    });
    PPx::EventTarget target;
    std::vector<PPx::FourCharCode> seen;
    std::vector<PPx::EventHandler> handlers;
    for (PPx::FourCharCode code : {kMsgConnect, kMsgErrorAsk, kMsgError, kMsgDownload})
        handlers.push_back(target.InstallCommandHandler(code, [&](PPx::Event& e) {
            seen.push_back(e.Command());
            return PPx::noErr;
        }));
    FTPThread* worker = FTPThread::CreateThread(0);
    ASSERT_NE(worker, nullptr);
    worker->SetReceiver(target.Ref());
    worker->Connect(Scripted(server));
    ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return !seen.empty(); }, 30s));
    ASSERT_EQ(seen[0], kMsgConnect);
    testsupport::TempDir local;
    sDownloadInfo down;
    down.destination = local.path();
    down.files = {File("one"), File("two")};
    worker->Download(down);
    ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return seen.size() > 1; }, 30s));
    EXPECT_EQ(seen[1], kMsgErrorAsk);
    worker->SetReceiver(PPx::EventTargetRef());
    worker->Quit();
    EXPECT_TRUE(FTPThread::WaitForWorkers(30s));
    const auto commands = server.Finish();
    EXPECT_FALSE(Has(commands, "RETR two"));
    RecordingFrontend::Drain(50ms);
    EXPECT_EQ(seen.size(), 2u);
}

// Deletions run ahead of the main thread: each 'dlst' still names its own item
// when the window reads it late.
TEST_F(ConnScriptedTest, EveryDeleteStatusNamesItsOwnItemHoweverLateItIsRead) {
    const std::vector<std::string> names{"a", "b", "c", "d"};
    ScriptedFtpServer server([&](ScriptedSession& s) {
        s.Login();
        for (const std::string& name : names) {
            s.Expect("DELE " + name);
            s.Reply("250 Deleted");
        }
    });
    connection = Open(frontend, Scripted(server));
    ASSERT_TRUE(connection);
    sDeleteInfo info;
    for (const std::string& name : names)
        info.files.push_back(File(name));
    connection->Delete(info);
    // Every deletion was posted before the server saw the last DELE; none
    // has been handled yet.
    server.Finish();
    RecordingFrontend::Drain(200ms);
    std::vector<std::string> told;
    for (const std::string& line : frontend.log)
        if (line.rfind("dlst ", 0) == 0)
            told.push_back(line.substr(5));
    EXPECT_EQ(told, names);
}

// A rename in other letter case on a server that ignores case: SIZE finds
// the item itself, so only a listing that names the new name exactly beside
// the old one keeps the rename from going over another item.
TEST_F(ConnScriptedTest, ARenameInOtherLetterCaseOnAServerThatIgnoresCaseGoesOverNoOtherItem) {
    const std::string line = "-rw-r--r--   1 user group        3 Jan 10  2020 ";
    for (const bool another : {false, true}) {
        SCOPED_TRACE(another ? "another item" : "the item itself");
        const std::string listing =
            line + "a.txt\r\n" + (another ? line + "A.txt\r\n" : std::string());
        ScriptedFtpServer server([&](ScriptedSession& s) {
            s.Login();
            s.Expect("TYPE I");
            s.Reply("200 ok");
            s.Expect("SIZE A.txt");
            s.Reply("213 3");
            s.ServeData("LIST", listing);
            for (std::string command; !(command = s.Read()).empty();)
                s.Reply(command.rfind("RNFR", 0) == 0 ? "350 ready" : "250 renamed");
        });
        connection = Open(frontend, Scripted(server));
        ASSERT_TRUE(connection);
        EXPECT_EQ(frontend.Do([&] { connection->Rename("a.txt", "A.txt"); }), !another);
        if (another) {
            EXPECT_EQ(frontend.lastError.rfind("An item named \"A.txt\" already exists", 0), 0u)
                << frontend.lastError;
        }
        connection.reset();
        EXPECT_EQ(Has(server.Finish(), "RNTO A.txt"), !another);
    }
}
