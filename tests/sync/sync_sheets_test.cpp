// The conflict and summary sheets of a synchronisation run (offscreen).
#include "platform/ui/Application.h"
#include "platform/ui/testing/Testing.h"
#include "sync/sheets/MismatchSheet.h"
#include "sync/sheets/SyncCompleteSheet.h"
#include "tests/support/window_driving.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace PPx;
using testsupport::Control;

namespace {

sFileInfo File(const std::string& name, uint64_t size, int16_t day) {
    sFileInfo file;
    file.name = name;
    file.size = size;
    file.modDate = DateTimeRec{2024, 3, day, 14, 5, 9, 0};
    return file;
}

struct Answer {
    uint32_t result = 0;
    int choice = -1;
};

// Runs a conflict sheet over FILES and presses BUTTON in it.
Answer Press(const std::vector<sFileInfo>& files, uint32_t button,
             std::vector<std::string>* texts = nullptr) {
    MismatchSheet* sheet = MakeNibWindow<MismatchSheet>(SysNib(), "MismatchSheet", files);
    EXPECT_NE(sheet, nullptr);
    if (!sheet)
        return {};
    Window* owner = MakeNibWindow<NibWindow>(SysNib(), "SynchronizeWindow");
    owner->Show();
    Testing::Later([&] {
        if (texts)
            for (uint32_t sig : {'LFNM', 'LFSZ', 'LFDT', 'LSNM', 'LSSZ', 'LSDT', 'RFNM', 'RFSZ',
                                 'RFDT', 'RSNM', 'RSSZ', 'RSDT'})
                texts->push_back(Control(sheet, sig)->GetText());
        Testing::ClickControl(sheet->GetSysWindow(), button);
    });
    Answer answer;
    answer.result = sheet->DoModal(owner);
    answer.choice = sheet->GetData();
    delete sheet;
    delete owner;
    return answer;
}

class SyncSheets : public ::testing::Test {
protected:
    void SetUp() override { UIApplication::EnsureForTests(); }
};

} // namespace

TEST_F(SyncSheets, ConflictShowsFourRecordsInBytesWithLocalDates) {
    const std::vector<sFileInfo> files = {
        File("docs/empty.txt", 0, 9), File("docs/empty.txt", 0, 1),
        File("docs/empty.txt", 5000000, 8), File("docs/empty.txt", 1200, 1)};
    std::vector<std::string> texts;
    Press(files, 'SKIP', &texts);
    ASSERT_EQ(texts.size(), 12u);
    EXPECT_EQ(texts[0], "docs/empty.txt");
    EXPECT_EQ(texts[1], "0 bytes");
    EXPECT_EQ(texts[7], "5000000 bytes"); // never scaled to a unit
    EXPECT_EQ(texts[10], "1200 bytes");   // the old size beside the new one
    // The user's locale (German here), never a fixed US form; with seconds.
    EXPECT_EQ(texts[2], "09.03.24 14:05:09");
    EXPECT_NE(texts[2], texts[5]);
}

TEST_F(SyncSheets, ARecordTheCacheDoesNotHoldIsNotShownAsAFile) {
    std::vector<sFileInfo> files = {File("a", 10, 2), sFileInfo(), File("a", 11, 3), sFileInfo()};
    std::vector<std::string> texts;
    Press(files, 'SKIP', &texts);
    ASSERT_EQ(texts.size(), 12u);
    EXPECT_EQ(texts[3], kNotCachedText);
    EXPECT_EQ(texts[4], "");
    EXPECT_EQ(texts[5], "");
    EXPECT_EQ(texts[9], kNotCachedText);

    // Fewer than four records: the interface file's texts stay.
    texts.clear();
    Answer answer = Press({File("a", 1, 1)}, 'UPLF', &texts);
    EXPECT_EQ(texts[0], "-");
    EXPECT_EQ(answer.result, 'ok  ');
    EXPECT_EQ(answer.choice, 1);
}

TEST_F(SyncSheets, ConflictButtonsAnswerAndCancelLeavesTheChoiceAtZero) {
    const std::vector<sFileInfo> files(4, File("x", 1, 1));
    struct Case {
        uint32_t button, result;
        int choice;
    };
    for (const Case& c : {Case{'UPLF', 'ok  ', 1}, Case{'DNRF', 'ok  ', 2}, Case{'SKIP', 'ok  ', 0},
                          Case{'cncl', 'not!', 0}}) {
        Answer answer = Press(files, c.button);
        EXPECT_EQ(answer.result, c.result) << c.button;
        EXPECT_EQ(answer.choice, c.choice) << c.button;
    }

    // The run's form of the question: nothing when cancelled.
    SyncConflict conflict;
    conflict.local = File("l", 1, 1);
    conflict.remote = File("r", 2, 2);
    for (auto [button, expected] :
         {std::pair<uint32_t, std::optional<SyncChoice>>{'DNRF', SyncChoice::Download},
          {'UPLF', SyncChoice::Upload},
          {'SKIP', SyncChoice::Skip},
          {'cncl', std::nullopt}}) {
        std::string shownLocal;
        Testing::Later([&, button = button] {
            for (Window* w : Window::AllWindows())
                if (auto* sheet = dynamic_cast<MismatchSheet*>(w)) {
                    shownLocal = Control(sheet, 'LFNM')->GetText();
                    Testing::ClickControl(sheet->GetSysWindow(), button);
                }
        });
        EXPECT_EQ(AskSyncConflict(nullptr, conflict), expected) << button;
        EXPECT_EQ(shownLocal, "l");
    }
}

TEST_F(SyncSheets, SummaryCountsWithoutASingularAndTellsFailures) {
    EXPECT_EQ(SyncCompleteSheet::Summary(1, 0, 0, 0),
              "1 items uploaded, 0 items downloaded, 0 items deleted");
    EXPECT_EQ(SyncCompleteSheet::Summary(3, 2, 1, 2),
              "3 items uploaded, 2 items downloaded, 1 items deleted\n"
              "2 items failed and were not synchronized");

    auto* sheet = MakeNibWindow<SyncCompleteSheet>(SysNib(), "SyncCompleteSheet", 4, 5, 6, 0);
    ASSERT_NE(sheet, nullptr);
    std::string shown;
    Testing::Later([&] {
        shown = Control(sheet, 'STAT')->GetText();
        Testing::ClickControl(sheet->GetSysWindow(), 'okok');
    });
    EXPECT_EQ(sheet->DoModal(nullptr), 'ok  ');
    EXPECT_EQ(shown, "4 items uploaded, 5 items downloaded, 6 items deleted");
    delete sheet;
}
