// Drags out of the program's lists onto a real file manager (PCManFM) under a
// virtual X server, the pointer driven from outside (xdotool): two files of
// the vsftpd test server dropped on a folder window arrive there whole; a
// bookmark dropped there is exported; a file dropped on the Trash view is
// deleted on the server once the confirmation is answered; a file and a
// folder of the FTP and the SFTP server arrive whole wherever the browser
// window stands; a drop answered late acts on the item dragged, not on the
// one selected by then, in the browser and in both bookmark windows. Run by
// drag_out.sh, which starts the file manager and says where its windows are.
#include "app/BasicApp.h"
#include "app/BookmarkStore.h"
#include "app/ConnectWindow.h"
#include "browser/window/BrowseWindow.h"
#include "platform/ui/testing/Testing.h"
#include "sync/bookmarks/SyncWindow.h"
#include "tests/browser/browse_support.h"
#include "tests/support/tempdir.h"

#include <QAbstractItemView>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>

using namespace browsetest;

namespace {

struct Point {
    int x = 0, y = 0;
};

Point PointFrom(const char* variable) {
    Point point;
    const char* text = std::getenv(variable);
    if (text)
        std::sscanf(text, "%d %d", &point.x, &point.y);
    return point;
}

std::string Shots() {
    const char* dir = std::getenv("ZARVEL_SCREENSHOTS");
    return dir ? dir : ".";
}

void Save(const std::string& name) {
    const std::string path = Shots() + "/" + name;
    QScreen* screen = QGuiApplication::primaryScreen();
    const bool saved = screen && screen->grabWindow(0).save(QString::fromStdString(path), "PNG");
    std::printf("%s %s\n", saved ? "saved" : "could not save", path.c_str());
}

// The middle of the row of ITEM in LIST, on the screen.
Point RowOnScreen(PPx::NibDataBrowserView* list, uint32_t item) {
    auto* view = static_cast<QAbstractItemView*>(list->GetWidget());
    const std::vector<uint32_t> order = list->GetItemsInOrder();
    const int row = static_cast<int>(std::find(order.begin(), order.end(), item) - order.begin());
    const QPoint at =
        view->viewport()->mapToGlobal(view->visualRect(view->model()->index(row, 0)).center());
    return {at.x(), at.y()};
}

// Presses on FROM, moves there in steps and lets go, each a call of its own a
// little after the last, as a hand would (one call that does it all lets go
// before the file manager has answered). PICTURE, when given, is taken of
// the screen while the items hover over the target. OVER, when given, is
// crossed on the way with a few rests, as a hand crossing a window goes;
// RELEASE is the shell command that lets go.
void DragWithPointer(Point from, Point to, const std::string& picture = {}, Point over = {},
                     const std::string& release = "xdotool mouseup 1") {
    std::ostringstream script;
    script << "(xdotool mousemove " << from.x << ' ' << from.y << "; sleep 0.2;"
           << " xdotool mousedown 1; sleep 0.15;";
    for (int step : {4, 8, 16, 32})
        script << " xdotool mousemove " << from.x + step << ' ' << from.y + step / 2
               << "; sleep 0.06;";
    for (int nudge = 0; over.x > 0 && nudge < 9; nudge += 3)
        script << " xdotool mousemove " << over.x + nudge << ' ' << over.y << "; sleep 0.6;";
    if (over.x > 0)
        from = over;
    for (int part = 1; part <= 4; ++part)
        script << " xdotool mousemove " << from.x + (to.x - from.x) * part / 4 << ' '
               << from.y + (to.y - from.y) * part / 4 << "; sleep 0.1;";
    script << " xdotool mousemove " << to.x + 4 << ' ' << to.y + 4 << "; sleep 0.4;";
    if (!picture.empty())
        script << " import -window root '" << Shots() << "/" << picture << "'; sleep 0.1;";
    script << ' ' << release << ") >/dev/null 2>&1 &";
    ASSERT_EQ(std::system(script.str().c_str()), 0);
}

// Drags from FROM onto TO and lets go with the file manager stopped, so that
// it answers late: MEANWHILE runs once the release is done, then the file
// manager goes on.
void DragAnsweredLate(Point from, Point to, const std::function<void()>& meanwhile) {
    const char* pid = std::getenv("ZARVEL_FILE_MANAGER_PID");
    ASSERT_TRUE(pid) << "run through drag_out.sh";
    testsupport::TempDir marks;
    const std::string released = marks.path() + "/released";
    DragWithPointer(from, to, {}, {},
                    std::string("kill -STOP ") + pid + "; xdotool mouseup 1; sleep 0.3; touch '" +
                        released + "'");
    const bool seen = WaitFor([&] { return Exists(released); });
    EXPECT_TRUE(seen) << "the pointer was not released";
    if (seen)
        meanwhile();
    ::kill(std::atoi(pid), SIGCONT);
}

std::string Random(size_t size) {
    std::mt19937 generator(size);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator());
    return bytes;
}

bool FileIs(const std::string& path, const std::string& bytes) {
    return Exists(path) && testsupport::readFile(path) == bytes;
}

// An empty folder NAME-pid on the test server SERVER, and its bookmark.
struct ServerFolder {
    sBookMarkData bookmark;
    std::string root, here; // the server's folder and this one, on its disk
};

ServerFolder FreshFolder(const char* server, const std::string& name) {
    ServerFolder folder;
    const std::string relative = name + "-" + std::to_string(::getpid());
    folder.bookmark = ServerBookmark(server, relative, folder.root);
    folder.here = folder.root + "/" + relative;
    RemoveTree(folder.here);
    MakeFolder(folder.here);
    return folder;
}

void CloseAndRemove(BrowseWindow* browser, const ServerFolder& folder) {
    browser->Close();
    WaitGone(browser, 20s);
    RemoveTree(folder.here);
}

TEST(DragOut, ToAFileManagerFolderAndTrash) {
    const char* dropFolder = std::getenv("ZARVEL_DROP_FOLDER");
    const Point folderAt = PointFrom("ZARVEL_DROP_AT"), trashAt = PointFrom("ZARVEL_TRASH_AT");
    ASSERT_TRUE(dropFolder && folderAt.x > 0 && trashAt.x > 0) << "run through drag_out.sh";
    SetUpApplication();
    BasicApp app;

    const ServerFolder server = FreshFolder("vsftpd", "drag-out");
    const sBookMarkData& bookmark = server.bookmark;
    const std::string& here = server.here;
    const std::string alpha = Random(3 << 20), beta = "beta\r\nline two\n";
    testsupport::writeFile(here + "/alpha.bin", alpha);
    testsupport::writeFile(here + "/beta.txt", beta);
    MakeFile(here + "/gamma.txt", 100);
    GiveToServer(server.root, here);

    auto* browser = PPx::MakeNibWindow<BrowseWindow>(PPx::SysNib(), "BrowseWindow");
    ASSERT_NE(browser, nullptr);
    browser->SetContentBounds(PPx::Rect{40, 10, 420, 630});
    browser->Show();
    browser->StartSession(bookmark);
    ASSERT_TRUE(WaitIdle(browser));

    ConnectWindow* bookmarks = app.GetConnectWindow();
    sBookMarkData kept = bookmark;
    kept.name = "Drag test server";
    bookmarks->AddBookmark(kept);
    bookmarks->SetContentBounds(PPx::Rect{480, 10, 770, 630});
    bookmarks->Show();
    WaitFor([] { return false; }, 1500ms); // shown and placed

    // Two remote files onto the folder: downloaded there, byte for byte.
    Select(browser, {"alpha.bin", "beta.txt"});
    DragWithPointer(RowOnScreen(browser->GetList(), ItemNamed(browser, "alpha.bin")), folderAt,
                    "drag-out-in-flight.png");
    const std::string alphaThere = std::string(dropFolder) + "/alpha.bin";
    const std::string betaThere = std::string(dropFolder) + "/beta.txt";
    EXPECT_TRUE(WaitFor([&] { return FileIs(alphaThere, alpha) && FileIs(betaThere, beta); }, 90s))
        << "the files did not arrive";
    ASSERT_TRUE(WaitIdle(browser));

    // A bookmark onto the folder: exported there.
    bookmarks->GetList()->SetSelection({1});
    DragWithPointer(RowOnScreen(bookmarks->GetList(), 1), folderAt);
    const std::string exported = std::string(dropFolder) + "/Drag test server.zarvel";
    sBookMarkData read;
    EXPECT_TRUE(WaitFor([&] { return ReadExportedBookmark(exported, read); }, 60s))
        << "the bookmark was not exported";
    EXPECT_EQ(read, kept);
    WaitFor([] { return false; }, 1500ms); // the file manager shows them
    Save("drag-out-result.png");

    // A remote file onto the Trash: deleted after the confirmation.
    {
        Responder responder;
        std::string question;
        responder.OnSheet("DeleteConfirmSheet", [&](PPx::Window* sheet) {
            question =
                PPx::View::FromWidget(PPx::FindControl(sheet->GetSysWindow(), 'TEXT'))->GetText();
            Save("drag-out-trash-confirm.png");
            Click(sheet, 'okok');
        });
        Select(browser, {"gamma.txt"});
        DragWithPointer(RowOnScreen(browser->GetList(), ItemNamed(browser, "gamma.txt")), trashAt);
        EXPECT_TRUE(WaitFor([&] { return !Exists(here + "/gamma.txt"); }, 60s))
            << "the file was not deleted";
        EXPECT_EQ(question, "Are you sure you want to delete 1 item?");
        ASSERT_TRUE(WaitIdle(browser));
    }
    EXPECT_EQ(ItemNamed(browser, "gamma.txt"), 0u);
    EXPECT_TRUE(Exists(here + "/alpha.bin")); // the downloads took nothing away
    CloseAndRemove(browser, server);
}

// A file and a folder of each server onto the folder view, from the browser
// window's default place (centred) and two others, across the side pane,
// where PCManFM asks for the items while they only pass over it.
TEST(DragOut, FromAnyPlaceOfTheWindow) {
    const char* drop = std::getenv("ZARVEL_DROP_FOLDER");
    const Point folderAt = PointFrom("ZARVEL_DROP_AT"), paneAt = PointFrom("ZARVEL_SIDE_PANE_AT");
    ASSERT_TRUE(drop && paneAt.x > 0) << "run through drag_out.sh";
    SetUpApplication();
    BasicApp app;
    const std::string report = Random(1 << 20), one = Random(200000);
    const struct {
        const char* item;
        std::string path, bytes; // what arrives
    } drags[] = {{"report.bin", std::string(drop) + "/report.bin", report},
                 {"tree", std::string(drop) + "/tree/one.bin", one}};
    for (const char* name : {"vsftpd", "sshd"}) {
        const ServerFolder server = FreshFolder(name, "drag-place");
        MakeFolder(server.here + "/tree");
        testsupport::writeFile(server.here + "/report.bin", report);
        testsupport::writeFile(server.here + "/tree/one.bin", one);
        GiveToServer(server.root, server.here);
        BrowseWindow* browser = OpenBrowseWindow(server.bookmark, nullptr);
        ASSERT_NE(browser, nullptr);
        ASSERT_TRUE(WaitIdle(browser));
        const PPx::Rect places[] = {
            browser->GetContentBounds(), {30, 10, 490, 730}, {480, 60, 940, 780}};
        for (const PPx::Rect& place : places) {
            SCOPED_TRACE(std::string(name) + " at " + std::to_string(place.left));
            browser->SetContentBounds(place);
            WaitFor([] { return false; }, 800ms); // placed
            for (const auto& drag : drags) {
                Select(browser, {drag.item});
                DragWithPointer(RowOnScreen(browser->GetList(), ItemNamed(browser, drag.item)),
                                folderAt, {}, paneAt);
                EXPECT_TRUE(WaitFor([&] { return FileIs(drag.path, drag.bytes); }, 60s));
                ASSERT_TRUE(WaitIdle(browser));
            }
            Save("drag-out-" + std::string(name) + "-" + std::to_string(place.left) + ".png");
            RemoveTree(drags[0].path);
            RemoveTree(std::string(drop) + "/tree");
        }
        CloseAndRemove(browser, server);
    }
}

// A drop the file manager answers late (stopped at the release) acts on the
// item dragged, though a new listing, one item longer, lands meanwhile and
// another item is selected.
TEST(DragOut, ActsOnTheDraggedItem) {
    const char* dropFolder = std::getenv("ZARVEL_DROP_FOLDER");
    const Point folderAt = PointFrom("ZARVEL_DROP_AT"), trashAt = PointFrom("ZARVEL_TRASH_AT");
    ASSERT_TRUE(dropFolder && trashAt.x > 0) << "run through drag_out.sh";
    const std::string drop = dropFolder;
    SetUpApplication();
    BasicApp app;
    const ServerFolder server = FreshFolder("vsftpd", "drag-late");
    testsupport::writeFile(server.here + "/fileA.txt", "dragged\n");
    testsupport::writeFile(server.here + "/fileB.txt", "selected later\n");
    GiveToServer(server.root, server.here);
    BrowseWindow* browser = OpenBrowseWindow(server.bookmark, nullptr);
    ASSERT_NE(browser, nullptr);
    ASSERT_TRUE(WaitIdle(browser));
    Responder responder;
    std::string question;
    responder.OnSheet("DeleteConfirmSheet", [&](PPx::Window* sheet) {
        question =
            PPx::View::FromWidget(PPx::FindControl(sheet->GetSysWindow(), 'TEXT'))->GetText();
        WaitFor([] { return false; }, 500ms); // drawn
        Save("drag-out-late-trash-confirm.png");
        Click(sheet, 'okok');
    });
    for (bool trash : {false, true}) {
        Select(browser, {"fileA.txt"});
        DragAnsweredLate(RowOnScreen(browser->GetList(), ItemNamed(browser, "fileA.txt")),
                         trash ? trashAt : folderAt, [&] {
                             testsupport::writeFile(server.here + (trash ? "/0-new-2" : "/0-new-1"),
                                                    "new\n");
                             GiveToServer(server.root, server.here);
                             browser->DoCommandProcess('mRFS');
                             EXPECT_TRUE(WaitIdle(browser));
                             Select(browser, {"fileB.txt"});
                         });
        if (trash)
            EXPECT_TRUE(WaitFor([&] { return !Exists(server.here + "/fileA.txt"); }));
        else
            EXPECT_TRUE(WaitFor([&] { return FileIs(drop + "/fileA.txt", "dragged\n"); }));
        ASSERT_TRUE(WaitIdle(browser));
        EXPECT_TRUE(Exists(server.here + "/fileB.txt"));
        EXPECT_FALSE(Exists(drop + "/fileB.txt"));
    }
    EXPECT_EQ(question, "Are you sure you want to delete 1 item?");
    CloseAndRemove(browser, server);
}

template <class Window> uint32_t BookmarkNamed(Window* window, const std::string& name) {
    const auto& bookmarks = window->GetBookmarks();
    for (size_t i = 0; i < bookmarks.size(); ++i)
        if (bookmarks[i].name == name)
            return static_cast<uint32_t>(i + 1);
    return 0;
}

// Drags "AAA" of WINDOW, placed at PLACE, onto the folder view, then onto the
// Trash view; "Dead" is selected before the file manager answers each time.
template <class Window, class Record>
void DragAAAThenSelectDead(Window* window, Record aaa, const PPx::Rect& place,
                           const std::string& picture) {
    const std::string drop = std::getenv("ZARVEL_DROP_FOLDER");
    Record dead = aaa;
    aaa.name = "AAA";
    dead.name = "Dead";
    window->AddBookmark(aaa);
    window->AddBookmark(dead);
    window->SetContentBounds(place);
    window->Show();
    WaitFor([] { return false; }, 1500ms); // shown and placed
    PPx::NibDataBrowserView* list = window->GetList();
    Responder responder;
    std::string question, selectedThen;
    responder.OnAlert("Yes", nullptr, [&] {
        question = PPx::Testing::CurrentAlert().message;
        const std::vector<uint32_t> selected = list->GetSelectedItems();
        if (selected.size() == 1)
            selectedThen = window->BookmarkForItem(selected[0])->name;
        WaitFor([] { return false; }, 500ms); // drawn
        Save(picture);
    });
    for (bool trash : {false, true}) {
        SCOPED_TRACE(trash ? "the Trash" : "a folder");
        list->SetSelection({BookmarkNamed(window, "AAA")});
        DragAnsweredLate(RowOnScreen(list, BookmarkNamed(window, "AAA")),
                         PointFrom(trash ? "ZARVEL_TRASH_AT" : "ZARVEL_DROP_AT"),
                         [&] { list->SetSelection({BookmarkNamed(window, "Dead")}); });
        if (trash) {
            EXPECT_TRUE(WaitFor([&] { return BookmarkNamed(window, "AAA") == 0; }, 30s));
            EXPECT_NE(BookmarkNamed(window, "Dead"), 0u);
        } else {
            const std::string exported = drop + "/" + window->ExportName(aaa);
            EXPECT_TRUE(WaitFor([&] { return Exists(exported); }, 30s));
            EXPECT_FALSE(Exists(drop + "/" + window->ExportName(dead)));
            RemoveTree(exported);
            RemoveTree(drop + "/" + window->ExportName(dead));
        }
    }
    EXPECT_EQ(question, kRemoveBookmarkQuestion);
    EXPECT_EQ(selectedThen, "AAA"); // the bookmark the question speaks of
}

// A bookmark drop the file manager answers late, in either bookmark window,
// exports or removes the bookmark dragged, though another one is selected by
// then; the Trash question is asked with the dragged one selected again.
TEST(DragOut, BookmarksActOnTheDraggedBookmark) {
    ASSERT_TRUE(std::getenv("ZARVEL_DROP_FOLDER") && PointFrom("ZARVEL_TRASH_AT").x > 0)
        << "run through drag_out.sh";
    SetUpApplication();
    InstallSyncWindow();
    BasicApp app;
    sBookMarkData bookmark;
    bookmark.host = "ftp.example.org";
    bookmark.port = 21;
    DragAAAThenSelectDead(app.GetConnectWindow(), bookmark, PPx::Rect{40, 40, 480, 700},
                          "drag-out-late-bookmark.png");
    sSyncBookMarkData sync;
    sync.host = "ftp.example.org";
    sync.port = 21;
    sync.localDir = std::getenv("ZARVEL_DROP_FOLDER");
    sync.remoteDir = "/pub";
    sync.action = 3;
    ASSERT_NE(app.GetSyncWindow(), nullptr);
    DragAAAThenSelectDead(app.GetSyncWindow(), sync, PPx::Rect{520, 40, 960, 1000},
                          "drag-out-late-sync-bookmark.png");
    SetSyncWindowHooks({});
}

} // namespace
