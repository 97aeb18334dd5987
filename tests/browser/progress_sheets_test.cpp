// The transfer and redial sheets with a clock the tests move: figures,
// texts, rates, the countdown and the answers.
#include "browser/sheets/RedialSheet.h"
#include "browser/sheets/TransferSheet.h"
#include "tests/browser/sheets_testing.h"

#include <chrono>
#include <memory>
#include <set>
#include <thread>
#include <vector>

using namespace sheetstest;
using PPx::Testing::ClickControl;
using PPx::Testing::Later;

namespace {

TEST(TransferTexts, Sizes) {
    const std::pair<unsigned long long, const char*> cases[] = {
        {0, "0 bytes"},       {1023, "1023 bytes"},
        {1024, "1 KB"},       {1025, "1 KB"},
        {1536, "1.50 KB"},    {1048575, "1023.99 KB"},
        {1048576, "1 MB"},    {(1ull << 30) - 1, "1023.99 MB"},
        {1ull << 30, "1 GB"}, {~0ull, "17179869183.99 GB"},
    };
    for (auto [bytes, text] : cases)
        EXPECT_EQ(TransferSheet::GetSizeForFile(bytes), text) << bytes;
}

TEST(TransferTexts, Times) {
    const std::pair<unsigned long long, const char*> cases[] = {
        {0, "0 secs"},          {5, "5 secs"},          {59, "59 secs"},    {60, "1 min 0 secs"},
        {65, "1 min 5 secs"},   {125, "2 mins 5 secs"}, {3600, "1h 0m 0s"}, {3725, "1h 2m 5s"},
        {86400, "1d 0h 0m 0s"}, {90061, "1d 1h 1m 1s"},
    };
    for (auto [seconds, text] : cases)
        EXPECT_EQ(TransferSheet::CreateTimeString(seconds), text) << seconds;
}

struct Recorder : PPx::CommandProcessDoer {
    std::vector<uint32_t> seen;
    PPx::OSStatus DoCommandProcess(uint32_t command) override {
        seen.push_back(command);
        return PPx::noErr;
    }
};

class TransferSheetTest : public SheetTest {
protected:
    void Open(int files, unsigned long long total) {
        Close();
        mSheet = TransferSheet::Make(files, total);
        ASSERT_NE(mSheet, nullptr);
        mSheet->Remove(); // the test drives the timer itself
        mSheet->Show(mOwner);
    }
    void Close() {
        if (mSheet) {
            mSheet->Hide();
            delete mSheet;
            mSheet = nullptr;
        }
    }
    void TearDown() override {
        Close();
        SheetTest::TearDown();
    }
    std::string T(uint32_t signature) { return Text(mSheet, signature); }
    int32_t Bar(uint32_t signature) { return Control(mSheet, signature)->GetValue(); }
    bool Busy(uint32_t signature) { return Control(mSheet, signature)->GetMaxValue() == 0; }

    TransferSheet* mSheet = nullptr;
};

TEST_F(TransferSheetTest, SetUpShowsTotalAndCalculating) {
    Open(3, 3 * 1536);
    EXPECT_EQ(T('AFTS'), "4.50 KB");
    for (uint32_t s : {'CFSP', 'CFEP', 'CFRT', 'AFSP', 'AFEP', 'AFRT'})
        EXPECT_EQ(T(s), kCalculatingText);
    EXPECT_TRUE(Busy('CFPR'));
    EXPECT_TRUE(Busy('AFPR'));
    // Before the first file nothing of the timing moves.
    Advance(5);
    mSheet->DoTimer();
    EXPECT_EQ(T('AFEP'), kCalculatingText);
}

TEST_F(TransferSheetTest, ResumedFileAndCounter) {
    Open(3, 3000);
    mSheet->StartTransfer({"one.bin", 1000, 400});
    EXPECT_EQ(T('STAT'), "Transfer in progress...");
    EXPECT_EQ(T('NAME'), "one.bin");
    EXPECT_EQ(Bar('CFPR'), 40);
    EXPECT_EQ(T('CFTS'), "1000 bytes");
    EXPECT_EQ(T('CFTR'), "0 bytes");
    EXPECT_EQ(T('CFRM'), "1000 bytes");
    EXPECT_EQ(T('AFFC'), "0/3");
    EXPECT_EQ(Bar('AFPR'), 0);
    EXPECT_EQ(T('AFRM'), "2.92 KB");
    mSheet->UpdateTransfer({"one.bin", 100, 0});
    EXPECT_EQ(Bar('CFPR'), 50);
    EXPECT_EQ(T('CFTR'), "500 bytes");
    EXPECT_EQ(T('CFRM'), "500 bytes");
    mSheet->EndTransfer({"one.bin", 1000, 0});
    EXPECT_TRUE(Busy('CFPR'));
    EXPECT_EQ(T('AFFC'), "1/3");
    EXPECT_EQ(Bar('AFPR'), 33);
    EXPECT_EQ(T('AFTR'), "1000 bytes");
    EXPECT_EQ(T('AFRM'), "1.95 KB");
    for (const char* name : {"two", "three"}) {
        mSheet->StartTransfer({name, 1000, 0});
        mSheet->EndTransfer({name, 1000, 0});
    }
    EXPECT_EQ(T('AFFC'), "3/3");
    EXPECT_EQ(Bar('AFPR'), 100);
    EXPECT_EQ(T('AFRM'), "0 bytes");
}

TEST_F(TransferSheetTest, RatesAndTimesFollowTheClock) {
    Open(2, 200000);
    mSheet->StartTransfer({"big", 100000, 0});
    mSheet->UpdateTransfer({"big", 500, 0});
    Advance(0.5); // within the first second nothing changes
    mSheet->DoTimer();
    EXPECT_EQ(T('CFEP'), kCalculatingText);
    EXPECT_EQ(T('CFSP'), kCalculatingText);
    Advance(0.5);
    mSheet->UpdateTransfer({"big", 1000, 0});
    mSheet->DoTimer();
    EXPECT_EQ(T('CFEP'), "1 secs");
    EXPECT_EQ(T('CFSP'), "1000 bytes/sec");
    EXPECT_EQ(T('CFRT'), "1 min 39 secs");
    EXPECT_EQ(T('AFEP'), "1 secs");
    EXPECT_EQ(T('AFSP'), kCalculatingText); // no file ended yet
    Advance(1);
    mSheet->UpdateTransfer({"big", 6000, 0});
    mSheet->DoTimer();
    EXPECT_EQ(T('CFSP'), "1.95 KB/sec"); // (1000 + 3000) / 2
    EXPECT_EQ(T('CFRT'), "47 secs");     // 94000 / 2000

    mSheet->EndTransfer({"big", 100000, 0});
    Advance(2);
    mSheet->DoTimer(); // between files only the batch moves
    EXPECT_EQ(T('CFEP'), "2 secs");
    EXPECT_EQ(T('AFEP'), "4 secs");
    EXPECT_EQ(T('AFSP'), "24.41 KB/sec"); // 100000 / 4
    EXPECT_EQ(T('AFRT'), "4 secs");       // 100000 / 25000
}

TEST_F(TransferSheetTest, NoDivisionByZeroNorWrapAround) {
    Open(3, 0);
    // Nothing moved in a whole second: no time left can be told.
    mSheet->StartTransfer({"slow", 1000, 0});
    Advance(1);
    mSheet->DoTimer();
    EXPECT_EQ(T('CFSP'), "0 bytes/sec");
    EXPECT_EQ(T('CFRT'), kCalculatingText);
    // A file that grows past its listed size.
    mSheet->UpdateTransfer({"slow", 1500, 0});
    EXPECT_EQ(Bar('CFPR'), 100);
    EXPECT_EQ(T('CFRM'), "0 bytes");
    EXPECT_EQ(T('CFTR'), "1.46 KB");
    Advance(1);
    mSheet->DoTimer();
    EXPECT_EQ(T('CFRT'), "0 secs");
    mSheet->EndTransfer({"slow", 1500, 0});
    EXPECT_EQ(T('AFRM'), "0 bytes"); // the batch of zero bytes
    // A resume offset beyond the size, and a file of size zero.
    mSheet->StartTransfer({"odd", 1000, 5000});
    EXPECT_EQ(Bar('CFPR'), 100);
    EXPECT_EQ(T('CFRM'), "1000 bytes");
    mSheet->UpdateTransfer({"odd", 10, 0});
    EXPECT_EQ(T('CFRM'), "0 bytes");
    mSheet->EndTransfer({"odd", 1000, 0});
    mSheet->StartTransfer({"empty", 0, 0});
    mSheet->UpdateTransfer({"empty", -7, 0}); // nonsense counts as nothing
    EXPECT_EQ(T('CFTR'), "0 bytes");
    Advance(1);
    mSheet->DoTimer();
    EXPECT_EQ(T('AFFC'), "2/3");
    // More arrived than the batch announced: never over 100.
    Open(1, 100);
    mSheet->StartTransfer({"x", 500, 0});
    mSheet->EndTransfer({"x", 500, 0});
    EXPECT_EQ(Bar('AFPR'), 100);
    EXPECT_EQ(T('AFRM'), "0 bytes");
}

TEST_F(TransferSheetTest, FastBatchShowsFewStatesAndItsEndAtOnce) {
    Open(1000, 1000 * 4096);
    std::set<std::string> counters;
    auto file = [&](int i) {
        const std::string name = "f" + std::to_string(i);
        mSheet->StartTransfer({name, 4096, 0});
        mSheet->UpdateTransfer({name, 4096, 0});
        mSheet->EndTransfer({name, 4096, 0});
        counters.insert(T('AFFC'));
    };
    // 500 files in half a second.
    for (int i = 0; i < 500; ++i) {
        file(i);
        if (i % 100 == 99)
            Advance(0.1);
    }
    EXPECT_LE(counters.size(), 40u); // not one count per file
    // What waits is shown within a tenth of a second by itself.
    for (int i = 0; i < 100 && T('AFFC') != "500/1000"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        PPx::Testing::ProcessEvents();
    }
    EXPECT_EQ(T('AFFC'), "500/1000");
    EXPECT_EQ(T('NAME'), "f499");
    EXPECT_TRUE(Busy('CFPR'));
    EXPECT_EQ(Bar('AFPR'), 50);
    EXPECT_EQ(T('AFTR'), "1.95 MB");
    // The rest at a standing clock: the last file's end is shown at once.
    for (int i = 500; i < 1000; ++i)
        file(i);
    EXPECT_LE(counters.size(), 50u);
    EXPECT_EQ(T('AFFC'), "1000/1000");
    EXPECT_EQ(T('NAME'), "f999");
    EXPECT_EQ(Bar('AFPR'), 100);
    EXPECT_EQ(T('AFTR'), "3.90 MB");
    EXPECT_EQ(T('AFRM'), "0 bytes");
    EXPECT_EQ(T('CFTR'), "4 KB");
    EXPECT_TRUE(Busy('CFPR'));
}

TEST_F(TransferSheetTest, TheTimerShowsWhatWaited) {
    Open(100, 100 * 1000);
    for (int i = 0; i < 20; ++i) {
        mSheet->StartTransfer({"f" + std::to_string(i), 1000, 0});
        mSheet->EndTransfer({"f" + std::to_string(i), 1000, 0});
    }
    mSheet->StartTransfer({"last", 1000, 0});
    mSheet->UpdateTransfer({"last", 250, 0});
    mSheet->DoTimer();
    EXPECT_EQ(T('AFFC'), "20/100");
    EXPECT_EQ(T('NAME'), "last");
    EXPECT_EQ(Bar('CFPR'), 25);
    EXPECT_EQ(T('CFTR'), "250 bytes");
    EXPECT_EQ(Bar('AFPR'), 20);
}

TEST_F(TransferSheetTest, CancelPostsAbortOnceAndWaitTurnsItIntoClose) {
    Recorder recorder;
    mOwner->AddCommandHandler(&recorder);
    Open(1, 10);
    mSheet->StartTransfer({"f", 10, 0});
    EXPECT_TRUE(Enabled(mSheet, 'cncl'));
    ClickControl(mSheet->GetSysWindow(), 'cncl');
    EXPECT_FALSE(Enabled(mSheet, 'cncl'));
    mSheet->ProcessCommand('not!'); // Escape after the click
    PPx::Testing::ProcessEvents();
    EXPECT_EQ(recorder.seen, std::vector<uint32_t>{'ABRT'});
    EXPECT_TRUE(mSheet->IsVisible()); // the owner closes it

    mSheet->EndTransfer({"f", 10, 0});
    bool checked = false;
    Later([&] {
        EXPECT_EQ(T('STAT'), "Transfer Complete!");
        EXPECT_EQ(Control(mSheet, 'cncl')->GetText(), "Close");
        EXPECT_TRUE(Enabled(mSheet, 'cncl'));
        checked = true;
        ClickControl(mSheet->GetSysWindow(), 'cncl');
    });
    mSheet->Wait();
    EXPECT_TRUE(checked);
    PPx::Testing::ProcessEvents();
    EXPECT_EQ(recorder.seen, std::vector<uint32_t>{'ABRT'}); // Close aborts nothing
    mOwner->RemoveHandlers(&recorder);
}

class RedialSheetTest : public SheetTest {
protected:
    template <class Action> uint32_t Run(RedialSheet* sheet, Action action) {
        Later([sheet, action] {
            sheet->Remove(); // the test drives the timer itself
            action(sheet);
        });
        return sheet->DoModal(mOwner);
    }
};

TEST_F(RedialSheetTest, CountsDownAndRedialsByItself) {
    std::unique_ptr<RedialSheet> sheet(RedialSheet::Make("Could not connect"));
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(Text(sheet.get(), 'TEXT'), "Could not connect");
    EXPECT_EQ(Control(sheet.get(), 'SECS')->GetText(), "60"); // no preferences: the default
    std::vector<std::string> shown;
    uint32_t result = Run(sheet.get(), [&shown](RedialSheet* s) {
        shown.push_back(Text(s, 'STAT'));
        for (double step : {1.0, 0.5, 57.5}) {
            Advance(step);
            s->DoTimer();
            shown.push_back(Text(s, 'STAT'));
        }
        EXPECT_EQ(PPx::AppModalDepth(), 1);
        Advance(1);
        s->DoTimer();
    });
    EXPECT_EQ(result, 'ok  ');
    EXPECT_EQ(shown, (std::vector<std::string>{"Retrying in 60 secs", "Retrying in 59 secs",
                                               "Retrying in 59 secs", "Retrying in 1 secs"}));
    EXPECT_EQ(Text(sheet.get(), 'STAT'), "Retrying in 0 secs");
}

TEST_F(RedialSheetTest, ApplyRestartsTheCount) {
    std::unique_ptr<RedialSheet> sheet(RedialSheet::Make("Server closed connection"));
    uint32_t result = Run(sheet.get(), [](RedialSheet* s) {
        Advance(20);
        s->DoTimer();
        EXPECT_EQ(Text(s, 'STAT'), "Retrying in 40 secs");
        Control(s, 'SECS')->SetText("5");
        ClickControl(s->GetSysWindow(), 'APLY');
        s->DoTimer();
        EXPECT_EQ(Text(s, 'STAT'), "Retrying in 5 secs");
        Advance(4);
        s->DoTimer();
        EXPECT_EQ(PPx::AppModalDepth(), 1);
        Advance(1);
        s->DoTimer();
    });
    EXPECT_EQ(result, 'ok  ');
    EXPECT_EQ(sheet->GetDelaySecs(), 5);
}

TEST_F(RedialSheetTest, NeverRedialsWithinTheFirstSecond) {
    // A stored delay of 0, a negative one and a typed non-number would
    // otherwise redial at once, again and again.
    for (int32_t delay : {0, -5}) {
        std::unique_ptr<RedialSheet> sheet(
            PPx::MakeNibWindow<RedialSheet>(PPx::SysNib(), "RedialSheet", "failed", delay));
        uint32_t result = Run(sheet.get(), [](RedialSheet* s) {
            s->DoTimer();
            Advance(0.5);
            s->DoTimer();
            EXPECT_EQ(PPx::AppModalDepth(), 1);
            Advance(0.5);
            s->DoTimer();
        });
        EXPECT_EQ(result, 'ok  ') << delay;
        EXPECT_EQ(Text(sheet.get(), 'STAT'), delay < 0 ? "" : "Retrying in 0 secs");
    }
    std::unique_ptr<RedialSheet> typed(RedialSheet::Make("failed"));
    uint32_t result = Run(typed.get(), [](RedialSheet* s) {
        Control(s, 'SECS')->SetText("soon");
        ClickControl(s->GetSysWindow(), 'APLY');
        s->DoTimer();
        EXPECT_EQ(PPx::AppModalDepth(), 1);
        Advance(1);
        s->DoTimer();
    });
    EXPECT_EQ(result, 'ok  ');
    EXPECT_EQ(typed->GetDelaySecs(), 0);
}

TEST_F(RedialSheetTest, OkAndCancel) {
    std::unique_ptr<RedialSheet> sheet(RedialSheet::Make("failed"));
    EXPECT_EQ(Run(sheet.get(), [](RedialSheet* s) { ClickControl(s->GetSysWindow(), 'okok'); }),
              'ok  ');
    std::unique_ptr<RedialSheet> other(RedialSheet::Make("failed"));
    EXPECT_EQ(Run(other.get(), [](RedialSheet* s) { ClickControl(s->GetSysWindow(), 'cncl'); }),
              'not!');
}

} // namespace
