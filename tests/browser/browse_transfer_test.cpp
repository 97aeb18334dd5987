// Viewing, downloads and uploads through the real browser window against a
// real server (ZARVEL_BROWSE_SERVER: vsftpd or sshd), answered as a user
// would; both sides are checked on disk, byte for byte.
#include "app/BasicApp.h"
#include "app/Preferences.h"
#include "browser/sheets/TransferSheet.h"
#include "browser/viewer/ViewSheet.h"
#include "browser/window/BrowseWindow.h"
#include "platform/ui/DisplayView.h"
#include "platform/ui/testing/Testing.h"
#include "tests/browser/browse_support.h"
#include "tests/support/servers.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace browsetest;

namespace {

std::string ServerName() {
    return testsupport::serverFromEnv("ZARVEL_BROWSE_SERVER", "vsftpd");
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (struct dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    return names;
}

// Every file and folder below ROOT: relative path to content ("<folder>",
// "<link>" for links, which no transfer may make).
std::map<std::string, std::string> Tree(const std::string& root, const std::string& below = "") {
    std::map<std::string, std::string> tree;
    const std::string folder = below.empty() ? root : root + "/" + below;
    for (const std::string& name : Entries(folder)) {
        const std::string relative = below.empty() ? name : below + "/" + name;
        struct stat st;
        ::lstat((root + "/" + relative).c_str(), &st);
        if (S_ISLNK(st.st_mode)) {
            tree[relative] = "<link>";
        } else if (S_ISDIR(st.st_mode)) {
            tree[relative] = "<folder>";
            tree.merge(Tree(root, relative));
        } else {
            tree[relative] = ReadFile(root + "/" + relative);
        }
    }
    return tree;
}

// Changes the preferences the window reads, kept by an application object
// of the test's own.
void SetPrefs(const std::function<void(sPreferences&)>& change) {
    static PreferencesMaster* master = [] {
        static std::string folder;
        char pattern[] = "/tmp/browse-prefs-XXXXXX";
        folder = ::mkdtemp(pattern);
        auto* made = new PreferencesMaster(folder);
        (new BasicApp)->SetPreferencesMaster(made);
        return made;
    }();
    sPreferences prefs;
    master->GetPreferences(prefs);
    change(prefs);
    master->SetPreferences(prefs);
}

// Records the files in the order the worker starts them; ACT runs once, at
// the first progress report (to cancel, or to cut the file on the server).
class TestWindow : public BrowseWindow {
public:
    void StartTransfer(const sFileProgress& progress) override {
        started.push_back(progress.name);
        BrowseWindow::StartTransfer(progress);
    }
    void UpdateTransfer(const sFileProgress& progress) override {
        BrowseWindow::UpdateTransfer(progress);
        if (act && GetTransferSheet())
            std::exchange(act, nullptr)(this);
    }
    void Cancel() { PPx::Testing::ClickControl(GetTransferSheet()->GetSysWindow(), 'cncl'); }
    std::vector<std::string> started;
    std::function<void(TestWindow*)> act;
};

// A sparse file of 8 GB: its first progress report comes long before its end.
void MakeHuge(const std::string& path) {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t(8) << 30), 0);
    ::close(fd);
}

class BrowseTransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetUpApplication();
        // The viewer's private folders go here, so that none may be missed.
        char pattern[] = "/tmp/browse-runtime-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        runtime = pattern;
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        char local_pattern[] = "/tmp/browse-local-XXXXXX";
        ASSERT_NE(::mkdtemp(local_pattern), nullptr);
        local = local_pattern;

        folder = "transfer-" + std::to_string(::getpid());
        bookmark = ServerBookmark(ServerName(), folder, root);
        here = root + "/" + folder;
        RemoveTree(here);
        MakeFolder(here);
    }
    void TearDown() override {
        for (PPx::Window* window : PPx::Window::AllWindows())
            if (dynamic_cast<BrowseWindow*>(window))
                delete window;
        PPx::Testing::ProcessEvents();
        RemoveTree(here);
        RemoveTree(local);
        RemoveTree(runtime);
        ::unsetenv("XDG_RUNTIME_DIR");
    }
    void Open() {
        GiveToServer(root, here);
        tested = PPx::MakeNibWindow<TestWindow>(PPx::SysNib(), "BrowseWindow");
        ASSERT_NE(tested, nullptr);
        window = tested;
        window->Show();
        window->StartSession(bookmark);
        ASSERT_TRUE(WaitIdle(window)) << "no listing";
    }
    void Command(uint32_t command) {
        ASSERT_EQ(window->ProcessCommand(command), PPx::noErr);
        ASSERT_TRUE(WaitIdle(window)) << "command did not finish";
    }

    std::string folder, root, here, local, runtime;
    sBookMarkData bookmark;
    BrowseWindow* window = nullptr;
    TestWindow* tested = nullptr;
};

} // namespace

TEST_F(BrowseTransferTest, ViewShowsTheRemoteFileAndLeavesNothingBehind) {
    const std::string command = "/usr/bin/convert -size 120x80 xc:red " + here + "/picture.png";
    ASSERT_EQ(std::system(command.c_str()), 0);
    WriteFile(here + "/notes.txt", "first line\nsecond line\n");
    MakeFile(here + "/gone.txt", 10);
    Open();

    // An image: the sheet shows it at its own size; no transfer sheet.
    int32_t width = 0, height = 0;
    bool transferSheet = false;
    {
        Responder responder;
        responder.OnSheet("TransferSheet", [&](PPx::Window*) { transferSheet = true; });
        responder.OnSheet("ViewSheet", [&](PPx::Window* sheet) {
            auto* view = static_cast<ViewSheet*>(sheet)->GetDisplayView();
            int32_t x, y;
            view->GetDrawnRect(1000, 1000, x, y, width, height);
            Click(sheet, 'okok');
        });
        Select(window, {"picture.png"});
        Command('mVIW');
        EXPECT_EQ(responder.Pending(), 1); // the transfer sheet never came
    }
    EXPECT_FALSE(transferSheet);
    EXPECT_EQ(width, 120);
    EXPECT_EQ(height, 80);
    EXPECT_TRUE(Entries(runtime).empty());

    // A text.
    std::string text;
    {
        Responder responder;
        responder.OnSheet("ViewSheet", [&](PPx::Window* sheet) {
            text = static_cast<ViewSheet*>(sheet)->GetTextView()->GetText();
            Click(sheet, 'okok');
        });
        Select(window, {"notes.txt"});
        Command('mVIW');
    }
    EXPECT_EQ(text, "first line\nsecond line\n");
    EXPECT_TRUE(Entries(runtime).empty());
    EXPECT_EQ(ReadFile(here + "/notes.txt"), "first line\nsecond line\n");

    // A file gone from the server: the failure is told, no viewer opens and
    // the private folder goes.
    ::unlink((here + "/gone.txt").c_str());
    bool viewed = false;
    {
        Responder responder;
        responder.OnAlert();
        responder.OnSheet("ViewSheet", [&](PPx::Window* sheet) {
            viewed = true;
            Click(sheet, 'okok');
        });
        Select(window, {"gone.txt"});
        Command('mVIW');
        EXPECT_EQ(responder.alerts.size(), 1u);
    }
    EXPECT_FALSE(viewed);
    EXPECT_TRUE(Entries(runtime).empty());

    // An ordinary download after the failed view goes where it was sent.
    {
        Responder responder;
        responder.OnSheet("ViewSheet", [&](PPx::Window* sheet) {
            viewed = true;
            Click(sheet, 'okok');
        });
        Select(window, {"notes.txt"});
        window->DoDownload(local);
        ASSERT_TRUE(WaitIdle(window));
    }
    EXPECT_FALSE(viewed);
    EXPECT_EQ(ReadFile(local + "/notes.txt"), "first line\nsecond line\n");
}

TEST_F(BrowseTransferTest, FolderTreesGoBothWaysByteForByte) {
    SetPrefs([](sPreferences& p) { p.downloadMode = p.uploadMode = kExistingAsk; });
    const std::string tree = here + "/tree";
    MakeFolder(tree);
    MakeFolder(tree + "/sub");
    MakeFolder(tree + "/sub/deeper");
    WriteFile(tree + "/binary.dat", testsupport::randomBytes(300000, 1));
    WriteFile(tree + "/empty.txt", "");
    WriteFile(tree + "/large.bin", testsupport::randomBytes(3 << 20, 2));
    WriteFile(tree + "/name with blanks.txt", "blanks\n");
    WriteFile(tree + "/sub/\xC3\x9C"
                     "bergr\xC3\xB6\xC3\x9F"
                     "e.txt",
              "non-ASCII\n");
    WriteFile(tree + "/sub/deeper/last.bin", testsupport::randomBytes(4096, 3));
    MakeLink("sub", tree + "/to-sub"); // links are never downloaded
    Open();

    // Download through the folder chooser.
    Select(window, {"tree"});
    ASSERT_EQ(window->ProcessCommand('mDNL'), PPx::noErr);
    ASSERT_TRUE(WaitFor([] { return PPx::Testing::ChooserShown(); }));
    bool sheetSeen = false;
    Responder responder;
    responder.OnSheet("TransferSheet", [&](PPx::Window*) { sheetSeen = true; });
    ASSERT_TRUE(PPx::Testing::ChooseInChooser({local}));
    ASSERT_TRUE(WaitFor([&] { return Exists(local + "/tree"); }));
    ASSERT_TRUE(WaitIdle(window));
    std::map<std::string, std::string> expected = Tree(tree);
    expected.erase("to-sub");
    EXPECT_EQ(Tree(local + "/tree"), expected);
    EXPECT_EQ(window->GetTransferSheet(), nullptr);
    // Sub-listings were appended: the files come level by level.
    auto depth = [](const std::string& name) { return std::count(name.begin(), name.end(), '/'); };
    EXPECT_TRUE(std::is_sorted(
        tested->started.begin(), tested->started.end(),
        [&](const std::string& a, const std::string& b) { return depth(a) < depth(b); }))
        << ::testing::PrintToString(tested->started);

    // Upload the tree into a folder of the server, with what must stay home:
    // a hidden file, and links to a folder and to a file (both could lead
    // anywhere outside the tree), which the user is told of.
    WriteFile(local + "/tree/.hidden", "secret");
    ASSERT_EQ(::symlink("sub", (local + "/tree/loop").c_str()), 0);
    ASSERT_EQ(::symlink("binary.dat", (local + "/tree/alias.dat").c_str()), 0);
    MakeFolder(here + "/up");
    GiveToServer(root, here);
    Command('mRFS');
    Select(window, {"up"});
    window->ListDoubleClick(ItemNamed(window, "up"));
    ASSERT_TRUE(WaitIdle(window));
    // With the keep-sheet preference the sheet says the batch is complete
    // and stays until closed.
    SetPrefs([](sPreferences& p) { p.misc[kMiscKeepTransferSheet] = true; });
    bool sawComplete = false;
    Responder closer;
    std::function<void(PPx::Window*)> closeWhenDone = [&](PPx::Window* sheet) {
        PPx::View* status = PPx::View::FromWidget(PPx::FindControl(sheet->GetSysWindow(), 'STAT'));
        if (status && status->GetText() == "Transfer Complete!") {
            sawComplete = true;
            Click(sheet, 'cncl');
        } else {
            closer.OnSheet("TransferSheet", closeWhenDone);
        }
    };
    closer.OnSheet("TransferSheet", closeWhenDone);
    closer.OnAlert();
    window->DoUpload({local + "/tree"});
    ASSERT_TRUE(WaitIdle(window));
    EXPECT_TRUE(sawComplete);
    SetPrefs([](sPreferences& p) { p.misc[kMiscKeepTransferSheet] = false; });
    ASSERT_EQ(closer.explanations.size(), 1u);
    EXPECT_NE(closer.explanations[0].find("\"tree/alias.dat\""), std::string::npos)
        << closer.explanations[0];
    EXPECT_NE(closer.explanations[0].find("\"tree/loop\""), std::string::npos);
    EXPECT_EQ(Tree(here + "/up/tree"), expected);
    EXPECT_NE(ItemNamed(window, "tree"), 0u); // listed again
}

// Folders whose names a server may read as options or a pattern ("x1"
// beside "x[1]" would match it) come whole, inner folders included.
TEST_F(BrowseTransferTest, FoldersNamedLikeOptionsOrPatternsComeWhole) {
    for (const char* name : {"-dir", "x[1]", "x1"}) {
        MakeFolder(here + "/" + name);
        MakeFolder(here + "/" + name + "/inner");
        WriteFile(here + "/" + name + "/top.txt", std::string("top of ") + name);
        WriteFile(here + "/" + name + "/inner/deep.txt", std::string("deep in ") + name);
    }
    Open();
    Select(window, {"-dir", "x[1]"});
    ASSERT_EQ(window->ProcessCommand('mDNL'), PPx::noErr);
    ASSERT_TRUE(WaitFor([] { return PPx::Testing::ChooserShown(); }));
    ASSERT_TRUE(PPx::Testing::ChooseInChooser({local}));
    ASSERT_TRUE(WaitFor([&] { return Exists(local + "/x[1]/inner/deep.txt"); }));
    ASSERT_TRUE(WaitIdle(window));
    EXPECT_EQ(Entries(local).size(), 2u);
    for (const char* name : {"-dir", "x[1]"})
        EXPECT_EQ(Tree(local + "/" + name), Tree(here + "/" + name)) << name;
}

TEST_F(BrowseTransferTest, ExistingFilesFollowTheAnswersAndPreferences) {
    const std::string full(1000, 'R');
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"})
        WriteFile(here + "/" + name, full);
    Open();
    auto local3 = [&] {
        WriteFile(local + "/a.txt", full.substr(0, 400));    // a part of it
        WriteFile(local + "/b.txt", "old");                  // another file
        WriteFile(local + "/c.txt", std::string(2000, 'L')); // longer: not a part
        ::unlink((local + "/d.txt").c_str());
    };
    const bool canResume = true; // both servers restart transfers

    // Asked one by one: Resume, Skip, and for the longer file no Resume.
    SetPrefs([](sPreferences& p) { p.downloadMode = kExistingAsk; });
    local3();
    std::vector<std::string> asked;
    bool longerCouldResume = true;
    {
        Responder responder;
        responder.OnSheet("CollisionSheet", [&](PPx::Window* sheet) {
            asked.push_back("a");
            Click(sheet, 'RESU');
            responder.OnSheet("CollisionSheet", [&](PPx::Window* sheet) {
                asked.push_back("b");
                Click(sheet, 'SKIP');
                responder.OnSheet("CollisionSheet", [&](PPx::Window* sheet) {
                    asked.push_back("c");
                    longerCouldResume =
                        PPx::View::FromWidget(PPx::FindControl(sheet->GetSysWindow(), 'RESU'))
                            ->IsEnabled();
                    Click(sheet, 'REPL');
                });
            });
        });
        Select(window, {"a.txt", "b.txt", "c.txt", "d.txt"});
        window->DoDownload(local);
        ASSERT_TRUE(WaitIdle(window));
    }
    EXPECT_EQ(asked.size(), 3u);
    EXPECT_FALSE(longerCouldResume);
    EXPECT_EQ(ReadFile(local + "/a.txt"), full);
    EXPECT_EQ(ReadFile(local + "/b.txt"), "old");
    EXPECT_EQ(ReadFile(local + "/c.txt"), full);
    EXPECT_EQ(ReadFile(local + "/d.txt"), full);

    // Skip All on the first question: no more questions, nothing sent, no
    // transfer sheet, controls back.
    local3();
    WriteFile(local + "/d.txt", "mine");
    int questions = 0;
    bool transferSheet = false;
    {
        Responder responder;
        responder.OnSheet("TransferSheet", [&](PPx::Window*) { transferSheet = true; });
        responder.OnSheet("CollisionSheet", [&](PPx::Window* sheet) {
            ++questions;
            Click(sheet, 'SKIA');
        });
        Select(window, {"a.txt", "b.txt", "c.txt", "d.txt"});
        window->DoDownload(local);
        ASSERT_TRUE(WaitIdle(window));
    }
    EXPECT_EQ(questions, 1);
    EXPECT_FALSE(transferSheet);
    EXPECT_EQ(ReadFile(local + "/b.txt"), "old");
    EXPECT_EQ(ReadFile(local + "/d.txt"), "mine");
    EXPECT_TRUE(window->mCanDownload);

    // The resume preference: the part is completed, the whole-length file is
    // taken as complete, the longer one is still asked about.
    SetPrefs([](sPreferences& p) { p.downloadMode = kExistingResume; });
    local3();
    WriteFile(local + "/d.txt", std::string(1000, 'D'));
    questions = 0;
    {
        Responder responder;
        responder.OnSheet("CollisionSheet", [&](PPx::Window* sheet) {
            ++questions;
            Click(sheet, 'SKIP');
        });
        Select(window, {"a.txt", "c.txt", "d.txt"});
        window->DoDownload(local);
        ASSERT_TRUE(WaitIdle(window));
    }
    EXPECT_EQ(questions, canResume ? 1 : 3);
    EXPECT_EQ(ReadFile(local + "/a.txt"), full);
    EXPECT_EQ(ReadFile(local + "/c.txt"), std::string(2000, 'L'));
    EXPECT_EQ(ReadFile(local + "/d.txt"), std::string(1000, 'D'));

    // Skip and replace preferences, and the same answers for uploads.
    SetPrefs([](sPreferences& p) { p.downloadMode = kExistingSkip; });
    local3();
    Select(window, {"b.txt", "d.txt"});
    window->DoDownload(local);
    ASSERT_TRUE(WaitIdle(window));
    EXPECT_EQ(ReadFile(local + "/b.txt"), "old");
    EXPECT_EQ(ReadFile(local + "/d.txt"), full);
    SetPrefs([](sPreferences& p) { p.downloadMode = kExistingReplace; });
    Select(window, {"b.txt"});
    window->DoDownload(local);
    ASSERT_TRUE(WaitIdle(window));
    EXPECT_EQ(ReadFile(local + "/b.txt"), full);

    SetPrefs([](sPreferences& p) { p.uploadMode = kExistingResume; });
    WriteFile(local + "/a.txt", full + "more");
    WriteFile(here + "/a.txt", full); // a part of the local file
    WriteFile(local + "/new.txt", "new");
    window->DoUpload({local + "/a.txt", local + "/new.txt"});
    ASSERT_TRUE(WaitIdle(window));
    EXPECT_EQ(ReadFile(here + "/a.txt"), full + "more");
    EXPECT_EQ(ReadFile(here + "/new.txt"), "new");
    SetPrefs([](sPreferences& p) { p.uploadMode = kExistingSkip; });
    WriteFile(local + "/new.txt", "changed");
    window->DoUpload({local + "/new.txt"});
    ASSERT_TRUE(WaitIdle(window));
    EXPECT_EQ(ReadFile(here + "/new.txt"), "new");

    // Local files dropped on the list go up like chosen ones.
    WriteFile(local + "/dropped.txt", "dropped");
    PPx::DataBrowser::Content* content = window->GetList()->GetContent();
    ASSERT_TRUE(content->DragIsAcceptable({local + "/dropped.txt"}));
    ASSERT_TRUE(content->ReceiveDraggedItems({local + "/dropped.txt"}));
    ASSERT_TRUE(WaitIdle(window));
    EXPECT_EQ(ReadFile(here + "/dropped.txt"), "dropped");
    EXPECT_NE(ItemNamed(window, "dropped.txt"), 0u);
}

TEST_F(BrowseTransferTest, UnsafeNamesAndLinksNeverLeadOutside) {
    if (ServerName() == "sshd")
        GTEST_SKIP() << "the sftp tool refuses such names itself";
    SetPrefs([](sPreferences& p) { p.downloadMode = kExistingReplace; });
    // Pure-FTPd lists no name with a control character.
    const bool listsBadNames = ServerName() != "pureftpd";
    MakeFolder(here + "/pack");
    WriteFile(here + "/pack/ok.txt", "ok");
    if (listsBadNames)
        WriteFile(here + "/pack/bad\rname", "bad");
    MakeFolder(here + "/pack/into");
    WriteFile(here + "/pack/into/payload.txt", "payload");
    WriteFile(here + "/pack/link.txt", "through the link");
    Open();
    // A link standing where a folder would be made leads outside: left out.
    const std::string outside = local + "/outside";
    MakeFolder(outside);
    MakeFolder(local + "/target");
    MakeFolder(local + "/target/pack");
    ASSERT_EQ(::symlink(outside.c_str(), (local + "/target/pack/into").c_str()), 0);
    WriteFile(local + "/victim", "untouched");
    ASSERT_EQ(::symlink((local + "/victim").c_str(), (local + "/target/pack/link.txt").c_str()), 0);
    Responder responder;
    responder.OnAlert();
    if (listsBadNames)
        responder.OnAlert();
    Select(window, {"pack"});
    window->DoDownload(local + "/target");
    ASSERT_TRUE(WaitIdle(window));
    EXPECT_EQ(responder.alerts.size(), listsBadNames ? 2u : 1u);
    EXPECT_EQ(ReadFile(local + "/target/pack/ok.txt"), "ok");
    EXPECT_TRUE(Entries(outside).empty());
    EXPECT_EQ(ReadFile(local + "/victim"), "untouched");
    EXPECT_FALSE(Exists(local + "/target/pack/bad\rname"));

    // A local name the server could take for a path is refused with its
    // character; the rest goes.
    WriteFile(local + "/a:b", "colon");
    WriteFile(local + "/fine.txt", "fine");
    Responder uploads;
    uploads.OnAlert();
    window->DoUpload({local + "/a:b", local + "/fine.txt"});
    ASSERT_TRUE(WaitIdle(window));
    ASSERT_EQ(uploads.alerts.size(), 1u);
    EXPECT_EQ(uploads.alerts[0],
              "The file 'a:b' will be ignored because it contains a ':' on the name.");
    EXPECT_FALSE(Exists(here + "/a:b"));
    EXPECT_EQ(ReadFile(here + "/fine.txt"), "fine");
}

TEST_F(BrowseTransferTest, AsciiModeTurnsLineEndsOnFtpOnly) {
    if (ServerName() == "sshd")
        GTEST_SKIP() << "SFTP always transfers binary";
    SetPrefs([](sPreferences& p) { p.downloadMode = p.uploadMode = kExistingReplace; });
    WriteFile(here + "/unix.txt", "one\ntwo\n\nthree");
    Open();
    auto* mode = static_cast<PPx::PopupButton*>(
        PPx::View::FromWidget(PPx::FindControl(window->GetSysWindow(), 'MODE')));
    mode->SetValue(2);
    Select(window, {"unix.txt"});
    window->DoDownload(local);
    ASSERT_TRUE(WaitIdle(window));
    // The server sends CR LF; what lands here has this system's LF.
    EXPECT_EQ(ReadFile(local + "/unix.txt"), "one\ntwo\n\nthree");
    WriteFile(local + "/dos.txt", "a\r\nb\r\n");
    WriteFile(local + "/plain.txt", "x\ny\n");
    window->DoUpload({local + "/dos.txt", local + "/plain.txt"});
    ASSERT_TRUE(WaitIdle(window));
    EXPECT_EQ(ReadFile(here + "/dos.txt"), "a\nb\n");
    EXPECT_EQ(ReadFile(here + "/plain.txt"), "x\ny\n");
    // Binary again: byte for byte.
    mode->SetValue(1);
    WriteFile(local + "/dos.txt", "a\r\nb\r\n");
    window->DoUpload({local + "/dos.txt"});
    ASSERT_TRUE(WaitIdle(window));
    EXPECT_EQ(ReadFile(here + "/dos.txt"), "a\r\nb\r\n");
}

TEST_F(BrowseTransferTest, CancelLeavesTheEarlierLocalFileWhole) {
    // The keep-sheet preference would wait for the user after a complete
    // batch; a cancelled one never says it is complete.
    SetPrefs([](sPreferences& p) {
        p.downloadMode = kExistingReplace;
        p.misc[kMiscKeepTransferSheet] = true;
    });
    MakeHuge(here + "/huge.bin");
    WriteFile(local + "/huge.bin", "the earlier file");
    Open();
    bool cancelled = false;
    tested->act = [&](TestWindow* w) {
        cancelled = true;
        w->Cancel();
    };
    Responder responder;
    responder.OnAlert(); // a server may report the cut transfer as an error
    Select(window, {"huge.bin"});
    window->DoDownload(local);
    ASSERT_TRUE(WaitIdle(window, 120s));
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(window->GetTransferSheet(), nullptr);
    EXPECT_EQ(ReadFile(local + "/huge.bin"), "the earlier file");
    EXPECT_EQ(Entries(local), std::vector<std::string>{"huge.bin"}); // no part left
    // Nothing was left incomplete, so nothing is said of it.
    for (const std::string& explanation : responder.explanations)
        EXPECT_EQ(explanation.find("incomplete"), std::string::npos) << explanation;
}

TEST_F(BrowseTransferTest, ACutDownloadSaysWhatItLeftIncomplete) {
    SetPrefs([](sPreferences& p) {
        p.downloadMode = kExistingAsk;
        p.misc[kMiscKeepTransferSheet] = false;
    });
    MakeHuge(here + "/huge.bin");
    MakeHuge(here + "/cut.bin");
    Open();
    const std::string whole = " of " + std::to_string(off_t(8) << 30) + " bytes";
    auto held = [&](const std::string& name) {
        struct stat st {};
        return ::stat((local + "/" + name).c_str(), &st) == 0 ? std::to_string(st.st_size) : "";
    };

    // Cancelled: what arrived stays under the file's name, and the user is
    // told how much of it there is.
    tested->act = [](TestWindow* w) { w->Cancel(); };
    {
        Responder responder;
        responder.OnAlert();
        Select(window, {"huge.bin"});
        window->DoDownload(local);
        ASSERT_TRUE(WaitIdle(window, 120s));
        ASSERT_EQ(responder.alerts.size(), 1u);
        EXPECT_EQ(responder.alerts[0], "The download was cancelled.");
        EXPECT_NE(responder.explanations[0].find("\"huge.bin\": " + held("huge.bin") + whole),
                  std::string::npos)
            << responder.explanations[0];
        EXPECT_NE(responder.explanations[0].find("Resume"), std::string::npos);
    }

    // Failed: the file shrinks on the server while it is sent; the error
    // names the part left behind.
    if (ServerName() != "vsftpd")
        return; // the sftp tool's handling of a shrinking file is its own
    tested->act = [&](TestWindow*) { ASSERT_EQ(::truncate((here + "/cut.bin").c_str(), 0), 0); };
    Responder responder;
    responder.OnAlert();
    Select(window, {"cut.bin"});
    window->DoDownload(local);
    ASSERT_TRUE(WaitIdle(window, 120s));
    ASSERT_EQ(responder.alerts.size(), 1u);
    EXPECT_NE(responder.explanations[0].find("\"cut.bin\": " + held("cut.bin") + whole),
              std::string::npos)
        << responder.alerts[0] << " / " << responder.explanations[0];
}

TEST_F(BrowseTransferTest, ALinkStandingAtTheNameIsAskedAbout) {
    SetPrefs([](sPreferences& p) {
        p.uploadMode = kExistingAsk;
        p.misc[kMiscKeepTransferSheet] = false;
    });
    MakeFolder(here + "/shared");
    WriteFile(here + "/shared/notes.txt", "shared");
    MakeLink("shared/notes.txt", here + "/notes.txt");
    MakeFolder(here + "/sub");
    MakeLink("../shared/notes.txt", here + "/sub/notes.txt");
    Open();
    WriteFile(local + "/notes.txt", "mine, and longer than the link's own size");
    MakeFolder(local + "/sub");
    WriteFile(local + "/sub/notes.txt", "mine too, and longer than the link's own size");

    std::vector<std::string> asked;
    bool resumeOffered = false;
    Responder responder;
    std::function<void(PPx::Window*)> skip = [&](PPx::Window* sheet) {
        asked.push_back(
            PPx::View::FromWidget(PPx::FindControl(sheet->GetSysWindow(), 'TEXT'))->GetText());
        resumeOffered |=
            PPx::View::FromWidget(PPx::FindControl(sheet->GetSysWindow(), 'RESU'))->IsEnabled();
        Click(sheet, 'SKIP');
    };
    // In the current folder, and in a folder the upload lists first.
    responder.OnSheet("CollisionSheet", skip);
    responder.OnSheet("CollisionSheet", skip);
    window->DoUpload({local + "/notes.txt", local + "/sub"});
    ASSERT_TRUE(WaitIdle(window));
    EXPECT_EQ(asked, (std::vector<std::string>{"notes.txt", "sub/notes.txt"}));
    EXPECT_FALSE(resumeOffered); // a link's size is no part of a file
    EXPECT_EQ(ReadFile(here + "/shared/notes.txt"), "shared");
}

TEST_F(BrowseTransferTest, AFailedFileIsNeverCalledComplete) {
    SetPrefs([](sPreferences& p) {
        p.downloadMode = kExistingReplace;
        p.misc[kMiscKeepTransferSheet] = true;
    });
    WriteFile(here + "/first.txt", "first");
    WriteFile(here + "/second.txt", "second");
    Open();
    ::unlink((here + "/first.txt").c_str()); // gone after the listing
    Responder responder;
    responder.OnAlert("OK"); // go on with the rest
    Select(window, {"first.txt", "second.txt"});
    window->DoDownload(local);
    // Waiting for the user after a batch with a failure would hang here.
    ASSERT_TRUE(WaitIdle(window, 60s));
    EXPECT_EQ(responder.alerts.size(), 1u);
    EXPECT_EQ(window->GetTransferSheet(), nullptr);
    EXPECT_EQ(ReadFile(local + "/second.txt"), "second");
    EXPECT_FALSE(Exists(local + "/first.txt"));
}

TEST_F(BrowseTransferTest, ClosingTheWindowDuringAViewLeavesNothingBehind) {
    MakeHuge(here + "/huge.iso");
    Open();
    Select(window, {"huge.iso"});
    ASSERT_EQ(window->ProcessCommand('mVIW'), PPx::noErr);
    EXPECT_TRUE(window->RequestOutstanding());
    EXPECT_EQ(Entries(runtime).size(), 1u); // the private folder of this view
    ASSERT_TRUE(WaitFor([&] {
        const std::vector<std::string> folders = Entries(runtime);
        return !folders.empty() && !Entries(runtime + "/" + folders.front()).empty();
    }));
    window->Close();
    ASSERT_TRUE(WaitGone(window));
    window = nullptr;
    EXPECT_TRUE(WaitFor([&] { return Entries(runtime).empty(); }, 30s));
}
