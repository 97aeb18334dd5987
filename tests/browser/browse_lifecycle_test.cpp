// The browser window's life against pyftpdlib: a refused connection and its
// redial sheet, a server that goes away, closing while a request runs, the
// list's order and contextual menu, and names a server must not smuggle into
// a command. The window's connections are watched: none may be deleted while
// one of its own callbacks runs, and no callback of a connection the window
// has let go may reach it.
#include "app/BasicApp.h"
#include "app/ConnectSheet.h"
#include "browser/window/BrowseContent.h"
#include "browser/window/BrowseWindow.h"
#include "engine/FTPThread.h"
#include "engine/SFTPThread.h"
#include "platform/core/EventLoop.h"
#include "platform/core/Preferences.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Views.h"
#include "platform/ui/testing/Testing.h"
#include "sync/bookmarks/SyncWindow.h"
#include "tests/browser/browse_support.h"
#include "tests/support/tempdir.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QIcon>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

using namespace browsetest;

namespace {

struct Watch {
    int made = 0;
    int deleted = 0;
    int inCallback = 0;
    int disconnects = 0;
    bool failDisconnect = false; // the server goes as the window closes
    std::string statusAtDisconnect;
    std::vector<std::string> faults;
};
Watch gWatch;

class WatchedConnection : public Connection {
public:
    WatchedConnection(BrowseWindow* window) : Connection(window), mWindow(window) { ++gWatch.made; }
    ~WatchedConnection() override {
        ++gWatch.deleted;
        if (gWatch.inCallback)
            gWatch.faults.push_back("connection deleted inside its own callback");
    }
    void SetError(const std::string& text) override {
        Around("SetError", [&] { Connection::SetError(text); });
    }
    void ConnectComplete() override {
        Around("ConnectComplete", [&] { Connection::ConnectComplete(); });
    }
    void DisconnectComplete() override {
        ++gWatch.disconnects;
        gWatch.statusAtDisconnect =
            PPx::View::FromWidget(PPx::FindControl(mWindow->GetSysWindow(), 'STAT'))->GetText();
        Around("DisconnectComplete", [&] { Connection::DisconnectComplete(); });
    }
    void GetDirListComplete(const std::string& path, const std::string& listing) override {
        Around("GetDirListComplete", [&] { Connection::GetDirListComplete(path, listing); });
    }
    void Disconnect() override {
        if (!gWatch.failDisconnect)
            return Connection::Disconnect();
        mGone = true;
        PPx::PostToMainThread(
            [this] { SetError("421 Service not available, closing control connection."); });
    }
    bool IsConnected() override { return !mGone && Connection::IsConnected(); }

private:
    template <class F> void Around(const char* what, F call) {
        // Checked before the call: the window lets go of a connection only
        // once its callback has returned.
        if (mWindow->GetConnection() != this)
            gWatch.faults.push_back(std::string("stale callback ") + what);
        ++gWatch.inCallback;
        call();
        --gWatch.inCallback;
    }
    BrowseWindow* mWindow;
    bool mGone = false;
};

class WatchedWindow : public BrowseWindow {
protected:
    Connection* MakeConnection() override { return new WatchedConnection(this); }
};

WatchedWindow* Open(const sBookMarkData& bookmark) {
    auto* window = PPx::MakeNibWindow<WatchedWindow>(PPx::SysNib(), "BrowseWindow");
    if (window) {
        window->Show();
        window->StartSession(bookmark);
    }
    return window;
}

// A port on which nothing listens.
int ClosedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

class BrowseLifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        SetUpApplication();
        SetSyncBookmarkCreator(CreateSyncBookmark);
        gWatch = Watch();
        folder = "life-" + std::to_string(::getpid());
        bookmark = ServerBookmark("pyftpd", folder, root);
        here = root + "/" + folder;
        RemoveTree(here);
        MakeFolder(here);
    }
    void TearDown() override {
        for (PPx::Window* window : PPx::Window::AllWindows())
            if (dynamic_cast<BrowseWindow*>(window))
                delete window;
        PPx::Testing::ProcessEvents();
        EXPECT_TRUE(FTPThread::WaitForWorkers(30s));
        EXPECT_TRUE(SFTPThread::WaitForWorkers(30s));
        EXPECT_EQ(gWatch.made, gWatch.deleted);
        EXPECT_TRUE(gWatch.faults.empty()) << gWatch.faults.front();
        RemoveTree(here);
    }
    std::string folder, root, here;
    sBookMarkData bookmark;
};

} // namespace

TEST_F(BrowseLifecycle, RefusedConnectionAsksToRedialWithANewConnection) {
    bookmark.port = ClosedPort();
    Responder responder;
    std::string message;
    responder.OnSheet("RedialSheet", [&](PPx::Window* sheet) {
        message = PPx::View::FromWidget(PPx::FindControl(sheet->GetSysWindow(), 'TEXT'))->GetText();
        Click(sheet, 'okok'); // redial now
        responder.OnSheet("RedialSheet", [](PPx::Window* again) { Click(again, 'cncl'); });
    });
    WatchedWindow* window = Open(bookmark);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WaitGone(window));
    EXPECT_EQ(responder.Pending(), 0);
    EXPECT_EQ(message, "Make sure you typed the address and port of the remote server "
                       "correctly.\nIf you continue to have problems connecting, please contact "
                       "the server administrator.\n");
    EXPECT_EQ(gWatch.made, 2); // the redial made a connection of its own
}

TEST_F(BrowseLifecycle, RefusedSftpConnectionAsksToRedialToo) {
    testsupport::TempDir home;
    ::setenv("HOME", home.path().c_str(), 1);
    bookmark.port = ClosedPort();
    bookmark.secure = true;
    Responder responder;
    responder.OnSheet("RedialSheet", [&](PPx::Window* sheet) {
        Click(sheet, 'okok');
        responder.OnSheet("RedialSheet", [](PPx::Window* again) { Click(again, 'cncl'); });
    });
    WatchedWindow* window = Open(bookmark);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(WaitGone(window));
    EXPECT_EQ(responder.Pending(), 0);
    EXPECT_EQ(gWatch.made, 2);
}

TEST_F(BrowseLifecycle, ServerGoneGivesConnectionLostAndCloses) {
    testsupport::TempDir serverRoot;
    const std::string script =
        std::string(std::getenv("ZARVEL_SOURCE_DIR")) + "/tests/servers/pyftpd.py";
    const std::string portFile = serverRoot.file("port");
    const pid_t server = ::fork();
    ASSERT_GE(server, 0);
    if (server == 0) {
        ::execl("/usr/bin/python3", "python3", script.c_str(), "--root", serverRoot.path().c_str(),
                "--portfile", portFile.c_str(), nullptr);
        ::_exit(127);
    }
    int port = 0;
    WaitFor(
        [&] {
            std::ifstream in(portFile);
            return static_cast<bool>(in >> port);
        },
        30s);
    ASSERT_GT(port, 0);
    bookmark.port = port;
    bookmark.dir.clear();
    bookmark.username = "zarvel";
    bookmark.password = "zarvel-secret";
    WatchedWindow* window = Open(bookmark);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window));

    ::kill(server, SIGKILL);
    ::waitpid(server, nullptr, 0);
    Responder responder;
    responder.OnAlert();
    const WindowHandle<> open(window);
    window->ProcessCommand('mRFS');
    EXPECT_TRUE(WaitFor([&] { return !open; }));
    // One alert for the one lost connection.
    ASSERT_EQ(responder.alerts.size(), 1u);
    EXPECT_EQ(responder.alerts[0], "Connection Lost");
}

TEST_F(BrowseLifecycle, ClosingWhileAListingRunsStopsTheWorker) {
    for (int i = 0; i < 3000; ++i)
        MakeFile(here + "/file-" + std::to_string(i), 1);
    GiveToServer(root, here);
    WatchedWindow* window = Open(bookmark);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window));
    window->ProcessCommand('mRFS');
    ASSERT_TRUE(window->RequestOutstanding());
    window->Close();
    EXPECT_TRUE(WaitGone(window, 10s));
    EXPECT_EQ(gWatch.deleted, 1);
    // Whatever the worker still had to say goes nowhere.
    PPx::RunEventLoopUntil([] { return false; }, 500ms);
}

TEST_F(BrowseLifecycle, ClosingAConnectedWindowDisconnectsFirst) {
    WatchedWindow* window = Open(bookmark);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window));
    window->Close();
    EXPECT_TRUE(WaitGone(window));
    EXPECT_EQ(gWatch.statusAtDisconnect, "Closing Connection...");
    EXPECT_EQ(gWatch.disconnects, 1);
}

TEST_F(BrowseLifecycle, AFailureWhileClosingIsShownThenConnectionLost) {
    gWatch.failDisconnect = true;
    WatchedWindow* window = Open(bookmark);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window));
    Responder responder;
    responder.OnAlert();
    window->Close();
    EXPECT_TRUE(WaitGone(window));
    // One alert: the connection is gone, with what the server said.
    EXPECT_EQ(responder.alerts, std::vector<std::string>{"Connection Lost"});
    ASSERT_EQ(responder.explanations.size(), 1u);
    EXPECT_NE(responder.explanations[0].find("Service not available"), std::string::npos);
}

TEST_F(BrowseLifecycle, ClosingAgainDoesNotWaitForTheDisconnect) {
    WatchedWindow* window = Open(bookmark);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window));
    const WindowHandle<> open(window);
    window->DoWindowClose(); // "Closing Connection...", the disconnect goes out
    ASSERT_TRUE(window->RequestOutstanding());
    window->Close();
    PPx::Testing::ProcessEvents();
    EXPECT_FALSE(open);
}

TEST_F(BrowseLifecycle, ListOrderAndContextualMenu) {
    MakeFile(here + "/a.txt", 2000);
    MakeFile(here + "/B.txt", 10);
    MakeFile(here + "/c.txt", 500);
    MakeFolder(here + "/dir");
    const std::pair<const char*, time_t> dates[] = {
        {"a.txt", 978350400}, {"B.txt", 1104580800}, {"c.txt", 1262347200}};
    for (const auto& [name, when] : dates) {
        utimbuf times{when, when};
        ::utime((here + "/" + name).c_str(), &times);
    }
    GiveToServer(root, here);
    WatchedWindow* window = Open(bookmark);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window));
    auto* list = window->GetList();

    EXPECT_EQ(Names(window), (std::vector<std::string>{"a.txt", "B.txt", "c.txt", "dir"}));
    list->SetSortProperty('size');
    list->Sort();
    EXPECT_EQ(Names(window), (std::vector<std::string>{"dir", "B.txt", "c.txt", "a.txt"}));
    list->SetSortProperty('date');
    list->Sort();
    EXPECT_EQ(Names(window), (std::vector<std::string>{"a.txt", "B.txt", "c.txt", "dir"}));
    for (uint32_t column : {'perm', 'ownr', 'grup'}) {
        list->SetSortProperty('size');
        list->Sort();
        list->SetSortProperty(column);
        list->Sort();
        EXPECT_EQ(Names(window), (std::vector<std::string>{"dir", "B.txt", "c.txt", "a.txt"}));
    }
    // A click on a column that does not order the list leaves order and
    // indicator where they were; one that orders takes both.
    QHeaderView* header =
        qobject_cast<QTreeView*>(PPx::FindControl(window->GetSysWindow(), 'LIST'))->header();
    list->SetSortProperty('name');
    list->Sort();
    for (int column : {3, 4, 5}) {
        emit header->sectionClicked(column);
        EXPECT_EQ(header->sortIndicatorSection(), 0) << column;
        EXPECT_EQ(Names(window), (std::vector<std::string>{"a.txt", "B.txt", "c.txt", "dir"}));
    }
    emit header->sectionClicked(1);
    EXPECT_EQ(header->sortIndicatorSection(), 1);
    EXPECT_EQ(Names(window), (std::vector<std::string>{"dir", "B.txt", "c.txt", "a.txt"}));

    PPx::DataBrowser::ItemData size;
    list->GetContent()->SupplyItemData(ItemNamed(window, "a.txt"), 'size', size);
    EXPECT_EQ(size.GetText(), "1.95 KB");
    PPx::DataBrowser::ItemData name;
    list->GetContent()->SupplyItemData(ItemNamed(window, "dir"), 'name', name);
    EXPECT_EQ(name.GetIcon().GetKind(), PPx::Icon::Folder);
    auto* content = static_cast<BrowseContent*>(list->GetContent());
    EXPECT_EQ(content->GetIconForFile(".profile", false, false).GetKind(), PPx::Icon::Document);
    EXPECT_EQ(content->GetIconForFile("README", false, false).GetKind(), PPx::Icon::Document);
    EXPECT_EQ(content->GetIconForFile("photo.jpg", false, false).GetPath(), "jpg");
    const PPx::Icon link = content->GetIconForFile("to-folder", true, true);
    EXPECT_EQ(link.GetKind(), PPx::Icon::Folder);
    EXPECT_TRUE(link.HasLinkBadge());

    auto menu = [&] {
        std::vector<PPx::MenuEntry> entries;
        list->GetContent()->SupplyContextualMenu(entries);
        return entries;
    };
    auto enabled = [&](const std::vector<PPx::MenuEntry>& entries, const std::string& text) {
        for (const auto& entry : entries)
            if (entry.text == text)
                return entry.enabled;
        ADD_FAILURE() << "no entry " << text;
        return false;
    };
    Select(window, {});
    auto none = menu();
    ASSERT_EQ(none.size(), 12u);
    EXPECT_EQ(none.front().text, "View");
    for (const char* text : {"View", "Download...", "Rename...", "Delete...", "Set Permissions..."})
        EXPECT_FALSE(enabled(none, text)) << text;
    EXPECT_TRUE(none[5].separator);
    for (const char* text :
         {"Create Folder...", "Go To Folder...", "Create Synchronize Bookmark...",
          "Create Connection Bookmark...", "Refresh"})
        EXPECT_TRUE(enabled(none, text)) << text;

    Select(window, {"dir"});
    auto folderMenu = menu();
    ASSERT_EQ(folderMenu.size(), 13u);
    EXPECT_EQ(folderMenu.front().text, "Open Folder");
    EXPECT_EQ(folderMenu.front().command, static_cast<uint32_t>('mOPF'));
    EXPECT_TRUE(enabled(folderMenu, "Rename..."));

    Select(window, {"a.txt", "B.txt"});
    auto two = menu();
    EXPECT_FALSE(enabled(two, "Rename..."));
    EXPECT_TRUE(enabled(two, "Delete..."));
    EXPECT_TRUE(enabled(two, "Set Permissions..."));
    // Double-clicking with two selected does nothing.
    window->ListDoubleClick(ItemNamed(window, "a.txt"));
    EXPECT_FALSE(window->RequestOutstanding());

    // The toolbar and the menu bar follow the same rules; while a request
    // runs nothing else can be started.
    BrowseToolBar& bar = window->GetToolBar();
    PPx::CommandStatus status;
    Select(window, {});
    EXPECT_FALSE(bar.IsItemEnabled(kDeleteItemID));
    EXPECT_TRUE(bar.IsItemEnabled(kRefreshItemID));
    EXPECT_FALSE(bar.IsItemEnabled(kDownloadItemID)); // nothing selected to fetch
    window->UpdateStatus('mDEL', status);
    EXPECT_FALSE(status.enabled);
    Select(window, {"a.txt"});
    EXPECT_TRUE(bar.IsItemEnabled(kDeleteItemID));
    EXPECT_TRUE(bar.IsItemEnabled(kPermsItemID));
    window->UpdateStatus('mRNM', status);
    EXPECT_TRUE(status.enabled);
    bar.ClickItem(kRefreshItemID);
    EXPECT_TRUE(window->RequestOutstanding());
    EXPECT_FALSE(bar.IsItemEnabled(kRefreshItemID));
    window->UpdateStatus('mCRF', status);
    EXPECT_FALSE(status.enabled);
    ASSERT_TRUE(WaitIdle(window));

    // A connection bookmark of the place browsed starts there.
    {
        Responder responder;
        sBookMarkData proposed;
        responder.OnSheet("ConnectSheet", [&](PPx::Window* sheet) {
            static_cast<ConnectSheet*>(sheet)->GetData(proposed);
            Click(sheet, 'cncl');
        });
        window->ProcessCommand('mCCB');
        EXPECT_EQ(proposed.dir, window->CurrentPath());
        EXPECT_EQ(proposed.host, bookmark.host);
        EXPECT_TRUE(window->mCanRefresh);
    }

    // A chosen entry acts as the menu bar's command.
    {
        Responder responder;
        bool asked = false;
        responder.OnSheet("SyncSheet", [&](PPx::Window* sheet) {
            asked = true;
            Click(sheet, 'cncl');
        });
        list->GetContent()->ProcessContextualMenuSelection('mCSB');
        EXPECT_TRUE(WaitFor([&] { return asked; }, 10s));
    }
    list->GetContent()->ProcessContextualMenuSelection('mRFS');
    EXPECT_TRUE(window->RequestOutstanding());
    EXPECT_TRUE(WaitIdle(window));
}

// A wide window shows long names whole: the columns take their content's width.
TEST_F(BrowseLifecycle, ColumnsFitTheirContent) {
    const std::string name = "big-50MB-archive-of-the-quarterly-reports-2024.tar.gz";
    MakeFile(here + "/" + name, 10);
    GiveToServer(root, here);
    WatchedWindow* window = Open(bookmark);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window));
    PPx::Rect bounds = window->GetContentBounds();
    bounds.right = bounds.left + 1100;
    window->SetContentBounds(bounds);
    window->ProcessCommand('mRFS');
    ASSERT_TRUE(WaitIdle(window));
    auto* tree = qobject_cast<QTreeView*>(PPx::FindControl(window->GetSysWindow(), 'LIST'));
    EXPECT_GT(tree->header()->sectionSize(0),
              tree->fontMetrics().horizontalAdvance(QString::fromStdString(name)));
    EXPECT_GE(tree->header()->sectionSize(3), tree->fontMetrics().horizontalAdvance("rw-r--r--"));
}

// The keys a Linux desktop user tries in the list, and what the sheets say.
TEST_F(BrowseLifecycle, KeysInTheListAndTheEditMenu) {
    MakeFolder(here + "/dir");
    MakeFile(here + "/dir/inner.txt", 1);
    MakeFile(here + "/a.txt", 10);
    MakeFile(here + "/b.txt", 20);
    GiveToServer(root, here);
    WatchedWindow* window = Open(bookmark);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window));
    const std::string start = window->CurrentPath();
    QWidget* keys = window->GetSysWindow();
    auto press = [&](const char* key) {
        PPx::Testing::PressKeys(keys, key);
        return WaitIdle(window);
    };

    // Every date in the list has its time.
    PPx::DataBrowser::ItemData date;
    window->GetList()->GetContent()->SupplyItemData(ItemNamed(window, "a.txt"), 'date', date);
    EXPECT_NE(date.GetText().find(':'), std::string::npos) << date.GetText();

    // Return opens a folder; BackSpace and Alt+Up go up again.
    for (const char* up : {"Backspace", "Alt+Up"}) {
        Select(window, {"dir"});
        ASSERT_TRUE(press("Return"));
        EXPECT_EQ(Names(window), std::vector<std::string>{"inner.txt"}) << up;
        ASSERT_TRUE(press(up));
        EXPECT_EQ(window->CurrentPath(), start) << up;
    }
    // Ctrl+A selects everything.
    Select(window, {"a.txt"});
    PPx::Testing::PressKeys(keys, "Ctrl+A");
    EXPECT_EQ(window->GetList()->GetSelectedItems().size(), 3u);

    // Delete (and the older Ctrl+Backspace) ask first; F2 renames; the
    // permissions sheet names its item. All cancelled here.
    Select(window, {"a.txt"});
    const std::vector<std::pair<const char*, const char*>> asks = {
        {"Del", "DeleteConfirmSheet"},
        {"Ctrl+Backspace", "DeleteConfirmSheet"},
        {"F2", "ActionSheet"},
        {"Ctrl+I", "PermissionsSheet"}};
    for (const auto& [key, sheetClass] : asks) {
        Responder responder;
        std::string text;
        responder.OnSheet(sheetClass, [&](PPx::Window* sheet) {
            for (uint32_t label : {'TEXT', 'expl', 'NAME'})
                if (QWidget* found = PPx::FindControl(sheet->GetSysWindow(), label))
                    text = PPx::View::FromWidget(found)->GetText();
            Click(sheet, 'cncl');
        });
        PPx::Testing::PressKeys(keys, key);
        EXPECT_EQ(responder.Pending(), 0) << key;
        EXPECT_FALSE(text.empty()) << key;
        if (std::string(sheetClass) == "PermissionsSheet") {
            EXPECT_EQ(text, "Permissions of \"a.txt\":");
        } else if (std::string(sheetClass) == "DeleteConfirmSheet") {
            EXPECT_EQ(text, "Are you sure you want to delete 1 item?");
        }
    }
    EXPECT_TRUE(Exists(here + "/a.txt"));

    // Return on a file downloads it, as a double-click does: it asks where.
    bool asked = false;
    PPx::Testing::Later([&] {
        asked = WaitFor([] { return PPx::Testing::ChooserShown(); }, 10s);
        PPx::Testing::CancelChooser();
    });
    PPx::Testing::PressKeys(keys, "Return");
    EXPECT_TRUE(WaitFor([&] { return asked; }, 15s));
    EXPECT_TRUE(WaitIdle(window));
}

// File icons come from the desktop theme; looking them up leaves the
// program's theme alone, so a later window's toolbar has our own pictures.
TEST_F(BrowseLifecycle, FileIconsDoNotChangeTheToolbarsOfLaterWindows) {
    MakeFile(here + "/photo.jpg", 10);
    MakeFile(here + "/notes.pdf", 10);
    GiveToServer(root, here);
    const QString theme = QIcon::themeName();
    WatchedWindow* first = Open(bookmark);
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(WaitIdle(first));
    auto* view = qobject_cast<QTreeView*>(PPx::FindControl(first->GetSysWindow(), 'LIST'));
    ASSERT_NE(view, nullptr);
    for (int row = 0; row < view->model()->rowCount(); ++row)
        EXPECT_FALSE(view->model()
                         ->data(view->model()->index(row, 0), Qt::DecorationRole)
                         .value<QIcon>()
                         .isNull());
    EXPECT_EQ(QIcon::themeName(), theme);

    WatchedWindow* second = Open(bookmark);
    ASSERT_NE(second, nullptr);
    QIcon own;
    own.addPixmap(QPixmap(QString::fromStdString(PPx::SysNib::ResourcesFolder() + "/delete.png")));
    for (QAction* action : second->GetSysWindow()->findChild<QToolBar*>()->actions())
        if (action->text() == "Delete") {
            EXPECT_EQ(action->icon().pixmap(24, 24).toImage(), own.pixmap(24, 24).toImage());
        }
    EXPECT_TRUE(WaitIdle(second));
}

// Real servers cannot list such names (the file system or the line breaks
// stop them), so the listing the window gets is written here; the connection
// is real and would carry any command the window sent.
TEST_F(BrowseLifecycle, ListedNamesThatAreNoSingleItemAreRefused) {
    MakeFile(here + "/good", 3);
    GiveToServer(root, here);
    WatchedWindow* window = Open(bookmark);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window));
    const std::string path = window->CurrentPath();
    window->GetDirListComplete(path, "-rw-r--r--   1 zarvel zarvel   3 Jan 01  2020 ../good\r\n"
                                     "drwxr-xr-x   2 zarvel zarvel   0 Jan 01  2020 sub/dir\r\n"
                                     "-rw-r--r--   1 zarvel zarvel   3 Jan 01  2020 good\r\n");
    ASSERT_TRUE(WaitIdle(window));
    ASSERT_NE(ItemNamed(window, "../good"), 0u) << ::testing::PrintToString(Names(window));
    ASSERT_NE(ItemNamed(window, "sub/dir"), 0u);
    const std::vector<std::pair<uint32_t, std::vector<std::string>>> tries = {
        {'mDEL', {"../good", "good"}},
        {'mRNM', {"../good"}},
        {'mPRM', {"good", "../good"}},
        {'mOPF', {"sub/dir"}}};
    for (const auto& [command, names] : tries) {
        Select(window, names);
        Responder responder;
        responder.OnAlert();
        window->ProcessCommand(command);
        ASSERT_EQ(responder.alerts.size(), 1u) << command;
        EXPECT_NE(responder.alerts[0].find("cannot be used"), std::string::npos);
        EXPECT_FALSE(window->RequestOutstanding());
    }
    EXPECT_TRUE(Exists(here + "/good"));
}

// Listings are parsed and ordered away from the window: of two that arrive
// back to back only the later one shows, in the order the list is sorted by
// (here by size, largest first; equal sizes keep the listing's order).
TEST_F(BrowseLifecycle, OfTwoListingsInFlightTheLaterShowsInTheListsOrder) {
    WatchedWindow* window = Open(bookmark);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window));
    auto* list = window->GetList();
    list->SetSortProperty('size');
    list->SetSortOrderAscending(false);
    list->Sort();
    const std::string path = window->CurrentPath();
    window->GetDirListComplete(path, "-rw-r--r--   1 zarvel zarvel   9 Jan 01  2020 old\r\n");
    window->GetDirListComplete(path, "-rw-r--r--   1 zarvel zarvel   5 Jan 01  2020 b\r\n"
                                     "-rw-r--r--   1 zarvel zarvel 700 Jan 01  2020 a\r\n"
                                     "-rw-r--r--   1 zarvel zarvel   5 Jan 01  2020 c\r\n"
                                     "-rw-r--r--   1 zarvel zarvel  20 Jan 01  2020 d\r\n");
    ASSERT_TRUE(WaitIdle(window));
    EXPECT_EQ(Names(window), (std::vector<std::string>{"a", "d", "b", "c"}));
    EXPECT_EQ(window->Items().size(), 4u);
}

TEST_F(BrowseLifecycle, TypedNamesWithLineBreaksAreRefusedBeforeSending) {
    WatchedWindow* window = Open(bookmark);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window));
    Responder responder;
    responder.OnSheet("ActionSheet", [&](PPx::Window* sheet) {
        responder.OnAlert("OK", [&] {
            responder.OnSheet("ActionSheet", [](PPx::Window* again) { Click(again, 'cncl'); });
        });
        TypeAndClick(sheet, 'edit', "evil\r\nDELE x", 'okok');
    });
    window->ProcessCommand('mCRF');
    EXPECT_EQ(responder.Pending(), 0);
    EXPECT_EQ(responder.alerts.size(), 1u);
    EXPECT_FALSE(window->RequestOutstanding());
    EXPECT_FALSE(Exists(here + "/evil"));
}

// A server's reply is shown as it is: no markup, no longer than 255
// characters, control characters visible, its reply code gone.
TEST_F(BrowseLifecycle, ServerTextsAreShownPlain) {
    WatchedWindow* window = Open(bookmark);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window));
    std::string shown;
    bool plain = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        // Alerts join path pieces with invisible word joiners; compare without them.
        shown = box->text().remove(QChar(0x2060)).toStdString();
        plain = box->textFormat() == Qt::PlainText;
        PPx::Testing::ClickAlertButton("OK");
    });
    poll.start();
    window->SetError("550 <b>no</b> <a href='x'>link</a>\x1b[31m " + std::string(400, 'y'));
    poll.stop();
    EXPECT_TRUE(plain);
    EXPECT_EQ(shown.rfind("<b>no</b> <a href='x'>link</a>\xE2\x90\x9B[31m yyy", 0), 0u) << shown;
    EXPECT_EQ(QString::fromStdString(shown).size(), 255);
    EXPECT_TRUE(window->mCanRefresh); // still connected, controls back
}

// The size of a browser window is kept only while the preference asks for
// it; a new window takes the kept size.
TEST_F(BrowseLifecycle, WindowSizeIsRememberedOnlyWhenAsked) {
    auto app = std::make_unique<BasicApp>();
    sPreferences prefs;
    app->GetPreferences(prefs);
    prefs.misc[kMiscRememberBrowseWindow] = false;
    app->GetPreferencesMaster()->SetPreferences(prefs);
    PPx::RemoveAppValue("BrowseWindowState");

    WatchedWindow* window = Open(bookmark);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window));
    PPx::Rect bounds = window->GetContentBounds();
    bounds.right += 60;
    bounds.bottom += 40;
    window->SetContentBounds(bounds);
    PPx::Testing::ProcessEvents();
    EXPECT_FALSE(PPx::CopyAppValue("BrowseWindowState"));

    prefs.misc[kMiscRememberBrowseWindow] = true;
    app->GetPreferencesMaster()->SetPreferences(prefs);
    bounds.right += 30;
    window->SetContentBounds(bounds);
    PPx::Testing::ProcessEvents();
    EXPECT_TRUE(PPx::CopyAppValue("BrowseWindowState"));
    const PPx::Rect kept = window->GetContentBounds();

    WatchedWindow* second = Open(bookmark);
    ASSERT_NE(second, nullptr);
    const PPx::Rect made = second->GetContentBounds();
    EXPECT_EQ(made.right - made.left, kept.right - kept.left);
    EXPECT_EQ(made.bottom - made.top, kept.bottom - kept.top);
    ASSERT_TRUE(WaitIdle(second));
    delete second;
    delete window;
    PPx::Testing::ProcessEvents();
}
