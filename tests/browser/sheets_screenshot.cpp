// Shows the browser toolbar and every sheet over a window on a real X
// display, one at a time, and saves a picture of the screen for each to
// OUTDIR/NAME.png. Fails when a sheet does not appear on the display.
#include "browser/sheets/BrowseToolBar.h"
#include "browser/sheets/OperationSheets.h"
#include "browser/sheets/RedialSheet.h"
#include "browser/sheets/TransferSheet.h"
#include "platform/ui/Application.h"
#include "tests/support/sheet_shots.h"

#include <cstdio>
#include <string>

using testsupport::RunAndShoot;
using testsupport::Shoot;
using testsupport::ShowAndShoot;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string out = argv[1];
    PPx::UIApplication::EnsureForTests();

    NibWindow* owner = PPx::MakeNibWindow<NibWindow>(PPx::SysNib(), "ConnectWindow");
    if (!owner) {
        std::fprintf(stderr, "no owner window\n");
        return 1;
    }
    owner->SetTitle("ftp.example.org");
    owner->SetContentBounds(PPx::Rect{40, 40, 520, 760});
    BrowseToolBar toolbar;
    toolbar.Attach(owner);
    toolbar.Show();
    toolbar.EnablePerms(false);
    owner->Show();
    bool ok = Shoot(owner, out, "browser-toolbar");

    ok &= RunAndShoot(ActionSheet::Make("Enter the name of the new folder:", "Holiday photos"),
                      owner, out, "action-sheet", 'cncl');
    ok &= RunAndShoot(CollisionSheet::Make("annual-report-2024.pdf", false), owner, out,
                      "collision-sheet", 'SKIP');
    ok &= RunAndShoot(DeleteConfirmSheet::Make(3), owner, out, "delete-confirm-sheet", 'cncl');

    DeleteSheet* deleting = DeleteSheet::Make(5);
    if (deleting) {
        deleting->SetDeleteStatus("old-logs");
        deleting->SetDeleteStatus("old-logs/2023-11.log");
    }
    ok &= ShowAndShoot(deleting, owner, out, "delete-sheet");
    ok &= RunAndShoot(PermissionsSheet::Make("rwxr-x---"), owner, out, "permissions-sheet", 'cncl');
    ok &= RunAndShoot(
        PPx::MakeNibWindow<RedialSheet>(
            PPx::SysNib(), "RedialSheet",
            std::string("Make sure you typed the address and port of the remote server "
                        "correctly.\nIf you continue to have problems connecting, please "
                        "contact the server administrator.\n"),
            60),
        owner, out, "redial-sheet", 'cncl');

    TransferSheet* transfer = TransferSheet::Make(4, 7340032);
    if (transfer) {
        transfer->StartTransfer({"first.iso", 1048576, 0});
        transfer->EndTransfer({"first.iso", 1048576, 0});
        transfer->StartTransfer({"video/holiday-2024-complete.mkv", 3145728, 524288});
        transfer->UpdateTransfer({"video/holiday-2024-complete.mkv", 1048576, 0});
    }
    ok &= ShowAndShoot(transfer, owner, out, "transfer-sheet");

    delete owner;
    return ok ? 0 : 1;
}
