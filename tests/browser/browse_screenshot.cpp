// Under a virtual X display: a browser window on a real server's folder (a
// few files, one with a long name, a folder and a link, with its toolbar),
// the same window with its contextual menu open, then the refusal of a
// rename onto an existing name, and the redial sheet after a wrong password
// (pyftpdlib) and after a changed host key (sshd). Saves the pictures to the
// folder given as the first argument; fails when one does not appear.
#include "browser/window/BrowseWindow.h"
#include "platform/ui/testing/Testing.h"
#include "tests/browser/browse_support.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
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

void Settle() {
    WaitFor([] { return false; }, std::chrono::milliseconds(800));
}

// Opens a window on BOOKMARK that fails to connect; the redial sheet is
// pictured into PATH and cancelled.
bool ShootRedial(const sBookMarkData& bookmark, const std::string& path) {
    bool saved = false;
    Responder responder;
    responder.OnSheet("RedialSheet", [&](PPx::Window* sheet) {
        Settle();
        saved = Save(path);
        Click(sheet, 'cncl');
    });
    BrowseWindow* window = OpenBrowseWindow(bookmark, nullptr);
    if (!window)
        return false;
    WaitGone(window, std::chrono::seconds(60));
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
    MakeFile(here + "/big-50MB-archive-of-the-quarterly-reports-2024.tar.gz", 52428800);
    MakeFolder(here + "/projects");
    MakeLink("projects", here + "/current");
    GiveToServer(root, here);

    int status = 1;
    BrowseWindow* window = OpenBrowseWindow(bookmark, nullptr);
    if (window && WaitIdle(window, std::chrono::seconds(60)) && window->IsVisible()) {
        PPx::Rect bounds = window->GetContentBounds();
        bounds.right = bounds.left + 860;
        window->SetContentBounds(bounds);
        window->ProcessCommand('mRFS'); // the columns fit the new width
        WaitIdle(window);
        window->GetList()->SetSelection({ItemNamed(window, "notes.txt")});
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

        // F2, "README", Return: refused before anything is sent.
        bool refused = false;
        QTimer::singleShot(0, [&] { // inside the alert's own loop
            Settle();
            refused =
                PPx::Testing::CurrentAlert().shown && Save(out + "/browser-rename-refused.png");
            PPx::Testing::ClickAlertButton("OK");
        });
        PPx::DataBrowser::ItemData data;
        data.SetText("README");
        window->GetList()->GetContent()->ChangeItemData(ItemNamed(window, "notes.txt"), 'name',
                                                        data);
        if (!refused) {
            std::fprintf(stderr, "the refusal of the rename did not appear\n");
            status = 1;
        }
        window->Close();
        WaitGone(window, std::chrono::seconds(20));
    } else {
        std::fprintf(stderr, "the browser window did not appear\n");
    }
    RemoveTree(here);

    sBookMarkData wrong = bookmark;
    wrong.password = "not-the-password";
    if (!ShootRedial(wrong, out + "/browser-redial-password.png"))
        status = 1;
    // The sshd server with another key on record for its host and port.
    std::string sshRoot;
    const sBookMarkData secure = ServerBookmark("sshd", "", sshRoot);
    const std::string dot = std::string(std::getenv("HOME")) + "/.ssh";
    ::mkdir(dot.c_str(), 0700);
    std::ofstream(dot + "/known_hosts")
        << "other.example.org ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIBdbSDuhZjg8nmkQCKnfjM1RqaN4jvm"
           "r2SkIkm0dbJ+G\n"
        << "[" << secure.host << "]:" << secure.port
        << " ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIBdbSDuhZjg8nmkQCKnfjM1RqaN4jvmr2SkIkm0dbJ+G\n";
    if (!ShootRedial(secure, out + "/browser-redial-host-key.png"))
        status = 1;
    return status;
}
