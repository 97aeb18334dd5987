// The preferences window on the offscreen platform: controls to and from the
// record, OK and Cancel, refused numbers, the sound pop-ups and the picker.
#include "app/PreferencesWindow.h"
#include "platform/core/Events.h"
#include "platform/ui/Application.h"
#include "platform/ui/testing/Testing.h"
#include "tests/app/prefs_fakes.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace PPx;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

class PrefsWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        UIApplication::EnsureForTests();
        for (const char* name : {"b-sound.oga", "a-sound.oga", "c-sound.wav"})
            writeFile(sounds.file(name), "x");
        for (const char* name : {"a-sound.oga", "mine.wav", "bad.wav"})
            writeFile(other.file(name), "x");
        prfU = ApplicationTarget().InstallCommandHandler('prfU', [this](Event&) {
            // The file is already written when the news arrives.
            prfUSaw.push_back(Saved());
            return eventNotHandledErr;
        });
    }
    void TearDown() override {
        delete window;
        Testing::ProcessEvents();
    }
    void Make(const std::string& soundsFolder) {
        window = MakeNibWindow<PreferencesWindow>(
            SysNib(), "PreferencesWindow", std::make_unique<SoundTools>(player, soundsFolder),
            prefsFolder.path());
        ASSERT_NE(window, nullptr);
        window->Show();
    }
    View* Control(uint32_t signature) {
        return View::FromWidget(FindControl(window->GetSysWindow(), signature));
    }
    std::string Shown(uint32_t popupSignature) {
        auto* popup = dynamic_cast<PopupButton*>(Control(popupSignature));
        return popup->GetItemText(popup->GetValue());
    }
    sPreferences Saved() {
        PreferencesMaster master(prefsFolder.path());
        sPreferences prefs;
        master.GetPreferences(prefs);
        return prefs;
    }
    bool FileSaved() const {
        return ::access(prefsFolder.file("Zarvel Preferences").c_str(), F_OK) == 0;
    }
    // As the user would: a box's check box toggles, an item is chosen.
    void Click(uint32_t signature) {
        if (auto* box = dynamic_cast<CheckBoxGroupBox*>(Control(signature))) {
            box->SetValue(!box->GetValue());
            box->SimulateClick();
        } else {
            Testing::ClickControl(window->GetSysWindow(), signature);
        }
    }
    void Choose(uint32_t signature, const std::string& text) {
        auto* popup = dynamic_cast<PopupButton*>(Control(signature));
        for (int32_t i = 1; i <= popup->GetMaxValue(); ++i)
            if (popup->GetItemText(i) == text) {
                popup->SetValue(i);
                popup->SimulateClick();
                return;
            }
        ADD_FAILURE() << "no item " << text;
    }
    // Presses OK; an alert that comes up is read and dismissed.
    Testing::AlertInfo PressOK() {
        Testing::AlertInfo alert;
        Testing::Later([&alert] {
            alert = Testing::CurrentAlert();
            Testing::ClickAlertButton("OK");
        });
        Click('okok');
        Testing::ProcessEvents();
        return alert;
    }

    TempDir sounds, other, prefsFolder;
    std::shared_ptr<FakePlayer> player = std::make_shared<FakePlayer>();
    PreferencesWindow* window = nullptr;
    EventHandler prfU;
    std::vector<sPreferences> prfUSaw;
};

} // namespace

TEST_F(PrefsWindowTest, EveryControlPopulatesAndGathersBack) {
    Make(sounds.path());
    sPreferences record;
    record.loaded = true;
    record.playDownloadSound = true;
    record.downloadSound = sounds.file("b-sound.oga");
    record.playUploadSound = true;
    record.uploadSound = other.file("mine.wav");
    record.redialSound = sounds.file("c-sound.wav"); // kept while its sound is off
    record.uploadMode = kExistingResume;
    record.downloadMode = kExistingReplace;
    record.ftpTimeoutSecs = 30;
    record.noopSecs = -1;
    record.redialSecs = 0;
    window->PopulateWindow(record);
    EXPECT_EQ(Shown('DNSN'), "B sound");
    EXPECT_EQ(Shown('UPSN'), "Other...");
    EXPECT_FALSE(Control('RDSN')->IsEnabled());
    EXPECT_EQ(Control('UPRG')->GetValue(), 3);
    EXPECT_EQ(Control('DNRG')->GetValue(), 4);
    EXPECT_EQ(Control('FTPS')->GetText(), "30");
    EXPECT_FALSE(Control('NOPS')->IsEnabled());
    EXPECT_EQ(Control('REDS')->GetText(), "0");
    sPreferences gathered;
    ASSERT_TRUE(window->GatherPreferences(gathered));
    EXPECT_EQ(gathered, record);

    // Each option box edits its own flag.
    const std::pair<uint32_t, int> boxes[] = {{'MMTL', 0}, {'MAHB', 1}, {'MAHS', 2}, {'MRBW', 3},
                                              {'MRSW', 4}, {'MRBS', 7}, {'MNSL', 5}, {'MDCT', 6}};
    for (auto [signature, flag] : boxes) {
        record = sPreferences();
        record.loaded = true;
        std::fill(std::begin(record.misc), std::end(record.misc), false);
        record.misc[flag] = true;
        window->PopulateWindow(record);
        for (auto [box, boxFlag] : boxes)
            EXPECT_EQ(Control(box)->GetValue(), box == signature) << CodeToString(box);
        ASSERT_TRUE(window->GatherPreferences(gathered));
        EXPECT_EQ(gathered, record) << CodeToString(signature);
    }
    // A policy the readers take for "ask" shows as "ask".
    record.uploadMode = 7;
    window->PopulateWindow(record);
    EXPECT_EQ(Control('UPRG')->GetValue(), 1);
}

TEST_F(PrefsWindowTest, OKSavesThenPostsPrfU) {
    Make(sounds.path());
    Click('FTPT');
    Control('FTPS')->SetText(" 45 ");
    Control('NOPS')->SetText("abc"); // not checked while keep-alive is off
    Click('NOPT');
    Click('MNSL');
    Click('DNPL'); // takes the first system sound
    Click('UPPL');
    Click('UPPL'); // on and off again: nothing stored
    EXPECT_FALSE(PressOK().shown);
    EXPECT_FALSE(window->IsVisible());
    ASSERT_EQ(prfUSaw.size(), 1u);
    sPreferences saved = prfUSaw[0];
    EXPECT_EQ(saved.ftpTimeoutSecs, 45);
    EXPECT_EQ(saved.noopSecs, -1);
    EXPECT_TRUE(saved.misc[kMiscListHiddenFiles]);
    EXPECT_TRUE(saved.playDownloadSound);
    EXPECT_EQ(saved.downloadSound, sounds.file("a-sound.oga"));
    EXPECT_EQ(saved.uploadSound, "");
    sPreferences master;
    window->GetPreferences(master);
    EXPECT_EQ(master.ftpTimeoutSecs, 45); // readers see it at once
}

TEST_F(PrefsWindowTest, BadNumbersAreRefusedNamingTheField) {
    Make(sounds.path());
    const std::tuple<uint32_t, std::string, std::string> cases[] = {
        {'FTPS', "abc", "FTP time-out"},
        {'FTPS', "0", "FTP time-out"},
        {'FTPS', "", "FTP time-out"},
        {'NOPS', "-5", "keep-alive interval"},
        {'NOPS', "99999999", "keep-alive interval"},
        {'REDS', "-1", "redial delay"},
        {'REDS', "4294967296", "redial delay"},
    };
    for (const auto& [field, text, name] : cases) {
        sPreferences record;
        record.ftpTimeoutSecs = 30;
        window->PopulateWindow(record);
        Control('TABC')->SetValue(4);
        Control(field)->SetText(text);
        Testing::AlertInfo alert = PressOK();
        EXPECT_NE(alert.message.find(name), std::string::npos) << text << ": " << alert.message;
        EXPECT_TRUE(window->IsVisible());
        EXPECT_EQ(Control('TABC')->GetValue(), 1); // the field shows, to be mended
    }
    EXPECT_TRUE(prfUSaw.empty());
    EXPECT_FALSE(FileSaved());
}

TEST_F(PrefsWindowTest, CancelAndTheCloseBoxDiscardTheEdits) {
    Make(sounds.path());
    for (bool closeBox : {false, true}) {
        Control('REDS')->SetText("99");
        Click('MMTL');
        Click('UPPL');
        if (closeBox)
            window->Close();
        else
            Click('cncl');
        Testing::ProcessEvents();
        EXPECT_FALSE(window->IsVisible());
        window->Select();
        EXPECT_EQ(Control('REDS')->GetText(), "60");
        EXPECT_EQ(Control('MMTL')->GetValue(), 1);
        EXPECT_EQ(Control('UPPL')->GetValue(), 0);
        EXPECT_EQ(window->GetEditPreferences().uploadSound, "");
    }
    EXPECT_TRUE(prfUSaw.empty());
    EXPECT_FALSE(FileSaved());
}

TEST_F(PrefsWindowTest, PopupsPreviewAndOtherPicksOrKeepsTheSound) {
    Make(sounds.path());
    Click('DNPL');
    Choose('DNSN', "B sound");
    EXPECT_EQ(player->opened.back(), sounds.file("b-sound.oga"));
    player->clock->now = 4000; // a three-second preview
    window->GetSoundTools().DoTimer();
    EXPECT_FALSE(window->GetSoundTools().IsPlaying());

    Testing::Later([] { Testing::CancelChooser(); });
    Choose('DNSN', "Other...");
    EXPECT_EQ(window->GetEditPreferences().downloadSound, sounds.file("b-sound.oga"));
    EXPECT_EQ(Shown('DNSN'), "B sound");

    // A file named like a system sound shows that item; the path is the pick.
    Testing::Later([this] { Testing::ChooseInChooser({other.file("a-sound.oga")}); });
    Choose('DNSN', "Other...");
    EXPECT_EQ(window->GetEditPreferences().downloadSound, other.file("a-sound.oga"));
    EXPECT_EQ(Shown('DNSN'), "A sound");
    EXPECT_EQ(player->opened.back(), other.file("a-sound.oga"));

    // An unplayable pick is refused and the previous one stays.
    Testing::Later([this] {
        Testing::Later([] { Testing::ClickAlertButton("OK"); });
        Testing::ChooseInChooser({other.file("bad.wav")});
    });
    Choose('DNSN', "Other...");
    PressOK();
    EXPECT_EQ(Saved().downloadSound, other.file("a-sound.oga"));
}

TEST_F(PrefsWindowTest, EmptySoundsFolderDisablesTheSixSoundControls) {
    TempDir empty;
    Make(empty.path());
    sPreferences record;
    record.playDownloadSound = true;
    record.downloadSound = other.file("mine.wav");
    window->PopulateWindow(record);
    for (uint32_t signature : {'DNPL', 'DNSN', 'UPPL', 'UPSN', 'RDPL', 'RDSN'})
        EXPECT_FALSE(Control(signature)->IsEnabled()) << CodeToString(signature);
    sPreferences gathered;
    ASSERT_TRUE(window->GatherPreferences(gathered));
    EXPECT_EQ(gathered.downloadSound, record.downloadSound); // kept as loaded
}

TEST_F(PrefsWindowTest, TextFieldsGetTheIBeamWhileEnabled) {
    Make(sounds.path());
    ThemeCursor cursor = ThemeCursor::Arrow;
    EXPECT_EQ(window->DoWindowCursorChange(Control('REDS'), cursor), noErr);
    EXPECT_EQ(cursor, ThemeCursor::IBeam);
    window->DoWindowCursorChange(Control('FTPS'), cursor); // time-out off
    EXPECT_EQ(cursor, ThemeCursor::Arrow);
    EXPECT_EQ(window->DoWindowCursorChange(nullptr, cursor), eventNotHandledErr);
}
