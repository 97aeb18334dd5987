// The synchronisation-status window on a real server (ZARVEL_SYNC_SERVER),
// offscreen: the run from the first status text to the summary sheet, its
// conflict sheet, and the runs that must stop before anything is planned.
#include "platform/ui/Views.h"
#include "platform/ui/testing/Testing.h"
#include "sync/core/SyncCache.h"
#include "sync/window/SyncStatusWindow.h"
#include "tests/browser/browse_support.h"
#include "tests/support/servers.h"
#include "tests/support/tempdir.h"
#include "tests/sync/sync_helpers.h"

#include <QMenuBar>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace browsetest;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string ServerName() {
    return testsupport::serverFromEnv("ZARVEL_SYNC_SERVER");
}

std::string TextOf(PPx::Window* window, uint32_t signature) {
    PPx::View* view = PPx::View::FromWidget(PPx::FindControl(window->GetSysWindow(), signature));
    return view ? view->GetText() : "<no control>";
}

class SyncWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetUpApplication();
        const std::string folder = "syncwin-" + std::to_string(::getpid());
        const sBookMarkData server = ServerBookmark(ServerName(), folder, root);
        here = root + "/" + folder;
        RemoveTree(here);
        MakeFolder(here);
        GiveToServer(root, here);
        local = scratch.path() + "/local";
        ::mkdir(local.c_str(), 0755);
        bookmark.name = "window " + ServerName();
        bookmark.host = server.host;
        bookmark.port = server.port;
        bookmark.username = server.username;
        bookmark.password = server.password;
        bookmark.passive = true;
        bookmark.secure = server.secure;
        bookmark.remoteDir = folder;
        bookmark.localDir = local;
        bookmark.action = 3;
        RemoveSyncFile(bookmark);
    }
    void TearDown() override {
        std::system(("chmod -R u+rwx '" + here + "' 2>/dev/null").c_str());
        RemoveTree(here);
        RemoveSyncFile(bookmark);
    }
    void Put(const std::string& name, const std::string& bytes) {
        const std::string path = here + "/" + name;
        writeFile(path, bytes);
        struct stat owner {};
        ::stat(root.c_str(), &owner);
        ::chown(path.c_str(), owner.st_uid, owner.st_gid);
    }
    // Opens the window and waits until it closed by itself.
    void RunWindow() {
        SyncStatusWindow* window = OpenSyncStatusWindow(bookmark);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->GetTitle(), "Synchronizing with " + bookmark.host);
        // A small window of its own: no menu bar.
        EXPECT_EQ(window->GetSysWindow()->findChild<QMenuBar*>(), nullptr);
        ASSERT_TRUE(WaitGone(window, 120s)) << "the run never ended";
    }
    std::string CachePath() const { return SyncFilesFolder() + "/" + SyncFileName(bookmark.name); }

    TempDir scratch;
    std::string root, here, local;
    sSyncBookMarkData bookmark;
};

} // namespace

TEST_F(SyncWindowTest, ARunEndsWithItsSummaryAndCloses) {
    Put("remote.txt", "from the server");
    writeFile(local + "/local.txt", "from here");
    Responder answers;
    std::string summary;
    answers.OnSheet("SyncCompleteSheet", [&](PPx::Window* sheet) {
        summary = TextOf(sheet, 'STAT');
        Click(sheet, 'okok');
    });
    RunWindow();
    EXPECT_TRUE(answers.alerts.empty()) << answers.alerts.front();
    EXPECT_EQ(summary, "1 items uploaded, 1 items downloaded, 0 items deleted");
    EXPECT_EQ(readFile(local + "/remote.txt"), "from the server");
    EXPECT_EQ(readFile(here + "/local.txt"), "from here");
    EXPECT_TRUE(Exists(CachePath()));
}

TEST_F(SyncWindowTest, TheConflictSheetShowsBothSidesAndItsCancelStopsEverything) {
    Put("both.txt", "remote");
    writeFile(local + "/both.txt", "local");
    {
        // First run: the trees are said to agree; the cache is written.
        Responder answers;
        answers.OnAlert("Yes");
        answers.OnSheet("SyncCompleteSheet", [](PPx::Window* sheet) { Click(sheet, 'okok'); });
        RunWindow();
        ASSERT_EQ(answers.alerts,
                  std::vector<std::string>{"Are the current files already synchronized?"});
    }
    ASSERT_TRUE(Exists(CachePath()));
    const std::string cache = readFile(CachePath());
    Put("both.txt", "remote, changed");
    writeFile(local + "/both.txt", "local, changed too");
    const struct timespec later[2] = {{0, UTIME_OMIT}, {::time(nullptr) + 600, 0}};
    ::utimensat(AT_FDCWD, (local + "/both.txt").c_str(), later, 0);
    ::utimensat(AT_FDCWD, (here + "/both.txt").c_str(), later, 0);
    writeFile(local + "/new.txt", "new");

    Responder answers;
    std::vector<std::string> shown;
    std::string summary;
    answers.OnSheet("MismatchSheet", [&](PPx::Window* sheet) {
        for (uint32_t signature : {'LFNM', 'LFSZ', 'LSSZ', 'RFNM', 'RFSZ', 'RSSZ'})
            shown.push_back(TextOf(sheet, signature));
        Click(sheet, 'cncl');
    });
    answers.OnSheet("SyncCompleteSheet", [&](PPx::Window* sheet) {
        summary = TextOf(sheet, 'STAT');
        Click(sheet, 'okok');
    });
    RunWindow();
    EXPECT_EQ(shown, (std::vector<std::string>{"both.txt", "18 bytes", "5 bytes", "both.txt",
                                               "15 bytes", "6 bytes"}));
    EXPECT_EQ(summary, "0 items uploaded, 0 items downloaded, 0 items deleted");
    EXPECT_FALSE(Exists(here + "/new.txt")) << "nothing of the plan is carried out";
    EXPECT_EQ(readFile(CachePath()), cache);
}

TEST_F(SyncWindowTest, AMissingLocalFolderStopsTheRunWithAMessage) {
    Put("keep.txt", "precious");
    bookmark.localDir = scratch.path() + "/not-there";
    bookmark.action = 1;
    bookmark.deleteRemote = true;
    Responder answers;
    answers.OnAlert("OK");
    bool summarised = false;
    answers.OnSheet("SyncCompleteSheet", [&](PPx::Window* sheet) {
        summarised = true;
        Click(sheet, 'okok');
    });
    RunWindow();
    EXPECT_EQ(answers.alerts, std::vector<std::string>{"The local folder \"" + bookmark.localDir +
                                                       "\" does not exist."});
    EXPECT_FALSE(summarised);
    EXPECT_EQ(readFile(here + "/keep.txt"), "precious");
    EXPECT_FALSE(Exists(CachePath()));
}

TEST_F(SyncWindowTest, ARemoteFolderThatCannotBeListedStopsTheRun) {
    if (ServerName() == "pyftpd")
        GTEST_SKIP() << "this server reads every folder";
    Put("keep.txt", "precious");
    MakeFolder(here + "/closed");
    Put("closed/inside.txt", "unseen");
    GiveToServer(root, here + "/closed");
    ::chmod((here + "/closed").c_str(), 0000);
    writeFile(local + "/mine.txt", "x");
    bookmark.action = 1;
    bookmark.deleteRemote = true;
    Responder answers;
    answers.OnAlert("OK");
    RunWindow();
    ::chmod((here + "/closed").c_str(), 0755);
    ASSERT_EQ(answers.alerts.size(), 1u);
    EXPECT_EQ(readFile(here + "/keep.txt"), "precious");
    EXPECT_EQ(readFile(here + "/closed/inside.txt"), "unseen");
    EXPECT_FALSE(Exists(here + "/mine.txt"));
    EXPECT_FALSE(Exists(CachePath()));
}

TEST_F(SyncWindowTest, CancelOnTheTransferSheetAbortsWithoutSummaryOrCache) {
    Put("big.bin", std::string(64 << 20, 'b'));
    bookmark.action = 2;
    Responder answers;
    bool summarised = false;
    answers.OnAlert("No"); // a first run: the trees are not said to agree
    answers.OnSheet("TransferSheet", [](PPx::Window* sheet) { Click(sheet, 'cncl'); });
    answers.OnSheet("SyncCompleteSheet", [&](PPx::Window* sheet) {
        summarised = true;
        Click(sheet, 'okok');
    });
    RunWindow();
    EXPECT_EQ(answers.alerts,
              std::vector<std::string>{"Are the current files already synchronized?"});
    EXPECT_FALSE(summarised);
    EXPECT_FALSE(Exists(CachePath()));
    // Either the whole file came before the abort took, or nothing did.
    if (Exists(local + "/big.bin")) {
        EXPECT_EQ(readFile(local + "/big.bin").size(), size_t{64} << 20);
    }
}

TEST_F(SyncWindowTest, ALocalFolderThatCannotBeReadStopsTheRun) {
    MakeFolder(here + "/closed");
    GiveToServer(root, here + "/closed");
    Put("closed/remote-copy.txt", "only the server has it readable");
    Put("keep.txt", "precious");
    ::mkdir((local + "/closed").c_str(), 0755);
    writeFile(local + "/closed/mine.txt", "unreadable here");
    writeFile(local + "/new.txt", "new");
    ::chmod((local + "/closed").c_str(), 0000);
    bookmark.action = 1;
    bookmark.deleteRemote = true;
    Responder answers;
    answers.OnAlert("OK");
    bool summarised = false;
    answers.OnSheet("SyncCompleteSheet", [&](PPx::Window* sheet) {
        summarised = true;
        Click(sheet, 'okok');
    });
    {
        synctest::ModesApply modes;
        RunWindow();
    }
    ::chmod((local + "/closed").c_str(), 0755);
    char canonical[PATH_MAX];
    ASSERT_TRUE(::realpath(local.c_str(), canonical));
    EXPECT_EQ(answers.alerts,
              std::vector<std::string>{"Could not read the local folder \"" +
                                       std::string(canonical) + "/closed\": Permission denied."});
    EXPECT_FALSE(summarised);
    EXPECT_EQ(readFile(here + "/closed/remote-copy.txt"), "only the server has it readable");
    EXPECT_EQ(readFile(here + "/keep.txt"), "precious");
    EXPECT_FALSE(Exists(here + "/new.txt")) << "nothing transferred";
    EXPECT_FALSE(Exists(CachePath()));
}
