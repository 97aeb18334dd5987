// Nib windows, controls, sheets and the command path on the offscreen platform.
#include "platform/core/EventLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Views.h"
#include "platform/ui/Window.h"
#include "platform/ui/testing/Testing.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include <string>
#include <thread>
#include <vector>

using namespace PPx;

namespace {

class UITest : public ::testing::Test {
protected:
    void SetUp() override { UIApplication::EnsureForTests(); }
    void TearDown() override { Testing::ProcessEvents(); }
};

std::vector<std::string>& Log() {
    static std::vector<std::string> log;
    return log;
}

int gDestroyed = 0;

class TestWindow : public NibWindow, public CommandProcessDoer, public CommandUpdateStatusDoer {
public:
    ~TestWindow() override { ++gDestroyed; }
    void FinishInit() override {
        SysWindow w = GetSysWindow();
        mOk = NibPushButton::CreatePPxView(w, 'okok', 100);
        mOne = NibPushButton::CreatePPxView(w, 'BTN1', 100);
        mUnknown = NibPushButton::CreatePPxView(w, 'UNKN', 100);
        mClose = NibPushButton::CreatePPxView(w, 'CLOS', 100);
        mTabs = NibTabView::CreatePPxView(w, 'TABC', 100);
        mCheck = NibCheckBox::CreatePPxView(w, 'CHK1', 100);
        mRadio = NibRadioGroup::CreatePPxView(w, 'RADG', 100);
        mPopup = NibPopupButton::CreatePPxView(w, 'POPU', 100);
        mOne->AddCommandHandler(this);
        mClose->AddCommandHandler(this);
        AddCommandHandler(this);
        AddStatusHandler(this);
        if (mMissing)
            NibPushButton::CreatePPxView(w, 'NONE', 100);
    }
    OSStatus DoCommandProcess(uint32_t command) override {
        switch (command) {
        case 'BTN1':
            Log().push_back("window BTN1");
            return noErr;
        case 'CLOS':
            // Close inside a callback, then keep using the window.
            Close();
            Testing::ProcessEvents();
            Log().push_back(gDestroyed ? "gone inside" : "alive inside");
            return noErr;
        default:
            return eventNotHandledErr;
        }
    }
    OSStatus DoCommandUpdateStatus(uint32_t command, CommandStatus& status) override {
        if (command != 'BTN1')
            return eventNotHandledErr;
        status.enabled = true;
        return noErr;
    }
    bool mMissing = false;
    NibPushButton* mOk = nullptr;
    NibPushButton* mOne = nullptr;
    NibPushButton* mUnknown = nullptr;
    NibPushButton* mClose = nullptr;
    NibTabView* mTabs = nullptr;
    NibCheckBox* mCheck = nullptr;
    NibRadioGroup* mRadio = nullptr;
    NibPopupButton* mPopup = nullptr;
};

// A window of the kind the Window menu lists.
class ListedWindow : public TestWindow {
public:
    bool IsListedInWindowMenu() const override { return true; }
};

// A window of its own, without a menu bar.
class BareWindow : public TestWindow {
public:
    bool HasMenuBar() const override { return false; }
};

class MissingWindow : public TestWindow {
public:
    MissingWindow() { mMissing = true; }
};

// A sheet that gives back the text of its 'NAME' field on OK.
class NameSheet : public NibSheetWindow, public CommandProcessDoer {
public:
    void FinishInit() override {
        mName = NibEditUnicodeText::CreatePPxView(GetSysWindow(), 'NAME', 100);
        NibPushButton::CreatePPxView(GetSysWindow(), 'okok', 100);
        NibPushButton::CreatePPxView(GetSysWindow(), 'cncl', 100);
        AddCommandHandler(this);
    }
    OSStatus DoCommandProcess(uint32_t command) override {
        if (command != 'ok  ' && command != 'not!')
            return eventNotHandledErr;
        mResult = command;
        QuitAppModalLoopForWindow(this);
        return noErr;
    }
    uint32_t DoModal(Window* parent) {
        Show(parent);
        RunAppModalLoopForWindow(this);
        Hide();
        return mResult;
    }
    std::string GetData() const { return mName->GetText(); }
    NibEditUnicodeText* mName = nullptr;
    uint32_t mResult = 'not!';
};

} // namespace

TEST_F(UITest, ControlsAreFoundBySignatureAndAMissingOneUndoesTheWindow) {
    SysNib nib;
    gDestroyed = 0;
    int before = QApplication::topLevelWidgets().size();
    try {
        MakeNibWindow<MissingWindow>(nib, "TestWindow");
        FAIL() << "no error";
    } catch (const OSError& e) {
        EXPECT_STREQ(e.what(), "GetControlByID failed");
    }
    EXPECT_EQ(gDestroyed, 1);
    Testing::ProcessEvents();
    EXPECT_LE(QApplication::topLevelWidgets().size(), before + 0);

    EXPECT_EQ(nib.CreateWindow("NoSuchWindow"), nullptr);
    auto* window = MakeNibWindow<TestWindow>(nib, "TestWindow");
    ASSERT_NE(window, nullptr);
    // A control of the wrong kind or id is no control either.
    EXPECT_THROW(NibCheckBox::CreatePPxView(window->GetSysWindow(), 'EDIT', 100), OSError);
    EXPECT_THROW(NibPushButton::CreatePPxView(window->GetSysWindow(), 'STAT', 101), OSError);
    delete window;
}

TEST_F(UITest, TabViewHasThreePanesAndValuesCountFromOne) {
    SysNib nib;
    auto* window = MakeNibWindow<TestWindow>(nib, "TestWindow");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->mTabs->GetPanelCount(), 3);
    EXPECT_EQ(window->mTabs->GetPanel(2).GetSignature(), 'SNDS');
    EXPECT_EQ(window->mTabs->GetPanel(3).widget, nullptr);
    EXPECT_EQ(window->mTabs->GetPanel(-1).widget, nullptr);
    window->mTabs->SetValue(3);
    EXPECT_EQ(window->mTabs->GetValue(), 3);

    EXPECT_EQ(window->mRadio->GetMaxValue(), 3);
    window->mRadio->SetValue(2);
    EXPECT_EQ(window->mRadio->GetValue(), 2);
    window->mCheck->SetValue(1);
    EXPECT_EQ(window->mCheck->GetValue(), 1);

    window->mPopup->AppendItem("a.aiff", 0);
    window->mPopup->AppendItem("b.aiff", 1);
    window->mPopup->AppendSeparator();
    window->mPopup->AppendItem("Other...", 'othr');
    EXPECT_EQ(window->mPopup->GetMaxValue(), 4);
    EXPECT_EQ(window->mPopup->GetItemCommand(4), 'othr');
    EXPECT_EQ(window->mPopup->GetItemText(2), "b.aiff");
    EXPECT_EQ(window->mPopup->GetItemCommand(5), 0u);
    delete window;
}

TEST_F(UITest, CommandsTravelControlWindowApplication) {
    SysNib nib;
    auto* window = MakeNibWindow<TestWindow>(nib, "TestWindow");
    ASSERT_NE(window, nullptr);
    Log().clear();
    std::vector<uint32_t> atApp;
    EventHandler appOk = ApplicationTarget().InstallCommandHandler('ok  ', [&](Event& e) {
        atApp.push_back(e.Command());
        return noErr;
    });
    // 'BTN1' is answered by the window's doer, installed on the control.
    EXPECT_TRUE(Testing::ClickControl(window->GetSysWindow(), 'BTN1'));
    EXPECT_EQ(Log(), std::vector<std::string>{"window BTN1"});
    // 'ok  ' is not the window's: it reaches the application.
    EXPECT_TRUE(Testing::ClickControl(window->GetSysWindow(), 'okok'));
    EXPECT_EQ(atApp, std::vector<uint32_t>{'ok  '});
    // Nobody knows 'zzzz'.
    EXPECT_EQ(window->mUnknown->ProcessCommand('zzzz'), eventNotHandledErr);
    // A throwing handler counts as handled.
    struct Thrower : CommandProcessDoer {
        OSStatus DoCommandProcess(uint32_t) override { throw std::runtime_error("x"); }
    } thrower;
    window->AddCommandHandler(&thrower);
    EXPECT_EQ(window->ProcessCommand('zzzz'), noErr);
    window->RemoveHandlers(&thrower);
    EXPECT_EQ(window->ProcessCommand('zzzz'), eventNotHandledErr);
    delete window;
}

TEST_F(UITest, MenuItemsFollowCommandStatusAndSendToTheWindow) {
    SysNib nib;
    auto* window = MakeNibWindow<TestWindow>(nib, "TestWindow");
    ASSERT_NE(window, nullptr);
    auto* main = qobject_cast<QMainWindow*>(window->GetSysWindow());
    ASSERT_NE(main, nullptr);
    QMenu* file = main->menuBar()->findChild<QMenu*>("menuFile");
    ASSERT_NE(file, nullptr);
    EventHandler status =
        ApplicationTarget().InstallHandler(kEventClassCommandStatus, 'new ', [](Event& e) {
            e.SetInteger(kEventParamEnabled, 1);
            return noErr;
        });
    emit file->aboutToShow();
    auto actions = file->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_TRUE(actions[0]->isEnabled());  // 'new ': the application enables it
    EXPECT_FALSE(actions[1]->isEnabled()); // 'clos': nobody answers
    EXPECT_TRUE(actions[2]->isEnabled());  // 'BTN1': the window enables it
    Log().clear();
    actions[2]->trigger(); // 'BTN1' starts at the window
    EXPECT_EQ(Log(), std::vector<std::string>{"window BTN1"});
    delete window;
}

TEST_F(UITest, CloseInsideACallbackTakesEffectAfterIt) {
    SysNib nib;
    gDestroyed = 0;
    auto* window = MakeNibWindow<TestWindow>(nib, "TestWindow");
    ASSERT_NE(window, nullptr);
    window->Show();
    Log().clear();
    Testing::ClickControl(window->GetSysWindow(), 'CLOS');
    EXPECT_EQ(Log(), std::vector<std::string>{"alive inside"});
    EXPECT_EQ(gDestroyed, 0);
    EXPECT_TRUE(RunEventLoopUntil([] { return gDestroyed == 1; }, std::chrono::seconds(5)));
}

TEST_F(UITest, CloseWaitsForASheetOfTheWindow) {
    SysNib nib;
    gDestroyed = 0;
    auto* window = MakeNibWindow<TestWindow>(nib, "TestWindow");
    ASSERT_NE(window, nullptr);
    window->Show();
    auto* sheet = MakeNibWindow<NameSheet>(nib, "TestSheet");
    ASSERT_NE(sheet, nullptr);
    bool closedDuringSheet = false;
    Testing::Later([&] {
        window->Close(); // e.g. the window manager's close box while the sheet is up
        Testing::ProcessEvents();
        closedDuringSheet = gDestroyed != 0;
        Testing::ClickControl(sheet->GetSysWindow(), 'cncl');
    });
    EXPECT_EQ(sheet->DoModal(window), 'not!');
    EXPECT_FALSE(closedDuringSheet);
    delete sheet;
    EXPECT_TRUE(RunEventLoopUntil([] { return gDestroyed == 1; }, std::chrono::seconds(5)));
}

TEST_F(UITest, SheetReturnsOkWithItsDataOrCancel) {
    SysNib nib;
    auto* window = MakeNibWindow<TestWindow>(nib, "TestWindow");
    ASSERT_NE(window, nullptr);
    window->Show();

    auto* sheet = MakeNibWindow<NameSheet>(nib, "TestSheet");
    ASSERT_NE(sheet, nullptr);
    Testing::Later([&] {
        EXPECT_TRUE(sheet->IsVisible());
        sheet->mName->SetText("host.example");
        Testing::ClickControl(sheet->GetSysWindow(), 'okok');
    });
    EXPECT_EQ(sheet->DoModal(window), 'ok  ');
    EXPECT_EQ(sheet->GetData(), "host.example");
    EXPECT_FALSE(sheet->IsVisible());
    sheet->Close();
    Testing::ProcessEvents();

    auto* second = MakeNibWindow<NameSheet>(nib, "TestSheet");
    Testing::Later([&] { Testing::ClickControl(second->GetSysWindow(), 'cncl'); });
    EXPECT_EQ(second->DoModal(window), 'not!');
    delete second;

    // The window manager's close of a sheet is its Cancel; the sheet stays
    // for its caller to close.
    auto* third = MakeNibWindow<NameSheet>(nib, "TestSheet");
    Testing::Later([&] { third->GetSysWindow()->close(); });
    EXPECT_EQ(third->DoModal(window), 'not!');
    delete third;
    delete window;
}

TEST_F(UITest, SheetOutlivesItsParentAndQuitBeforeRunEndsAtOnce) {
    SysNib nib;
    auto* window = MakeNibWindow<TestWindow>(nib, "TestWindow");
    window->Show();
    auto* sheet = MakeNibWindow<NameSheet>(nib, "TestSheet");
    Testing::Later([&] { Testing::ClickControl(sheet->GetSysWindow(), 'okok'); });
    EXPECT_EQ(sheet->DoModal(window), 'ok  ');
    delete window; // the sheet's caller has not closed it yet
    EXPECT_EQ(sheet->GetData(), "");
    // A sheet that answers before its loop runs does not hang.
    sheet->DoCommandProcess('not!');
    EXPECT_EQ(RunAppModalLoopForWindow(sheet), noErr);
    delete sheet;
}

TEST_F(UITest, PostedCommandsTakeTheWholePath) {
    SysNib nib;
    auto* window = MakeNibWindow<TestWindow>(nib, "TestWindow");
    Log().clear();
    std::thread([ref = window->mOne->Ref()] { PostCommand(ref, 'BTN1'); }).join();
    EXPECT_TRUE(Log().empty()); // not before the event loop runs
    EXPECT_TRUE(RunEventLoopUntil([] { return !Log().empty(); }, std::chrono::seconds(5)));
    EXPECT_EQ(Log(), std::vector<std::string>{"window BTN1"});
    // Posted to a window that is gone: dropped.
    EventTargetRef gone = window->Ref();
    delete window;
    PostCommand(gone, 'BTN1');
    Testing::ProcessEvents();
    EXPECT_EQ(Log().size(), 1u);
}

TEST_F(UITest, CloseWaitsForAnApplicationModalAlertOverACallback) {
    SysNib nib;
    gDestroyed = 0;
    auto* window = MakeNibWindow<TestWindow>(nib, "TestWindow");
    window->Show();
    bool goneDuringAlert = true;
    // A callback of the window (not one of its handlers) shows an alert of
    // its own; meanwhile the window is asked to close.
    Testing::Later([&] {
        window->Close();
        Testing::ProcessEvents();
        goneDuringAlert = gDestroyed != 0;
        Testing::ClickAlertButton("OK");
    });
    StandardAlert(kAlertStopAlert, "Connection Lost", "");
    EXPECT_FALSE(goneDuringAlert);
    EXPECT_TRUE(RunEventLoopUntil([] { return gDestroyed == 1; }, std::chrono::seconds(5)));
}

TEST_F(UITest, ASheetAnsweredUnderALaterLoopGoesAtOnceAndAnswersOnce) {
    SysNib nib;
    auto* a = MakeNibWindow<TestWindow>(nib, "TestWindow");
    auto* b = MakeNibWindow<TestWindow>(nib, "TestWindow");
    a->Show();
    b->Show();
    auto* first = MakeNibWindow<NameSheet>(nib, "TestSheet");
    auto* later = MakeNibWindow<NameSheet>(nib, "TestSheet");
    bool hiddenAtOnce = false;
    uint32_t laterAnswer = 0;
    // While FIRST's loop runs, a sheet of another window starts its own loop
    // above it; FIRST is answered (four quick Returns) before LATER is.
    Testing::Later([&] {
        Testing::Later([&] {
            for (int i = 0; i < 4; ++i)
                Testing::ClickControl(first->GetSysWindow(), 'okok');
            hiddenAtOnce = !first->IsVisible();
            Testing::ClickControl(later->GetSysWindow(), 'cncl');
        });
        laterAnswer = later->DoModal(b);
    });
    EXPECT_EQ(first->DoModal(a), 'ok  ');
    EXPECT_TRUE(hiddenAtOnce);
    EXPECT_EQ(laterAnswer, 'not!');
    EXPECT_EQ(AppModalDepth(), 0);
    // The Returns after the first were dropped, not kept for its next run,
    // which waits for an answer of its own.
    first->mResult = 'not!';
    bool asked = false;
    Testing::Later([&] {
        asked = first->IsVisible();
        Testing::ClickControl(first->GetSysWindow(), 'cncl');
    });
    EXPECT_EQ(first->DoModal(a), 'not!');
    EXPECT_TRUE(asked);
    delete first;
    delete later;
    delete a;
    delete b;
}

TEST_F(UITest, WindowMenuListsWindowsAndMenuLessWindowsKeepTheKeys) {
    SysNib nib;
    auto* one = MakeNibWindow<ListedWindow>(nib, "TestWindow");
    auto* two = MakeNibWindow<ListedWindow>(nib, "TestWindow");
    auto* plain = MakeNibWindow<TestWindow>(nib, "TestWindow");
    one->SetTitle("files.example.org");
    two->SetTitle("files.example.org");
    plain->SetTitle("files.example.org"); // not listed: never numbered, never counted
    EXPECT_EQ(one->GetTitle(), "files.example.org");
    EXPECT_EQ(two->GetTitle(), "files.example.org (2)");
    EXPECT_EQ(plain->GetTitle(), "files.example.org");
    for (Window* w : std::vector<Window*>{plain, one, two})
        w->Show();

    QMenu* menu =
        qobject_cast<QMainWindow*>(one->GetSysWindow())->menuBar()->findChild<QMenu*>("menuWindow");
    ASSERT_NE(menu, nullptr);
    auto listed = [&] {
        emit menu->aboutToShow();
        std::vector<std::pair<std::string, bool>> items;
        for (QAction* action : menu->actions())
            if (!action->isSeparator())
                items.emplace_back(action->text().toStdString(), action->isChecked());
        return items;
    };
    using Items = std::vector<std::pair<std::string, bool>>;
    EXPECT_EQ(listed(), (Items{{"files.example.org", false}, {"files.example.org (2)", true}}));
    listed();                      // made afresh each time it opens: no entry twice
    menu->actions()[1]->trigger(); // the first window comes to the front
    EXPECT_EQ(Window::FrontWindow(), one);
    EXPECT_EQ(listed(), (Items{{"files.example.org", true}, {"files.example.org (2)", false}}));

    // A window without a menu bar closes on Ctrl+W and quits on Ctrl+Q.
    int quits = 0;
    EventHandler quit = ApplicationTarget().InstallCommandHandler('quit', [&](Event&) {
        ++quits;
        return noErr;
    });
    auto* bare = MakeNibWindow<BareWindow>(nib, "TestWindow");
    bare->Show();
    EXPECT_EQ(bare->GetSysWindow()->findChild<QMenuBar*>(), nullptr);
    Testing::PressKeys(bare->GetSysWindow(), "Ctrl+Q");
    EXPECT_EQ(quits, 1);
    gDestroyed = 0;
    Testing::PressKeys(bare->GetSysWindow(), "Ctrl+W");
    EXPECT_TRUE(RunEventLoopUntil([] { return gDestroyed == 1; }, std::chrono::seconds(5)));
    delete one;
    delete two;
    delete plain;
}
