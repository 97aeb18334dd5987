#include "sync/bookmarks/SyncOpenSheet.h"

#include "app/BookmarkStore.h"
#include "app/SheetModal.h"

SyncOpenSheet::SyncOpenSheet(const sSyncBookMarkData& bookmark) : mBookmark(bookmark) {}

std::string SyncOpenSheet::DirectionText(const sSyncBookMarkData& b) {
    switch (b.action) {
    case 1:
        return "Upload only: local files replace remote ones";
    case 2:
        return "Download only: remote files replace local ones";
    default:
        return "Both ways: newer files replace older ones on either side";
    }
}

std::string SyncOpenSheet::DeletionText(const sSyncBookMarkData& b) {
    // The run acts on a delete option only in its own direction.
    if (b.action == 1 && b.deleteRemote)
        return "Remote files and folders that are not in the local folder will be DELETED from "
               "the server.";
    if (b.action == 2 && b.deleteLocal)
        return "Local files and folders that are not on the server will be DELETED from this "
               "computer.";
    return {};
}

std::string SyncOpenSheet::ServerText(const sSyncBookMarkData& b) {
    std::string text = b.secure ? "sftp://" : "ftp://";
    if (!b.username.empty())
        text += b.username + "@";
    text += b.host + ":" + std::to_string(b.port);
    return text;
}

void SyncOpenSheet::FinishInit() {
    const PPx::SysWindow window = GetSysWindow();
    NibStaticText::CreatePPxView(window, 'NAME')
        ->SetText("Do you want to synchronize with the bookmark \"" + mBookmark.name +
                  "\"? Check that it does what you expect: it was opened from a file.");
    NibStaticText::CreatePPxView(window, 'HOST')->SetText(HostForDisplay(ServerText(mBookmark)));
    NibStaticText::CreatePPxView(window, 'LDIR')->SetText(mBookmark.localDir);
    NibStaticText::CreatePPxView(window, 'RDIR')
        ->SetText(mBookmark.remoteDir.empty() ? "(the login folder)" : mBookmark.remoteDir);
    NibStaticText::CreatePPxView(window, 'DIRN')->SetText(DirectionText(mBookmark));
    NibStaticText* deletion = NibStaticText::CreatePPxView(window, 'DELW');
    const std::string deletes = DeletionText(mBookmark);
    deletion->SetText(deletes);
    deletion->SetVisible(!deletes.empty());
    NibPushButton::CreatePPxView(window, 'okok');
    NibPushButton::CreatePPxView(window, 'cncl')->SetFocus();
    AddCommandHandler(this);
}

uint32_t SyncOpenSheet::DoModal(PPx::Window* parent) {
    return RunSheetModal(*this, parent, mResult);
}

PPx::OSStatus SyncOpenSheet::DoCommandProcess(uint32_t command) {
    if (command != 'ok  ' && command != 'not!')
        return PPx::eventNotHandledErr;
    return EndSheetModal(*this, mResult, command);
}
