// The FTP worker's own decisions against a scripted server: the server type
// from SYST, the keep-alive's timing on a fake clock, the time-outs that mean
// "off", and requests whose lists are empty.
#include "engine/EnginePreferences.h"
#include "engine/FTPThread.h"
#include "platform/core/Timer.h"
#include "tests/engine/conn_frontend.h"
#include "tests/engine/ftp_scripted_server.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace conntest;

namespace {

sFileInfo File(const std::string& name, bool folder = false) {
    sFileInfo f;
    f.name = name;
    f.isFolder = folder;
    return f;
}

// Answers NOOPs and counts them until the client leaves.
void CountNOOPs(ScriptedSession& s, std::atomic<int>& noops) {
    for (std::string command = s.Read(); !command.empty(); command = s.Read())
        if (command == "NOOP") {
            ++noops; // before the reply, so the worker never sees it first
            s.Reply("200 NOOP ok");
        } else {
            s.Reply("250 OK");
        }
}

// The clock the worker reads; reads from other threads than the test's are
// counted, so that the test knows when the worker has looked at it.
std::atomic<uint32_t> gTicks{100000};
std::atomic<int> gWorkerReads{0};
std::thread::id gTestThread;

uint32_t FakeTicks() {
    if (std::this_thread::get_id() != gTestThread)
        ++gWorkerReads;
    return gTicks.load();
}

constexpr uint32_t kSecond = 60; // ticks

// One worker driven straight, its messages recorded by code.
class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        gTestThread = std::this_thread::get_id();
        PPx::SetTickSource(&FakeTicks);
        for (PPx::FourCharCode code :
             {kMsgConnect, kMsgChangeDir, kMsgServerInfo, kMsgError, kMsgResolveLinks, kMsgDelete,
              kMsgUpload, kMsgModTime, kMsgDownload})
            handlers.push_back(target.InstallCommandHandler(code, [this](PPx::Event& e) {
                seen.push_back(e.Command());
                if (e.Command() == kMsgError)
                    errors.push_back(worker->GetError());
                return PPx::noErr;
            }));
    }
    void TearDown() override {
        if (worker) {
            worker->SetReceiver(PPx::EventTargetRef());
            worker->Quit();
        }
        EXPECT_TRUE(WaitForConnectionWorkers(30s));
        EXPECT_EQ(FTPThread::LiveWorkers(), 0u);
        server.reset(); // its script ends once the worker has left
        PPx::SetTickSource(nullptr);
    }
    // Connects a new worker, after setting its time-outs when asked; returns
    // once the worker has noted the end of the connect on its clock.
    void Start(ScriptedFtpServer::Script script, int timeout = 0, int keepAlive = 0,
               bool setTimeouts = false) {
        server = std::make_unique<ScriptedFtpServer>(std::move(script));
        worker = FTPThread::CreateThread(0);
        ASSERT_NE(worker, nullptr);
        worker->SetReceiver(target.Ref());
        if (setTimeouts)
            worker->SetTimeouts(timeout, keepAlive);
        const int reads = gWorkerReads.load();
        worker->Connect(Bookmark({"127.0.0.1", server->Port(), "user", "secret", ""}));
        ASSERT_TRUE(Await(kMsgConnect)) << (errors.empty() ? "" : errors.back());
        ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return gWorkerReads.load() > reads; }, 30s));
    }
    // Runs the event loop until the next message has come; true when it is CODE.
    bool Await(PPx::FourCharCode code) {
        const size_t before = seen.size();
        if (!PPx::RunEventLoopUntil([&] { return seen.size() > before; }, 30s))
            return false;
        return seen.back() == code;
    }
    // A keep-alive timer firing at the fake time NOW: returns once the
    // worker has read the clock READS times (1: it decided not to ping; 3:
    // it decided to, pinged, noted the end and decided again).
    void FireAt(uint32_t now, int reads = 1) {
        gTicks = now;
        const int before = gWorkerReads.load();
        worker->Wakeup();
        ASSERT_TRUE(
            PPx::RunEventLoopUntil([&] { return gWorkerReads.load() >= before + reads; }, 30s));
    }

    PPx::EventTarget target;
    std::vector<PPx::EventHandler> handlers;
    std::vector<PPx::FourCharCode> seen;
    std::vector<std::string> errors;
    std::atomic<int> noops{0}; // counted by the server's script
    std::unique_ptr<ScriptedFtpServer> server;
    FTPThread* worker = nullptr;
};

} // namespace

TEST_F(WorkerTest, SystReplyGivesTheServerTypeAndRestGivesResume) {
    struct Case {
        const char* reply;
        int type;
    };
    // Searched in the order UNIX, MAC, MSDOS, NT; no match keeps the type.
    static const Case cases[] = {{"215 Some VMS thing", 1},      {"215 MACOS Peter's Server", 2},
                                 {"215 Windows_NT", 3},          {"215 nothing known", 3},
                                 {"215 UNIX emulated by NT", 1}, {"215 MSDOS", 3}};
    auto script = [&](ScriptedSession& s) {
        s.Login();
        bool resume = false;
        bool binary = false;
        for (const Case& c : cases) {
            s.Expect("SYST");
            s.Reply(c.reply);
            // Binary before REST, once: the engine keeps the type.
            if (!binary) {
                s.Expect("TYPE I");
                s.Reply("200 Switching to Binary mode.");
                binary = true;
            }
            s.Expect("REST 0");
            s.Reply(resume ? "350 Restarting at 0" : "502 Not implemented");
            resume = !resume;
        }
        while (!s.Read().empty()) {
        }
    };
    Start(script);
    bool resume = false;
    for (const Case& c : cases) {
        worker->GetServerInfo();
        ASSERT_TRUE(Await(kMsgServerInfo)) << c.reply;
        const int result = worker->GetServerInfoResult();
        EXPECT_EQ(result & kServerInfoTypeMask, c.type) << c.reply;
        EXPECT_EQ((result & kServerInfoResume) != 0, resume) << c.reply;
        resume = !resume;
    }
}

TEST_F(WorkerTest, KeepAliveComesAfterOneFullIntervalOfIdleness) {
    auto script = [&](ScriptedSession& s) {
        s.Login();
        CountNOOPs(s, noops);
    };
    const uint32_t start = gTicks;
    Start(script);
    // The connection has long been idle when a keep-alive of 30 s is set:
    // the interval counts from now, even if a wake-up comes at once.
    const uint32_t installed = start + 3600 * kSecond;
    gTicks = installed;
    worker->SetTimeouts(-1, 30);
    FireAt(installed);
    FireAt(installed + 30 * kSecond - 1);
    EXPECT_EQ(noops.load(), 0);
    // A full interval: the first NOOP.
    FireAt(installed + 30 * kSecond, 3);
    EXPECT_EQ(noops.load(), 1);
    // The next one counts from the end of that one.
    const uint32_t pinged = gTicks;
    FireAt(pinged + 30 * kSecond - 1);
    EXPECT_EQ(noops.load(), 1);
    FireAt(pinged + 30 * kSecond, 3);
    EXPECT_EQ(noops.load(), 2);
    // A request in the middle of an interval: the firing after it finds too
    // short a silence, the next one pings, within two intervals of it.
    const uint32_t requested = pinged + 40 * kSecond;
    gTicks = requested;
    const int reads = gWorkerReads.load();
    worker->ChangeDirTo("x");
    ASSERT_TRUE(Await(kMsgChangeDir));
    ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return gWorkerReads.load() >= reads + 2; }, 30s));
    FireAt(pinged + 60 * kSecond);
    EXPECT_EQ(noops.load(), 2);
    FireAt(pinged + 90 * kSecond, 3);
    EXPECT_EQ(noops.load(), 3);
    // Off: however long the silence, no more.
    worker->SetTimeouts(-1, -1);
    FireAt(pinged + 3600 * kSecond, 0);
    RecordingFrontend::Drain(200ms);
    EXPECT_EQ(noops.load(), 3);
    EXPECT_TRUE(errors.empty());
}

TEST_F(WorkerTest, TimeoutsOfZeroAndMinusOneMeanDefaultAndKeepAliveOff) {
    auto script = [&](ScriptedSession& s) {
        s.Login();
        CountNOOPs(s, noops);
    };
    // Set before the connect: a time-out of 0 must not become "no wait at
    // all" nor fail the socket set-up.
    Start(script, 0, 0, true);
    FireAt(gTicks + 3600 * kSecond, 0);
    worker->SetTimeouts(-1, -1);
    FireAt(gTicks + 7200 * kSecond, 0);
    RecordingFrontend::Drain(200ms);
    EXPECT_EQ(noops.load(), 0);
    EXPECT_TRUE(worker->IsConnected());
}

TEST_F(WorkerTest, EmptyListsCompleteWithoutTouchingAnyItem) {
    auto script = [](ScriptedSession& s) {
        s.Login();
        // Links: the folder is read and changed back to, nothing else.
        s.Expect("PWD");
        s.Reply("257 \"/home/user\" is the current directory");
        s.Expect("CWD /home/user/");
        s.Reply("250 OK");
        // An upload always asks for the working folder first.
        s.Expect("PWD");
        s.Reply("257 \"/home/user\" is the current directory");
        while (!s.Read().empty()) {
        }
    };
    Start(script);
    worker->ResolveLinks({});
    ASSERT_TRUE(Await(kMsgResolveLinks));
    std::vector<std::string> links = {"stale"};
    worker->GetResolveLinksResult(links);
    EXPECT_TRUE(links.empty());
    std::string path, listing;
    worker->GetDirListResult(path, listing);
    EXPECT_EQ(path, "/home/user/");

    worker->Delete(sDeleteInfo{});
    EXPECT_TRUE(Await(kMsgDelete));
    worker->Upload(sUploadInfo{});
    EXPECT_TRUE(Await(kMsgUpload));
    worker->GetModTime({});
    ASSERT_TRUE(Await(kMsgModTime));
    std::vector<sFileInfo> dates = {File("stale")};
    worker->GetModTimeResult(dates);
    EXPECT_TRUE(dates.empty());
    // A download of folders only fetches nothing, even into a missing folder.
    sDownloadInfo down;
    down.destination = "/nonexistent/zarvel";
    down.files = {File("folder", true)};
    worker->Download(down);
    EXPECT_TRUE(Await(kMsgDownload));
    EXPECT_TRUE(errors.empty());
}
