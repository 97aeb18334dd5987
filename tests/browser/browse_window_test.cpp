// The browser window against a real server (ZARVEL_BROWSE_SERVER: pyftpd,
// vsftpd or sshd), driven as the user drives it, offscreen. After every step
// the server's own folder on disk is checked, not only the window.
#include "app/BrowserFactory.h"
#include "browser/sheets/RedialSheet.h"
#include "browser/window/BrowseContent.h"
#include "browser/window/BrowseWindow.h"
#include "engine/EnginePreferences.h"
#include "platform/core/EventLoop.h"
#include "platform/ui/Views.h"
#include "platform/ui/testing/Testing.h"
#include "tests/browser/browse_support.h"
#include "tests/support/servers.h"

#include <QDateTime>
#include <QTimer>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

using namespace browsetest;

namespace {

std::string ServerName() {
    return testsupport::serverFromEnv("ZARVEL_BROWSE_SERVER");
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

long SizeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

std::string TextOf(PPx::Window* window, uint32_t control) {
    return PPx::View::FromWidget(PPx::FindControl(window->GetSysWindow(), control))->GetText();
}

BrowseWindow* OnlyBrowseWindow() {
    BrowseWindow* found = nullptr;
    for (PPx::Window* window : PPx::Window::AllWindows())
        if (auto* browse = dynamic_cast<BrowseWindow*>(window))
            found = browse;
    return found;
}

// Counts the connections its windows make: one per attempt to connect.
int gConnectionsMade = 0;
class CountingWindow : public BrowseWindow {
protected:
    Connection* MakeConnection() override {
        ++gConnectionsMade;
        return BrowseWindow::MakeConnection();
    }
};

class BrowseWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetUpApplication();
        folder = "browse-" + std::to_string(::getpid());
        bookmark = ServerBookmark(ServerName(), folder, root);
        here = root + "/" + folder;
        RemoveTree(here);
        MakeFolder(here);
        MakeFile(here + "/alpha.txt", 100);
        MakeFile(here + "/Beta.txt", 3000);
        MakeFolder(here + "/gamma");
        MakeFile(here + "/gamma/inner.txt", 10);
        MakeLink("gamma", here + "/tolink");
        GiveToServer(root, here);
    }
    void TearDown() override {
        for (PPx::Window* window : PPx::Window::AllWindows())
            if (dynamic_cast<BrowseWindow*>(window))
                delete window;
        PPx::Testing::ProcessEvents();
        RemoveTree(here);
    }
    // Sends COMMAND as the menu bar would and waits for the window to settle.
    void Command(uint32_t command) {
        ASSERT_EQ(window->ProcessCommand(command), PPx::noErr);
        ASSERT_TRUE(WaitIdle(window)) << "command did not finish";
    }

    std::string folder, root, here;
    sBookMarkData bookmark;
    BrowseWindow* window = nullptr;
};

} // namespace

TEST_F(BrowseWindowTest, WorksTheServerFolderAsTheUserWould) {
    // Connect through the seam the bookmark and quick-connect windows use.
    InstallBrowserOpener();
    ASSERT_TRUE(OpenBrowserWindow(bookmark, nullptr));
    SetBrowserOpener(nullptr);
    window = OnlyBrowseWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window)) << "no listing";
    EXPECT_EQ(window->GetTitle(), bookmark.host);
    const std::string start = window->CurrentPath();
    EXPECT_TRUE(EndsWith(start, "/" + folder)) << start;
    EXPECT_EQ(Names(window),
              (std::vector<std::string>{"alpha.txt", "Beta.txt", "gamma", "tolink"}));
    auto* mode = PPx::View::FromWidget(PPx::FindControl(window->GetSysWindow(), 'MODE'));
    EXPECT_EQ(mode->IsVisible(), !bookmark.secure);
    // Link resolution marked the link to a folder as a folder.
    ASSERT_NE(ItemNamed(window, "tolink"), 0u);
    EXPECT_TRUE(window->ItemForID(ItemNamed(window, "tolink"))->isFolder);

    // Open a folder by double click, then up again.
    Select(window, {"gamma"});
    window->ListDoubleClick(ItemNamed(window, "gamma"));
    ASSERT_TRUE(WaitIdle(window));
    EXPECT_EQ(window->CurrentPath(), start + "/gamma");
    EXPECT_EQ(Names(window), std::vector<std::string>{"inner.txt"});
    Command('CDUP');
    EXPECT_EQ(window->CurrentPath(), start);

    // The path pop-up: the deepest level shows; choosing the one above goes there.
    auto* path = static_cast<PPx::PopupButton*>(
        PPx::View::FromWidget(PPx::FindControl(window->GetSysWindow(), 'PATH')));
    ASSERT_GE(path->GetMaxValue(), 2);
    EXPECT_EQ(path->GetValue(), path->GetMaxValue());
    EXPECT_EQ(path->GetItemText(path->GetValue()), folder);
    path->SetValue(path->GetMaxValue() - 1);
    Command('PATH');
    const std::string parent = start.substr(0, start.rfind('/'));
    EXPECT_EQ(window->CurrentPath(), parent.empty() ? "/" : parent);
    EXPECT_NE(ItemNamed(window, folder), 0u);

    // Go to folder, with the absolute path.
    {
        Responder responder;
        responder.OnSheet("ActionSheet",
                          [&](PPx::Window* sheet) { TypeAndClick(sheet, 'edit', start, 'okok'); });
        Command('mGTF');
        EXPECT_EQ(responder.Pending(), 0);
    }
    EXPECT_EQ(window->CurrentPath(), start);

    // A folder that is not there: the server's refusal, without its reply
    // code, and the window goes on where it was.
    {
        Responder responder;
        responder.OnSheet("ActionSheet", [&](PPx::Window* sheet) {
            responder.OnAlert();
            TypeAndClick(sheet, 'edit', start + "/no such folder", 'okok');
        });
        Command('mGTF');
        ASSERT_EQ(responder.alerts.size(), 1u);
        const std::string& shown = responder.alerts[0];
        EXPECT_FALSE(shown.empty());
        EXPECT_FALSE(shown.size() > 3 && isdigit(shown[0]) && isdigit(shown[1]) &&
                     isdigit(shown[2]))
            << shown;
        EXPECT_NE(shown.find("\"" + start + "/no such folder\""), std::string::npos) << shown;
    }
    EXPECT_EQ(window->CurrentPath(), start);
    EXPECT_TRUE(window->GetConnection()->IsConnected());

    // Create a folder: "." is refused with its message, then the real name.
    {
        Responder responder;
        responder.OnSheet("ActionSheet", [&](PPx::Window* sheet) {
            responder.OnAlert("OK", [&] {
                responder.OnSheet("ActionSheet", [](PPx::Window* again) {
                    TypeAndClick(again, 'edit', "new folder", 'okok');
                });
            });
            TypeAndClick(sheet, 'edit', ".", 'okok');
        });
        Command('mCRF');
        EXPECT_EQ(responder.alerts, std::vector<std::string>{"Please specify a valid name."});
    }
    EXPECT_TRUE(Exists(here + "/new folder"));
    EXPECT_NE(ItemNamed(window, "new folder"), 0u);

    // Rename from the menu; the old name is the sheet's text.
    Select(window, {"alpha.txt"});
    {
        Responder responder;
        responder.OnSheet("ActionSheet", [&](PPx::Window* sheet) {
            TypeAndClick(sheet, 'edit', "alpha 2.txt", 'okok');
        });
        Command('mRNM');
    }
    EXPECT_FALSE(Exists(here + "/alpha.txt"));
    EXPECT_TRUE(Exists(here + "/alpha 2.txt"));

    // Rename in place, with the list's checks first: nothing is sent for them.
    BrowseContent* content = static_cast<BrowseContent*>(window->GetList()->GetContent());
    auto renameInPlace = [&](const std::string& from, const std::string& to) {
        PPx::DataBrowser::ItemData data;
        data.SetText(to);
        content->ChangeItemData(ItemNamed(window, from), 'name', data);
    };
    for (const auto& [typed, message] : std::vector<std::pair<std::string, std::string>>{
             {"", "The name cannot be empty."},
             {".", "Please specify a valid name."},
             {"..", "Please specify a valid name."},
             {"two\nlines", "The text cannot contain line breaks or NUL characters."}}) {
        Responder responder;
        responder.OnAlert();
        renameInPlace("Beta.txt", typed);
        EXPECT_EQ(responder.alerts, std::vector<std::string>{message});
        EXPECT_FALSE(window->RequestOutstanding());
    }
    renameInPlace("Beta.txt", "Beta.txt");
    EXPECT_FALSE(window->RequestOutstanding());
    renameInPlace("Beta.txt", "beta renamed.txt");
    ASSERT_TRUE(WaitIdle(window));
    EXPECT_TRUE(Exists(here + "/beta renamed.txt"));
    EXPECT_FALSE(Exists(here + "/Beta.txt"));

    // Permissions on three items: one mode for all, one listing at the end.
    Select(window, {"alpha 2.txt", "beta renamed.txt", "new folder"});
    {
        Responder responder;
        responder.OnSheet("PermissionsSheet", [&](PPx::Window* sheet) {
            const uint32_t boxes[9] = {'owrd', 'owwr', 'owes', 'grrd', 'grwr',
                                       'gres', 'otrd', 'otwr', 'otes'};
            const int want[9] = {1, 1, 1, 1, 0, 1, 0, 0, 0}; // rwxr-x---
            for (int i = 0; i < 9; ++i)
                PPx::View::FromWidget(PPx::FindControl(sheet->GetSysWindow(), boxes[i]))
                    ->SetValue(want[i]);
            Click(sheet, 'okok');
        });
        Command('mPRM');
        EXPECT_EQ(responder.Pending(), 0);
    }
    for (const char* name : {"alpha 2.txt", "beta renamed.txt", "new folder"})
        EXPECT_EQ(ModeOf(here + "/" + name), 0750) << name;
    EXPECT_EQ(window->ItemForID(ItemNamed(window, "alpha 2.txt"))->permissions, "rwxr-x---");

    // Delete a tree of two levels with files and a link: the folder comes
    // first, its contents after it, and the count covers them all.
    MakeFolder(here + "/tree");
    MakeFile(here + "/tree/f1", 5);
    MakeFolder(here + "/tree/sub");
    MakeFile(here + "/tree/sub/f2", 7);
    MakeLink("../f1", here + "/tree/sub/ln");
    GiveToServer(root, here + "/tree");
    Command('mRFS');
    Select(window, {"tree"});
    {
        Responder responder;
        std::string question;
        responder.OnSheet("DeleteConfirmSheet", [&](PPx::Window* sheet) {
            question =
                PPx::View::FromWidget(PPx::FindControl(sheet->GetSysWindow(), 'TEXT'))->GetText();
            Click(sheet, 'okok');
        });
        Command('mDEL');
        EXPECT_EQ(question, "Are you sure you want to delete 5 items?");
    }
    EXPECT_FALSE(Exists(here + "/tree"));
    EXPECT_EQ(ItemNamed(window, "tree"), 0u);

    // A link to a folder goes as one item; what it leads to stays.
    Select(window, {"tolink"});
    {
        Responder responder;
        std::string question;
        responder.OnSheet("DeleteConfirmSheet", [&](PPx::Window* sheet) {
            question =
                PPx::View::FromWidget(PPx::FindControl(sheet->GetSysWindow(), 'TEXT'))->GetText();
            Click(sheet, 'okok');
        });
        Command('mDEL');
        EXPECT_EQ(question, "Are you sure you want to delete 1 item?");
    }
    EXPECT_FALSE(Exists(here + "/tolink"));
    EXPECT_TRUE(Exists(here + "/gamma/inner.txt"));

    // Closing a connected window disconnects first, then the window goes.
    const WindowHandle<> closing(window);
    window->Close();
    EXPECT_TRUE(WaitFor([&] {
        PPx::Window* still = closing.get();
        return !still || TextOf(still, 'STAT') == "Closing Connection...";
    }));
    EXPECT_TRUE(WaitFor([&] { return !closing; }));
}

TEST_F(BrowseWindowTest, ARenameNeverTakesTheNameOfAnotherItem) {
    window = OpenBrowseWindow(bookmark, nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window));
    const std::string taken = "An item named \"Beta.txt\" already exists in this folder.";

    // From the menu: refused with the name, and the sheet comes again.
    Select(window, {"alpha.txt"});
    {
        Responder responder;
        responder.OnSheet("ActionSheet", [&](PPx::Window* sheet) {
            responder.OnAlert("OK", [&] {
                responder.OnSheet("ActionSheet", [](PPx::Window* again) { Click(again, 'cncl'); });
            });
            TypeAndClick(sheet, 'edit', "Beta.txt", 'okok');
        });
        Command('mRNM');
        EXPECT_EQ(responder.Pending(), 0);
        ASSERT_EQ(responder.alerts.size(), 1u);
        EXPECT_EQ(responder.alerts[0].rfind(taken, 0), 0u) << responder.alerts[0];
    }
    // In place, onto a file and onto a link: nothing is sent.
    BrowseContent* content = static_cast<BrowseContent*>(window->GetList()->GetContent());
    for (const std::string onto : {"Beta.txt", "tolink"}) {
        Responder responder;
        responder.OnAlert();
        PPx::DataBrowser::ItemData data;
        data.SetText(onto);
        content->ChangeItemData(ItemNamed(window, "alpha.txt"), 'name', data);
        ASSERT_EQ(responder.alerts.size(), 1u) << onto;
        EXPECT_NE(responder.alerts[0].find("\"" + onto + "\""), std::string::npos);
        EXPECT_FALSE(window->RequestOutstanding());
    }
    EXPECT_EQ(SizeOf(here + "/alpha.txt"), 100);
    EXPECT_EQ(SizeOf(here + "/Beta.txt"), 3000);
    EXPECT_EQ(SizeOf(here + "/tolink"), 5); // still the link to "gamma"

    // Names that came after the listing, a file and a folder, one of them
    // differing from the item's own name only in letter case: the server is
    // asked just before the rename (most FTP servers would rename over them
    // without a word), and the refusal says why.
    MakeFile(here + "/late.txt", 5);
    MakeFolder(here + "/late folder");
    GiveToServer(root, here);
    // Then free names: it still renames, in the folder the window shows.
    const struct {
        const char* from;
        const char* to;
        bool taken;
        const char* late = nullptr; // made just before, after the last listing
    } renames[] = {{"alpha.txt", "late.txt", true},
                   {"alpha.txt", "late folder", true},
                   {"alpha.txt", "omega.txt", false},
                   {"omega.txt", "OMEGA.txt", true, "OMEGA.txt"},
                   {"omega.txt", "Omega.txt", false}};
    for (const auto& rename : renames) {
        const std::string name = rename.to;
        if (rename.late) {
            MakeFile(here + "/" + rename.late, 7);
            GiveToServer(root, here);
        }
        Responder responder;
        responder.OnAlert();
        PPx::DataBrowser::ItemData data;
        data.SetText(name);
        content->ChangeItemData(ItemNamed(window, rename.from), 'name', data);
        ASSERT_TRUE(WaitIdle(window)) << name;
        ASSERT_EQ(responder.alerts.size(), rename.taken ? 1u : 0u) << name;
        for (const std::string& alert : responder.alerts)
            EXPECT_NE(alert.find("\"" + name + "\" already exists"), std::string::npos) << alert;
    }
    EXPECT_EQ(SizeOf(here + "/late.txt"), 5);
    EXPECT_TRUE(Exists(here + "/late folder"));
    EXPECT_EQ(SizeOf(here + "/OMEGA.txt"), 7);
    EXPECT_EQ(SizeOf(here + "/Omega.txt"), 100);
    EXPECT_NE(ItemNamed(window, "Omega.txt"), 0u);
    EXPECT_NE(ItemNamed(window, "late folder"), 0u);
}

TEST_F(BrowseWindowTest, SetPermissionsKeepsEachItemsOwnSpecialBits) {
    if (ServerName() == "vsftpd")
        GTEST_SKIP() << "vsftpd sets the nine permission bits only";
    MakeFile(here + "/a.sh", 10);
    MakeFile(here + "/run-me", 10);
    MakeFolder(here + "/drop");
    GiveToServer(root, here);
    // After the change of owner, which clears them.
    ::chmod((here + "/a.sh").c_str(), 0755);
    ::chmod((here + "/run-me").c_str(), 04755);
    ::chmod((here + "/drop").c_str(), 01777);
    window = OpenBrowseWindow(bookmark, nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window));
    // The sheet shows the first item (no special bit); others lose read.
    Select(window, {"a.sh", "run-me", "drop"});
    Responder responder;
    responder.OnSheet("PermissionsSheet", [&](PPx::Window* sheet) {
        PPx::Testing::ClickControl(sheet->GetSysWindow(), 'otrd');
        Click(sheet, 'okok');
    });
    Command('mPRM');
    EXPECT_EQ(ModeOf(here + "/a.sh"), 0751);
    EXPECT_EQ(ModeOf(here + "/run-me"), 04751);
    EXPECT_EQ(ModeOf(here + "/drop"), 01751);
}

// Connecting fails: a refused login and a changed host key would fail the
// same way again, so the redial sheet says what happened and does not count
// down; a start folder that is not there names the folder.
TEST_F(BrowseWindowTest, FailuresWhileConnectingSayWhatHappened) {
    struct Try {
        std::string what;
        sBookMarkData bookmark;
        std::vector<std::string> says;
        bool countsDown;
    };
    std::vector<Try> tries;
    sBookMarkData wrong = bookmark;
    wrong.password = "not-the-password";
    tries.push_back(
        {"password", wrong, {"refused the login as \"" + bookmark.username + "\""}, false});
    sBookMarkData missing = bookmark;
    missing.dir = folder + "/no-such-start";
    tries.push_back({"folder", missing, {"\"" + missing.dir + "\""}, true});
    const std::string knownHosts = std::string(std::getenv("HOME")) + "/.ssh/known_hosts";
    if (bookmark.secure) {
        // Another key on record for this host and port, on the second line.
        ::mkdir((std::string(std::getenv("HOME")) + "/.ssh").c_str(), 0700);
        tries.push_back({"host key",
                         bookmark,
                         {"host key has changed (" + bookmark.host + ", port " +
                              std::to_string(bookmark.port) + ")",
                          "line 2 of " + knownHosts},
                         false});
    }
    for (const Try& t : tries) {
        std::string kept;
        if (t.what == "host key") {
            std::ifstream in(knownHosts);
            kept.assign(std::istreambuf_iterator<char>(in), {});
            std::ofstream(knownHosts) << "# another host's key first\n"
                                      << "[" << bookmark.host << "]:" << bookmark.port
                                      << " ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIBdbSDuhZjg8nmkQCKnf"
                                         "jM1RqaN4jvmr2SkIkm0dbJ+G\n";
        }
        Responder responder;
        std::string text, status;
        bool countsDown = !t.countsDown;
        responder.OnSheet("RedialSheet", [&](PPx::Window* sheet) {
            text = TextOf(sheet, 'TEXT');
            status = TextOf(sheet, 'STAT');
            countsDown = static_cast<RedialSheet*>(sheet)->CountsDown();
            Click(sheet, 'cncl');
        });
        BrowseWindow* failing = OpenBrowseWindow(t.bookmark, nullptr);
        ASSERT_NE(failing, nullptr);
        EXPECT_TRUE(WaitGone(failing)) << t.what;
        for (const std::string& part : t.says)
            EXPECT_NE(text.find(part), std::string::npos) << t.what << ": " << text;
        EXPECT_EQ(countsDown, t.countsDown) << t.what;
        EXPECT_EQ(status.rfind("Retrying in", 0) == 0, t.countsDown) << t.what << ": " << status;
        if (t.what == "host key")
            std::ofstream(knownHosts) << kept;
    }
}

// A refused login, and Redial pressed as soon as each sheet shows: one
// attempt per press and never a sheet over another, even with keep-alives
// due while the first sheet is up (vsftpd refuses them before a login).
TEST_F(BrowseWindowTest, ARedialAfterARefusedLoginMakesOneAttemptPerPress) {
    SetEnginePreferencesProvider([] {
        EnginePreferences prefs;
        prefs.noopSecs = 1;
        return prefs;
    });
    constexpr int kPresses = 3;
    int shown = 0;
    size_t mostAtOnce = 0;
    auto ms = [] { return QDateTime::currentMSecsSinceEpoch(); };
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        size_t showing = 0;
        for (PPx::Window* sheet : PPx::Window::AllWindows()) {
            if (std::string(sheet->ClassName()) != "RedialSheet" || !sheet->IsVisible())
                continue;
            ++showing;
            // Kept on the sheet itself: a later one may come at its address.
            QWidget* widget = sheet->GetSysWindow();
            if (!widget->property("nth").isValid()) {
                widget->setProperty("nth", ++shown);
                widget->setProperty("due", ms() + (shown == 1 ? 3000 : 0));
            }
            if (widget->property("due").toLongLong() > ms())
                continue;
            widget->setProperty("due", std::numeric_limits<qint64>::max());
            const uint32_t button = widget->property("nth").toInt() <= kPresses ? 'okok' : 'cncl';
            QTimer::singleShot(0, &watch, [held = WindowHandle<>(sheet), button] {
                if (PPx::Window* sheet = held.get(); sheet && sheet->IsVisible())
                    Click(sheet, button);
            });
        }
        mostAtOnce = std::max(mostAtOnce, showing);
    });
    watch.start(20);
    sBookMarkData wrong = bookmark;
    wrong.password = "not-the-password";
    auto* failing = PPx::MakeNibWindow<CountingWindow>(PPx::SysNib(), "BrowseWindow");
    ASSERT_NE(failing, nullptr);
    failing->Show();
    failing->StartSession(wrong);
    EXPECT_TRUE(WaitGone(failing, 120s));
    SetEnginePreferencesProvider(nullptr);
    EXPECT_EQ(mostAtOnce, 1u);
    EXPECT_EQ(shown, kPresses + 1);
    EXPECT_EQ(gConnectionsMade, kPresses + 1);
}
