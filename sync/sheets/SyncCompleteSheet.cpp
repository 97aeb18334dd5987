#include "sync/sheets/SyncCompleteSheet.h"

#include "app/SheetModal.h"

#include <cstdio>

SyncCompleteSheet::SyncCompleteSheet(int uploaded, int downloaded, int deleted, int failed)
    : mUploaded(uploaded), mDownloaded(downloaded), mDeleted(deleted), mFailed(failed) {}

std::string SyncCompleteSheet::Summary(int uploaded, int downloaded, int deleted, int failed) {
    char text[160];
    std::snprintf(text, sizeof text, "%d items uploaded, %d items downloaded, %d items deleted",
                  uploaded, downloaded, deleted);
    std::string summary = text;
    // A run with failures must not read like a complete one.
    if (failed > 0) {
        std::snprintf(text, sizeof text, "\n%d items failed and were not synchronized", failed);
        summary += text;
    }
    return summary;
}

void SyncCompleteSheet::FinishInit() {
    const PPx::SysWindow window = GetSysWindow();
    mText = NibStaticText::CreatePPxView(window, 'STAT');
    mOK = NibPushButton::CreatePPxView(window, 'okok');
    mText->SetText(Summary(mUploaded, mDownloaded, mDeleted, mFailed));
    AddCommandHandler(this);
}

uint32_t SyncCompleteSheet::DoModal(PPx::Window* parent) {
    return RunSheetModal(*this, parent, mResult);
}

PPx::OSStatus SyncCompleteSheet::DoCommandProcess(uint32_t command) {
    // Escape and the window manager send 'not!': the same as OK here.
    if (command != 'ok  ' && command != 'not!')
        return PPx::eventNotHandledErr;
    PPx::QuitAppModalLoopForWindow(this);
    return PPx::noErr;
}

void ShowSyncSummary(PPx::Window* parent, int uploaded, int downloaded, int deleted, int failed) {
    SyncCompleteSheet* sheet = PPx::MakeNibWindow<SyncCompleteSheet>(
        PPx::SysNib(), "SyncCompleteSheet", uploaded, downloaded, deleted, failed);
    if (!sheet)
        return;
    sheet->DoModal(parent);
    sheet->Close();
}
