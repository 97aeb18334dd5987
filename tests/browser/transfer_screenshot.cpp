// Under a virtual X display: the transfer sheet during a real download from
// the test FTP server (cancelled once the picture is taken), and the
// collision sheet asking about a file that exists. Saves both pictures to the
// folder given as the first argument; fails when a sheet does not appear.
#include "browser/sheets/TransferSheet.h"
#include "browser/window/BrowseWindow.h"
#include "platform/ui/testing/Testing.h"
#include "tests/browser/browse_support.h"

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace browsetest;

namespace {

bool Save(const std::string& path) {
    QScreen* screen = QGuiApplication::primaryScreen();
    const bool saved = screen && screen->grabWindow(0).save(QString::fromStdString(path), "PNG");
    std::printf("%s %s\n", saved ? "saved" : "could not save", path.c_str());
    return saved;
}

// Takes the picture a while after the first progress report, then cancels.
class PicturedWindow : public BrowseWindow {
public:
    void UpdateTransfer(const sFileProgress& progress) override {
        BrowseWindow::UpdateTransfer(progress);
        if (mStarted || !GetTransferSheet())
            return;
        mStarted = true;
        // The window may have gone by then (a lost connection closes it).
        QTimer::singleShot(1200, [this, alive = AliveFlag()] {
            if (alive.expired())
                return;
            if (TransferSheet* sheet = GetTransferSheet()) {
                mSaved = Save(mOut);
                PPx::Testing::ClickControl(sheet->GetSysWindow(), 'cncl');
            }
        });
    }
    std::string mOut;
    bool mStarted = false;
    bool mSaved = false;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    SetUpApplication();

    std::string root;
    const std::string folder = "transfer-shot-" + std::to_string(::getpid());
    sBookMarkData bookmark = ServerBookmark("vsftpd", folder, root);
    const std::string here = root + "/" + folder;
    RemoveTree(here);
    MakeFolder(here);
    MakeFile(here + "/report.pdf", 250000);
    {
        // Sparse: quick to make, long enough to show its progress.
        const int fd = ::open((here + "/holiday video.mkv").c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd < 0 || ::ftruncate(fd, off_t(16) << 30) != 0)
            return 1;
        ::close(fd);
    }
    GiveToServer(root, here);
    char pattern[] = "/tmp/transfer-shot-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string local = pattern;
    std::ofstream(local + "/report.pdf") << "an older report";

    int status = 1;
    auto* window = PPx::MakeNibWindow<PicturedWindow>(PPx::SysNib(), "BrowseWindow");
    if (window) {
        window->mOut = out + "/browser-transfer-sheet.png";
        window->Show();
        window->StartSession(bookmark);
    }
    if (window && WaitIdle(window, std::chrono::seconds(60)) && window->IsVisible()) {
        bool collisionSaved = false;
        {
            Responder responder;
            responder.OnSheet("CollisionSheet", [&](PPx::Window* sheet) {
                WaitFor([] { return false; }, std::chrono::milliseconds(800));
                collisionSaved = Save(out + "/browser-collision-sheet.png");
                Click(sheet, 'SKIP');
            });
            Select(window, {"report.pdf"});
            window->DoDownload(local);
            WaitIdle(window, std::chrono::seconds(60));
        }
        Responder told; // what the cancel left incomplete
        told.OnAlert();
        Select(window, {"holiday video.mkv"});
        window->DoDownload(local);
        WaitIdle(window, std::chrono::seconds(120));
        if (!collisionSaved)
            std::fprintf(stderr, "the collision sheet did not appear\n");
        if (!window->mSaved)
            std::fprintf(stderr, "the transfer sheet did not appear\n");
        if (collisionSaved && window->mSaved)
            status = 0;
        window->Close();
        WaitGone(window, std::chrono::seconds(20));
    } else {
        std::fprintf(stderr, "the browser window did not appear\n");
    }
    RemoveTree(here);
    RemoveTree(local);
    return status;
}
