// The program's windows under a real window manager (openbox on a virtual X
// server): where browser windows, a synchronisation run, its alert and the
// sheets open against their parents and the screen, with pictures of each;
// and the road of a sheet answered with Return again and again while other
// windows run sheets of their own, driven with real key presses.
#include "app/BasicApp.h"
#include "app/ConnectWindow.h"
#include "app/Preferences.h"
#include "app/QuickConnectWindow.h"
#include "browser/sheets/OperationSheets.h"
#include "browser/window/BrowseWindow.h"
#include "platform/ui/Views.h"
#include "platform/ui/Window.h"
#include "platform/ui/testing/Testing.h"
#include "sync/bookmarks/SyncRunFactory.h"
#include "sync/bookmarks/SyncWindow.h"
#include "sync/window/SyncStatusWindow.h"
#include "tests/browser/browse_support.h"
#include "tests/support/tempdir.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

using namespace browsetest;

namespace {

QRect Frame(PPx::Window* window) {
    return window->GetSysWindow()->frameGeometry();
}

QRect Screen() {
    return QGuiApplication::primaryScreen()->availableGeometry();
}

// The window manager frames a window a moment after it is shown.
void Settle(PPx::Window* window) {
    QWidget* widget = window->GetSysWindow();
    WaitFor([widget] { return widget->frameGeometry() != widget->geometry(); }, 3s);
    WaitFor([] { return false; }, 300ms);
}

// A picture of the screen, or of one window (even where others cover it).
bool Shot(const std::string& name, const QPixmap& picture = QPixmap()) {
    const char* folder = std::getenv("ZARVEL_SCREENSHOTS");
    if (!folder)
        return true;
    std::filesystem::create_directories(folder);
    const QString path = QString::fromStdString(std::string(folder) + "/" + name);
    const bool saved =
        (picture.isNull() ? QGuiApplication::primaryScreen()->grabWindow(0) : picture).save(path);
    EXPECT_TRUE(saved) << path.toStdString();
    return saved;
}

// CHILD's centre over PARENT's, and all of CHILD on the screen.
::testing::AssertionResult CentredOver(PPx::Window* child, const QRect& parent) {
    const QRect frame = Frame(child);
    if (!Screen().contains(frame))
        return ::testing::AssertionFailure()
               << child->ClassName() << " leaves the screen: " << frame.x() << "," << frame.y()
               << " " << frame.width() << "x" << frame.height();
    const QPoint off = child->GetSysWindow()->geometry().center() - parent.center();
    if (off.manhattanLength() > 4)
        return ::testing::AssertionFailure()
               << child->ClassName() << " is off its parent's centre by " << off.x() << ","
               << off.y();
    return ::testing::AssertionSuccess();
}

QWidget* ShownAlert() {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible() && top->objectName() == "ppxAlert")
            return top;
    return nullptr;
}

template <class T> T* Front() {
    for (PPx::Window* window : PPx::Window::AllWindows())
        if (auto* typed = dynamic_cast<T*>(window); typed && typed->IsVisible())
            return typed;
    return nullptr;
}

// Fails the run instead of hanging when the main thread stops answering.
void WatchMainThread() {
    static std::atomic<long> beats{0};
    auto* beat = new QTimer(qApp);
    QObject::connect(beat, &QTimer::timeout, [] { ++beats; });
    beat->start(100);
    std::thread([] {
        long last = -1;
        for (int still = 0;; std::this_thread::sleep_for(1s)) {
            const long now = beats.load();
            still = now == last ? still + 1 : 0;
            last = now;
            if (still >= 60) {
                std::fprintf(stderr, "the main thread stopped answering\n");
                std::_Exit(1);
            }
        }
    }).detach();
}

// The user through the X server on WIDGET's window: "windowactivate" (a
// click on it, which the window manager never refuses as it may refuse a
// program's own request) or "windowfocus --sync ... key Return" (real key
// presses; later ones go wherever the focus has gone meanwhile).
bool Xdotool(const char* what, QWidget* widget, const std::string& keys = "") {
    const std::string command =
        std::string("xdotool ") + what + " " + std::to_string(widget->window()->winId()) +
        (keys.empty() ? "" : " key --delay 15 " + keys) + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

class DesktopWM : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SetUpApplication();
        WatchMainThread();
        InstallSyncWindow();
        app = new BasicApp;
        InstallBrowserOpener();
        SetSyncBookmarkCreator(CreateSyncBookmark);
        SetSyncRunOpener([](const sSyncBookMarkData& bookmark) {
            return OpenSyncStatusWindow(bookmark) != nullptr;
        });
    }
    static void TearDownTestSuite() {
        delete app;
        app = nullptr;
    }
    void SetUp() override {
        folder = "desktop-" + std::to_string(::getpid());
        bookmark = ServerBookmark("pyftpd", folder, root);
        here = root + "/" + folder;
        RemoveTree(here);
        MakeFolder(here);
        MakeFolder(here + "/docs");
        // Folders enough for the run to be seen listing them.
        for (int i = 0; i < 40; ++i)
            MakeFolder(here + "/docs/part-" + std::to_string(i));
        MakeFile(here + "/same.txt", 1200);
        GiveToServer(root, here);
        local = scratch.path();
        std::ofstream(local + "/same.txt") << "here already";
        for (int i = 0; i < 40; ++i) // both sides alike: the first run asks first
            std::filesystem::create_directories(local + "/docs/part-" + std::to_string(i));
    }
    void TearDown() override {
        for (PPx::Window* window : PPx::Window::AllWindows())
            if (dynamic_cast<BrowseWindow*>(window) || dynamic_cast<SyncStatusWindow*>(window) ||
                dynamic_cast<QuickConnectWindow*>(window))
                window->Close();
        WaitFor([] { return !Front<BrowseWindow>() && !Front<SyncStatusWindow>(); }, 30s);
        RemoveTree(here);
    }
    void Command(uint32_t command) {
        PPx::PostEvent(PPx::ApplicationTarget().Ref(), PPx::MakeCommandEvent(command));
        PPx::Testing::ProcessEvents();
    }

    static BasicApp* app;
    testsupport::TempDir scratch;
    std::string folder, root, here, local;
    sBookMarkData bookmark;
};
BasicApp* DesktopWM::app = nullptr;

// The rounds of quick Returns wait on the redial sheets' second, so they come
// in parts that the test list runs side by side, each in a process and on a
// display of its own.
constexpr int kParts = 4, kRoundsPerPart = 5;
class DesktopWMReturns : public DesktopWM, public ::testing::WithParamInterface<int> {};

} // namespace

TEST_F(DesktopWM, WindowsSheetsAndAlertsOpenOverTheirParentsOnScreen) {
    // The bookmark window, then a connection from it: the browser window
    // opens centred over it.
    Command('CNBK');
    ConnectWindow* bookmarks = app->GetConnectWindow();
    ASSERT_TRUE(bookmarks->IsVisible());
    Settle(bookmarks);
    bookmarks->AddBookmark(bookmark);
    bookmarks->GetList()->SetSelection({static_cast<uint32_t>(bookmarks->GetBookmarks().size())});
    const QRect bookmarksAt = bookmarks->GetSysWindow()->geometry();
    bookmarks->ProcessCommand('CONN');
    BrowseWindow* first = Front<BrowseWindow>();
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(WaitIdle(first));
    Settle(first);
    EXPECT_FALSE(bookmarks->IsVisible()); // hidden by the connection
    EXPECT_TRUE(CentredOver(first, bookmarksAt));
    Shot("desktop-browser-1.png");

    // Quick Connect to the same server: cascaded from the first browser
    // window, one title bar down and right, told apart by its title.
    Command('new ');
    auto* quick = Front<QuickConnectWindow>();
    ASSERT_NE(quick, nullptr);
    Settle(quick);
    for (auto [field, text] :
         std::vector<std::pair<uint32_t, std::string>>{{'HOST', bookmark.host},
                                                       {'PORT', std::to_string(bookmark.port)},
                                                       {'UNAM', bookmark.username},
                                                       {'PASS', bookmark.password},
                                                       {'DIRE', folder}})
        PPx::View::FromWidget(PPx::FindControl(quick->GetSysWindow(), field))->SetText(text);
    Shot("desktop-quick-connect.png");
    PPx::Testing::ClickControl(quick->GetSysWindow(), 'okok');
    PPx::Testing::ProcessEvents();
    BrowseWindow* second = nullptr;
    for (PPx::Window* window : PPx::Window::AllWindows())
        if (window != first && dynamic_cast<BrowseWindow*>(window))
            second = static_cast<BrowseWindow*>(window);
    ASSERT_NE(second, nullptr);
    ASSERT_TRUE(WaitIdle(second));
    Settle(second);
    const QPoint step = second->GetSysWindow()->pos() - first->GetSysWindow()->pos();
    EXPECT_EQ(step.x(), step.y());
    EXPECT_GE(step.x(), 20);
    EXPECT_LE(step.x(), 60);
    EXPECT_TRUE(Screen().contains(Frame(second)));
    EXPECT_EQ(first->GetTitle(), bookmark.host);
    EXPECT_EQ(second->GetTitle(), bookmark.host + " (2)");
    Shot("desktop-browser-2.png");

    // The Window menu lists both, the front one checked.
    auto* bar = qobject_cast<QMainWindow*>(second->GetSysWindow())->menuBar();
    QMenu* windows = bar->findChild<QMenu*>("menuWindow");
    ASSERT_NE(windows, nullptr);
    QStringList listed;
    QTimer::singleShot(500, [&] {
        for (QAction* action : windows->actions())
            if (action->isCheckable())
                listed << action->text() + (action->isChecked() ? " *" : "");
        Shot("desktop-window-menu.png");
        windows->hide();
    });
    windows->exec(second->GetSysWindow()->mapToGlobal(QPoint(200, 0)));
    EXPECT_EQ(listed, (QStringList{QString::fromStdString(bookmark.host),
                                   QString::fromStdString(bookmark.host + " (2)") + " *"}));

    // The collision sheet of a download sits over its own window.
    first->Select();
    Select(first, {"same.txt"});
    Responder responder;
    bool collisionSeen = false;
    responder.OnSheet("CollisionSheet", [&](PPx::Window* sheet) {
        Settle(sheet);
        EXPECT_TRUE(CentredOver(sheet, first->GetSysWindow()->geometry()));
        Shot("desktop-collision-sheet.png");
        collisionSeen = true;
        PPx::Testing::PressKeys(sheet->GetSysWindow(), "Escape"); // Skip
    });
    first->DoDownload(local);
    EXPECT_TRUE(WaitFor([&] { return collisionSeen; }));
    ASSERT_TRUE(WaitIdle(first));

    // A synchronisation run from the synchronisation bookmarks: its window
    // opens over them, its first question over it.
    Command('SYBK');
    SyncWindow* syncs = app->GetSyncWindow();
    ASSERT_TRUE(syncs->IsVisible());
    Settle(syncs);
    sSyncBookMarkData sync;
    CopyServerFields(bookmark, sync);
    sync.name = "desktop run";
    sync.remoteDir = folder;
    sync.localDir = local;
    sync.action = 3;
    syncs->AddBookmark(sync);
    syncs->GetList()->SetSelection({static_cast<uint32_t>(syncs->GetBookmarks().size())});
    WaitFor([] { return false; }, 300ms);
    Shot("desktop-sync-bookmarks.png");
    const QRect syncsAt = syncs->GetSysWindow()->geometry();
    bool asked = false, summed = false, runShot = false;
    responder.OnSheet("MismatchSheet", [](PPx::Window* sheet) { Click(sheet, 'SKIP'); });
    responder.OnSheet("SyncCompleteSheet", [&](PPx::Window* sheet) {
        Settle(sheet);
        Shot("desktop-sync-summary.png");
        summed = true;
        Click(sheet, 'okok');
    });
    // The alert is checked and pictured before the responder answers it.
    QTimer watch;
    bool alertChecked = false;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* run = Front<SyncStatusWindow>();
        QWidget* alert = ShownAlert();
        if (alertChecked || !run || !alert)
            return;
        alertChecked = true;
        watch.stop();
        Settle(run);
        WaitFor([] { return false; }, 500ms);
        EXPECT_TRUE(CentredOver(run, syncsAt));
        EXPECT_TRUE(Screen().contains(alert->frameGeometry()));
        EXPECT_LE((alert->geometry().center() - run->GetSysWindow()->geometry().center())
                      .manhattanLength(),
                  4);
        EXPECT_EQ(run->GetSysWindow()->findChild<QMenuBar*>(), nullptr);
        Shot("desktop-sync-alert.png");
        // The run's own window under its alert, saying what it does.
        runShot = Shot("desktop-sync-window.png", run->GetSysWindow()->grab());
        asked = PPx::Testing::ClickAlertButton("No");
    });
    watch.start(10);
    syncs->ProcessCommand('SYNC');
    EXPECT_TRUE(WaitFor([&] { return summed && !Front<SyncStatusWindow>(); }, 60s));
    EXPECT_TRUE(alertChecked);
    EXPECT_TRUE(runShot);
    EXPECT_TRUE(asked);
}

// Answering the create-folder sheet with quick Returns, an empty name first
// (refused over the sheet, which stays), then a real one, again and again,
// while another window's sheets come and go on their own (a run that keeps
// redialling a server that refuses it). Real key presses through the X
// server; every round must end with the sheet gone and the folder made.
TEST_P(DesktopWMReturns, RepeatedReturnOnAClosingSheetUnderAWindowManager) {
    BrowseWindow* window = OpenBrowseWindow(bookmark, nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitIdle(window));
    sSyncBookMarkData refused;
    refused.name = "refused";
    refused.host = "127.0.0.1";
    refused.port = 1;
    refused.localDir = local;
    refused.action = 3;
    // Its redial sheets ask again after a second, so that they start and
    // end above and below the sheet answered here.
    sPreferences prefs;
    app->GetPreferences(prefs);
    prefs.redialSecs = 1;
    app->GetPreferencesMaster()->SetPreferences(prefs);
    ASSERT_NE(OpenSyncStatusWindow(refused), nullptr);

    for (int round = GetParam() * kRoundsPerPart; round < (GetParam() + 1) * kRoundsPerPart;
         ++round) {
        const std::string name = "made-" + std::to_string(round);
        bool refusedSeen = false, done = false;
        WindowHandle<> sheet; // answered, it goes whenever the event loop deletes it
        QTimer driver;
        int step = 0, waited = 0;
        QObject::connect(&driver, &QTimer::timeout, [&] {
            PPx::Window* action = Front<ActionSheet>();
            const bool alert = PPx::Testing::CurrentAlert().shown;
            // A redial sheet coming up elsewhere may take the focus: the
            // keys go only where they are meant to.
            QWidget* wanted = alert ? ShownAlert() : action ? action->GetSysWindow() : nullptr;
            if (wanted && QApplication::activeWindow() != wanted && step < 3) {
                if (++waited % 25 == 1)
                    Xdotool("windowactivate", wanted);
                return;
            }
            waited = 0;
            if (step == 0 && action && !alert) {
                sheet = action;
                step = 1;
                // Empty: refused with its message over the sheet; the
                // second Return answers the message.
                EXPECT_TRUE(Xdotool("windowfocus --sync", action->GetSysWindow(), "Return"));
            } else if (step == 1 && alert) {
                refusedSeen = PPx::Testing::CurrentAlert().message == "The name cannot be empty.";
                step = 2;
                EXPECT_TRUE(Xdotool("windowfocus --sync", ShownAlert(), "Return"));
            } else if (step == 2 && !alert && action) {
                // A name, then four quick Returns: the first answers, the
                // others reach a sheet that is going, or the window.
                PPx::View::FromWidget(PPx::FindControl(action->GetSysWindow(), 'edit'))
                    ->SetText(name);
                step = 3;
                EXPECT_TRUE(Xdotool("windowfocus --sync", action->GetSysWindow(),
                                    "Return Return Return Return"));
            } else if (step == 3 && !action) {
                done = true;
            }
        });
        driver.start(20);
        window->ProcessCommand('mCRF');
        ASSERT_TRUE(WaitFor([&] { return done; }, 30s)) << "round " << round << " step " << step;
        driver.stop();
        EXPECT_TRUE(refusedSeen) << "round " << round;
        PPx::Window* still = sheet.get();
        EXPECT_FALSE(still && still->IsVisible()) << "round " << round;
        ASSERT_TRUE(WaitIdle(window)) << "round " << round;
        EXPECT_TRUE(Exists(here + "/" + name)) << "round " << round;
    }
    EXPECT_LE(PPx::AppModalDepth(), 1); // at most the run's redial sheet is up
}

INSTANTIATE_TEST_SUITE_P(Parts, DesktopWMReturns, ::testing::Range(0, kParts));
