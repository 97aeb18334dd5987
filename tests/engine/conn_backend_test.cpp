// Connection and the backends' message handling, over a stand-in worker: what
// reaches the front end for each worker message, and what does not.
#include "engine/Connection.h"
#include "engine/EnginePreferences.h"
#include "engine/FTPThread.h"
#include "engine/LocalFiles.h"
#include "engine/SFTPBackend.h"
#include "platform/core/Events.h"
#include "tests/engine/conn_frontend.h"

#include <gtest/gtest.h>

using namespace conntest;

namespace {

// Records the calls a backend makes on its worker; the test posts the
// worker's messages itself.
class FakeWorker : public WorkerInterface {
public:
    std::vector<std::string> calls;
    PPx::EventTargetRef receiver;
    sBookMarkData bookmark;
    bool connected = true;
    int serverInfo = 1;
    std::vector<sFileInfo> modTimes;
    std::string text = "text";

    void Connect(const sBookMarkData& b) override {
        bookmark = b;
        calls.push_back("Connect");
    }
    void Disconnect() override { calls.push_back("Disconnect"); }
    void GetServerInfo() override { calls.push_back("GetServerInfo"); }
    void GetDirList() override { calls.push_back("GetDirList"); }
    void ChangeDirTo(const std::string& p) override { calls.push_back("ChangeDirTo " + p); }
    void ResolveLinks(const std::vector<std::string>&) override { calls.push_back("ResolveLinks"); }
    void Rename(const std::string& a, const std::string& b) override {
        calls.push_back("Rename " + a + " " + b);
    }
    void CreateFolder(const std::string& p) override { calls.push_back("CreateFolder " + p); }
    void SetPerms(const std::string& p, const std::string& m) override {
        calls.push_back("SetPerms " + p + " " + m);
    }
    void CreateFileList(const std::string& p, int mode) override {
        calls.push_back("CreateFileList " + p + " " + std::to_string(mode));
    }
    void Download(const sDownloadInfo&) override { calls.push_back("Download"); }
    void Delete(const sDeleteInfo&) override { calls.push_back("Delete"); }
    void Upload(const sUploadInfo&) override { calls.push_back("Upload"); }
    void GetModTime(const std::vector<sFileInfo>&) override { calls.push_back("GetModTime"); }
    void AbortTransfer() override { calls.push_back("AbortTransfer"); }
    void Quit() override { calls.push_back("Quit"); }
    void SetReceiver(const PPx::EventTargetRef& r) override {
        receiver = r;
        calls.push_back(r ? "SetReceiver" : "SetReceiver none");
    }
    void SetAnswer(bool goOn) override { calls.push_back(goOn ? "Answer yes" : "Answer no"); }
    bool IsConnected() override { return connected; }
    std::string GetStatus() override { return text; }
    std::string GetError() override { return text; }
    std::string GetDeleteName() override { return text; }
    int GetServerInfoResult() override { return serverInfo; }
    void GetDirListResult(std::string& path, std::string& listing) override {
        path = "/p";
        listing = "listing";
    }
    void GetResolveLinksResult(std::vector<std::string>& names) override { names = {"l"}; }
    void GetModTimeResult(std::vector<sFileInfo>& files) override {
        files = std::move(modTimes);
        modTimes.clear();
    }

    void Post(PPx::FourCharCode code) { PPx::PostEvent(receiver, PPx::MakeCommandEvent(code)); }
};

FakeWorker* gWorker = nullptr;
WorkerInterface* MakeFake() {
    return gWorker;
}

class BackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        gWorker = &worker;
        SFTPBackend::SetWorkerFactory(&MakeFake);
    }
    void TearDown() override {
        SFTPBackend::SetWorkerFactory(nullptr);
        gWorker = nullptr;
    }
    // An SFTP connection over the fake worker, past 'conn'.
    std::unique_ptr<Connection> OpenFake(ConnectionFrontend* frontend) {
        auto connection = std::make_unique<Connection>(frontend);
        sBookMarkData b;
        b.host = "h";
        b.secure = true;
        if (connection->Initialize(b) != 0)
            return nullptr;
        worker.Post(kMsgConnect);
        RecordingFrontend::Drain(50ms);
        return connection;
    }

    FakeWorker worker;
    RecordingFrontend frontend;
};

} // namespace

TEST_F(BackendTest, SecureBookmarkMakesAnSFTPConnectionEvenOnPort21) {
    Connection connection(&frontend);
    sBookMarkData b;
    b.host = "example";
    b.port = 21;
    b.secure = true;
    b.dir = "/start";
    ASSERT_EQ(connection.Initialize(b), 0);
    EXPECT_NE(dynamic_cast<SFTPBackend*>(connection.Backend()), nullptr);
    ASSERT_EQ(worker.calls, (std::vector<std::string>{"SetReceiver", "Connect"}));
    EXPECT_EQ(worker.bookmark, b);
    // Without an SFTP worker there is no SFTP connection, and it says so.
    SFTPBackend::SetWorkerFactory(nullptr);
    Connection refused(&frontend);
    EXPECT_EQ(refused.Initialize(b), -108);
    EXPECT_FALSE(refused.IsConnected());
}

TEST_F(BackendTest, SyncBookmarkGivesOnlyItsConnectionFields) {
    sSyncBookMarkData s;
    s.name = "n";
    s.host = "h";
    s.username = "u";
    s.password = "p";
    s.account = "a";
    s.port = 2121;
    s.passive = true;
    s.secure = true;
    s.remoteDir = "/remote";
    s.localDir = "/local";
    s.action = 3;
    s.deleteLocal = s.deleteRemote = true;
    Connection connection(&frontend);
    ASSERT_EQ(connection.Initialize(s), 0);
    const sBookMarkData expected{"n", "h", "u", "p", "a", "/remote", 2121, true, true};
    EXPECT_EQ(connection.Bookmark(), expected);
    EXPECT_EQ(worker.bookmark, expected);
}

TEST_F(BackendTest, MessagesReachTheFrontEndWithTheirResults) {
    auto connection = OpenFake(&frontend);
    ASSERT_TRUE(connection);
    worker.serverInfo = 6;
    sFileInfo dated;
    dated.name = "f";
    dated.modDate.year = 2024;
    worker.modTimes = {dated};
    connection->CreateFileList("some path", kFileListUploadCheck);
    EXPECT_EQ(worker.calls.back(), "CreateFileList some path 2");
    worker.Post(kMsgModTime);
    RecordingFrontend::Drain(50ms);
    ASSERT_EQ(frontend.modTimes.size(), 1u);
    EXPECT_EQ(frontend.modTimes[0].modDate.year, 2024);
    for (PPx::FourCharCode code : {kMsgServerInfo, kMsgFileList, kMsgModTime, kMsgResolveLinks,
                                   kMsgDeleteStatus, kMsgStatus})
        worker.Post(code);
    // Progress with its parameters, and one without, which is ignored.
    PPx::PostEvent(worker.receiver, PPx::MakeCommandEvent(kMsgStartTransfer, "f", 10, 4));
    PPx::PostEvent(worker.receiver, PPx::MakeCommandEvent(kMsgUpdateTransfer));
    PPx::PostEvent(worker.receiver, PPx::MakeCommandEvent(kMsgUpdateTransfer, "f", 7, 0));
    PPx::PostEvent(worker.receiver, PPx::MakeCommandEvent(kMsgEndTransfer, "f", 10, 0));
    RecordingFrontend::Drain(100ms);

    EXPECT_TRUE(frontend.resume);
    EXPECT_EQ(frontend.serverType, 2);
    EXPECT_EQ(frontend.lastPath, "/p");
    EXPECT_EQ(frontend.lastListing, "listing");
    EXPECT_EQ(frontend.lastMode, 2);
    // The date list is handed over once; the second 'gmtc' finds it empty.
    EXPECT_TRUE(frontend.modTimes.empty());
    EXPECT_EQ(frontend.Count("gmtc"), 2);
    EXPECT_EQ(frontend.linkFolders, std::vector<std::string>{"l"});
    const std::vector<std::string> tail(frontend.log.end() - 5, frontend.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"dlst text", "stat text", "strt f 10 4", "updt f 7",
                                              "endt f 10"}));
}

TEST_F(BackendTest, AskAnswerGoesBackToTheWorker) {
    auto connection = OpenFake(&frontend);
    ASSERT_TRUE(connection);
    frontend.answer = [](const std::string&) { return true; };
    worker.Post(kMsgErrorAsk);
    RecordingFrontend::Drain(50ms);
    EXPECT_EQ(worker.calls.back(), "Answer yes");
    frontend.answer = nullptr;
    worker.Post(kMsgErrorAsk);
    RecordingFrontend::Drain(50ms);
    EXPECT_EQ(worker.calls.back(), "Answer no");

    // Without a front end nobody is asked and the answer is "stop".
    Connection lonely(nullptr);
    EXPECT_FALSE(lonely.SetErrorAsk("x"));
}

TEST_F(BackendTest, IsConnectedFollowsConnAndStaysDownOnceTheWorkerSaysSo) {
    Connection connection(&frontend);
    sBookMarkData b;
    b.secure = true;
    EXPECT_FALSE(connection.IsConnected());
    ASSERT_EQ(connection.Initialize(b), 0);
    EXPECT_FALSE(connection.IsConnected()); // not before 'conn'
    worker.Post(kMsgConnect);
    RecordingFrontend::Drain(50ms);
    EXPECT_TRUE(connection.IsConnected());
    worker.connected = false;
    EXPECT_FALSE(connection.IsConnected());
    worker.connected = true;
    EXPECT_FALSE(connection.IsConnected()); // until the next 'conn'
    worker.Post(kMsgConnect);
    worker.Post(kMsgDisconnect);
    RecordingFrontend::Drain(50ms);
    EXPECT_FALSE(connection.IsConnected());
}

TEST_F(BackendTest, AfterDisposeNothingPostedArrivesAndTheWorkerIsLetGo) {
    auto connection = OpenFake(&frontend);
    ASSERT_TRUE(connection);
    const PPx::EventTargetRef receiver = worker.receiver;
    const size_t logged = frontend.log.size();
    worker.Post(kMsgChangeDir);
    worker.Post(kMsgStatus);
    connection.reset();
    PPx::PostEvent(receiver, PPx::MakeCommandEvent(kMsgStatus));
    RecordingFrontend::Drain(100ms);
    EXPECT_EQ(frontend.log.size(), logged);
    // Detached first, then told to quit, and nothing after that.
    ASSERT_GE(worker.calls.size(), 2u);
    EXPECT_EQ(worker.calls[worker.calls.size() - 2], "SetReceiver none");
    EXPECT_EQ(worker.calls.back(), "Quit");
}

TEST_F(BackendTest, SFTPBackendIgnoresPrefsNotice) {
    auto connection = OpenFake(&frontend);
    ASSERT_TRUE(connection);
    const size_t calls = worker.calls.size();
    PPx::PostEvent(PPx::ApplicationTarget().Ref(), PPx::MakeCommandEvent(kMsgPreferencesChanged));
    RecordingFrontend::Drain(50ms);
    EXPECT_EQ(worker.calls.size(), calls);
}

TEST(LocalPath, NamesFromTheServerStayInsideTheFolder) {
    std::string path;
    EXPECT_TRUE(LocalPathBelow("/dest", "a/b.txt", path));
    EXPECT_EQ(path, "/dest/a/b.txt");
    EXPECT_TRUE(LocalPathBelow("/dest/", "..hidden", path));
    EXPECT_EQ(path, "/dest/..hidden");
    const std::vector<std::string> unsafe = {
        "",      "../x", "/etc/x", "a/../../x", ".",
        "a/./b", "a//b", "a/",     "..",        std::string("a\0b", 3),
        "a\rb",  "a\nb"};
    for (const std::string& bad : unsafe)
        EXPECT_FALSE(LocalPathBelow("/dest", bad, path)) << bad;
}

TEST(EnginePrefs, DefaultsWithoutProviderAndTheProvidersAnswer) {
    SetEnginePreferencesProvider(nullptr);
    EnginePreferences p = GetEnginePreferences();
    EXPECT_EQ(p.ftpTimeoutSecs, -1);
    EXPECT_EQ(p.noopSecs, 60);
    EXPECT_FALSE(p.listHiddenFiles);
    SetEnginePreferencesProvider([] { return EnginePreferences{30, 5, true}; });
    p = GetEnginePreferences();
    EXPECT_EQ(p.ftpTimeoutSecs, 30);
    EXPECT_EQ(p.noopSecs, 5);
    EXPECT_TRUE(p.listHiddenFiles);
    SetEnginePreferencesProvider([]() -> EnginePreferences { throw 1; });
    EXPECT_EQ(GetEnginePreferences().noopSecs, 60);
    SetEnginePreferencesProvider(nullptr);
}
