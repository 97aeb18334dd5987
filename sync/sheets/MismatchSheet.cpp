#include "sync/sheets/MismatchSheet.h"

#include "app/SheetModal.h"
#include "platform/core/LocalDates.h"

#include <cstdio>

const char* const kNotCachedText = "Not in the synchronization cache";

namespace {

constexpr uint32_t kRows[4][3] = {{'LFNM', 'LFSZ', 'LFDT'},
                                  {'LSNM', 'LSSZ', 'LSDT'},
                                  {'RFNM', 'RFSZ', 'RFDT'},
                                  {'RSNM', 'RSSZ', 'RSDT'}};
constexpr uint32_t kButtons[4] = {'UPLF', 'DNRF', 'SKIP', 'cncl'};

} // namespace

std::string MismatchSizeText(uint64_t size) {
    char text[48];
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(size));
    return text;
}

std::string MismatchDateText(const DateTimeRec& date) {
    return PPx::FormatLocalDateTime(date.year, date.month, date.day, date.hour, date.minute,
                                    date.second, true);
}

MismatchSheet::MismatchSheet(const std::vector<sFileInfo>& files) : mFiles(files) {}

void MismatchSheet::FinishInit() {
    const PPx::SysWindow window = GetSysWindow();
    for (int row = 0; row < 4; ++row)
        for (int column = 0; column < 3; ++column)
            mTexts[row * 3 + column] = NibStaticText::CreatePPxView(window, kRows[row][column]);
    for (int i = 0; i < 4; ++i)
        mButtons[i] = NibPushButton::CreatePPxView(window, kButtons[i]);
    // Long relative paths lose their middle, not the file name at the end.
    for (int row = 0; row < 4; ++row)
        mTexts[row * 3]->SetMiddleTruncation();
    Populate();
    AddCommandHandler(this);
}

void MismatchSheet::Populate() {
    if (mFiles.size() < 4)
        return;
    for (size_t row = 0; row < 4; ++row) {
        const sFileInfo& file = mFiles[row];
        NibStaticText** texts = &mTexts[row * 3];
        if (file.name.empty()) {
            // A made-up size and date would look like a real record.
            texts[0]->SetText(kNotCachedText);
            texts[1]->SetText("");
            texts[2]->SetText("");
            continue;
        }
        texts[0]->SetText(file.name);
        texts[1]->SetText(MismatchSizeText(file.size));
        texts[2]->SetText(MismatchDateText(file.modDate));
    }
}

uint32_t MismatchSheet::DoModal(PPx::Window* parent) {
    return RunSheetModal(*this, parent, mResult);
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
        return EndSheetModal(*this, mResult, 'not!');
    default:
        return PPx::eventNotHandledErr;
    }
    return EndSheetModal(*this, mResult, 'ok  ');
}

std::optional<SyncChoice> AskSyncConflict(PPx::Window* parent, const SyncConflict& conflict) {
    const std::vector<sFileInfo> files = {conflict.local, conflict.cachedLocal, conflict.remote,
                                          conflict.cachedRemote};
    MismatchSheet* sheet = PPx::MakeNibWindow<MismatchSheet>(PPx::SysNib(), "MismatchSheet", files);
    if (!sheet)
        return std::nullopt;
    std::optional<SyncChoice> choice;
    if (sheet->DoModal(parent) == 'ok  ') {
        switch (sheet->GetData()) {
        case 1:
            choice = SyncChoice::Upload;
            break;
        case 2:
            choice = SyncChoice::Download;
            break;
        default:
            choice = SyncChoice::Skip;
            break;
        }
    }
    sheet->Close();
    return choice;
}
