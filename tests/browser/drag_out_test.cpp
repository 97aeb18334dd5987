// Drags out of the program's lists onto a real file manager (PCManFM) under a
// virtual X server, the pointer driven from outside (xdotool): two files of
// the vsftpd test server dropped on a folder window arrive there whole; a
// bookmark dropped there is exported; a file dropped on the Trash view is
// deleted on the server once the confirmation is answered. Run by
// drag_out.sh, which starts the file manager and says where its windows are.
#include "app/BasicApp.h"
#include "app/BookmarkStore.h"
#include "app/ConnectWindow.h"
#include "browser/window/BrowseWindow.h"
#include "platform/ui/testing/Testing.h"
#include "tests/browser/browse_support.h"
#include "tests/support/tempdir.h"

#include <QAbstractItemView>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>

#include <algorithm>
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
// the screen while the items hover over the target.
void DragWithPointer(Point from, Point to, const std::string& picture = {}) {
    std::ostringstream script;
    script << "(xdotool mousemove " << from.x << ' ' << from.y << "; sleep 0.2;"
           << " xdotool mousedown 1; sleep 0.15;";
    for (int step : {4, 8, 16, 32})
        script << " xdotool mousemove " << from.x + step << ' ' << from.y + step / 2
               << "; sleep 0.06;";
    for (int part = 1; part <= 4; ++part)
        script << " xdotool mousemove " << from.x + (to.x - from.x) * part / 4 << ' '
               << from.y + (to.y - from.y) * part / 4 << "; sleep 0.1;";
    script << " xdotool mousemove " << to.x + 4 << ' ' << to.y + 4 << "; sleep 0.4;";
    if (!picture.empty())
        script << " import -window root '" << Shots() << "/" << picture << "'; sleep 0.1;";
    script << " xdotool mouseup 1) >/dev/null 2>&1 &";
    ASSERT_EQ(std::system(script.str().c_str()), 0);
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

TEST(DragOut, ToAFileManagerFolderAndTrash) {
    const char* dropFolder = std::getenv("ZARVEL_DROP_FOLDER");
    const Point folderAt = PointFrom("ZARVEL_DROP_AT"), trashAt = PointFrom("ZARVEL_TRASH_AT");
    ASSERT_TRUE(dropFolder && folderAt.x > 0 && trashAt.x > 0) << "run through drag_out.sh";
    SetUpApplication();
    BasicApp app;

    std::string root;
    const std::string folder = "drag-out-" + std::to_string(::getpid());
    const sBookMarkData bookmark = ServerBookmark("vsftpd", folder, root);
    const std::string here = root + "/" + folder;
    RemoveTree(here);
    MakeFolder(here);
    const std::string alpha = Random(3 << 20), beta = "beta\r\nline two\n";
    testsupport::writeFile(here + "/alpha.bin", alpha);
    testsupport::writeFile(here + "/beta.txt", beta);
    MakeFile(here + "/gamma.txt", 100);
    GiveToServer(root, here);

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

    browser->Close();
    WaitGone(browser, 20s);
    RemoveTree(here);
}

} // namespace
