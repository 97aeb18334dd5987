// Under a virtual X display: a browser window whose columns fit long names,
// the refusal of a rename onto an existing name, and the redial sheet after
// a wrong password and after a changed host key (real pyftpdlib and sshd
// servers). Saves the four pictures to the folder given as the first
// argument; fails when one of them does not appear.
#include "BrowseContent.h"
#include "BrowseWindow.h"
#include "browse_support.h"

#include "ppxui/Testing.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

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
    const bool saved = screen && screen->grabWindow(0).save(QString::fromStdString(path), "PNG");
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
    WaitFor([window] { return !WindowAlive(window); }, std::chrono::seconds(60));
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
    const std::string folder = "refusals-" + std::to_string(::getpid());
    const sBookMarkData bookmark = ServerBookmark("pyftpd", folder, root);
    const std::string here = root + "/" + folder;
    RemoveTree(here);
    MakeFolder(here);
    MakeFile(here + "/big-50MB-archive-of-the-quarterly-reports-2024.tar.gz", 52428800);
    MakeFile(here + "/cafe-menu.txt", 812);
    MakeFile(here + "/minutes of the annual general meeting, March 2024.pdf", 245760);
    MakeFile(here + "/zz-target.txt", 1536);
    MakeFolder(here + "/photographs from the summer holiday");
    GiveToServer(root, here);

    int failures = 0;
    BrowseWindow* window = OpenBrowseWindow(bookmark, nullptr);
    if (window && WaitIdle(window, std::chrono::seconds(60)) && window->IsVisible()) {
        PPx::Rect bounds = window->GetContentBounds();
        bounds.right = bounds.left + 860;
        bounds.bottom = bounds.top + 360;
        window->SetContentBounds(bounds);
        window->ProcessCommand('mRFS');
        WaitIdle(window);
        window->GetList()->SetSelection({ItemNamed(window, "cafe-menu.txt")});
        window->Select();
        Settle();
        failures += !Save(out + "/browser-long-names.png");

        // F2, "zz-target.txt", Return: refused before anything is sent.
        bool refused = false;
        QTimer::singleShot(0, [&] { // inside the alert's own loop
            Settle();
            refused =
                PPx::Testing::CurrentAlert().shown && Save(out + "/browser-rename-refused.png");
            PPx::Testing::ClickAlertButton("OK");
        });
        PPx::DataBrowser::ItemData data;
        data.SetText("zz-target.txt");
        window->GetList()->GetContent()->ChangeItemData(ItemNamed(window, "cafe-menu.txt"), 'name',
                                                        data);
        failures += !refused;
        window->Close();
        WaitFor([window] { return !WindowAlive(window); }, std::chrono::seconds(20));
    } else {
        std::fprintf(stderr, "the browser window did not appear\n");
        ++failures;
    }
    RemoveTree(here);

    sBookMarkData wrong = bookmark;
    wrong.dir.clear();
    wrong.password = "not-the-password";
    failures += !ShootRedial(wrong, out + "/browser-redial-password.png");

    // The sshd server with another key on record for its host and port.
    std::string sshRoot;
    sBookMarkData secure = ServerBookmark("sshd", "", sshRoot);
    const std::string dot = std::string(std::getenv("HOME")) + "/.ssh";
    ::mkdir(dot.c_str(), 0700);
    std::ofstream(dot + "/known_hosts")
        << "other.example.org ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIBdbSDuhZjg8nmkQCKnfjM1RqaN4jvm"
           "r2SkIkm0dbJ+G\n"
        << "[" << secure.host << "]:" << secure.port
        << " ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIBdbSDuhZjg8nmkQCKnfjM1RqaN4jvmr2SkIkm0dbJ+G\n";
    failures += !ShootRedial(secure, out + "/browser-redial-host-key.png");
    if (failures)
        std::fprintf(stderr, "%d of the pictures did not come\n", failures);
    return failures ? 1 : 0;
}
