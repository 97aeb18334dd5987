// The shell as a Linux desktop user meets it: windows keep their place
// through a restart and open over their owner, the last window closing
// quits, menus sit where Linux users look and open with F10, Return and
// Escape answer every form and alert, a second start never runs as a
// second program, and documents handed over open after the hand-over.
#include "app/BasicApp.h"
#include "app/BookmarkStore.h"
#include "app/BrowserFactory.h"
#include "app/ConnectSheet.h"
#include "app/ConnectWindow.h"
#include "app/ModalSheetAlert.h"
#include "app/PreferencesWindow.h"
#include "app/QuickConnectWindow.h"
#include "app/WindowState.h"
#include "platform/core/EventLoop.h"
#include "platform/core/Folders.h"
#include "platform/core/Preferences.h"
#include "platform/ui/Application.h"
#include "platform/ui/testing/Testing.h"
#include "tests/support/tempdir.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <set>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace PPx;
using testsupport::TempDir;

namespace {

TempDir& ConfigDir() {
    static TempDir dir;
    return dir;
}

template <class T> std::vector<T*> WindowsOf() {
    std::vector<T*> found;
    for (Window* window : Window::AllWindows())
        if (T* typed = dynamic_cast<T*>(window))
            found.push_back(typed);
    return found;
}

// Quit as the menu's Quit reaches the application object, counted.
class CountingApp : public BasicApp {
public:
    void SendQuit() override { ++quits; }
    int quits = 0;
};

class Desktop : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", ConfigDir().path().c_str(), 1);
        UIApplication::EnsureForTests();
        SetBrowserOpener(nullptr);
        ResetBrowserRequests();
        for (const char* key : {"ConnectWindowState", "QuickConnectWindowState"})
            RemoveAppValue(key);
        SynchronizeAppValues();
    }
    void TearDown() override {
        SetLastWindowClosedHandler({});
        app.reset();
        Testing::ProcessEvents();
        SetBrowserOpener(nullptr);
    }
    void Start() {
        app = std::make_unique<CountingApp>();
        Command('CNBK');
        window = app->GetConnectWindow();
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(window->IsVisible());
    }
    void Restart() {
        app.reset();
        Testing::ProcessEvents();
        Start();
    }
    void Command(uint32_t command) {
        PostEvent(ApplicationTarget().Ref(), MakeCommandEvent(command));
        Testing::ProcessEvents();
    }
    static QWidget* Widget(Window* w) { return w->GetSysWindow(); }
    static QPoint Center(Window* w) { return Widget(w)->geometry().center(); }
    // Keys reach shortcuts only in the active window.
    static void Key(Window* w, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* widget = Widget(w);
        widget->activateWindow();
        QApplication::setActiveWindow(widget);
        QTest::keyClick(widget, key, modifiers);
        Testing::ProcessEvents();
    }

    std::unique_ptr<CountingApp> app;
    ConnectWindow* window = nullptr;
};

// Answers every alert that shows with the button TEXT (or Return), until
// the object goes.
class AlertAnswerer {
public:
    explicit AlertAnswerer(std::string text) : mText(std::move(text)) {
        QObject::connect(&mTimer, &QTimer::timeout, [this] {
            Testing::AlertInfo info = Testing::CurrentAlert();
            if (!info.shown)
                return;
            messages.push_back(info.message);
            if (mText.empty())
                QTest::keyClick(QApplication::activeModalWidget()
                                    ? QApplication::activeModalWidget()
                                    : qApp->findChild<QMessageBox*>(),
                                Qt::Key_Return);
            else
                Testing::ClickAlertButton(mText);
        });
        mTimer.start(20);
    }
    std::vector<std::string> messages;

private:
    std::string mText;
    QTimer mTimer;
};

} // namespace

// First in this file: it needs the single-instance lock still free.
TEST(SecondStart, NeverRunsBesideABusyProgram) {
    UIApplication::EnsureForTests();
    TempDir config;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    const std::string lock = PreferencesFolder() + "/.instance-lock";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t holder = ::fork();
    if (holder == 0) {
        // Another program: holds the lock and never answers.
        int fd = ::open(lock.c_str(), O_RDWR | O_CREAT, 0600);
        ::flock(fd, LOCK_EX);
        char byte = 1;
        [[maybe_unused]] ssize_t n = ::write(ready[1], &byte, 1);
        ::pause();
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_EQ(ClaimOrHandOver({"/a.zarvel"}, std::chrono::milliseconds(300)),
              StartClaim::NotAnswering);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    // Once it has gone, this start is the program.
    EXPECT_EQ(ClaimOrHandOver({}, std::chrono::seconds(10)), StartClaim::First);
    ::close(ready[0]);
    ::close(ready[1]);
    ::setenv("XDG_CONFIG_HOME", ConfigDir().path().c_str(), 1);
}

TEST_F(Desktop, BookmarkWindowPlaceRoundTripsThroughRestarts) {
    Start();
    const Rect placed{90, 130, 430, 610};
    window->SetContentBounds(placed);
    Testing::ProcessEvents();
    Rect stored;
    auto value = CopyAppValue("ConnectWindowState");
    ASSERT_TRUE(value && value->AsData());
    ASSERT_TRUE(DecodeWindowState(*value->AsData(), stored));
    EXPECT_EQ(stored, placed);
    for (int start = 0; start < 3; ++start) {
        Restart();
        EXPECT_EQ(window->GetContentBounds(), placed) << "after restart " << start + 1;
    }
}

TEST_F(Desktop, NewWindowsOpenOverTheirOwnerAndStayWhereLeft) {
    Start();
    window->SetContentBounds(Rect{100, 100, 500, 700});
    Testing::ProcessEvents();
    Command('pref');
    auto prefs = WindowsOf<PreferencesWindow>();
    ASSERT_EQ(prefs.size(), 1u);
    ASSERT_TRUE(prefs[0]->IsVisible());
    EXPECT_LE((Center(prefs[0]) - Center(window)).manhattanLength(), 2);
    // Moved by the user, hidden and shown again: where it was left.
    Widget(prefs[0])->move(Widget(prefs[0])->pos() + QPoint(37, 11));
    const QRect moved = Widget(prefs[0])->geometry();
    prefs[0]->Hide();
    Command('pref');
    EXPECT_EQ(Widget(prefs[0])->geometry(), moved);

    Command('new ');
    auto quick = WindowsOf<QuickConnectWindow>();
    ASSERT_EQ(quick.size(), 1u);
    EXPECT_TRUE(quick[0]->IsVisible());
    EXPECT_LE((Center(quick[0]) - Center(prefs[0])).manhattanLength(), 2); // the front one
}

TEST_F(Desktop, ClosingTheLastVisibleWindowQuitsLikeQuit) {
    Start();
    SetLastWindowClosedHandler(
        [] { PostEvent(ApplicationTarget().Ref(), MakeCommandEvent('quit')); });
    Command('pref');
    window->Close();
    Testing::ProcessEvents();
    EXPECT_FALSE(window->IsVisible());
    EXPECT_EQ(app->quits, 0); // the preferences window is still up
    auto prefs = WindowsOf<PreferencesWindow>();
    ASSERT_EQ(prefs.size(), 1u);
    Key(prefs[0], Qt::Key_Escape); // Escape is its Cancel
    EXPECT_FALSE(prefs[0]->IsVisible());
    EXPECT_EQ(app->quits, 1);

    // An alert over a hidden window does not count as a window; the check
    // waits for it to end.
    Command('CNBK');
    EXPECT_EQ(app->quits, 1);
}

TEST_F(Desktop, ClosingTheLastWindowOfAConnectionBringsBackTheBookmarks) {
    Start();
    SetLastWindowClosedHandler([this] { app->LastWindowClosed(); });
    // A stand-in for the browser window the connection opens.
    Window* opened = nullptr;
    SetBrowserOpener([&](const sBookMarkData&, Window*) {
        opened = MakeNibWindow<QuickConnectWindow>(SysNib(), "QuickConnectWindow");
        opened->Show();
        return true;
    });
    sBookMarkData bookmark;
    bookmark.name = "server";
    bookmark.host = "files.example.org";
    bookmark.port = 21;
    window->AddBookmark(bookmark);
    window->GetList()->SetSelection({1});
    window->ProcessCommand('CONN');
    Testing::ProcessEvents();
    ASSERT_NE(opened, nullptr);
    EXPECT_FALSE(window->IsVisible()); // hidden by the connection

    opened->Close();
    Testing::ProcessEvents();
    EXPECT_TRUE(window->IsVisible()); // back, instead of quitting
    EXPECT_EQ(app->quits, 0);

    // Closed by the user it is the last window: the program quits.
    Key(window, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window->IsVisible());
    EXPECT_EQ(app->quits, 1);
    std::filesystem::remove(BookmarkStorePath()); // the next test starts without it
}

TEST_F(Desktop, QuickConnectGoesOnCancelEscapeAndCtrlWAndQuitsOnCtrlQ) {
    Start();
    auto open = [&] {
        Command('new ');
        auto quick = WindowsOf<QuickConnectWindow>();
        return quick.size() == 1 ? quick[0] : nullptr;
    };
    for (const char* way : {"Cancel", "Escape", "Ctrl+W"}) {
        QuickConnectWindow* quick = open();
        ASSERT_NE(quick, nullptr) << way;
        View::FromWidget(FindControl(Widget(quick), 'HOST'))->SetText("typed.example.org");
        if (std::string(way) == "Cancel")
            Testing::ClickControl(Widget(quick), 'cncl');
        else
            Testing::PressKeys(Widget(quick), way);
        Testing::ProcessEvents();
        EXPECT_TRUE(WindowsOf<QuickConnectWindow>().empty()) << way;
    }
    EXPECT_EQ(GetBrowserRequests().count, 0); // nothing was connected
    QuickConnectWindow* quick = open();
    ASSERT_NE(quick, nullptr);
    Testing::PressKeys(Widget(quick), "Ctrl+Q"); // its field has the focus
    EXPECT_EQ(app->quits, 1);
}

TEST_F(Desktop, MenusSitWhereLinuxUsersLookForThem) {
    Start();
    auto* main = qobject_cast<QMainWindow*>(Widget(window));
    ASSERT_NE(main, nullptr);
    QMenuBar* bar = main->menuBar();
    std::vector<std::string> titles;
    auto find = [&](const char* command) -> QAction* {
        for (QAction* action : bar->findChildren<QAction*>())
            if (action->property("command").toString() == command)
                return action;
        return nullptr;
    };
    for (QAction* top : bar->actions()) {
        ASSERT_NE(top->menu(), nullptr);
        titles.push_back(top->text().toStdString());
        std::set<QChar> mnemonics;
        for (QAction* item : top->menu()->actions()) {
            if (item->isSeparator())
                continue;
            int amp = item->text().indexOf('&');
            ASSERT_GE(amp, 0) << item->text().toStdString() << " has no mnemonic";
            EXPECT_TRUE(mnemonics.insert(item->text().at(amp + 1).toLower()).second)
                << item->text().toStdString() << " repeats a mnemonic";
        }
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"&File", "&Edit", "&Remote", "&Window", "&Help"}));
    auto menuOf = [&](const char* command) {
        QAction* action = find(command);
        for (QAction* top : bar->actions())
            if (top->menu()->actions().contains(action))
                return top->menu()->objectName().toStdString();
        return std::string();
    };
    EXPECT_EQ(menuOf("quit"), "menuFile");
    EXPECT_EQ(find("quit")->shortcut(), QKeySequence("Ctrl+Q"));
    EXPECT_EQ(menuOf("pref"), "menuEdit");
    EXPECT_EQ(menuOf("abou"), "menuHelp");

    // F10 opens the first menu.
    Key(window, Qt::Key_F10);
    EXPECT_EQ(bar->activeAction(), bar->actions().front());
    bar->actions().front()->menu()->hide();
    Testing::ProcessEvents();

    // Only the main windows carry it.
    Command('pref');
    Command('abou');
    Command('new ');
    for (Window* w : Window::AllWindows()) {
        if (w != window && w->IsVisible()) {
            EXPECT_EQ(Widget(w)->findChild<QMenuBar*>(), nullptr) << w->ClassName();
        }
    }
}

TEST_F(Desktop, ReturnAndEscapeAnswerFormsAndAlerts) {
    Start();
    // A sheet: Escape cancels, Return presses OK.
    bool ran = false;
    Testing::Later([&] {
        auto sheets = WindowsOf<ConnectSheet>();
        ASSERT_EQ(sheets.size(), 1u);
        Key(sheets[0], Qt::Key_Escape);
        ran = true;
    });
    Testing::ClickControl(Widget(window), 'ADDB');
    Testing::ProcessEvents();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(window->GetBookmarks().empty());
    Testing::Later([&] {
        auto sheets = WindowsOf<ConnectSheet>();
        ASSERT_EQ(sheets.size(), 1u);
        View::FromWidget(FindControl(Widget(sheets[0]), 'NAME'))->SetText("n");
        View::FromWidget(FindControl(Widget(sheets[0]), 'HOST'))->SetText("h");
        View::FromWidget(FindControl(Widget(sheets[0]), 'PORT'))->SetText("21");
        Key(sheets[0], Qt::Key_Return);
    });
    Testing::ClickControl(Widget(window), 'ADDB');
    Testing::ProcessEvents();
    ASSERT_EQ(window->GetBookmarks().size(), 1u);
    EXPECT_EQ(window->GetBookmarks()[0].name, "n");

    // An alert: Return presses its default button, Escape its cancel-like one.
    uint32_t answer = 0;
    {
        AlertAnswerer returnKey("");
        ModalSheetAlert alert;
        alert.DoModal(window, "Remove?", answer, 0x24C0);
        EXPECT_EQ(answer, 'No  ');
    }

    // Quick connect: Return connects.
    Command('new ');
    auto quick = WindowsOf<QuickConnectWindow>();
    ASSERT_EQ(quick.size(), 1u);
    View::FromWidget(FindControl(Widget(quick[0]), 'HOST'))->SetText("files.example.org");
    Key(quick[0], Qt::Key_Return);
    EXPECT_EQ(GetBrowserRequests().count, 1);

    // Preferences: Return is OK.
    Command('pref');
    auto prefs = WindowsOf<PreferencesWindow>();
    ASSERT_EQ(prefs.size(), 1u);
    Key(prefs[0], Qt::Key_Return);
    EXPECT_FALSE(prefs[0]->IsVisible());
}

TEST_F(Desktop, DocumentsHandedOverOpenAfterTheHandOverAndBadOnesAreSurvived) {
    Start();
    ListenForDocuments(
        [](const std::vector<std::string>& paths) { BasicApp::OpenDocuments(paths); });
    TempDir files;
    const std::string empty = files.file("empty.zarvel");
    testsupport::writeFile(empty, "");
    const std::string big = files.file("big.zarvel");
    testsupport::writeFile(big, std::string(2 << 20, 'x'));
    AlertAnswerer answerer("OK");
    for (const std::string& path : {empty, big, empty}) {
        const size_t seen = answerer.messages.size();
        std::atomic<int> answer{-1};
        std::thread second([&] { answer = HandDocumentsToRunningProgram({path}); });
        EXPECT_TRUE(
            RunEventLoopUntil([&] { return answer.load() != -1; }, std::chrono::seconds(30)));
        second.join();
        EXPECT_EQ(answer.load(), 1) << path;
        EXPECT_TRUE(RunEventLoopUntil([&] { return answerer.messages.size() > seen; },
                                      std::chrono::seconds(30)));
    }
    ASSERT_EQ(answerer.messages.size(), 3u);
    EXPECT_EQ(answerer.messages[0], "\"empty.zarvel\" could not be opened as a bookmark.");
    EXPECT_EQ(answerer.messages[1], "\"big.zarvel\" could not be opened as a bookmark.");
    // Still answering.
    std::atomic<int> answer{-1};
    std::thread last([&] { answer = HandDocumentsToRunningProgram({}); });
    EXPECT_TRUE(RunEventLoopUntil([&] { return answer.load() != -1; }, std::chrono::seconds(30)));
    last.join();
    EXPECT_EQ(answer.load(), 1);
}

TEST_F(Desktop, OnlyTheNameColumnShowsASortIndicator) {
    Start();
    QHeaderView* header = Widget(window)->findChild<QTreeView*>("LIST")->header();
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->sortIndicatorSection(), 0);
    for (int column : {1, 2, 3}) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + 5, 5));
        Testing::ProcessEvents();
        EXPECT_EQ(header->sortIndicatorSection(), 0) << "after a click on column " << column;
    }
    const Qt::SortOrder before = header->sortIndicatorOrder();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(0) + 5, 5));
    Testing::ProcessEvents();
    EXPECT_NE(header->sortIndicatorOrder(), before); // Name still sorts
}

TEST_F(Desktop, AlertsAreTitledAfterTheirWindowAndWindowsCarryTheLogo) {
    Start();
    std::string title;
    QString shown;
    Testing::Later([&] {
        for (QWidget* widget : QApplication::allWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                title = box->windowTitle().toStdString();
                shown = box->informativeText();
            }
        Testing::ClickAlertButton("OK");
    });
    uint32_t answer = 0;
    ModalSheetAlert alert;
    alert.DoModal(window, "Note", answer, 0x10, "Kept as \"/home/a/b c\".");
    EXPECT_EQ(title, window->GetTitle());
    // Lines break at the path's blank, never after a "/".
    EXPECT_EQ(shown, QString::fromUtf16(u"Kept as \"/\u2060home/\u2060a/\u2060b c\"."));

    const QIcon icon = QApplication::windowIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_TRUE(icon.availableSizes().contains(QSize(48, 48)));
    EXPECT_TRUE(icon.availableSizes().contains(QSize(256, 256)));
}
