// Under a virtual X display: a browser window on a real server's folder (a
// few files, a folder and a link, with its toolbar), then the same window
// with its contextual menu open. Saves both pictures to the folder given as
// the first argument; fails when the window does not appear.
#include "BrowseWindow.h"
#include "browse_support.h"

#include "ppxui/Testing.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
#include <QWidget>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

using namespace browsetest;

namespace {

bool Save(const std::string& path) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return false;
    const bool saved = screen->grabWindow(0).save(QString::fromStdString(path), "PNG");
    std::printf("%s %s\n", saved ? "saved" : "could not save", path.c_str());
    return saved;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    std::error_code ignored;
    std::filesystem::create_directories(out, ignored);
    SetUpApplication();

    std::string root;
    const std::string folder = "screenshot-" + std::to_string(::getpid());
    sBookMarkData bookmark = ServerBookmark("pyftpd", folder, root);
    const std::string here = root + "/" + folder;
    RemoveTree(here);
    MakeFolder(here);
    MakeFile(here + "/notes.txt", 1536);
    MakeFile(here + "/photo.jpg", 2400000);
    MakeFile(here + "/README", 812);
    MakeFolder(here + "/projects");
    MakeLink("projects", here + "/current");
    GiveToServer(root, here);

    int status = 1;
    BrowseWindow* window = OpenBrowseWindow(bookmark, nullptr);
    if (window && WaitIdle(window, std::chrono::seconds(60)) && window->IsVisible()) {
        window->GetList()->SetSelection({2});
        window->Select();
        WaitFor([] { return false; }, std::chrono::milliseconds(800));
        if (Save(out + "/browser-window.png"))
            status = 0;

        // The contextual menu of the list, as a right click opens it.
        auto* list = qobject_cast<QTreeView*>(PPx::FindControl(window->GetSysWindow(), 'LIST'));
        bool menuShown = false;
        QTimer::singleShot(800, [&] {
            QWidget* popup = QApplication::activePopupWidget();
            menuShown = popup != nullptr && Save(out + "/browser-context-menu.png");
            if (popup)
                popup->close();
        });
        const QPoint at(120, 30);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &event);
        if (!menuShown) {
            std::fprintf(stderr, "the contextual menu did not appear\n");
            status = 1;
        }
        window->Close();
        WaitFor([window] { return !WindowAlive(window); }, std::chrono::seconds(20));
    } else {
        std::fprintf(stderr, "the browser window did not appear\n");
    }
    RemoveTree(here);
    return status;
}
