// From the synchronisation bookmark window to a finished run against sshd
// through our sftp tool, offscreen: the bookmark made in the sheet, the run
// started from the list, a conflict answered in the conflict sheet and the
// summary read from the summary sheet.
#include "app/BasicApp.h"
#include "app/BrowserFactory.h"
#include "platform/ui/Views.h"
#include "platform/ui/testing/Testing.h"
#include "sync/bookmarks/SyncRunFactory.h"
#include "sync/bookmarks/SyncSheet.h"
#include "sync/bookmarks/SyncWindow.h"
#include "sync/core/SyncCache.h"
#include "sync/window/SyncStatusWindow.h"
#include "tests/browser/browse_support.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace browsetest;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string TextOf(PPx::Window* window, uint32_t signature) {
    PPx::View* view = PPx::View::FromWidget(PPx::FindControl(window->GetSysWindow(), signature));
    return view ? view->GetText() : "<no control>";
}

void SetText(PPx::Window* window, uint32_t signature, const std::string& text) {
    PPx::View::FromWidget(PPx::FindControl(window->GetSysWindow(), signature))->SetText(text);
}

bool RunWindowsOpen() {
    for (PPx::Window* window : PPx::Window::AllWindows())
        if (dynamic_cast<SyncStatusWindow*>(window))
            return true;
    return false;
}

} // namespace

TEST(SyncBookmarkRun, FromTheSheetThroughAConflictToTheSummary) {
    SetUpApplication();
    std::string root;
    const std::string folder = "syncbk-" + std::to_string(::getpid());
    const sBookMarkData server = ServerBookmark("sshd", folder, root);
    const std::string here = root + "/" + folder;
    RemoveTree(here);
    MakeFolder(here);
    GiveToServer(root, here);
    TempDir scratch;
    const std::string local = scratch.path() + "/local";
    ::mkdir(local.c_str(), 0755);
    auto put = [&](const std::string& name, const std::string& bytes) {
        const std::string path = here + "/" + name;
        writeFile(path, bytes);
        struct stat owner {};
        ::stat(root.c_str(), &owner);
        ::chown(path.c_str(), owner.st_uid, owner.st_gid);
    };
    put("both.txt", "remote");
    writeFile(local + "/both.txt", "local");

    InstallSyncWindow();
    auto app = std::make_unique<BasicApp>();
    SyncWindow* window = app->GetSyncWindow();
    ASSERT_NE(window, nullptr);
    SetSyncRunOpener(
        [](const sSyncBookMarkData& bookmark) { return OpenSyncStatusWindow(bookmark); });
    window->Show();

    {
        Responder answers;
        answers.OnSheet("SyncSheet", [&](PPx::Window* sheet) {
            SetText(sheet, 'NAME', "end to end " + folder);
            SetText(sheet, 'HOST', server.host);
            Click(sheet, 'SECR');
            SetText(sheet, 'PORT', std::to_string(server.port));
            SetText(sheet, 'UNAM', server.username);
            SetText(sheet, 'PASS', server.password);
            SetText(sheet, 'RDIR', folder);
            SetText(sheet, 'LDIR', local);
            Click(sheet, 'okok');
        });
        PPx::Testing::ClickControl(window->GetSysWindow(), 'ADDB');
        ASSERT_EQ(window->GetBookmarks().size(), 1u);
        EXPECT_TRUE(answers.alerts.empty());
    }
    const sSyncBookMarkData bookmark = window->GetBookmarks()[0];
    EXPECT_TRUE(bookmark.secure);
    EXPECT_EQ(bookmark.action, 3);
    RemoveSyncFile(bookmark);
    const std::string cache = SyncFilesFolder() + "/" + SyncFileName(bookmark.name);

    auto runFromList = [&] {
        window->Show();
        window->GetList()->SetSelection({1});
        PPx::Testing::ClickControl(window->GetSysWindow(), 'SYNC');
        EXPECT_TRUE(WaitFor([] { return RunWindowsOpen(); }, 10s));
        EXPECT_TRUE(WaitFor([] { return !RunWindowsOpen(); }, 120s)) << "the run never ended";
    };
    {
        // The first run: the trees are said to agree and the cache written.
        Responder answers;
        answers.OnAlert("Yes");
        answers.OnSheet("SyncCompleteSheet", [](PPx::Window* sheet) { Click(sheet, 'okok'); });
        runFromList();
        ASSERT_EQ(answers.alerts,
                  std::vector<std::string>{"Are the current files already synchronized?"});
        ASSERT_TRUE(Exists(cache));
    }

    // Both sides change the file.
    put("both.txt", "remote, changed");
    writeFile(local + "/both.txt", "local, changed too");
    const struct timespec later[2] = {{0, UTIME_OMIT}, {::time(nullptr) + 600, 0}};
    ::utimensat(AT_FDCWD, (local + "/both.txt").c_str(), later, 0);
    ::utimensat(AT_FDCWD, (here + "/both.txt").c_str(), later, 0);

    Responder answers;
    std::vector<std::string> shown;
    std::string summary;
    answers.OnSheet("MismatchSheet", [&](PPx::Window* sheet) {
        for (uint32_t signature : {'LFNM', 'LFSZ', 'LSSZ', 'RFSZ', 'RSSZ'})
            shown.push_back(TextOf(sheet, signature));
        Click(sheet, 'DNRF');
    });
    answers.OnSheet("SyncCompleteSheet", [&](PPx::Window* sheet) {
        summary = TextOf(sheet, 'STAT');
        Click(sheet, 'okok');
    });
    runFromList();
    EXPECT_TRUE(answers.alerts.empty()) << answers.alerts.front();
    EXPECT_EQ(shown,
              (std::vector<std::string>{"both.txt", "18 bytes", "5 bytes", "15 bytes", "6 bytes"}));
    EXPECT_EQ(summary, "0 items uploaded, 1 items downloaded, 0 items deleted");
    EXPECT_EQ(readFile(local + "/both.txt"), "remote, changed");
    EXPECT_EQ(readFile(here + "/both.txt"), "remote, changed");

    RemoveSyncFile(bookmark);
    SetSyncRunOpener(nullptr);
    app.reset();
    RemoveTree(here);
}

TEST(SyncBookmarkRun, TheBrowserProposesThePlaceBrowsed) {
    SetUpApplication();
    std::string root;
    const std::string folder = "syncbk-browse-" + std::to_string(::getpid());
    const sBookMarkData server = ServerBookmark("sshd", folder, root);
    const std::string here = root + "/" + folder;
    RemoveTree(here);
    MakeFolder(here);
    MakeFolder(here + "/photos");
    MakeFile(here + "/notes.txt", 3);
    GiveToServer(root, here);
    TempDir local;

    InstallSyncWindow();
    auto app = std::make_unique<BasicApp>();
    SyncWindow* syncWindow = app->GetSyncWindow();
    ASSERT_NE(syncWindow, nullptr);
    const size_t before = syncWindow->GetBookmarks().size();
    InstallBrowserOpener();
    SetSyncBookmarkCreator(CreateSyncBookmark);
    ASSERT_TRUE(OpenBrowserWindow(server, nullptr));
    SetBrowserOpener(nullptr);
    BrowseWindow* window = nullptr;
    for (PPx::Window* w : PPx::Window::AllWindows())
        if (auto* browse = dynamic_cast<BrowseWindow*>(w))
            window = browse;
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window));
    const std::string path = window->CurrentPath();

    struct Proposal {
        std::string remote, local, port;
        int32_t direction = 0, deleteLocal = -1, deleteRemote = -1;
    };
    auto propose = [&](const std::vector<std::string>& selected, bool keep) {
        Proposal seen;
        Select(window, selected);
        Responder answers;
        answers.OnSheet("SyncSheet", [&](PPx::Window* sheet) {
            seen.remote = TextOf(sheet, 'RDIR');
            seen.local = TextOf(sheet, 'LDIR');
            seen.port = TextOf(sheet, 'PORT');
            auto value = [&](uint32_t sig) {
                return PPx::View::FromWidget(PPx::FindControl(sheet->GetSysWindow(), sig))
                    ->GetValue();
            };
            seen.direction = value('SYNO');
            seen.deleteLocal = value('DELL');
            seen.deleteRemote = value('DELR');
            if (keep) {
                SetText(sheet, 'LDIR', local.path());
                Click(sheet, 'okok');
            } else {
                Click(sheet, 'cncl');
            }
        });
        window->ProcessCommand('mCSB');
        return seen;
    };
    const Proposal folderChosen = propose({"photos"}, true);
    EXPECT_EQ(folderChosen.remote, path + "/photos");
    EXPECT_EQ(folderChosen.local, "");
    EXPECT_EQ(folderChosen.port, std::to_string(server.port));
    EXPECT_EQ(folderChosen.direction, 3);
    EXPECT_EQ(folderChosen.deleteLocal, 0);
    EXPECT_EQ(folderChosen.deleteRemote, 0);
    ASSERT_EQ(syncWindow->GetBookmarks().size(), before + 1);
    const sSyncBookMarkData added = syncWindow->GetBookmarks().back();
    EXPECT_EQ(added.name, server.name);
    EXPECT_EQ(added.host, server.host);
    EXPECT_EQ(added.username, server.username);
    EXPECT_TRUE(added.secure);
    EXPECT_EQ(added.remoteDir, path + "/photos");
    EXPECT_EQ(added.localDir, local.path());

    // Two items, or a file: the folder browsed.
    EXPECT_EQ(propose({"photos", "notes.txt"}, false).remote, path);
    EXPECT_EQ(propose({"notes.txt"}, false).remote, path);
    EXPECT_EQ(syncWindow->GetBookmarks().size(), before + 1);

    delete window;
    PPx::Testing::ProcessEvents();
    app.reset();
    RemoveTree(here);
}
