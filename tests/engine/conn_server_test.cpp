// A real Connection in the event loop against a real server (pyftpdlib or
// vsftpd, from ZARVEL_FTP_SERVER): every request end to end through the
// worker thread, the ask handshake, keep-alive, preferences, two connections
// at once and disposal during a transfer.
#include "engine/EnginePreferences.h"
#include "engine/FTPBackend.h"
#include "engine/FTPThread.h"
#include "platform/core/Events.h"
#include "tests/engine/conn_frontend.h"
#include "tests/support/servers.h"
#include "tests/support/tempdir.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace conntest;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string ServerName() {
    return testsupport::serverFromEnv("ZARVEL_FTP_SERVER");
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

off_t SizeOf(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

sFileInfo File(const std::string& name, uint64_t size = 0, bool folder = false) {
    sFileInfo f;
    f.name = name;
    f.size = size;
    f.isFolder = folder;
    return f;
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(dir))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Pattern(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed + i / 97) & 0xFF);
    return bytes;
}

// Each test gets a folder of its own on the server, made through the
// connection, and the connection stands in it.
class ConnServerTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        SetEnginePreferencesProvider([this] { return prefs; });
        server = Server(ServerName());
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = std::string("conn-") + info->name() + "-" + std::to_string(::getpid());
        for (char& c : folder)
            if (c == '/')
                c = '-';
        remote = server.root + "/" + folder;
        connection = Open(frontend, Bookmark(server, GetParam()));
        ASSERT_TRUE(connection) << frontend.lastError;
        ASSERT_TRUE(frontend.Do([&] { connection->CreateFolder(folder); })) << frontend.lastError;
        ASSERT_TRUE(frontend.Do([&] { connection->ChangeDirTo(folder); })) << frontend.lastError;
    }
    void TearDown() override {
        connection.reset();
        FTPThread::WaitForWorkers(30s);
        SetEnginePreferencesProvider(nullptr);
    }
    // The rules every test keeps.
    void ExpectWellBehaved(RecordingFrontend& f) {
        RecordingFrontend::Drain();
        EXPECT_EQ(f.ends, f.requests);
        EXPECT_TRUE(f.faults.empty()) << f.faults.front();
        EXPECT_EQ(f.ProgressFault(), "");
    }
    // A file on the server, in the test's folder.
    void Put(const std::string& name, const std::string& bytes) {
        writeFile(remote + "/" + name, bytes);
        ::chmod((remote + "/" + name).c_str(), 0644);
    }

    EnginePreferences prefs;
    ServerSpec server;
    std::string folder, remote;
    RecordingFrontend frontend;
    std::unique_ptr<Connection> connection;
};

} // namespace

TEST_P(ConnServerTest, EveryRequestEndsOnceWithItsResult) {
    TempDir local;
    ::mkdir(local.file("up").c_str(), 0755);
    ::mkdir(local.file("up/sub").c_str(), 0755);
    const std::string big = Pattern(3 * 1024 * 1024 + 17, 1);
    writeFile(local.file("up/a.bin"), big);
    writeFile(local.file("up/sub/b.txt"), "bee\n");

    ASSERT_TRUE(frontend.Do([&] { connection->GetServerInfo(); }));
    EXPECT_EQ(frontend.serverType, kServerUnix);
    // pyftpdlib refuses REST in ASCII mode, where a session starts: the probe
    // goes binary first.
    EXPECT_TRUE(frontend.resume);

    sUploadInfo up;
    for (sFileInfo f : {File("sub", 0, true), File("a.bin"), File("sub/b.txt")}) {
        f.owner = local.file("up");
        up.files.push_back(f);
    }
    ASSERT_TRUE(frontend.Do([&] { connection->Upload(up); })) << frontend.lastError;
    EXPECT_EQ(readFile(remote + "/a.bin"), big);
    EXPECT_EQ(readFile(remote + "/sub/b.txt"), "bee\n");
    EXPECT_EQ(frontend.Count("endt a.bin"), 1);

    ASSERT_TRUE(frontend.Do([&] { connection->GetDirList(); })) << frontend.lastError;
    EXPECT_NE(frontend.lastPath.find(folder), std::string::npos) << frontend.lastPath;
    EXPECT_NE(frontend.lastListing.find("a.bin"), std::string::npos);
    EXPECT_NE(frontend.lastListing.find("sub"), std::string::npos);

    ASSERT_TRUE(frontend.Do([&] { connection->CreateFileList("sub", kFileListDownload); }));
    EXPECT_EQ(frontend.lastPath, "sub");
    EXPECT_EQ(frontend.lastMode, kFileListDownload);
    EXPECT_NE(frontend.lastListing.find("b.txt"), std::string::npos);

    ASSERT_TRUE(frontend.Do([&] { connection->Rename("a.bin", "c.bin"); })) << frontend.lastError;
    EXPECT_TRUE(Exists(remote + "/c.bin"));
    ASSERT_TRUE(frontend.Do([&] { connection->SetPerms("c.bin", "600"); })) << frontend.lastError;
    EXPECT_EQ(SizeOf(remote + "/c.bin"), static_cast<off_t>(big.size()));

    ASSERT_TRUE(frontend.Do([&] { connection->GetModTime({File("c.bin")}); }));
    ASSERT_EQ(frontend.modTimes.size(), 1u);
    EXPECT_EQ(frontend.modTimes[0].name, "c.bin");
    EXPECT_GE(frontend.modTimes[0].modDate.year, 2020);

    ASSERT_TRUE(frontend.Do([&] { connection->ResolveLinks({"sub", "c.bin", "nothing"}); }));
    EXPECT_EQ(frontend.linkFolders, std::vector<std::string>{"sub"});

    ::mkdir(local.file("down").c_str(), 0755);
    ::mkdir(local.file("down/sub").c_str(), 0755);
    sDownloadInfo down;
    down.destination = local.file("down");
    down.files = {File("sub", 0, true), File("sub/b.txt", 4), File("c.bin", big.size())};
    ASSERT_TRUE(frontend.Do([&] { connection->Download(down); })) << frontend.lastError;
    EXPECT_EQ(readFile(local.file("down/c.bin")), big);
    EXPECT_EQ(readFile(local.file("down/sub/b.txt")), "bee\n");
    EXPECT_EQ(frontend.Count("strt c.bin " + std::to_string(big.size()) + " 0"), 1);

    sDeleteInfo gone;
    gone.files = {File("sub", 0, true), File("sub/b.txt"), File("c.bin")};
    ASSERT_TRUE(frontend.Do([&] { connection->Delete(gone); })) << frontend.lastError;
    EXPECT_FALSE(Exists(remote + "/sub"));
    EXPECT_FALSE(Exists(remote + "/c.bin"));
    // One per item; the name is the one current when the message is handled.
    EXPECT_EQ(frontend.Count("dlst "), 3);

    // A failing request ends with its error alone.
    EXPECT_FALSE(frontend.Do([&] { connection->ChangeDirTo("no-such-folder"); }));
    EXPECT_TRUE(connection->IsConnected());
    ASSERT_TRUE(frontend.Do([&] { connection->Disconnect(); }));
    EXPECT_FALSE(connection->IsConnected());
    ExpectWellBehaved(frontend);
    EXPECT_TRUE(frontend.idleErrors.empty());
}

TEST_P(ConnServerTest, SeveralFilesAskOnceAboutTheOneThatFails) {
    Put("one", "1111");
    Put("three", "3333");
    TempDir local;
    sDownloadInfo down;
    down.destination = local.path();
    down.files = {File("one"), File("two-missing"), File("three")};

    // Go on: the third file still comes.
    frontend.answer = [](const std::string&) { return true; };
    ASSERT_TRUE(frontend.Do([&] { connection->Download(down); }));
    EXPECT_EQ(frontend.asks, 1);
    EXPECT_EQ(readFile(local.file("one")), "1111");
    EXPECT_EQ(readFile(local.file("three")), "3333");

    // Stop: the request still completes, without the third.
    ::unlink(local.file("one").c_str());
    ::unlink(local.file("three").c_str());
    frontend.answer = [](const std::string&) { return false; };
    ASSERT_TRUE(frontend.Do([&] { connection->Download(down); }));
    EXPECT_EQ(frontend.asks, 2);
    EXPECT_TRUE(Exists(local.file("one")));
    EXPECT_FALSE(Exists(local.file("three")));

    // One file (a folder does not count): no question, the error ends it.
    down.files = {File("sub", 0, true), File("two-missing")};
    EXPECT_FALSE(frontend.Do([&] { connection->Download(down); }));
    EXPECT_EQ(frontend.asks, 2);
    ExpectWellBehaved(frontend);
}

TEST_P(ConnServerTest, DownloadsStayInTheDestinationAndKeepTheOldFileOnFailure) {
    Put("x", "remote x");
    TempDir local;
    ::mkdir(local.file("dest").c_str(), 0755);
    ::mkdir(local.file("dest/a").c_str(), 0755);
    sDownloadInfo down;
    down.destination = local.file("dest");
    for (const char* name : {"../x", "/x", "a/../../x", "a/../x", "./x", "a//x"}) {
        down.files = {File(name)};
        EXPECT_FALSE(frontend.Do([&] { connection->Download(down); })) << name;
    }
    EXPECT_FALSE(Exists(local.file("x")));
    EXPECT_FALSE(Exists(local.file("dest/x")));

    // A failed download leaves the file that stood there as it was, and no
    // stray partial file beside it.
    writeFile(local.file("dest/keep"), "old copy");
    down.files = {File("keep")};
    EXPECT_FALSE(frontend.Do([&] { connection->Download(down); }));
    EXPECT_EQ(readFile(local.file("dest/keep")), "old copy");
    // A successful one replaces it whole.
    Put("keep", "new copy, longer");
    EXPECT_TRUE(frontend.Do([&] { connection->Download(down); })) << frontend.lastError;
    EXPECT_EQ(readFile(local.file("dest/keep")), "new copy, longer");
    EXPECT_EQ(Names(local.file("dest")), (std::vector<std::string>{"a", "keep"}));
    // The destination folder itself missing.
    down.destination = local.file("missing");
    EXPECT_FALSE(frontend.Do([&] { connection->Download(down); }));
    EXPECT_EQ(frontend.lastError, "Could not create local file");
    ExpectWellBehaved(frontend);
}

TEST_P(ConnServerTest, FileListOfAPathWithABlankGoesBackAndUploadCheckTakesMissingAsEmpty) {
    ASSERT_TRUE(frontend.Do([&] { connection->CreateFolder("with blank"); }));
    Put("with blank/inside", "i");
    ASSERT_TRUE(frontend.Do([&] { connection->GetDirList(); }));
    const std::string home = frontend.lastPath;

    ASSERT_TRUE(frontend.Do([&] { connection->CreateFileList("with blank", kFileListDelete); }));
    EXPECT_NE(frontend.lastListing.find("inside"), std::string::npos);
    EXPECT_EQ(frontend.lastMode, kFileListDelete);

    // Missing, upload check: an empty listing, no error.
    frontend.lastListing = "stale";
    ASSERT_TRUE(
        frontend.Do([&] { connection->CreateFileList("not there", kFileListUploadCheck); }));
    EXPECT_EQ(frontend.lastListing, "");
    EXPECT_EQ(frontend.lastMode, kFileListUploadCheck);
    ASSERT_TRUE(
        frontend.Do([&] { connection->CreateFileList("not-there", kFileListUploadCheck); }));
    EXPECT_EQ(frontend.lastListing, "");
    // Missing, for a download: an error, never an empty folder.
    EXPECT_FALSE(frontend.Do([&] { connection->CreateFileList("not there", kFileListDownload); }));

    // Still where it was.
    ASSERT_TRUE(frontend.Do([&] { connection->GetDirList(); }));
    EXPECT_EQ(frontend.lastPath, home);
    ExpectWellBehaved(frontend);
}

TEST_P(ConnServerTest, KeepAlivePingsWhileIdleAndAfterTheNoticeOnBothConnections) {
    // Open with keep-alive 60: nothing within the test; then the preferences
    // change to 1 second and the notice reaches both connections.
    RecordingFrontend second;
    auto other = Open(second, Bookmark(server, GetParam()));
    ASSERT_TRUE(other);
    auto* a = dynamic_cast<FTPBackend*>(connection->Backend());
    auto* b = dynamic_cast<FTPBackend*>(other->Backend());
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->KeepAliveInterval(), 60);
    EXPECT_EQ(b->KeepAliveInterval(), 60);

    prefs.noopSecs = 1;
    PPx::PostEvent(PPx::ApplicationTarget().Ref(), PPx::MakeCommandEvent(kMsgPreferencesChanged));
    ASSERT_TRUE(PPx::RunEventLoopUntil(
        [&] {
            return frontend.Count("stat Pinging server...") >= 2 &&
                   second.Count("stat Pinging server...") >= 2;
        },
        30s));
    EXPECT_EQ(a->KeepAliveInterval(), 1);
    EXPECT_EQ(b->KeepAliveInterval(), 1);
    // A request between the pings works as ever.
    ASSERT_TRUE(frontend.Do([&] { connection->GetDirList(); })) << frontend.lastError;

    // Off again: no timer, no more pings.
    prefs.noopSecs = 0;
    PPx::PostEvent(PPx::ApplicationTarget().Ref(), PPx::MakeCommandEvent(kMsgPreferencesChanged));
    RecordingFrontend::Drain(300ms);
    EXPECT_EQ(a->KeepAliveInterval(), 0);
    const int pings = second.Count("stat Pinging server...");
    RecordingFrontend::Drain(2500ms);
    EXPECT_EQ(second.Count("stat Pinging server..."), pings);
    EXPECT_TRUE(frontend.idleErrors.empty());
    EXPECT_TRUE(second.idleErrors.empty());
    ExpectWellBehaved(frontend);
    ExpectWellBehaved(second);
}

TEST_P(ConnServerTest, DisposeDuringATransferStopsIt) {
    // A large sparse file: the download could not finish in the time the test takes.
    const off_t size = off_t(8) * 1024 * 1024 * 1024;
    {
        const int fd = ::open((remote + "/huge").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
    }
    TempDir local;
    bool updated = false;
    frontend.onUpdate = [&](const sFileProgress&) { updated = true; };
    sDownloadInfo down;
    down.destination = local.path();
    down.files = {File("huge", static_cast<uint64_t>(size))};
    frontend.Sent();
    connection->Download(down);
    ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return updated; }, 60s));
    const size_t logged = frontend.log.size();
    connection.reset();
    EXPECT_TRUE(FTPThread::WaitForWorkers(60s));
    RecordingFrontend::Drain(200ms);
    EXPECT_EQ(frontend.log.size(), logged);
    // What arrived stays (for a later resume), far short of the whole file.
    EXPECT_LT(SizeOf(local.file("huge")), size);
    ::unlink((remote + "/huge").c_str());
}

TEST_P(ConnServerTest, AbortEndsTheDownloadNormallyAndKeepsTheOldFile) {
    const off_t size = off_t(8) * 1024 * 1024 * 1024;
    {
        const int fd = ::open((remote + "/huge").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
    }
    TempDir local;
    writeFile(local.file("huge"), "the old copy");
    frontend.onUpdate = [&](const sFileProgress&) { connection->AbortTransfer(); };
    sDownloadInfo down;
    down.destination = local.path();
    down.files = {File("huge", static_cast<uint64_t>(size)), File("never")};
    EXPECT_TRUE(frontend.Do([&] { connection->Download(down); })) << frontend.lastError;
    EXPECT_EQ(frontend.asks, 0);
    EXPECT_EQ(frontend.Count("strt never"), 0);
    EXPECT_EQ(readFile(local.file("huge")), "the old copy");
    EXPECT_EQ(Names(local.path()), std::vector<std::string>{"huge"});
    ::unlink((remote + "/huge").c_str());
    // The connection goes on serving requests.
    frontend.onUpdate = nullptr;
    EXPECT_TRUE(frontend.Do([&] { connection->GetDirList(); })) << frontend.lastError;
    // An empty list completes at once, whatever its destination.
    down.destination = local.file("missing");
    down.files = {File("folder", 0, true)};
    EXPECT_TRUE(frontend.Do([&] { connection->Download(down); }));
    ExpectWellBehaved(frontend);
}

TEST_P(ConnServerTest, AbortEndsTheUploadNormallyAndSendsNoFurtherFile) {
    // A large sparse file: the upload could not finish in the time the test takes.
    TempDir local;
    const off_t size = off_t(8) * 1024 * 1024 * 1024;
    {
        const int fd = ::open(local.file("huge").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
    }
    writeFile(local.file("never"), "not to be sent");
    frontend.onUpdate = [&](const sFileProgress&) { connection->AbortTransfer(); };
    sUploadInfo up;
    for (sFileInfo f : {File("huge"), File("never")}) {
        f.owner = local.path();
        up.files.push_back(f);
    }
    EXPECT_TRUE(frontend.Do([&] { connection->Upload(up); })) << frontend.lastError;
    EXPECT_EQ(frontend.Count("uplc"), 1);
    EXPECT_EQ(frontend.Count("strt never"), 0);
    EXPECT_FALSE(Exists(remote + "/never"));
    EXPECT_LT(SizeOf(remote + "/huge"), size);
    // The connection goes on serving requests.
    frontend.onUpdate = nullptr;
    EXPECT_TRUE(frontend.Do([&] { connection->GetDirList(); })) << frontend.lastError;
    ::unlink((remote + "/huge").c_str());
    ExpectWellBehaved(frontend);
}

// The program may end while a disposed worker is still stopping its
// transfer: the worker must touch nothing that the exit tears down.
TEST_P(ConnServerTest, ProgramEndsWhileADisposedWorkerStillStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const off_t size = off_t(8) * 1024 * 1024 * 1024;
    const std::string huge = remote + "/huge";
    if (SizeOf(huge) != size) {
        const int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
    }
    // The death test's child runs this test again and ends without its
    // destructors, its worker perhaps still writing: it downloads into the
    // folder of the parent, which removes it.
    constexpr const char* kFolderVariable = "ZARVEL_TEST_EXIT_FOLDER";
    std::optional<TempDir> own;
    std::string folder;
    if (const char* parent = std::getenv(kFolderVariable)) {
        folder = parent;
    } else {
        folder = own.emplace().path();
        ::setenv(kFolderVariable, folder.c_str(), 1);
    }
    EXPECT_EXIT(
        {
            bool updated = false;
            frontend.onUpdate = [&](const sFileProgress&) { updated = true; };
            sDownloadInfo down;
            down.destination = folder;
            down.files = {File("huge")};
            frontend.Sent();
            connection->Download(down);
            PPx::RunEventLoopUntil([&] { return updated; }, 60s);
            connection.reset();
            SetEnginePreferencesProvider(nullptr);
            ::unlink(huge.c_str());
            std::exit(updated ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
    ::unsetenv(kFolderVariable);
    ::unlink(huge.c_str());
}

INSTANTIATE_TEST_SUITE_P(Modes, ConnServerTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Passive" : "Active"; });
