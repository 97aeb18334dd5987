// The operation sheets over real widgets: what they show, which buttons
// are on, what each button answers.
#include "browser/sheets/OperationSheets.h"
#include "platform/ui/testing/Testing.h"
#include "tests/browser/sheets_testing.h"

#include <memory>

using namespace sheetstest;
using PPx::Testing::ClickControl;
using PPx::Testing::Later;

namespace {

using OperationSheets = SheetTest;

// Runs SHEET on the owner, doing ACTION inside its modal loop.
template <class Sheet, class Action>
uint32_t RunWith(Sheet* sheet, PPx::Window* owner, Action action) {
    Later([sheet, action] { action(sheet); });
    return sheet->DoModal(owner);
}

TEST_F(OperationSheets, ActionSheetAnswersTheTextOrCancels) {
    std::unique_ptr<ActionSheet> sheet(
        ActionSheet::Make("Enter the new name for this item:", "old.txt"));
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(Text(sheet.get(), 'expl'), "Enter the new name for this item:");
    EXPECT_EQ(Control(sheet.get(), 'edit')->GetText(), "old.txt");

    // Unchanged, OK gives the initial text back.
    uint32_t result = RunWith(sheet.get(), mOwner,
                              [](ActionSheet* s) { ClickControl(s->GetSysWindow(), 'okok'); });
    EXPECT_EQ(result, 'ok  ');
    std::string text;
    sheet->GetData(text);
    EXPECT_EQ(text, "old.txt");

    // Typed and then cancelled: the answer is Cancel, the text stays.
    std::unique_ptr<ActionSheet> second(ActionSheet::Make("Enter the path you want to go to:", ""));
    result = RunWith(second.get(), mOwner, [](ActionSheet* s) {
        Control(s, 'edit')->SetText("/srv/ftp");
        ClickControl(s->GetSysWindow(), 'cncl');
    });
    EXPECT_EQ(result, 'not!');

    std::unique_ptr<ActionSheet> third(ActionSheet::Make("Enter the name of the new folder:", ""));
    result = RunWith(third.get(), mOwner, [](ActionSheet* s) {
        Control(s, 'edit')->SetText("Fotos 2024 ünï");
        ClickControl(s->GetSysWindow(), 'okok');
    });
    EXPECT_EQ(result, 'ok  ');
    third->GetData(text);
    EXPECT_EQ(text, "Fotos 2024 ünï");
}

TEST_F(OperationSheets, ActionSheetRefusesLineBreaksAndNul) {
    EXPECT_TRUE(IsSendableName("a b.txt"));
    EXPECT_FALSE(IsSendableName("a\r\nDELE x"));
    EXPECT_FALSE(IsSendableName("a\nb"));
    EXPECT_FALSE(IsSendableName(std::string("a\0b", 3)));

    // A server name holding CR LF comes back as the initial text of a
    // rename: OK must not hand it on; the user is told and may fix it.
    std::unique_ptr<ActionSheet> sheet(
        ActionSheet::Make("Enter the new name for this item:", "x\r\nRMD /"));
    ASSERT_NE(sheet, nullptr);
    PPx::Testing::AlertInfo alert;
    uint32_t result = RunWith(sheet.get(), mOwner, [&alert](ActionSheet* s) {
        Later([&alert, s] {
            alert = PPx::Testing::CurrentAlert();
            PPx::Testing::ClickAlertButton("OK");
            Later([s] {
                EXPECT_EQ(PPx::AppModalDepth(), 1); // still up
                Control(s, 'edit')->SetText("x");
                ClickControl(s->GetSysWindow(), 'okok');
            });
        });
        ClickControl(s->GetSysWindow(), 'okok');
    });
    EXPECT_TRUE(alert.shown);
    EXPECT_EQ(alert.message, kInvalidNameMessage);
    EXPECT_EQ(result, 'ok  ');
    std::string text;
    sheet->GetData(text);
    EXPECT_EQ(text, "x");
}

TEST_F(OperationSheets, CollisionSheetChoices) {
    struct Case {
        uint32_t button;
        int choice;
    };
    for (Case c : {Case{'REPL', 0}, Case{'RESU', 1}, Case{'SKIP', 2}, Case{'REPA', 3},
                   Case{'RESA', 4}, Case{'SKIA', 5}}) {
        std::unique_ptr<CollisionSheet> sheet(CollisionSheet::Make("report.pdf", true));
        ASSERT_NE(sheet, nullptr);
        EXPECT_EQ(Text(sheet.get(), 'TEXT'), "report.pdf");
        uint32_t result = RunWith(sheet.get(), mOwner, [c](CollisionSheet* s) {
            ClickControl(s->GetSysWindow(), c.button);
        });
        EXPECT_EQ(result, 'ok  ');
        EXPECT_EQ(sheet->GetData(), c.choice);
    }
}

TEST_F(OperationSheets, CollisionSheetWithoutResumeAndEscapeSkips) {
    std::unique_ptr<CollisionSheet> sheet(CollisionSheet::Make("movie.mkv", false));
    ASSERT_NE(sheet, nullptr);
    EXPECT_FALSE(Enabled(sheet.get(), 'RESU'));
    EXPECT_FALSE(Enabled(sheet.get(), 'RESA'));
    for (uint32_t button : {'REPL', 'SKIP', 'REPA', 'SKIA'})
        EXPECT_TRUE(Enabled(sheet.get(), button));
    uint32_t result = RunWith(sheet.get(), mOwner, [](CollisionSheet* s) {
        // A resume command sent some other way does not end it...
        s->ProcessCommand('RESA');
        EXPECT_EQ(PPx::AppModalDepth(), 1);
        // ...Escape does, with the answer that changes nothing.
        PPx::Testing::PressKeys(s->GetSysWindow(), "Escape");
    });
    EXPECT_EQ(result, 'ok  ');
    EXPECT_EQ(sheet->GetData(), CollisionSheet::kSkip);
}

TEST_F(OperationSheets, DeleteConfirmSheetQuestionAndAnswers) {
    EXPECT_EQ(DeleteConfirmSheet::Question(1), "Are you sure you want to delete 1 item?");
    EXPECT_EQ(DeleteConfirmSheet::Question(3), "Are you sure you want to delete 3 items?");
    std::unique_ptr<DeleteConfirmSheet> sheet(DeleteConfirmSheet::Make(3));
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(Text(sheet.get(), 'TEXT'), "Are you sure you want to delete 3 items?");
    EXPECT_EQ(RunWith(sheet.get(), mOwner,
                      [](DeleteConfirmSheet* s) { ClickControl(s->GetSysWindow(), 'okok'); }),
              'ok  ');
    std::unique_ptr<DeleteConfirmSheet> other(DeleteConfirmSheet::Make(1));
    EXPECT_EQ(RunWith(other.get(), mOwner,
                      [](DeleteConfirmSheet* s) { ClickControl(s->GetSysWindow(), 'cncl'); }),
              'not!');
}

TEST_F(OperationSheets, DeleteSheetBarCountsFinishedItems) {
    DeleteSheet* sheet = DeleteSheet::Make(3);
    ASSERT_NE(sheet, nullptr);
    sheet->Show(mOwner);
    auto* bar = Control(sheet, 'PROG');
    EXPECT_EQ(bar->GetMaxValue(), 0); // busy until the first item
    std::vector<int32_t> values;
    for (const char* name : {"a.txt", "b.txt", "sub"}) {
        sheet->SetDeleteStatus(name);
        EXPECT_EQ(Text(sheet, 'ITEM'), std::string("Item name: ") + name);
        EXPECT_EQ(bar->GetMaxValue(), 3);
        values.push_back(bar->GetValue());
    }
    EXPECT_EQ(values, (std::vector<int32_t>{0, 1, 2}));
    // A report beyond the count keeps the bar in range.
    sheet->SetDeleteStatus("extra");
    EXPECT_EQ(bar->GetValue(), 3);
    sheet->Hide();
    sheet->Close();
    PPx::Testing::ProcessEvents();
}

TEST_F(OperationSheets, PermissionsFromTextAndBack) {
    struct Case {
        const char* text;
        int boxes;
        const char* answer;
    };
    for (Case c :
         {Case{"rwxr-xr-x", 7, "755"}, Case{"rw-r--r--", 4, "644"}, Case{"---r-xr-x", 4, "55"},
          Case{"rw-", 2, "600"}, Case{"", 0, "0"}, Case{"RWXrwx---", 6, "770"},
          // Special bits: lower case with execute, upper case without.
          Case{"rwsr-xr-x", 7, "4755"}, Case{"rwSr--r--", 4, "4644"}, Case{"rwxr-sr-x", 7, "2755"},
          Case{"rwxrwxrwt", 9, "1777"}, Case{"rwxrwxrwT", 8, "1776"},
          Case{"rwsrwsrwt", 9, "7777"}}) {
        std::unique_ptr<PermissionsSheet> sheet(PermissionsSheet::Make(c.text));
        ASSERT_NE(sheet, nullptr);
        int set = 0;
        for (uint32_t box :
             {'owrd', 'owwr', 'owes', 'grrd', 'grwr', 'gres', 'otrd', 'otwr', 'otes'})
            set += Control(sheet.get(), box)->GetValue();
        EXPECT_EQ(set, c.boxes) << c.text;
        // OK on untouched boxes keeps the mode the text shows.
        uint32_t result = RunWith(sheet.get(), mOwner, [](PermissionsSheet* s) {
            ClickControl(s->GetSysWindow(), 'okok');
        });
        EXPECT_EQ(result, 'ok  ');
        std::string answer;
        sheet->GetData(answer);
        EXPECT_EQ(answer, c.answer) << c.text;
    }
}

TEST_F(OperationSheets, PermissionsEditedOrCancelled) {
    std::unique_ptr<PermissionsSheet> sheet(PermissionsSheet::Make("rwsr-xr-x"));
    uint32_t result = RunWith(sheet.get(), mOwner, [](PermissionsSheet* s) {
        ClickControl(s->GetSysWindow(), 'otrd'); // others lose read
        ClickControl(s->GetSysWindow(), 'owes'); // owner loses execute
        ClickControl(s->GetSysWindow(), 'okok');
    });
    EXPECT_EQ(result, 'ok  ');
    std::string answer;
    sheet->GetData(answer);
    EXPECT_EQ(answer, "4651");

    std::unique_ptr<PermissionsSheet> cancelled(PermissionsSheet::Make("rwxr-xr-x"));
    result = RunWith(cancelled.get(), mOwner, [](PermissionsSheet* s) {
        ClickControl(s->GetSysWindow(), 'owrd');
        ClickControl(s->GetSysWindow(), 'cncl');
    });
    EXPECT_EQ(result, 'not!');
    cancelled->GetData(answer);
    EXPECT_EQ(answer, "rwxr-xr-x");
}

} // namespace
