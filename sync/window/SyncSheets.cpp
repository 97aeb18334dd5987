#include "sync/window/SyncSheets.h"

#include "FTPDateManager.h"

#include <cstdio>

namespace {

constexpr uint32_t kRows[4][3] = {{'LFNM', 'LFSZ', 'LFDT'},
                                  {'LSNM', 'LSSZ', 'LSDT'},
                                  {'RFNM', 'RFSZ', 'RFDT'},
                                  {'RSNM', 'RSSZ', 'RSDT'}};
constexpr uint32_t kButtons[4] = {'UPLF', 'DNRF', 'SKIP', 'cncl'};

uint32_t RunModal(PPx::SheetWindow* sheet, PPx::Window* parent, const uint32_t& result) {
    sheet->Show(parent);
    PPx::RunAppModalLoopForWindow(sheet);
    sheet->Hide();
    return result;
}

} // namespace

// MismatchSheet ---------------------------------------------------------------

MismatchSheet::MismatchSheet(const std::vector<sFileInfo>& files) : mFiles(files) {}

MismatchSheet* MismatchSheet::Make(const std::vector<sFileInfo>& files) {
    return PPx::MakeNibWindow<MismatchSheet>(PPx::SysNib(), "MismatchSheet", files);
}

void MismatchSheet::FinishInit() {
    const PPx::SysWindow window = GetSysWindow();
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 3; ++column)
            mTexts[row * 3 + column] = NibStaticText::CreatePPxView(window, kRows[row][column]);
    for (int row = 0; row < 4; ++row)
        mTexts[row * 3]->SetMiddleTruncation();
    for (int i = 0; i < 4; ++i)
        mButtons[i] = NibPushButton::CreatePPxView(window, kButtons[i]);
    Populate();
    AddCommandHandler(this);
}

void MismatchSheet::Populate() {
    if (mFiles.size() < 4)
        return;
    for (int row = 0; row < 4; ++row) {
        const sFileInfo& file = mFiles[static_cast<size_t>(row)];
        char size[48];
        std::snprintf(size, sizeof size, "%llu bytes", static_cast<unsigned long long>(file.size));
        mTexts[row * 3]->SetText(file.name);
        mTexts[row * 3 + 1]->SetText(size);
        mTexts[row * 3 + 2]->SetText(FTPDateManager(&file.modDate).GetFullPrintableString());
    }
}

uint32_t MismatchSheet::DoModal(PPx::Window* parent) {
    return RunModal(this, parent, mResult);
}

PPx::OSStatus MismatchSheet::DoCommandProcess(uint32_t command) {
    switch (command) {
    case 'UPLF':
        mChoice = 1;
        break;
    case 'DNRF':
        mChoice = 2;
        break;
    case 'SKIP':
        mChoice = 0;
        break;
    case 'not!':
        mResult = 'not!';
        PPx::QuitAppModalLoopForWindow(this);
        return PPx::noErr;
    default:
        return PPx::eventNotHandledErr;
    }
    mResult = 'ok  ';
    PPx::QuitAppModalLoopForWindow(this);
    return PPx::noErr;
}

// SyncCompleteSheet -----------------------------------------------------------

SyncCompleteSheet::SyncCompleteSheet(int uploaded, int downloaded, int deleted, int failed)
    : mUploaded(uploaded), mDownloaded(downloaded), mDeleted(deleted), mFailed(failed) {}

SyncCompleteSheet* SyncCompleteSheet::Make(int uploaded, int downloaded, int deleted, int failed) {
    return PPx::MakeNibWindow<SyncCompleteSheet>(PPx::SysNib(), "SyncCompleteSheet", uploaded,
                                                 downloaded, deleted, failed);
}

std::string SyncCompleteSheet::Summary(int uploaded, int downloaded, int deleted, int failed) {
    char text[160];
    std::snprintf(text, sizeof text, "%d items uploaded, %d items downloaded, %d items deleted",
                  uploaded, downloaded, deleted);
    std::string summary = text;
    if (failed > 0)
        summary += ", " + std::to_string(failed) + " items failed";
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
    return RunModal(this, parent, mResult);
}

PPx::OSStatus SyncCompleteSheet::DoCommandProcess(uint32_t command) {
    if (command != 'ok  ')
        return PPx::eventNotHandledErr;
    PPx::QuitAppModalLoopForWindow(this);
    return PPx::noErr;
}
