// Whole runs of SyncRun against a real server (ZARVEL_SYNC_SERVER: pyftpd,
// vsftpd or sshd): both trees on disk, the real connection, the sheets
// replaced by scripted answers.
#include "engine/EnginePreferences.h"
#include "platform/core/EventLoop.h"
#include "sync/core/SyncCache.h"
#include "sync/window/SyncRun.h"
#include "tests/support/servers.h"
#include "tests/support/tempdir.h"
#include "tests/sync/sync_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;
using namespace std::chrono_literals;

namespace {

std::string ServerName() {
    return testsupport::serverFromEnv("ZARVEL_SYNC_SERVER");
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> Tree(const std::string& root, const std::string& relative = "") {
    std::vector<std::string> names;
    const std::string folder = relative.empty() ? root : root + "/" + relative;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            const std::string path = relative.empty() ? name : relative + "/" + name;
            names.push_back(path);
            struct stat st {};
            if (::lstat((root + "/" + path).c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                (st.st_mode & 0700) != 0)
                for (const std::string& inner : Tree(root, path))
                    names.push_back(inner);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A run whose sheets answer from a script and whose window notes what it shows.
class ScriptedRun : public SyncRun {
public:
    uint32_t firstTime = 'No  ';
    std::deque<std::optional<SyncChoice>> conflicts;
    bool abortOnStart = false;
    // The user's Cancel handled only once the transfers ended (a late 'ABRT').
    bool abortAfterTransfers = false;
    std::function<void()> onStart; // once, when the first transfer starts
    // At the first-time question: after the walks, before the plan.
    std::function<void()> onFirstTime;
    std::vector<std::string> alerts, notices, asked, statuses;
    std::optional<SyncCounts> summary;
    bool closed = false;

    using SyncRun::mCachedLocal;

protected:
    void SyncComplete() override {
        SyncRun::SyncComplete();
        if (abortAfterTransfers)
            AbortTransfer();
    }
    void ShowTitle(const std::string&) override {}
    void ShowStatus(const std::string& text) override { statuses.push_back(text); }
    void ShowStopAlert(const std::string& message, const std::string&) override {
        alerts.push_back(message);
    }
    void ShowCautionAlert(const std::string& message, const std::string&) override {
        alerts.push_back(message);
    }
    void ShowNotice(const std::string& message) override { notices.push_back(message); }
    uint32_t AskFirstTime(const std::string&, const std::string&) override {
        asked.push_back("first time");
        if (onFirstTime)
            onFirstTime();
        return firstTime;
    }
    std::optional<SyncChoice> AskConflict(const SyncConflict& conflict) override {
        asked.push_back("conflict " + conflict.local.name);
        if (conflicts.empty())
            return SyncChoice::Skip;
        const auto answer = conflicts.front();
        conflicts.pop_front();
        return answer;
    }
    bool AskRedial(const std::string& message, bool) override {
        alerts.push_back(message);
        return false;
    }
    bool AskGoOn(const std::string& message, const std::string&) override {
        asked.push_back("go on: " + message);
        return true;
    }
    void ShowTransferStart(const sFileProgress&, uint32_t, uint64_t) override {
        if (abortOnStart && !mAborted)
            AbortTransfer();
        if (onStart) {
            onStart();
            onStart = nullptr;
        }
    }
    void ShowTransferUpdate(const sFileProgress&) override {}
    void ShowTransferEnd(const sFileProgress&) override {}
    void HideTransfer(bool) override {}
    void ShowTransferAgain() override {}
    void ShowSummary(const SyncCounts& counts) override { summary = counts; }
    void CloseRun() override { closed = true; }
};

class SyncRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("HOME", home.path().c_str(), 1); // the sftp tool's known hosts
        ::setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
        // A server that stops answering shows as the run's own time-out
        // error, well inside the test's wait for the whole run, and not as
        // a run that seems to hang (the engine's default is as long as that wait).
        SetEnginePreferencesProvider([] {
            EnginePreferences prefs;
            prefs.ftpTimeoutSecs = 60;
            return prefs;
        });
        server = testsupport::testServer(ServerName());
        char* real = ::realpath(server.root.c_str(), nullptr);
        ASSERT_NE(real, nullptr);
        const std::string root = real;
        std::free(real);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = std::string("sync-") + info->name() + "-" + std::to_string(::getpid());
        remote = root + "/" + folder;
        struct stat owner {};
        ::stat(root.c_str(), &owner);
        uid = owner.st_uid;
        gid = owner.st_gid;
        MakeRemoteFolder("");
        local = scratch.path() + "/local";
        ::mkdir(local.c_str(), 0755);
        bookmark.name = folder;
        bookmark.host = server.host;
        bookmark.port = server.port;
        bookmark.username = server.user;
        bookmark.password = server.password;
        bookmark.passive = true;
        bookmark.secure = ServerName() == "sshd";
        bookmark.remoteDir = folder;
        bookmark.localDir = local;
        bookmark.action = 3;
    }
    void TearDown() override {
        std::system(
            ("chmod -R u+rwx '" + remote + "' 2>/dev/null; rm -rf '" + remote + "'").c_str());
        ::unsetenv("XDG_CONFIG_HOME");
        SetEnginePreferencesProvider({});
    }

    void MakeRemoteFolder(const std::string& name) {
        const std::string path = name.empty() ? remote : remote + "/" + name;
        ::mkdir(path.c_str(), 0755);
        ::chown(path.c_str(), uid, gid);
    }
    void PutRemote(const std::string& name, const std::string& bytes) {
        const std::string path = remote + "/" + name;
        writeFile(path, bytes);
        ::chown(path.c_str(), uid, gid);
    }
    static void SetTime(const std::string& path, time_t when) {
        const struct timespec times[2] = {{0, UTIME_OMIT}, {when, 0}};
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    }
    // Empty trees on both sides, no cache, and the bookmark as given.
    void FreshTrees(const sSyncBookMarkData& plain) {
        std::system(
            ("chmod -R u+rwx '" + remote + "' 2>/dev/null; rm -rf '" + remote + "' '" + local + "'")
                .c_str());
        MakeRemoteFolder("");
        ::mkdir(local.c_str(), 0755);
        ::unlink(CachePath().c_str());
        bookmark = plain;
    }
    // Whether the server reads as someone that a mode of 000 keeps out.
    bool ServerHonoursModes() const { return ServerName() != "pyftpd"; }

    std::unique_ptr<ScriptedRun> Run(const std::function<void(ScriptedRun&)>& script = {}) {
        auto run = std::make_unique<ScriptedRun>();
        if (script)
            script(*run);
        run->StartSession(bookmark);
        EXPECT_TRUE(PPx::RunEventLoopUntil([&] { return run->closed; }, 300s));
        return run;
    }
    std::string CachePath() const { return SyncFilesFolder() + "/" + SyncFileName(bookmark.name); }

    TempDir home, scratch;
    testsupport::TestServer server;
    std::string folder, remote, local;
    uid_t uid = 0;
    gid_t gid = 0;
    sSyncBookMarkData bookmark;
};

} // namespace

TEST_F(SyncRunTest, BothWaysThenASecondRunThatHasNothingToDo) {
    MakeRemoteFolder("docs");
    PutRemote("docs/remote.txt", "from the server");
    PutRemote("top.txt", std::string(100000, 'r'));
    ::mkdir((local + "/music").c_str(), 0755);
    writeFile(local + "/music/song.txt", "la la");
    writeFile(local + "/notes.txt", "local notes");

    auto run = Run();
    EXPECT_TRUE(run->alerts.empty()) << run->alerts.front();
    ASSERT_TRUE(run->summary);
    EXPECT_EQ(*run->summary, (SyncCounts{2, 2, 0, 0}));
    EXPECT_EQ(readFile(local + "/docs/remote.txt"), "from the server");
    EXPECT_EQ(readFile(local + "/top.txt"), std::string(100000, 'r'));
    EXPECT_EQ(readFile(remote + "/music/song.txt"), "la la");
    EXPECT_EQ(readFile(remote + "/notes.txt"), "local notes");
    EXPECT_EQ(Tree(local), Tree(remote)) << "no staging folder left behind";
    ASSERT_TRUE(Exists(CachePath()));
    const std::string cache = readFile(CachePath());
    // The status line said what the run did: which folder it listed, which
    // file moved, and how far along.
    auto said = [&](const std::string& start, const std::string& end) {
        return std::any_of(run->statuses.begin(), run->statuses.end(), [&](const std::string& s) {
            return s.rfind(start, 0) == 0 && s.size() >= end.size() &&
                   s.compare(s.size() - end.size(), end.size(), end) == 0;
        });
    };
    EXPECT_TRUE(said("Listing \"docs\"", "...")) << ::testing::PrintToString(run->statuses);
    EXPECT_TRUE(said("Uploading \"", "(1 of 4)"));
    EXPECT_TRUE(said("Downloading \"", "(4 of 4)"));

    // Right after: nothing planned, the cache is not rewritten.
    run = Run();
    EXPECT_TRUE(run->alerts.empty()) << run->alerts.front();
    EXPECT_TRUE(run->asked.empty());
    ASSERT_TRUE(run->summary);
    EXPECT_EQ(*run->summary, (SyncCounts{0, 0, 0, 0}));
    EXPECT_EQ(readFile(CachePath()), cache);
}

TEST_F(SyncRunTest, AMissingLocalFolderStopsTheRunBeforeAnythingIsDeleted) {
    PutRemote("keep.txt", "precious");
    MakeRemoteFolder("sub");
    PutRemote("sub/also.txt", "precious too");
    bookmark.localDir = scratch.path() + "/not-there";
    bookmark.action = 1;
    bookmark.deleteRemote = true;
    auto run = Run();
    ASSERT_EQ(run->alerts.size(), 1u);
    EXPECT_EQ(run->alerts[0], "The local folder \"" + bookmark.localDir + "\" does not exist.");
    EXPECT_FALSE(run->summary);
    EXPECT_EQ(readFile(remote + "/keep.txt"), "precious");
    EXPECT_EQ(readFile(remote + "/sub/also.txt"), "precious too");
    EXPECT_FALSE(Exists(CachePath()));
}

TEST_F(SyncRunTest, ARemoteFolderThatCannotBeListedStopsTheRun) {
    if (!ServerHonoursModes())
        GTEST_SKIP() << "this server reads every folder";
    PutRemote("keep.txt", "precious");
    MakeRemoteFolder("closed");
    PutRemote("closed/inside.txt", "hidden from the server");
    ::chmod((remote + "/closed").c_str(), 0000);
    writeFile(local + "/mine.txt", "x");
    bookmark.action = 1;
    bookmark.deleteRemote = true;
    auto run = Run();
    ::chmod((remote + "/closed").c_str(), 0755);
    ASSERT_FALSE(run->alerts.empty());
    // vsftpd answers with the folder's own line instead of refusing.
    if (ServerName() == "vsftpd") {
        EXPECT_EQ(run->alerts[0], "Could not list the remote folder \"closed\".");
    }
    EXPECT_FALSE(run->summary);
    EXPECT_EQ(readFile(remote + "/keep.txt"), "precious");
    EXPECT_EQ(readFile(remote + "/closed/inside.txt"), "hidden from the server");
    EXPECT_FALSE(Exists(remote + "/mine.txt")) << "nothing transferred";
    EXPECT_FALSE(Exists(remote + "/closed/closed"));
    EXPECT_FALSE(Exists(CachePath()));
}

TEST_F(SyncRunTest, AFailedDownloadIsNeitherPutInPlaceNorRecorded) {
    if (!ServerHonoursModes())
        GTEST_SKIP() << "this server reads every file";
    PutRemote("good.txt", "good");
    PutRemote("locked.txt", "locked");
    ::chmod((remote + "/locked.txt").c_str(), 0000);
    bookmark.action = 2;
    auto run = Run();
    ::chmod((remote + "/locked.txt").c_str(), 0644);
    ASSERT_TRUE(run->summary);
    EXPECT_EQ(*run->summary, (SyncCounts{0, 1, 0, 1}));
    EXPECT_EQ(readFile(local + "/good.txt"), "good");
    EXPECT_FALSE(Exists(local + "/locked.txt"));
    EXPECT_EQ(Tree(local), std::vector<std::string>{"good.txt"});
    std::vector<sFileInfo> cachedLocal, cachedRemote;
    ASSERT_EQ(LoadSyncFile(bookmark.name, cachedLocal, cachedRemote).status, SyncCacheLoad::Loaded);
    for (const sFileInfo& entry : cachedRemote)
        EXPECT_NE(entry.name, "locked.txt") << "a failed download is not recorded as done";
}

TEST_F(SyncRunTest, AnAbortedDownloadLeavesNothingHalfWritten) {
    PutRemote("big.bin", std::string(64 << 20, 'b'));
    bookmark.action = 2;
    auto run = Run([](ScriptedRun& r) { r.abortOnStart = true; });
    EXPECT_FALSE(run->summary) << "no summary after an abort";
    // Either the whole file arrived before the abort took, or nothing did.
    if (Exists(local + "/big.bin")) {
        EXPECT_EQ(readFile(local + "/big.bin").size(), size_t{64} << 20);
    }
    for (const std::string& name : Tree(local))
        EXPECT_EQ(name, "big.bin");
    EXPECT_FALSE(Exists(CachePath()));
}

TEST_F(SyncRunTest, ConflictsSkippedAreAskedAgainNextTime) {
    PutRemote("both.txt", "remote one");
    writeFile(local + "/both.txt", "local one, longer");
    // First run: the user says the trees agree; the cache is written.
    auto run = Run([](ScriptedRun& r) { r.firstTime = 'Yes '; });
    ASSERT_TRUE(Exists(CachePath()));
    // Both sides change; the user skips the conflict, twice.
    ::sleep(1);
    PutRemote("both.txt", "remote two!");
    writeFile(local + "/both.txt", "local two, longer still");
    const struct timespec later[2] = {{0, UTIME_OMIT}, {::time(nullptr) + 120, 0}};
    ::utimensat(AT_FDCWD, (local + "/both.txt").c_str(), later, 0);
    ::utimensat(AT_FDCWD, (remote + "/both.txt").c_str(), later, 0);
    writeFile(local + "/new.txt", "new");
    run = Run();
    EXPECT_EQ(run->asked, std::vector<std::string>{"conflict both.txt"});
    EXPECT_EQ(readFile(remote + "/new.txt"), "new");
    run = Run();
    EXPECT_EQ(run->asked, std::vector<std::string>{"conflict both.txt"});
    EXPECT_EQ(readFile(local + "/both.txt"), "local two, longer still");
    EXPECT_EQ(readFile(remote + "/both.txt"), "remote two!");
}

TEST_F(SyncRunTest, TheSameMomentOnBothSidesIsNoChangeWhateverTheTimeZone) {
    // Different bytes, same modification moment on both sides: a first run
    // compares the dates alone and must find nothing to do.
    PutRemote("same.txt", "remote bytes");
    writeFile(local + "/same.txt", "local bytes, other size");
    const struct timespec moment[2] = {{0, UTIME_OMIT}, {1700000000, 0}};
    ::utimensat(AT_FDCWD, (remote + "/same.txt").c_str(), moment, 0);
    ::utimensat(AT_FDCWD, (local + "/same.txt").c_str(), moment, 0);
    auto run = Run();
    EXPECT_EQ(run->asked, std::vector<std::string>{"first time"});
    ASSERT_TRUE(run->summary);
    EXPECT_EQ(*run->summary, (SyncCounts{0, 0, 0, 0}));
    EXPECT_EQ(readFile(remote + "/same.txt"), "remote bytes");
    EXPECT_EQ(readFile(local + "/same.txt"), "local bytes, other size");
    EXPECT_TRUE(Exists(CachePath())) << "a first run with nothing to do still writes the cache";
}

TEST_F(SyncRunTest, DeletionsTakeOnlyListedFilesOnTheirSide) {
    // Upload only, deleting remotely: the remote-only file goes.
    PutRemote("stale.txt", "old");
    MakeRemoteFolder("kept-folder");
    PutRemote("kept-folder/.hidden", "never listed");
    writeFile(local + "/fresh.txt", "new");
    bookmark.action = 1;
    bookmark.deleteRemote = true;
    auto run = Run();
    ASSERT_TRUE(run->summary);
    EXPECT_EQ(*run->summary, (SyncCounts{1, 0, 1, 0}));
    EXPECT_FALSE(Exists(remote + "/stale.txt"));
    EXPECT_EQ(readFile(remote + "/fresh.txt"), "new");
    EXPECT_EQ(readFile(remote + "/kept-folder/.hidden"), "never listed");

    // Download only, deleting locally: a local-only file goes; a link, a
    // hidden file and the folder holding it stay.
    writeFile(local + "/gone-remotely.txt", "x");
    ::mkdir((local + "/only-here").c_str(), 0755);
    writeFile(local + "/only-here/.keep", "x");
    writeFile(scratch.path() + "/outside.txt", "outside");
    ::symlink((scratch.path() + "/outside.txt").c_str(), (local + "/link.txt").c_str());
    bookmark.action = 2;
    bookmark.deleteRemote = false;
    bookmark.deleteLocal = true;
    run = Run();
    ASSERT_TRUE(run->summary);
    EXPECT_EQ(run->summary->deleted, 1u);
    EXPECT_FALSE(Exists(local + "/gone-remotely.txt"));
    EXPECT_TRUE(Exists(local + "/only-here/.keep"));
    EXPECT_TRUE(Exists(local + "/link.txt"));
    EXPECT_EQ(readFile(scratch.path() + "/outside.txt"), "outside");
    EXPECT_EQ(readFile(local + "/fresh.txt"), "new");
}

TEST_F(SyncRunTest, AFilePairedAcrossLetterCaseReplacesItsPartner) {
    MakeRemoteFolder("Docs");
    PutRemote("Docs/README.txt", "remote, newer");
    ::mkdir((local + "/docs").c_str(), 0755);
    writeFile(local + "/docs/readme.TXT", "local, older");
    writeFile(local + "/docs/new.txt", "new");
    const struct timespec older[2] = {{0, UTIME_OMIT}, {1700000000, 0}};
    const struct timespec newer[2] = {{0, UTIME_OMIT}, {1700000100, 0}};
    ::utimensat(AT_FDCWD, (local + "/docs/readme.TXT").c_str(), older, 0);
    ::utimensat(AT_FDCWD, (remote + "/Docs/README.txt").c_str(), newer, 0);
    auto run = Run();
    EXPECT_TRUE(run->alerts.empty()) << run->alerts.front();
    ASSERT_TRUE(run->summary);
    EXPECT_EQ(*run->summary, (SyncCounts{1, 1, 0, 0}));
    EXPECT_EQ(Tree(local), (std::vector<std::string>{"docs", "docs/new.txt", "docs/readme.TXT"}));
    EXPECT_EQ(readFile(local + "/docs/readme.TXT"), "remote, newer");
    EXPECT_EQ(Tree(remote), (std::vector<std::string>{"Docs", "Docs/README.txt", "Docs/new.txt"}));

    // Changed locally since: the upload replaces the remote partner.
    writeFile(local + "/docs/readme.TXT", "local again");
    const struct timespec later[2] = {{0, UTIME_OMIT}, {::time(nullptr) + 3600, 0}};
    ::utimensat(AT_FDCWD, (local + "/docs/readme.TXT").c_str(), later, 0);
    run = Run();
    ASSERT_TRUE(run->summary);
    EXPECT_EQ(*run->summary, (SyncCounts{1, 0, 0, 0}));
    EXPECT_EQ(readFile(remote + "/Docs/README.txt"), "local again");
    EXPECT_EQ(Tree(remote), (std::vector<std::string>{"Docs", "Docs/README.txt", "Docs/new.txt"}));
    EXPECT_EQ(Tree(local), (std::vector<std::string>{"docs", "docs/new.txt", "docs/readme.TXT"}));
}

TEST_F(SyncRunTest, ItemsLeftAloneAreToldOnceEach) {
    writeFile(local + "/a:b", "colon");
    writeFile(local + "/bad\xFF", "not UTF-8");
    ::mkfifo((local + "/pipe").c_str(), 0644);
    writeFile(local + "/plain.txt", "plain");
    bookmark.action = 1;
    auto run = Run();
    ASSERT_EQ(run->notices.size(), 2u);
    EXPECT_EQ(run->notices[0],
              "The file 'a:b' will be ignored because it contains a ':' on the name.");
    // The rest in one alert, a line each.
    std::vector<std::string> lines;
    std::string rest = run->notices[1];
    for (size_t end; (end = rest.find('\n')) != std::string::npos; rest.erase(0, end + 1))
        lines.push_back(rest.substr(0, end));
    lines.push_back(rest);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "The file 'bad\xFF' will be ignored because its name is not valid UTF-8.",
                         "The item 'pipe' will be ignored because it is neither a file nor a "
                         "folder."}));
    EXPECT_EQ(Tree(remote), std::vector<std::string>{"plain.txt"});
}

TEST_F(SyncRunTest, ACacheThatCanNeitherBeReadNorMovedAsideIsLeftAsItIs) {
    const std::vector<sFileInfo> none;
    SaveSyncFile(bookmark.name, none, none); // makes the folder
    writeFile(CachePath(), "not a property list");
    PutRemote("remote.txt", "r");
    const std::string folder = SyncFilesFolder();
    ::chmod(folder.c_str(), 0500);
    std::unique_ptr<ScriptedRun> run;
    {
        synctest::ModesApply modes;
        run = Run();
    }
    ::chmod(folder.c_str(), 0700);
    ASSERT_EQ(run->notices.size(), 1u);
    EXPECT_NE(run->notices[0].find("leaves the file as it is"), std::string::npos);
    EXPECT_TRUE(run->alerts.empty()) << run->alerts.front();
    EXPECT_EQ(readFile(local + "/remote.txt"), "r");
    EXPECT_EQ(readFile(CachePath()), "not a property list");
}

TEST_F(SyncRunTest, ADownloadNeverReplacesWhatChangedLocallyDuringTheRun) {
    PutRemote("edit.txt", "remote, newer");
    PutRemote("new.txt", "remote only");
    writeFile(local + "/edit.txt", "local, older");
    const struct timespec older[2] = {{0, UTIME_OMIT}, {1700000000, 0}};
    ::utimensat(AT_FDCWD, (local + "/edit.txt").c_str(), older, 0);
    bookmark.action = 2;
    auto run = Run([&](ScriptedRun& r) {
        r.onStart = [&] {
            writeFile(local + "/edit.txt", "edited during the run");
            writeFile(local + "/new.txt", "made during the run");
        };
    });
    ASSERT_TRUE(run->summary);
    EXPECT_EQ(*run->summary, (SyncCounts{0, 0, 0, 2}));
    EXPECT_EQ(readFile(local + "/edit.txt"), "edited during the run");
    EXPECT_EQ(readFile(local + "/new.txt"), "made during the run");
    EXPECT_EQ(Tree(local), (std::vector<std::string>{"edit.txt", "new.txt"}));
}

namespace {

// A file in `folder` caught while it is being written: at least `from`
// bytes, fewer than `whole`.
bool FileBeingWritten(const std::string& folder, off_t from, off_t whole) {
    bool found = false;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            struct stat st {};
            if (::lstat((folder + "/" + entry->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                st.st_size >= from && st.st_size < whole)
                found = true;
        }
        ::closedir(dir);
    }
    return found;
}

std::string Pattern(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return bytes;
}

} // namespace

// The roads on which runs lost, hid or miscounted files or told too little,
// each end to end on this server: a row per road, every row on fresh trees.
TEST_F(SyncRunTest, RoadsThatLostFilesStayClosed) {
    const sSyncBookMarkData plain = bookmark;
    const struct Row {
        const char* what;
        bool needsModes; // the server must be kept out by a folder's mode
        std::function<void()> body;
    } rows[] = {
        {"a synchronised folder that can be entered but not read is no empty folder", true,
         [&] {
             PutRemote("keep.txt", "precious remote");
             writeFile(local + "/mine.txt", "precious local");
             bookmark.action = 2;
             bookmark.deleteLocal = true;
             // A cache: no question stands between the listing and the deletions.
             const std::vector<sFileInfo> cached{synctest::File("mine.txt", 14, 0)};
             SaveSyncFile(bookmark.name, cached, cached);
             const std::string cache = readFile(CachePath());
             ::chown(remote.c_str(), 0, 0); // another owner than the server's user
             ::chmod(remote.c_str(), 0311);
             auto run = Run();
             ::chmod(remote.c_str(), 0755);
             ASSERT_FALSE(run->alerts.empty());
             EXPECT_FALSE(run->summary);
             EXPECT_EQ(readFile(local + "/mine.txt"), "precious local");
             EXPECT_EQ(readFile(CachePath()), cache);
         }},
        {"deletions after an upload are each counted once", false,
         [&] {
             bookmark.action = 1;
             bookmark.deleteRemote = true;
             for (int round = 0; round < 5; ++round) {
                 SCOPED_TRACE("round " + std::to_string(round));
                 writeFile(local + "/new" + std::to_string(round) + ".txt", "new");
                 for (int i = 0; i < 25; ++i)
                     PutRemote("gone" + std::to_string(i) + ".txt", "old");
                 auto run = Run();
                 ASSERT_TRUE(run->summary) << (run->alerts.empty() ? "" : run->alerts[0]);
                 EXPECT_EQ(*run->summary, (SyncCounts{1, 0, 25, 0}));
                 EXPECT_EQ(Tree(remote).size(), size_t(round + 1));
             }
         }},
        {"a Cancel handled after the transfers leaves the cache as it was", false,
         [&] {
             PutRemote("a.txt", "first");
             bookmark.action = 2;
             Run();
             const std::string cache = readFile(CachePath());
             PutRemote("a.txt", "second, longer");
             SetTime(remote + "/a.txt", ::time(nullptr) + 60);
             auto run = Run([](ScriptedRun& r) { r.abortAfterTransfers = true; });
             EXPECT_FALSE(run->summary);
             EXPECT_EQ(readFile(local + "/a.txt"), "second, longer");
             EXPECT_EQ(readFile(CachePath()), cache);
         }},
        {"a download that a local folder made during the run keeps out is reported", false,
         [&] {
             PutRemote("clash", "a file here");
             PutRemote("other.txt", "other");
             // After the walk: the plan cannot see it.
             auto makeFolder = [&](ScriptedRun& r) {
                 r.onFirstTime = [&] {
                     ::mkdir((local + "/clash").c_str(), 0755);
                     writeFile(local + "/clash/inside.txt", "x");
                 };
             };
             bookmark.action = 2;
             char root[PATH_MAX];
             ASSERT_TRUE(::realpath(local.c_str(), root));
             const std::string message = "The folder " + std::string(root) +
                                         "/clash is preventing the download of a file with the "
                                         "same name.\nPlease resolve this problem and "
                                         "synchronize again.\n";
             auto run = Run(makeFolder);
             EXPECT_EQ(run->asked, (std::vector<std::string>{"first time", "go on: " + message}));
             ASSERT_TRUE(run->summary);
             EXPECT_EQ(*run->summary, (SyncCounts{0, 1, 0, 1}));
             EXPECT_EQ(readFile(local + "/other.txt"), "other");
             EXPECT_EQ(readFile(local + "/clash/inside.txt"), "x");
             // The only download: the run ends with it.
             ::unlink((remote + "/other.txt").c_str());
             ::unlink((local + "/other.txt").c_str());
             std::system(("rm -rf '" + local + "/clash'").c_str());
             ::unlink(CachePath().c_str());
             run = Run(makeFolder);
             EXPECT_EQ(run->alerts, std::vector<std::string>{message});
             ASSERT_TRUE(run->summary);
             EXPECT_EQ(*run->summary, (SyncCounts{0, 0, 0, 1}));
         }},
        {"a file where the other side has a folder is left alone in every action", false,
         [&] {
             for (int action = 1; action <= 3; ++action) {
                 SCOPED_TRACE("action " + std::to_string(action));
                 FreshTrees(plain);
                 writeFile(local + "/x", "local file");
                 MakeRemoteFolder("x");
                 PutRemote("x/inner.txt", "remote, in a folder");
                 ::mkdir((local + "/y").c_str(), 0755);
                 writeFile(local + "/y/in.txt", "local, in a folder");
                 PutRemote("y", "remote file");
                 writeFile(local + "/up.txt", "up");
                 PutRemote("down.txt", "down");
                 bookmark.action = action;
                 bookmark.deleteRemote = action == 1;
                 bookmark.deleteLocal = action == 2;
                 auto run = Run();
                 EXPECT_TRUE(run->alerts.empty()) << run->alerts.front();
                 ASSERT_EQ(run->notices.size(), 1u);
                 for (const char* told :
                      {"The file 'x' will be left alone because the remote folder 'x' has the "
                       "same name.",
                       "The folder 'y' will be left alone because the remote file 'y' has the "
                       "same name."})
                     EXPECT_NE(run->notices[0].find(told), std::string::npos) << run->notices[0];
                 ASSERT_TRUE(run->summary);
                 EXPECT_EQ(*run->summary, (SyncCounts{action != 2 ? 1u : 0u, action != 1 ? 1u : 0u,
                                                      action != 3, 0}));
                 std::vector<std::string> remoteTree{"x", "x/inner.txt", "y"};
                 std::vector<std::string> localTree{"x", "y", "y/in.txt"};
                 if (action != 2)
                     remoteTree.push_back("up.txt"), localTree.push_back("up.txt");
                 if (action != 1)
                     remoteTree.push_back("down.txt"), localTree.push_back("down.txt");
                 std::sort(remoteTree.begin(), remoteTree.end());
                 std::sort(localTree.begin(), localTree.end());
                 EXPECT_EQ(Tree(remote), remoteTree);
                 EXPECT_EQ(Tree(local), localTree);
                 EXPECT_EQ(readFile(remote + "/x/inner.txt"), "remote, in a folder");
                 EXPECT_EQ(readFile(remote + "/y"), "remote file");
                 EXPECT_EQ(readFile(local + "/x"), "local file");
                 EXPECT_EQ(readFile(local + "/y/in.txt"), "local, in a folder");
             }
         }},
        {"a folder made where a file goes after the walk is never moved aside", false,
         [&] {
             writeFile(local + "/x", "local file");
             bookmark.action = 1;
             auto run = Run([&](ScriptedRun& r) {
                 r.onFirstTime = [&] {
                     MakeRemoteFolder("x");
                     PutRemote("x/inner.txt", "remote, in a folder");
                 };
             });
             EXPECT_EQ(run->alerts.size(), 1u);
             ASSERT_TRUE(run->summary);
             EXPECT_EQ(*run->summary, (SyncCounts{0, 0, 0, 1}));
             EXPECT_EQ(Tree(remote), (std::vector<std::string>{"x", "x/inner.txt"}));
             EXPECT_EQ(readFile(remote + "/x/inner.txt"), "remote, in a folder");
         }},
        {"a file in a folder that takes no new file is not replaced, and the folder is named", true,
         [&] {
             MakeRemoteFolder("ro");
             PutRemote("ro/f.txt", "old");
             ::chmod((remote + "/ro").c_str(), 0555);
             ::mkdir((local + "/ro").c_str(), 0755);
             writeFile(local + "/ro/f.txt", "new, from here");
             SetTime(local + "/ro/f.txt", ::time(nullptr) + 60);
             bookmark.action = 1;
             auto run = Run();
             ::chmod((remote + "/ro").c_str(), 0755);
             ASSERT_EQ(run->alerts.size(), 1u);
             const std::string told = "Could not replace \"ro/f.txt\": its new copy could not be "
                                      "written beside it in the remote folder.\n";
             EXPECT_EQ(run->alerts[0].substr(0, told.size()), told);
             EXPECT_GT(run->alerts[0].size(), told.size()) << "and what the server said";
             ASSERT_TRUE(run->summary);
             EXPECT_EQ(*run->summary, (SyncCounts{0, 0, 0, 1}));
             EXPECT_EQ(readFile(remote + "/ro/f.txt"), "old");
             EXPECT_EQ(Tree(remote), (std::vector<std::string>{"ro", "ro/f.txt"}));
         }},
        {"an upload cut by the server's death never replaces the file", false,
         [&] {
             if (ServerName() == "pyftpd")
                 return; // one process serves everyone: nothing to kill on its own
             testsupport::PrivateServer own(ServerName());
             ASSERT_TRUE(own.Started());
             const std::string sharedRemote = remote;
             char* real = ::realpath(own.info.root.c_str(), nullptr);
             ASSERT_NE(real, nullptr);
             remote = std::string(real) + "/" + folder;
             std::free(real);
             MakeRemoteFolder("");
             bookmark.port = own.info.port;
             bookmark.username = own.info.user;
             bookmark.password = own.info.password;
             const size_t size = size_t(32) << 20;
             const std::string whole = Pattern(size, 7);
             bool cut = false;
             for (int trial = 0; trial < 5 && !cut; ++trial) {
                 PutRemote("big.bin", "old remote");
                 SetTime(remote + "/big.bin", 1600000000);
                 writeFile(local + "/big.bin", whole);
                 SetTime(local + "/big.bin", ::time(nullptr) - 3600);
                 std::atomic<bool> over{false};
                 std::thread killer([&] {
                     while (!over.load()) {
                         if (FileBeingWritten(remote, 64 << 10, static_cast<off_t>(size))) {
                             own.KillSessions();
                             return;
                         }
                         std::this_thread::sleep_for(200us);
                     }
                 });
                 auto run = Run();
                 over = true;
                 killer.join();
                 // Under its own name: the old file or the whole new one (a
                 // kill that lands after the rename ends a run whose upload
                 // is done); a trial counts once it cut the upload itself.
                 const std::string there = readFile(remote + "/big.bin");
                 EXPECT_TRUE(there == whole || (!run->summary && there == "old remote"))
                     << there.size() << " bytes under its name";
                 cut = !run->summary && there == "old remote";
             }
             ASSERT_TRUE(cut) << "no upload was caught in the middle";
             // The next run (no cache: dates decide) sends the file again.
             auto run = Run();
             EXPECT_TRUE(run->alerts.empty()) << run->alerts.front();
             ASSERT_TRUE(run->summary);
             EXPECT_EQ(*run->summary, (SyncCounts{1, 0, 0, 0}));
             const std::string here = readFile(local + "/big.bin");
             EXPECT_TRUE(here == whole) << here.size() << " bytes left of the local file";
             EXPECT_TRUE(readFile(remote + "/big.bin") == whole);
             EXPECT_EQ(Tree(remote), std::vector<std::string>{"big.bin"});
             std::system(("rm -rf '" + remote + "'").c_str());
             remote = sharedRemote;
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.needsModes && !ServerHonoursModes())
            continue;
        FreshTrees(plain);
        row.body();
    }
}

// Temporary names of uploads are ours alone: a user's file never counts as
// one, a leftover one never overrides the decision, and a file the server
// keeps from its owner is not replaced through a rename. A row per road, on
// fresh trees.
TEST_F(SyncRunTest, TemporaryNamesNeverCostAUsersFile) {
    const std::string leftover = ".big.bin.0badf00d.zarvel-upload";
    const sSyncBookMarkData plain = bookmark;
    const struct Row {
        const char* what;
        std::function<void()> body;
    } rows[] = {
        {"files named like temporary uploads are synchronised like any other",
         [&] {
             PutRemote("X.txt", "same");
             PutRemote("X.txt.zarvel-upload", "the user's own");
             PutRemote("theirs.zarvel-upload", "theirs");
             writeFile(local + "/X.txt", "same");
             writeFile(local + "/mine.zarvel-upload", "mine");
             for (const std::string& path : {remote + "/X.txt", local + "/X.txt"})
                 SetTime(path, 1700000000);
             bookmark.action = 1;
             auto run = Run();
             ASSERT_TRUE(run->summary);
             EXPECT_EQ(*run->summary, (SyncCounts{1, 0, 0, 0}));
             // Newer locally: replaced, and the user's look-alike stays.
             writeFile(local + "/X.txt", "newer");
             bookmark.action = 3;
             run = Run();
             ASSERT_TRUE(run->summary);
             EXPECT_EQ(*run->summary, (SyncCounts{1, 2, 0, 0}));
             EXPECT_EQ(readFile(remote + "/X.txt"), "newer");
             EXPECT_EQ(readFile(remote + "/X.txt.zarvel-upload"), "the user's own");
             EXPECT_EQ(readFile(remote + "/mine.zarvel-upload"), "mine");
             EXPECT_EQ(readFile(local + "/theirs.zarvel-upload"), "theirs");
             EXPECT_EQ(readFile(local + "/X.txt.zarvel-upload"), "the user's own");
             EXPECT_EQ(Tree(local), Tree(remote));
         }},
        {"a leftover beside a file edited on both sides: asked, with a cache or without",
         [&] {
             PutRemote("big.bin", "both agree");
             writeFile(local + "/big.bin", "both agree");
             auto run = Run([](ScriptedRun& r) { r.firstTime = 'Yes '; });
             for (bool cached : {true, false}) {
                 SCOPED_TRACE(cached ? "cached" : "no cache");
                 if (!cached)
                     ::unlink(CachePath().c_str());
                 writeFile(local + "/big.bin", "local edit");
                 SetTime(local + "/big.bin", ::time(nullptr) + 60);
                 PutRemote(leftover, "local ed");
                 PutRemote("big.bin", "remote edit, the newest");
                 SetTime(remote + "/big.bin", ::time(nullptr) + 120);
                 run = Run();
                 EXPECT_EQ(run->asked.back(), "conflict big.bin");
                 EXPECT_EQ(run->asked.size(), cached ? 1u : 2u) << "and the first-time question";
                 EXPECT_EQ(readFile(remote + "/big.bin"), "remote edit, the newest");
                 EXPECT_EQ(readFile(local + "/big.bin"), "local edit");
             }
             // The user's answer goes up; the name is whole, the leftover goes.
             run = Run([](ScriptedRun& r) { r.conflicts.push_back(SyncChoice::Upload); });
             ASSERT_TRUE(run->summary);
             EXPECT_EQ(*run->summary, (SyncCounts{1, 0, 0, 0}));
             EXPECT_EQ(readFile(remote + "/big.bin"), "local edit");
             EXPECT_EQ(Tree(remote), std::vector<std::string>{"big.bin"});
         }},
        {"a read-only remote file is not replaced; those before it are, those after it are not "
         "tried, and each is counted as such",
         [&] {
             for (const char* name : {"a.txt", "ro.txt", "z.txt"}) {
                 PutRemote(name, "read only");
                 writeFile(local + "/" + name, "local, newer");
                 SetTime(local + "/" + name, ::time(nullptr) + 60);
             }
             ::chmod((remote + "/ro.txt").c_str(), 0444);
             bookmark.action = 1;
             auto run = Run();
             EXPECT_EQ(run->alerts,
                       (std::vector<std::string>{"Could not replace \"ro.txt\": the remote file is "
                                                 "read-only."}));
             ASSERT_TRUE(run->summary);
             EXPECT_EQ(*run->summary, (SyncCounts{1, 0, 0, 2}));
             EXPECT_EQ(readFile(remote + "/a.txt"), "local, newer");
             EXPECT_EQ(readFile(remote + "/ro.txt"), "read only");
             EXPECT_EQ(readFile(remote + "/z.txt"), "read only");
             EXPECT_EQ(Tree(remote), (std::vector<std::string>{"a.txt", "ro.txt", "z.txt"}));
             std::vector<sFileInfo> cachedLocal, cachedRemote;
             LoadSyncFile(bookmark.name, cachedLocal, cachedRemote);
             for (const sFileInfo& entry : cachedLocal)
                 EXPECT_TRUE(entry.name == "a.txt") << entry.name << ": not uploaded, not recorded";
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FreshTrees(plain);
        row.body();
    }
}

// Folder names that servers may read as options ("-dir"), a pattern ("x[1]",
// "a*b", which "x1" and "aXb" beside them would match) or another user's home
// ("~tilde"), at the top and one level down: each is listed as itself. A
// newer remote edit inside each survives a run both ways, and a download
// mirror that deletes deletes only what the server does not hold.
TEST_F(SyncRunTest, FolderNamesThatServersMayMisreadAreListedAsTheyAre) {
    const std::vector<std::string> names = {"-dir", "x[1]", "~tilde", "a*b", "sub dir"};
    std::vector<std::string> folders;
    for (const std::string& name : names)
        for (const std::string& folder : {name, "nest/" + name})
            folders.push_back(folder);
    MakeRemoteFolder("nest");
    ::mkdir((local + "/nest").c_str(), 0755);
    for (const char* decoy : {"x1", "aXb"}) {
        MakeRemoteFolder(decoy);
        PutRemote(std::string(decoy) + "/edit.txt", "decoy");
        ::mkdir((local + "/" + decoy).c_str(), 0755);
        writeFile(local + "/" + decoy + "/edit.txt", "decoy");
        for (const std::string& side : {remote, local})
            SetTime(side + "/" + decoy + "/edit.txt", 1700000000);
    }
    for (const std::string& folder : folders) {
        MakeRemoteFolder(folder);
        PutRemote(folder + "/edit.txt", "the newer remote edit of " + folder);
        SetTime(remote + "/" + folder + "/edit.txt", 1700000600);
        ::mkdir((local + "/" + folder).c_str(), 0755);
        writeFile(local + "/" + folder + "/edit.txt", "older");
        SetTime(local + "/" + folder + "/edit.txt", 1700000000);
    }
    auto run = Run();
    EXPECT_TRUE(run->alerts.empty()) << run->alerts.front();
    ASSERT_TRUE(run->summary);
    EXPECT_EQ(*run->summary, (SyncCounts{0, static_cast<uint32_t>(folders.size()), 0, 0}));
    for (const std::string& folder : folders) {
        SCOPED_TRACE(folder);
        EXPECT_EQ(readFile(remote + "/" + folder + "/edit.txt"),
                  "the newer remote edit of " + folder);
        EXPECT_EQ(readFile(local + "/" + folder + "/edit.txt"),
                  "the newer remote edit of " + folder);
    }

    writeFile(local + "/nest/-dir/only-here.txt", "gone remotely");
    bookmark.action = 2;
    bookmark.deleteLocal = true;
    run = Run();
    EXPECT_TRUE(run->alerts.empty()) << run->alerts.front();
    ASSERT_TRUE(run->summary);
    EXPECT_EQ(*run->summary, (SyncCounts{0, 0, 1, 0}));
    EXPECT_FALSE(Exists(local + "/nest/-dir/only-here.txt"));
    EXPECT_EQ(Tree(local), Tree(remote));
}
