// Shows the synchronisation bookmark window, its sheet, the question before
// an opened file runs, the conflict sheet and the summary sheet on a real X
// display, one at a time, and saves a picture of the screen for each to
// OUTDIR/NAME.png. Fails when one does not appear on the display.
#include "app/BasicApp.h"
#include "platform/core/Folders.h"
#include "platform/ui/Application.h"
#include "sync/bookmarks/SyncBookmarkStore.h"
#include "sync/bookmarks/SyncOpenSheet.h"
#include "sync/bookmarks/SyncSheet.h"
#include "sync/bookmarks/SyncWindow.h"
#include "sync/sheets/MismatchSheet.h"
#include "sync/sheets/SyncCompleteSheet.h"
#include "tests/support/sheet_shots.h"

#include <cstdio>
#include <memory>
#include <string>

using testsupport::RunAndShoot;
using testsupport::Shoot;

namespace {

sSyncBookMarkData Bookmark(const std::string& name, const std::string& host, int action) {
    sSyncBookMarkData b;
    b.name = name;
    b.host = host;
    b.port = 21;
    b.username = "anna";
    b.passive = true;
    b.localDir = "/home/anna/" + name;
    b.remoteDir = "/srv/" + name;
    b.action = action;
    return b;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    PPx::UIApplication::EnsureForTests();

    sSyncBookMarkData photos = Bookmark("Photos", "192.168.1.20", 1);
    photos.secure = true;
    photos.port = 22;
    photos.deleteRemote = true;
    SaveSyncBookmarkStore(SyncBookmarkStorePath(),
                          {photos, Bookmark("website", "ftp.example.org", 1),
                           Bookmark("Documents", "sftp://anna@files.example.net:2200/docs", 3)});
    InstallSyncWindow();
    auto app = std::make_unique<BasicApp>();
    SyncWindow* window = app->GetSyncWindow();
    if (!window) {
        std::fprintf(stderr, "no synchronisation window\n");
        return 1;
    }
    window->SetContentBounds(PPx::Rect{40, 20, 420, 780});
    window->Show();
    window->GetList()->SetSelection({1});
    bool ok = Shoot(window, out, "sync-window");

    ok &= RunAndShoot(PPx::MakeNibWindow<SyncSheet>(PPx::SysNib(), "SyncSheet", photos, true),
                      window, out, "sync-sheet", 'cncl');
    sSyncBookMarkData stranger = Bookmark("Shared project", "ftp.example.com", 1);
    stranger.deleteRemote = true;
    ok &= RunAndShoot(PPx::MakeNibWindow<SyncOpenSheet>(PPx::SysNib(), "SyncOpenSheet", stranger),
                      window, out, "sync-open-sheet", 'cncl');

    sFileInfo now;
    now.name = "2024/holiday/italy/rome/colosseum-panorama-stitched-final-version.jpg";
    now.size = 5242880;
    now.modDate = DateTimeRec{2024, 6, 14, 18, 42, 7, 5};
    sFileInfo cached = now;
    cached.size = 4980112;
    cached.modDate = DateTimeRec{2024, 6, 2, 9, 3, 55, 0};
    sFileInfo remote = now;
    remote.size = 5301442;
    remote.modDate = DateTimeRec{2024, 6, 13, 21, 10, 30, 4};
    ok &= RunAndShoot(
        PPx::MakeNibWindow<MismatchSheet>(PPx::SysNib(), "MismatchSheet",
                                          std::vector<sFileInfo>{now, cached, remote, cached}),
        window, out, "mismatch-sheet", 'SKIP');
    ok &= RunAndShoot(
        PPx::MakeNibWindow<SyncCompleteSheet>(PPx::SysNib(), "SyncCompleteSheet", 12, 3, 1, 2),
        window, out, "sync-complete-sheet", 'okok');
    app.reset();
    return ok ? 0 : 1;
}
