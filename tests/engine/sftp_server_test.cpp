// A Connection whose bookmark asks for SFTP, in the event loop, over the real
// sftp tool and sshd: every request end to end, trees both ways byte-exact,
// resume, the ask handshake, abort, failed logins, a tool that goes away and
// disposal during a transfer. Each test gives the tool a fresh HOME, so the
// host-key question is asked and answered every time.
#include "engine/SFTPEngine.h"
#include "engine/SFTPThread.h"
#include "tests/engine/conn_frontend.h"
#include "tests/engine/modtimes_checks.h"
#include "tests/support/tempdir.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

using namespace conntest;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

sFileInfo File(const std::string& name, uint64_t size = 0, bool folder = false) {
    sFileInfo f;
    f.name = name;
    f.size = size;
    f.isFolder = folder;
    return f;
}

std::string Pattern(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed + i / 97) & 0xFF);
    return bytes;
}

// The processes this test process started and has not collected.
std::vector<pid_t> Children() {
    std::vector<pid_t> pids;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (dirent* e = ::readdir(tasks)) {
            if (e->d_name[0] == '.')
                continue;
            std::ifstream in(std::string("/proc/self/task/") + e->d_name + "/children");
            pid_t pid;
            while (in >> pid)
                pids.push_back(pid);
        }
        ::closedir(tasks);
    }
    return pids;
}

class SFTPServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("HOME", home.path().c_str(), 1);
        server = Server("sshd");
        char* real = ::realpath(server.root.c_str(), nullptr);
        ASSERT_NE(real, nullptr);
        remoteRoot = real;
        std::free(real);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = std::string("sftp ") + info->name() + " \"" + std::to_string(::getpid()) + "\"";
        remote = remoteRoot + "/" + folder;
        bookmark = Bookmark(server);
        bookmark.secure = true;
        connection = Open(frontend, bookmark);
        ASSERT_TRUE(connection) << frontend.lastError;
        ASSERT_TRUE(frontend.Do([&] { connection->CreateFolder(folder); })) << frontend.lastError;
        ASSERT_TRUE(frontend.Do([&] { connection->ChangeDirTo(folder); })) << frontend.lastError;
    }
    void TearDown() override {
        connection.reset();
        EXPECT_TRUE(SFTPThread::WaitForWorkers(30s));
        // Every tool was collected.
        for (int i = 0; i < 200 && !Children().empty(); ++i)
            ::usleep(10000);
        EXPECT_TRUE(Children().empty());
        std::system(("rm -rf '" + remote + "'").c_str());
    }
    void ExpectWellBehaved(RecordingFrontend& f) {
        RecordingFrontend::Drain();
        EXPECT_EQ(f.ends, f.requests);
        EXPECT_TRUE(f.faults.empty()) << f.faults.front();
        EXPECT_EQ(f.ProgressFault(), "");
    }
    // A file on the server, in the test's folder, owned by the server's user.
    void Put(const std::string& name, const std::string& bytes) {
        const std::string path = remote + "/" + name;
        writeFile(path, bytes);
        struct stat owner {};
        ::stat(remote.c_str(), &owner);
        ::chown(path.c_str(), owner.st_uid, owner.st_gid);
    }

    TempDir home;
    ServerSpec server;
    std::string remoteRoot, folder, remote;
    sBookMarkData bookmark;
    RecordingFrontend frontend;
    std::unique_ptr<Connection> connection;
};

} // namespace

TEST_F(SFTPServerTest, EveryRequestEndsOnceWithItsResult) {
    EXPECT_EQ(frontend.Count("stat Connecting and authenticating..."), 1);
    ASSERT_TRUE(frontend.Do([&] { connection->GetServerInfo(); }));
    EXPECT_EQ(frontend.serverType, 1);
    EXPECT_TRUE(frontend.resume);

    ASSERT_TRUE(frontend.Do([&] { connection->CreateFolder("sub \\ dir"); })) << frontend.lastError;
    Put("a \"b\".txt", "hello");
    ASSERT_EQ(::symlink("sub \\ dir", (remote + "/to-dir").c_str()), 0);
    ASSERT_EQ(::symlink("a \"b\".txt", (remote + "/to-file").c_str()), 0);

    ASSERT_TRUE(frontend.Do([&] { connection->GetDirList(); })) << frontend.lastError;
    EXPECT_EQ(frontend.lastPath, remote);
    EXPECT_NE(frontend.lastListing.find("a \"b\".txt"), std::string::npos);
    EXPECT_NE(frontend.lastListing.find("sub \\ dir"), std::string::npos);

    ASSERT_TRUE(frontend.Do([&] { connection->ResolveLinks({"to-dir", "to-file", "nothing"}); }));
    EXPECT_EQ(frontend.linkFolders, std::vector<std::string>{"to-dir"});

    ASSERT_TRUE(frontend.Do([&] { connection->Rename("a \"b\".txt", "sub \\ dir/c d.txt"); }))
        << frontend.lastError;
    EXPECT_EQ(readFile(remote + "/sub \\ dir/c d.txt"), "hello");
    ASSERT_TRUE(frontend.Do([&] { connection->SetPerms("sub \\ dir/c d.txt", "600"); }));
    struct stat info {};
    ASSERT_EQ(::stat((remote + "/sub \\ dir/c d.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // A date the server gives back as it was set, in local time.
    const time_t when = 1104894245; // 2005-01-05 03:04:05 UTC
    const utimbuf times{when, when};
    ASSERT_EQ(::utime((remote + "/sub \\ dir/c d.txt").c_str(), &times), 0);
    ASSERT_TRUE(frontend.Do([&] { connection->GetModTime({File("sub \\ dir/c d.txt")}); }));
    ASSERT_EQ(frontend.modTimes.size(), 1u);
    tm local{};
    ::localtime_r(&when, &local);
    EXPECT_EQ(frontend.modTimes[0].modDate.year, local.tm_year + 1900);
    EXPECT_EQ(frontend.modTimes[0].modDate.hour, local.tm_hour);
    EXPECT_EQ(frontend.modTimes[0].modDate.second, 5);

    ASSERT_TRUE(frontend.Do([&] { connection->CreateFileList("sub \\ dir", kFileListDownload); }));
    EXPECT_EQ(frontend.lastPath, "sub \\ dir");
    EXPECT_NE(frontend.lastListing.find("c d.txt"), std::string::npos);
    // The list never moves the connection.
    ASSERT_TRUE(frontend.Do([&] { connection->GetDirList(); }));
    EXPECT_EQ(frontend.lastPath, remote);

    // A folder that does not exist: empty only for the upload check.
    ASSERT_TRUE(frontend.Do([&] { connection->CreateFileList("none", kFileListUploadCheck); }));
    EXPECT_EQ(frontend.lastListing, "");
    EXPECT_FALSE(frontend.Do([&] { connection->CreateFileList("none", kFileListDownload); }));
    EXPECT_NE(frontend.lastError.find("No such file"), std::string::npos) << frontend.lastError;

    EXPECT_FALSE(frontend.Do([&] { connection->ChangeDirTo("no-such-folder"); }));
    EXPECT_TRUE(connection->IsConnected());
    // A name holding a line end never reaches the tool.
    EXPECT_FALSE(frontend.Do([&] { connection->CreateFolder("x\nrm y"); }));
    EXPECT_FALSE(Exists(remote + "/x"));

    sDeleteInfo gone;
    gone.files = {File("sub \\ dir", 0, true), File("sub \\ dir/c d.txt"), File("to-dir"),
                  File("to-file")};
    ASSERT_TRUE(frontend.Do([&] { connection->Delete(gone); })) << frontend.lastError;
    EXPECT_FALSE(Exists(remote + "/sub \\ dir"));
    EXPECT_FALSE(Exists(remote + "/to-dir"));
    EXPECT_EQ(frontend.Count("dlst "), 4);

    ASSERT_TRUE(frontend.Do([&] { connection->Disconnect(); }));
    EXPECT_FALSE(connection->IsConnected());
    ExpectWellBehaved(frontend);
    EXPECT_TRUE(frontend.idleErrors.empty());
}

TEST_F(SFTPServerTest, TreesTravelBothWaysByteExactAndResume) {
    TempDir local;
    ::mkdir(local.file("up").c_str(), 0755);
    ::mkdir(local.file("up/sub").c_str(), 0755);
    ::mkdir(local.file("up/sub/deep").c_str(), 0755);
    const std::string big = Pattern(5 * 1024 * 1024 + 17, 1);
    writeFile(local.file("up/big.bin"), big);
    writeFile(local.file("up/sub/b.txt"), "bee\n");
    writeFile(local.file("up/sub/deep/empty"), "");

    sUploadInfo up;
    for (sFileInfo f : {File("sub", 0, true), File("sub/deep", 0, true), File("big.bin"),
                        File("sub/b.txt"), File("sub/deep/empty")}) {
        f.owner = local.file("up");
        up.files.push_back(f);
    }
    ASSERT_TRUE(frontend.Do([&] { connection->Upload(up); })) << frontend.lastError;
    EXPECT_EQ(readFile(remote + "/big.bin"), big);
    EXPECT_EQ(readFile(remote + "/sub/b.txt"), "bee\n");
    EXPECT_TRUE(Exists(remote + "/sub/deep/empty"));
    EXPECT_EQ(frontend.Count("endt big.bin"), 1);
    // Again: the folders exist now and are not made a second time.
    ASSERT_TRUE(frontend.Do([&] { connection->Upload(up); })) << frontend.lastError;

    ::mkdir(local.file("down").c_str(), 0755);
    ::mkdir(local.file("down/sub").c_str(), 0755);
    ::mkdir(local.file("down/sub/deep").c_str(), 0755);
    sDownloadInfo down;
    down.destination = local.file("down");
    down.files = {File("sub", 0, true), File("sub/deep", 0, true), File("sub/b.txt", 4),
                  File("sub/deep/empty"), File("big.bin", big.size())};
    ASSERT_TRUE(frontend.Do([&] { connection->Download(down); })) << frontend.lastError;
    EXPECT_EQ(readFile(local.file("down/big.bin")), big);
    EXPECT_EQ(readFile(local.file("down/sub/b.txt")), "bee\n");
    EXPECT_TRUE(Exists(local.file("down/sub/deep/empty")));
    EXPECT_EQ(frontend.Count("strt big.bin " + std::to_string(big.size()) + " 0"), 1);

    // Resume a download: half a file, with garbage past the offset.
    std::string half = big.substr(0, big.size() / 2) + "garbage";
    writeFile(local.file("down/big.bin"), half);
    sFileInfo resume = File("big.bin", big.size());
    resume.resumeOffset = std::to_string(big.size() / 2);
    down.files = {resume};
    ASSERT_TRUE(frontend.Do([&] { connection->Download(down); })) << frontend.lastError;
    EXPECT_EQ(readFile(local.file("down/big.bin")), big);

    // Resume an upload the same way.
    ::truncate((remote + "/big.bin").c_str(), static_cast<off_t>(big.size() / 3));
    resume.owner = local.file("up");
    resume.resumeOffset = std::to_string(big.size() / 3);
    up.files = {resume};
    ASSERT_TRUE(frontend.Do([&] { connection->Upload(up); })) << frontend.lastError;
    EXPECT_EQ(readFile(remote + "/big.bin"), big);
    ExpectWellBehaved(frontend);
}

TEST_F(SFTPServerTest, AFailedDownloadLeavesTheLocalFileAndUnsafeNamesAreRefused) {
    TempDir local;
    writeFile(local.file("kept"), "old");
    sDownloadInfo down;
    down.destination = local.path();
    down.files = {File("kept", 3)};
    EXPECT_FALSE(frontend.Do([&] { connection->Download(down); }));
    EXPECT_EQ(readFile(local.file("kept")), "old");
    EXPECT_EQ(frontend.Count("dnlc"), 0);

    Put("kept", "new!");
    ASSERT_TRUE(frontend.Do([&] { connection->Download(down); })) << frontend.lastError;
    EXPECT_EQ(readFile(local.file("kept")), "new!");

    for (const char* name : {"../escape", "/etc/passwd", "a/../../b"}) {
        down.files = {File(name)};
        EXPECT_FALSE(frontend.Do([&] { connection->Download(down); })) << name;
        EXPECT_NE(frontend.lastError.find("unsafe"), std::string::npos) << frontend.lastError;
    }
    EXPECT_FALSE(Exists(local.path() + "/../escape"));
    // Nothing but the file itself is left in the folder.
    DIR* dir = ::opendir(local.path().c_str());
    int entries = 0;
    while (dirent* e = ::readdir(dir))
        entries += e->d_name[0] != '.';
    ::closedir(dir);
    EXPECT_EQ(entries, 1);
    ExpectWellBehaved(frontend);
}

TEST_F(SFTPServerTest, SeveralFilesAskOnceAboutTheOneThatFails) {
    Put("one", "1111");
    Put("three", "3333");
    TempDir local;
    sDownloadInfo down;
    down.destination = local.path();
    down.files = {File("one"), File("two-missing"), File("three")};

    frontend.answer = [](const std::string&) { return true; };
    ASSERT_TRUE(frontend.Do([&] { connection->Download(down); }));
    EXPECT_EQ(frontend.asks, 1);
    EXPECT_EQ(readFile(local.file("three")), "3333");

    ::unlink(local.file("three").c_str());
    frontend.answer = [](const std::string&) { return false; };
    ASSERT_TRUE(frontend.Do([&] { connection->Download(down); }));
    EXPECT_EQ(frontend.asks, 2);
    EXPECT_FALSE(Exists(local.file("three")));

    // One file that fails: an error and no completion.
    down.files = {File("two-missing")};
    EXPECT_FALSE(frontend.Do([&] { connection->Download(down); }));
    EXPECT_EQ(frontend.asks, 2);
    EXPECT_FALSE(Exists(local.file("two-missing")));
    // An upload item that fails ends the upload.
    sUploadInfo up;
    sFileInfo missing = File("not-here");
    missing.owner = local.path();
    up.files = {missing, File("one")};
    up.files[1].owner = local.path();
    EXPECT_FALSE(frontend.Do([&] { connection->Upload(up); }));
    up.files = {File("../one")};
    up.files[0].owner = local.path();
    EXPECT_FALSE(frontend.Do([&] { connection->Upload(up); }));
    EXPECT_NE(frontend.lastError.find("unsafe"), std::string::npos) << frontend.lastError;
    ExpectWellBehaved(frontend);
}

TEST_F(SFTPServerTest, DatesOfManyFilesComeAsOneByOneAndFailAlike) {
    // More files than one command of the tool names, each with its own date.
    std::vector<std::string> names;
    std::vector<DateTimeRec> expected;
    for (int i = 0; i < 150; ++i) {
        const std::string name = "f " + std::to_string(i) + (i % 3 ? " \"q\"" : " \\ b");
        Put(name, "x");
        const time_t when = 1104894245 + i * 3661;
        const utimbuf times{when, when};
        ASSERT_EQ(::utime((remote + "/" + name).c_str(), &times), 0);
        tm local{};
        ::localtime_r(&when, &local);
        names.push_back(name);
        expected.push_back(DateTimeRec{int16_t(local.tm_year + 1900), int16_t(local.tm_mon + 1),
                                       int16_t(local.tm_mday), int16_t(local.tm_hour),
                                       int16_t(local.tm_min), int16_t(local.tm_sec), 0});
    }
    // The engine: the batch gives what the names one by one give; a missing
    // file in the middle of the second group fails it with the error of that
    // name alone, and the tool stays in step.
    SFTPEngine engine;
    ASSERT_TRUE(engine.Initialize());
    ASSERT_TRUE(engine.Connect(server.host, server.port, server.user, server.password, 30))
        << engine.GetLastError();
    ASSERT_TRUE(engine.ChangeDir(remote)) << engine.GetLastError();
    std::string missingError;
    testsupport::ExpectDatesAsOneByOne(engine, names, expected, "missing", 100, "x\nrm y",
                                       missingError);
    ASSERT_FALSE(HasFatalFailure());
    engine.Disconnect();

    // The worker's request: every file with its date, in order.
    std::vector<sFileInfo> files;
    for (const std::string& name : names)
        files.push_back(File(name, 1));
    ASSERT_TRUE(frontend.Do([&] { connection->GetModTime(files); })) << frontend.lastError;
    ASSERT_EQ(frontend.modTimes.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(frontend.modTimes[i].name, names[i]);
        EXPECT_EQ(frontend.modTimes[i].size, 1u);
        EXPECT_EQ(testsupport::WithoutWeekday(frontend.modTimes[i].modDate), expected[i]);
    }
    files.insert(files.begin() + 100, File("missing"));
    EXPECT_FALSE(frontend.Do([&] { connection->GetModTime(files); }));
    EXPECT_EQ(frontend.lastError.find(missingError) != std::string::npos, true)
        << frontend.lastError;
    EXPECT_TRUE(connection->IsConnected());
    ExpectWellBehaved(frontend);
}

TEST_F(SFTPServerTest, AbortStopsATransferAndTheConnectionGoesOn) {
    const std::string path = remote + "/huge";
    Put("huge", "");
    ASSERT_EQ(::truncate(path.c_str(), 4LL << 30), 0);
    TempDir local;
    sDownloadInfo down;
    down.destination = local.path();
    down.files = {File("huge", 4ULL << 30), File("after")};
    Put("after", "x");
    // The file that stands there stays whole until a complete one replaces it.
    writeFile(local.file("huge"), "old");
    // Several rounds: an interrupt that arrives late (progress still queued
    // when the transfer ends) must never stop the listing that follows.
    for (int round = 0; round < 4 && connection->IsConnected(); ++round) {
        frontend.onUpdate = [&](const sFileProgress&) { connection->AbortTransfer(); };
        ASSERT_TRUE(frontend.Do([&] { connection->Download(down); }))
            << frontend.lastError << " / " << (frontend.log.empty() ? "" : frontend.log.back());
        EXPECT_EQ(readFile(local.file("huge")), "old");
        DIR* dir = ::opendir(local.path().c_str());
        int entries = 0;
        while (dirent* e = ::readdir(dir))
            entries += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
        ::closedir(dir);
        EXPECT_EQ(entries, 1); // nothing left beside it
        EXPECT_FALSE(Exists(local.file("after")));
        frontend.onUpdate = nullptr;
        // A tool that honours the interrupt stays logged in; one that does
        // not is ended after a grace period, and the connection says so.
        if (connection->IsConnected()) {
            ASSERT_TRUE(frontend.Do([&] { connection->GetDirList(); }))
                << "round " << round << ": " << frontend.lastError;
            EXPECT_NE(frontend.lastListing.find("after"), std::string::npos);
        }
    }
    ExpectWellBehaved(frontend);
}

TEST_F(SFTPServerTest, DisposeDuringATransferEndsTheToolAndTheWorker) {
    Put("huge", "");
    ASSERT_EQ(::truncate((remote + "/huge").c_str(), 4LL << 30), 0);
    TempDir local;
    sDownloadInfo down;
    down.destination = local.path();
    down.files = {File("huge", 4ULL << 30)};
    bool started = false;
    frontend.onUpdate = [&](const sFileProgress&) { started = true; };
    frontend.Sent();
    connection->Download(down);
    ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return started; }, 60s));
    connection.reset();
    EXPECT_TRUE(SFTPThread::WaitForWorkers(10s));
    EXPECT_TRUE(Children().empty());
}

TEST_F(SFTPServerTest, AToolThatGoesAwayIsALostConnection) {
    const std::vector<pid_t> tools = Children();
    ASSERT_EQ(tools.size(), 1u);
    ::kill(tools[0], SIGKILL);
    EXPECT_FALSE(frontend.Do([&] { connection->GetDirList(); }));
    EXPECT_EQ(frontend.lastError, "Server closed connection");
    EXPECT_FALSE(connection->IsConnected());
    // Resume is no longer on offer.
    ASSERT_TRUE(frontend.Do([&] { connection->GetServerInfo(); }));
    EXPECT_FALSE(frontend.resume);
    ExpectWellBehaved(frontend);
}

TEST(SFTPLoginTest, BadPasswordNoServerAndNoTool) {
    TempDir home;
    setenv("HOME", home.path().c_str(), 1);
    ServerSpec server = Server("sshd");
    sBookMarkData b = Bookmark(server);
    b.secure = true;

    auto fails = [&](const sBookMarkData& bookmark) {
        RecordingFrontend f;
        auto connection = std::make_unique<Connection>(&f);
        f.Sent();
        EXPECT_EQ(connection->Initialize(bookmark), 0);
        EXPECT_TRUE(f.WaitEnd());
        EXPECT_EQ(f.Count("conn"), 0);
        connection.reset();
        EXPECT_TRUE(SFTPThread::WaitForWorkers(30s));
        return f.lastError;
    };
    sBookMarkData wrong = b;
    wrong.password = "not-the-password";
    EXPECT_EQ(fails(wrong), "Bad password");

    // A port where nothing listens.
    sBookMarkData nowhere = b;
    nowhere.port = 1;
    EXPECT_EQ(fails(nowhere), "Server closed connection");
    // No port is no port: the bookmark's value goes as it is, never a guess.
    nowhere.port = 0;
    EXPECT_EQ(fails(nowhere), "Parameter error");

    sBookMarkData startFolder = b;
    startFolder.dir = "no-such-start-folder";
    const std::string noFolder = fails(startFolder);
    EXPECT_NE(noFolder.find("No such file"), std::string::npos);
    EXPECT_EQ(noFolder.rfind("Could not open the folder \"no-such-start-folder\":\n", 0), 0u)
        << noFolder;

    // Another key on record for the server: refused, with where the old key is.
    const std::string known = home.file(".ssh/known_hosts");
    writeFile(
        known,
        "# a comment\n[" + b.host + "]:" + std::to_string(b.port) +
            " ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIBdbSDuhZjg8nmkQCKnfjM1RqaN4jvmr2SkIkm0dbJ+G\n");
    EXPECT_EQ(fails(b), "The server's host key has changed (" + b.host + ", port " +
                            std::to_string(b.port) + ").\nThe old key is on line 2 of " + known +
                            ".");
    ::unlink(known.c_str());

    SFTPEngine::SetToolPath(home.file("no-tool-here"));
    EXPECT_EQ(fails(b), "SSH subsystem not found");
    SFTPEngine::SetToolPath("");
    errno = 0;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}
