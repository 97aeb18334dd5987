// The application shell: window state values, the sheet alert's flag words,
// the choosers, and the application object's commands and documents.
#include "app/BasicApp.h"
#include "app/FileSelect.h"
#include "app/ModalSheetAlert.h"
#include "app/NibWindow.h"
#include "app/WindowState.h"
#include "platform/core/EventLoop.h"
#include "platform/core/Preferences.h"
#include "platform/ui/Application.h"
#include "platform/ui/testing/Testing.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

using namespace PPx;
using testsupport::TempDir;

namespace {

TempDir& ConfigDir() {
    static TempDir dir;
    return dir;
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", ConfigDir().path().c_str(), 1);
        UIApplication::EnsureForTests();
        window = MakeNibWindow<NibWindow>(SysNib(), "TestWindow");
        ASSERT_NE(window, nullptr);
        window->Show();
    }
    void TearDown() override {
        // The application object takes the windows with it when it goes.
        auto all = Window::AllWindows();
        if (std::find(all.begin(), all.end(), window) != all.end())
            delete window;
        Testing::ProcessEvents();
    }
    NibWindow* window = nullptr;
};

// Runs the alert with FLAGS, answering it with ACTION once it shows.
struct AlertRun {
    OSStatus status = 0;
    uint32_t result = 'none';
    Testing::AlertInfo info;
};

AlertRun RunAlert(Window* parent, uint32_t flags, std::function<void()> action) {
    AlertRun run;
    Testing::Later([&run, action] {
        run.info = Testing::CurrentAlert();
        action();
    });
    ModalSheetAlert alert;
    run.status = alert.DoModal(parent, "Question?", run.result, flags, "More words.");
    return run;
}

} // namespace

TEST(WindowStateValue, BytesAreBigEndianTopLeftBottomRight) {
    EXPECT_EQ(EncodeWindowState(Rect{44, 20, 444, 520}),
              (std::vector<uint8_t>{0x00, 0x2C, 0x00, 0x14, 0x01, 0xBC, 0x02, 0x08}));
    Rect r;
    EXPECT_TRUE(DecodeWindowState({0xFF, 0xF6, 0x00, 0x14, 0x01, 0xBC, 0x02, 0x08}, r));
    EXPECT_EQ(r, (Rect{-10, 20, 444, 520}));
    EXPECT_FALSE(DecodeWindowState({0, 1, 2, 3, 4, 5}, r));
}

TEST_F(ShellTest, WindowStateIsSavedAndLoaded) {
    window->SetContentBounds(Rect{44, 20, 444, 520});
    SaveWindowState(*window, "TestWindowState");
    auto value = CopyAppValue("TestWindowState");
    ASSERT_TRUE(value && value->AsData());
    EXPECT_EQ(*value->AsData(), EncodeWindowState(window->GetContentBounds()));

    // A six-byte value is ignored; the window stays where it is.
    SetAppValue("ShortState", PropertyList::Data({0, 10, 0, 10, 0, 100}));
    window->SetContentBounds(Rect{100, 100, 300, 400});
    Rect before = window->GetContentBounds();
    LoadWindowState(*window, "ShortState");
    EXPECT_EQ(window->GetContentBounds(), before);

    // A stored place off every screen comes back on screen.
    SetAppValue("OffScreen",
                PropertyList::Data(EncodeWindowState(Rect{-5000, -5000, -4800, -4700})));
    LoadWindowState(*window, "OffScreen");
    Rect on = window->GetContentBounds();
    EXPECT_GT(on.top, -1000);
    EXPECT_GT(on.left, -1000);

    // Only the size, for windows that keep their place.
    Rect saved;
    ASSERT_TRUE(DecodeWindowState(*value->AsData(), saved));
    window->SetContentBounds(Rect{50, 60, 150, 160});
    LoadWindowState(*window, "TestWindowState", true);
    EXPECT_EQ(window->GetContentBounds(),
              (Rect{50, 60, static_cast<int16_t>(50 + saved.bottom - saved.top),
                    static_cast<int16_t>(60 + saved.right - saved.left)}));
}

TEST_F(ShellTest, UnreadableWindowSettingsAreKeptAndReported) {
    TempDir dir;
    testsupport::writeFile(dir.file("Zarvel.plist"), "<plist>broken");
    PreferenceStore store(dir.file("Zarvel.plist"));
    Testing::AlertInfo shown;
    Testing::Later([&] {
        shown = Testing::CurrentAlert();
        Testing::ClickAlertButton("OK");
    });
    EXPECT_TRUE(ReportUnreadableAppValues(store));
    EXPECT_EQ(shown.message, "Error reading saved window settings");
    EXPECT_NE(shown.explanation.find(dir.file("Zarvel.plist.corrupt")), std::string::npos);
    EXPECT_EQ(testsupport::readFile(dir.file("Zarvel.plist.corrupt")), "<plist>broken");

    PreferenceStore fine(dir.file("Other.plist"));
    EXPECT_FALSE(ReportUnreadableAppValues(fine));
}

TEST_F(ShellTest, CursorRule) {
    auto* edit = NibEditUnicodeText::CreatePPxView(window->GetSysWindow(), 'EDIT', 100);
    auto* button = NibPushButton::CreatePPxView(window->GetSysWindow(), 'BTN1', 100);
    ThemeCursor cursor;
    EXPECT_EQ(StandardCursorRule(edit, cursor), noErr);
    EXPECT_EQ(cursor, ThemeCursor::IBeam);
    edit->Disable();
    EXPECT_EQ(StandardCursorRule(edit, cursor), noErr);
    EXPECT_EQ(cursor, ThemeCursor::Arrow);
    EXPECT_EQ(StandardCursorRule(button, cursor), noErr);
    EXPECT_EQ(cursor, ThemeCursor::Arrow);
    EXPECT_EQ(StandardCursorRule(nullptr, cursor), eventNotHandledErr);
}

TEST_F(ShellTest, AlertFlagWordsGiveTheirButtons) {
    AlertRun yesNo = RunAlert(window, 0x24C0, [] { Testing::ClickAlertButton("Yes"); });
    EXPECT_EQ(yesNo.status, noErr);
    EXPECT_EQ(yesNo.result, 'Yes ');
    EXPECT_EQ(yesNo.info.buttons, (std::vector<std::string>{"Yes", "No"}));
    EXPECT_EQ(yesNo.info.defaultButton, "No");
    EXPECT_EQ(yesNo.info.message, "Question?");
    EXPECT_EQ(yesNo.info.explanation, "More words.");
    EXPECT_TRUE(yesNo.info.sheet);
    EXPECT_EQ(RunAlert(window, 0x24C0, [] { Testing::ClickAlertButton("No"); }).result, 'No  ');

    AlertRun three = RunAlert(window, 0x14E0, [] { Testing::PressEscapeOnAlert(); });
    EXPECT_EQ(three.info.buttons, (std::vector<std::string>{"Yes", "No", "Cancel"}));
    EXPECT_EQ(three.info.defaultButton, "No");
    EXPECT_EQ(three.info.escapeButton, "Cancel");
    EXPECT_EQ(three.result, 'not!');

    AlertRun okCancel = RunAlert(window, 0x130, [] { Testing::ClickAlertButton("OK"); });
    EXPECT_EQ(okCancel.result, 'ok  ');
    EXPECT_EQ(okCancel.info.defaultButton, "OK");
    AlertRun ok = RunAlert(window, 0x10, [] { Testing::ClickAlertButton("OK"); });
    EXPECT_EQ(ok.info.buttons, (std::vector<std::string>{"OK"}));

    // No such button set: nothing is shown and the result stays.
    uint32_t result = 'keep';
    ModalSheetAlert alert;
    EXPECT_EQ(alert.DoModal(window, "x", result, 0x50), paramErr);
    EXPECT_EQ(result, 'keep');
    EXPECT_FALSE(Testing::CurrentAlert().shown);
}

TEST_F(ShellTest, AlertClosedByTheWindowManagerAnswersLikeCancel) {
    auto close = [] { Testing::CloseAlertByWindowManager(); };
    EXPECT_EQ(RunAlert(window, 0x130, close).result, 'not!');
    EXPECT_EQ(RunAlert(window, 0x14E0, close).result, 'not!');
    EXPECT_EQ(RunAlert(window, 0x1C0, close).result, 'No  ');
    EXPECT_EQ(RunAlert(window, 0x10, close).result, 'ok  ');
}

TEST_F(ShellTest, EscapeGivesEveryAlertItsCancelLikeAnswer) {
    auto escape = [] { Testing::PressEscapeOnAlert(); };
    // Also without the Escape bit: no alert ignores Escape.
    EXPECT_EQ(RunAlert(window, 0x4E0, escape).result, 'not!');
    EXPECT_EQ(RunAlert(window, 0x24C0, escape).result, 'No  ');
    EXPECT_EQ(RunAlert(window, 0x130, escape).result, 'not!');
    EXPECT_EQ(RunAlert(window, 0x10, escape).result, 'ok  ');
}

TEST_F(ShellTest, ChoosersHandBackPaths) {
    TempDir dir;
    testsupport::writeFile(dir.file("a.txt"), "a");
    testsupport::writeFile(dir.file("b.txt"), "b");
    ::mkdir(dir.file("folder").c_str(), 0755);

    FileSelect select;
    Testing::Later([&] { Testing::ChooseInChooser({dir.file("folder")}); });
    select.ChooseFolder(window, nullptr, nullptr); // returns once chosen
    std::vector<std::string> list;
    select.GetFileList(list);
    EXPECT_TRUE(select.IsValid());
    EXPECT_EQ(list, std::vector<std::string>{dir.file("folder")});

    // Window-modal: the answer comes through the callback.
    struct Seen {
        int calls = 0;
        std::vector<std::string> list;
    } seen;
    auto callback = [](FileSelect* s, void* data) {
        auto* seen = static_cast<Seen*>(data);
        ++seen->calls;
        s->GetFileList(seen->list);
    };
    select.ChooseObject(window, callback, &seen);
    EXPECT_TRUE(RunEventLoopUntil([] { return Testing::ChooserShown(); }, std::chrono::seconds(5)));
    Testing::ChooseInChooser({dir.file("a.txt"), dir.file("b.txt"), dir.file("folder")});
    EXPECT_TRUE(RunEventLoopUntil([&] { return seen.calls == 1; }, std::chrono::seconds(5)));
    EXPECT_EQ(seen.list.size(), 3u);

    select.ChooseObject(window, callback, &seen);
    EXPECT_TRUE(RunEventLoopUntil([] { return Testing::ChooserShown(); }, std::chrono::seconds(5)));
    Testing::CancelChooser();
    EXPECT_TRUE(RunEventLoopUntil([&] { return seen.calls == 2; }, std::chrono::seconds(5)));
    EXPECT_FALSE(select.IsValid());
    EXPECT_TRUE(seen.list.empty());
}

TEST_F(ShellTest, ApplicationCommandsAndStatus) {
    {
        BasicApp app;
        EXPECT_EQ(BasicApp::mApp.load(), &app);
        // Commands of windows that do not exist yet do nothing, handled.
        for (uint32_t command : {'pref', 'abou', 'CNBK', 'SYBK', 'new '})
            EXPECT_EQ(window->ProcessCommand(command), noErr);
        CommandStatus status;
        EXPECT_EQ(window->UpdateStatus('quit', status), noErr);
        EXPECT_TRUE(status.enabled);
        EXPECT_EQ(window->UpdateStatus('clos', status), noErr);
        EXPECT_TRUE(status.enabled); // the test window is in front
        EXPECT_EQ(window->ProcessCommand('zzzz'), eventNotHandledErr);

        // 'clos' asks the front window to close; it goes once the loop runs.
        NibWindow* other = MakeNibWindow<NibWindow>(SysNib(), "TestWindow");
        other->Show();
        EXPECT_EQ(Window::FrontWindow(), other);
        EXPECT_EQ(window->ProcessCommand('clos'), noErr);
        Testing::ProcessEvents();
        EXPECT_EQ(Window::FrontWindow(), window);

        // Before the preferences window exists readers keep their record.
        sPreferences prefs;
        prefs.noopSecs = 5;
        app.GetPreferences(prefs);
        EXPECT_EQ(prefs.noopSecs, 5);
        EXPECT_EQ(app.GetConnectWindow(), nullptr);
        EXPECT_EQ(app.GetSyncWindow(), nullptr);
    }
    EXPECT_EQ(BasicApp::mApp.load(), nullptr);
    window = nullptr; // went with the application object
    window = MakeNibWindow<NibWindow>(SysNib(), "TestWindow");
    window->Hide();
    {
        CommandStatus status;
        BasicApp app;
        EXPECT_EQ(window->UpdateStatus('clos', status), noErr);
        EXPECT_FALSE(status.enabled); // no window open
    }
    window = nullptr;
}

TEST_F(ShellTest, QuitEndsTheLoopAndDocumentsGoByKind) {
    struct Recorder : BasicApp {
        std::vector<std::string> opened;
        void OpenBookmark(const std::string& path) override { opened.push_back("BOOK " + path); }
        void OpenSyncBookmark(const std::string& path) override {
            opened.push_back("SYNC " + path);
        }
    };
    EXPECT_EQ(BasicApp::OpenDocuments({"x"}), paramErr); // no application yet
    TempDir dir;
    for (const char* name : {"one.zarvel", "two.sync.zarvel", "notes.txt", "three.zarvel"})
        testsupport::writeFile(dir.file(name), "x");
    Recorder app;
    EXPECT_EQ(BasicApp::OpenDocuments({dir.file("one.zarvel"), dir.file("notes.txt"),
                                       dir.file("two.sync.zarvel"), dir.file("three.zarvel")}),
              noErr);
    EXPECT_EQ(app.opened, (std::vector<std::string>{"BOOK " + dir.file("one.zarvel"),
                                                    "SYNC " + dir.file("two.sync.zarvel"),
                                                    "BOOK " + dir.file("three.zarvel")}));
    EXPECT_EQ(BasicApp::OpenDocuments({dir.file("missing.zarvel")}), fnfErr);
    EXPECT_EQ(BasicApp::OpenDocuments({}), noErr);

    PostEvent(ApplicationTarget().Ref(), MakeCommandEvent('quit'));
    EXPECT_EQ(RunApplicationLoop(), 0); // returns: 'quit' ended it

    EXPECT_TRUE(SystemVersionSupported(GetSystemVersion()));
    SetSystemVersionForTesting(0x1038);
    EXPECT_FALSE(SystemVersionSupported(GetSystemVersion()));
    SetSystemVersionForTesting(0);
    EXPECT_TRUE(SystemVersionSupported(0x1039));
}
