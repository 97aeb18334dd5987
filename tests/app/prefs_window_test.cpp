// The preferences window on the offscreen platform: controls to and from the
// record, OK and Cancel, refused numbers, the sound pop-ups and the picker.
#include "PreferencesWindow.h"
#include "prefs_fakes.h"

#include "platform/core/Events.h"
#include "ppxui/Application.h"
#include "ppxui/Testing.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace PPx;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

class PrefsWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        UIApplication::EnsureForTests();
        for (const char* name : {"b-sound.oga", "a-sound.oga", "c-sound.wav"})
            writeFile(sounds.file(name), "x");
        ASSERT_EQ(::mkdir(sounds.file("sub").c_str(), 0700), 0);
        writeFile(other.file("a-sound.oga"), "x");
        writeFile(other.file("mine.wav"), "x");
        writeFile(other.file("bad.wav"), "x");
        prfU = ApplicationTarget().InstallCommandHandler('prfU', [this](Event&) {
            ++prfUCount;
            // The file is already written when the news arrives.
            fileAtPrfU = Exists(PrefsFile());
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
    }
    void Make() { Make(sounds.path()); }

    View* Control(uint32_t signature) {
        return View::FromWidget(FindControl(window->GetSysWindow(), signature));
    }
    PopupButton* Popup(uint32_t signature) {
        return dynamic_cast<PopupButton*>(Control(signature));
    }
    std::string PrefsFile() const { return prefsFolder.file("Zarvel Preferences"); }
    sPreferences Saved() {
        PreferencesMaster master(prefsFolder.path());
        sPreferences prefs;
        master.GetPreferences(prefs);
        return prefs;
    }
    // Clicks a control as the user would; a box's check box toggles first.
    void Click(uint32_t signature) {
        if (auto* box = dynamic_cast<CheckBoxGroupBox*>(Control(signature))) {
            box->SetValue(!box->GetValue());
            box->SimulateClick();
            return;
        }
        Testing::ClickControl(window->GetSysWindow(), signature);
    }
    // Chooses the item with TEXT in the pop-up as the user would.
    void ChooseItem(uint32_t signature, const std::string& text) {
        PopupButton* popup = Popup(signature);
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
            if (alert.shown)
                Testing::ClickAlertButton("OK");
        });
        Testing::ClickControl(window->GetSysWindow(), 'okok');
        Testing::ProcessEvents();
        return alert;
    }

    TempDir sounds, other, prefsFolder;
    std::shared_ptr<FakePlayer> player = std::make_shared<FakePlayer>();
    PreferencesWindow* window = nullptr;
    EventHandler prfU;
    int prfUCount = 0;
    bool fileAtPrfU = false;
};

sPreferences SampleRecord(const TempDir& sounds, const TempDir& other) {
    sPreferences prefs;
    prefs.loaded = true;
    prefs.playDownloadSound = true;
    prefs.downloadSound = sounds.file("b-sound.oga");
    prefs.playUploadSound = true;
    prefs.uploadSound = other.file("mine.wav");
    prefs.playRedialSound = false;
    prefs.redialSound = sounds.file("c-sound.wav");
    prefs.uploadMode = kExistingResume;
    prefs.downloadMode = kExistingReplace;
    prefs.ftpTimeoutSecs = 30;
    prefs.noopSecs = -1;
    prefs.redialSecs = 0;
    return prefs;
}

} // namespace

TEST_F(PrefsWindowTest, StartsHiddenWithTheDefaultsAndTheFirstTab) {
    Make();
    EXPECT_FALSE(window->IsVisible());
    EXPECT_EQ(Control('TABC')->GetValue(), 1);
    sPreferences shown;
    ASSERT_TRUE(window->GatherPreferences(shown));
    sPreferences defaults;
    defaults.loaded = true;
    EXPECT_EQ(shown, defaults);
    EXPECT_EQ(Control('FTPS')->IsEnabled(), false); // no time-out by default
    EXPECT_EQ(Control('NOPS')->GetText(), "60");
}

TEST_F(PrefsWindowTest, EveryControlPopulatesAndGathersBack) {
    Make();
    sPreferences record = SampleRecord(sounds, other);
    window->PopulateWindow(record);
    EXPECT_EQ(Control('DNPL')->GetValue(), 1);
    EXPECT_EQ(Popup('DNSN')->GetItemText(Popup('DNSN')->GetValue()), "b-sound.oga");
    // A sound from elsewhere shows as "Other...".
    EXPECT_EQ(Popup('UPSN')->GetItemText(Popup('UPSN')->GetValue()), "Other...");
    EXPECT_EQ(Control('RDPL')->GetValue(), 0);
    EXPECT_FALSE(Control('RDSN')->IsEnabled());
    EXPECT_EQ(Control('UPRG')->GetValue(), 3);
    EXPECT_EQ(Control('DNRG')->GetValue(), 4);
    EXPECT_EQ(Control('FTPT')->GetValue(), 1);
    EXPECT_EQ(Control('FTPS')->GetText(), "30");
    EXPECT_EQ(Control('NOPT')->GetValue(), 0);
    EXPECT_FALSE(Control('NOPS')->IsEnabled());
    EXPECT_EQ(Control('REDS')->GetText(), "0");

    sPreferences gathered;
    ASSERT_TRUE(window->GatherPreferences(gathered));
    // The redial sound is kept while it is off, but its flag stays off.
    EXPECT_EQ(gathered, record);
}

TEST_F(PrefsWindowTest, MiscCheckBoxesMapToTheirFlags) {
    Make();
    const std::pair<uint32_t, int> boxes[] = {{'MMTL', 0}, {'MAHB', 1}, {'MAHS', 2}, {'MRBW', 3},
                                              {'MRSW', 4}, {'MRBS', 7}, {'MNSL', 5}, {'MDCT', 6}};
    for (auto [signature, flag] : boxes) {
        sPreferences record;
        record.loaded = true;
        for (bool& on : record.misc)
            on = false;
        record.misc[flag] = true;
        window->PopulateWindow(record);
        for (auto [other, otherFlag] : boxes)
            EXPECT_EQ(Control(other)->GetValue(), other == signature ? 1 : 0)
                << CodeToString(signature) << " flag " << flag;
        sPreferences gathered;
        ASSERT_TRUE(window->GatherPreferences(gathered));
        EXPECT_EQ(gathered, record) << CodeToString(signature);
    }
}

TEST_F(PrefsWindowTest, UnknownPolicyShowsAsAsk) {
    Make();
    sPreferences record;
    record.uploadMode = 7;
    window->PopulateWindow(record);
    EXPECT_EQ(Control('UPRG')->GetValue(), 1);
}

TEST_F(PrefsWindowTest, OKSavesTheFileThenPostsPrfU) {
    Make();
    window->Show();
    Click('FTPT');
    EXPECT_TRUE(Control('FTPS')->IsEnabled());
    Control('FTPS')->SetText(" 45 ");
    Control('REDS')->SetText("15");
    Click('MNSL');
    Click('DNPL');

    EXPECT_FALSE(PressOK().shown);
    EXPECT_FALSE(window->IsVisible());
    EXPECT_EQ(prfUCount, 1);
    EXPECT_TRUE(fileAtPrfU);
    sPreferences saved = Saved();
    EXPECT_EQ(saved.ftpTimeoutSecs, 45);
    EXPECT_EQ(saved.noopSecs, 60);
    EXPECT_EQ(saved.redialSecs, 15);
    EXPECT_TRUE(saved.misc[kMiscListHiddenFiles]);
    // Turning the download sound on chose the first system sound.
    EXPECT_TRUE(saved.playDownloadSound);
    EXPECT_EQ(saved.downloadSound, sounds.file("a-sound.oga"));
    // Readers see the new values at once.
    sPreferences master;
    window->GetPreferences(master);
    EXPECT_EQ(master, saved);
}

TEST_F(PrefsWindowTest, SoundTurnedOffIsNotStored) {
    Make();
    window->Show();
    Click('DNPL');
    EXPECT_EQ(window->GetEditPreferences().downloadSound, sounds.file("a-sound.oga"));
    Click('DNPL');
    PressOK();
    EXPECT_FALSE(Saved().playDownloadSound);
    EXPECT_EQ(Saved().downloadSound, "");
}

TEST_F(PrefsWindowTest, BadNumbersAreRefusedNamingTheField) {
    Make();
    struct Case {
        uint32_t box;
        uint32_t field;
        std::string text;
        std::string name;
    };
    const Case cases[] = {
        {'FTPT', 'FTPS', "abc", "FTP time-out"},
        {'FTPT', 'FTPS', "0", "FTP time-out"},
        {'FTPT', 'FTPS', "12x", "FTP time-out"},
        {'FTPT', 'FTPS', "", "FTP time-out"},
        {'NOPT', 'NOPS', "-5", "keep-alive interval"},
        {'NOPT', 'NOPS', "99999999999", "keep-alive interval"},
        {0, 'REDS', "-1", "redial delay"},
        {0, 'REDS', "4294967296", "redial delay"},
    };
    for (const Case& c : cases) {
        window->PopulateWindow(sPreferences{});
        window->Show();
        Control('TABC')->SetValue(4);
        if (c.box)
            Control(c.box)->SetValue(1);
        window->OnFTPTimeoutCheckChanged();
        window->OnNOOPCheckChanged();
        Control(c.field)->SetText(c.text);
        Testing::AlertInfo alert = PressOK();
        ASSERT_TRUE(alert.shown) << c.text;
        EXPECT_NE(alert.message.find(c.name), std::string::npos) << alert.message;
        EXPECT_TRUE(window->IsVisible());
        // The field's tab comes up so the user can mend it.
        EXPECT_EQ(Control('TABC')->GetValue(), 1);
    }
    EXPECT_EQ(prfUCount, 0);
    EXPECT_FALSE(Exists(PrefsFile()));
}

TEST_F(PrefsWindowTest, NumbersOfFieldsTurnedOffAreNotChecked) {
    Make();
    window->Show();
    Control('FTPS')->SetText("abc"); // time-out off
    EXPECT_FALSE(PressOK().shown);
    EXPECT_EQ(Saved().ftpTimeoutSecs, -1);
}

TEST_F(PrefsWindowTest, CancelDiscardsTheEdits) {
    Make();
    window->Show();
    Control('REDS')->SetText("99");
    Click('MMTL');
    Click('UPPL');
    Click('cncl');
    Testing::ProcessEvents();
    EXPECT_FALSE(window->IsVisible());
    EXPECT_EQ(prfUCount, 0);
    EXPECT_FALSE(Exists(PrefsFile()));

    window->Select();
    EXPECT_EQ(Control('REDS')->GetText(), "60");
    EXPECT_EQ(Control('MMTL')->GetValue(), 1);
    EXPECT_EQ(Control('UPPL')->GetValue(), 0);
    EXPECT_EQ(window->GetEditPreferences().uploadSound, "");
}

TEST_F(PrefsWindowTest, CloseBoxHidesAndKeepsTheWindow) {
    Make();
    window->Show();
    Control('REDS')->SetText("99");
    window->Close();
    Testing::ProcessEvents();
    auto all = Window::AllWindows();
    ASSERT_NE(std::find(all.begin(), all.end(), window), all.end());
    EXPECT_FALSE(window->IsVisible());
    EXPECT_EQ(Control('REDS')->GetText(), "60");
}

TEST_F(PrefsWindowTest, ChoosingASystemSoundPreviewsItForThreeSeconds) {
    Make();
    window->Show();
    Click('UPPL');
    ChooseItem('UPSN', "c-sound.wav");
    EXPECT_EQ(window->GetEditPreferences().uploadSound, sounds.file("c-sound.wav"));
    ASSERT_FALSE(player->opened.empty());
    EXPECT_EQ(player->opened.back(), sounds.file("c-sound.wav"));
    EXPECT_TRUE(window->GetSoundTools().IsPlaying());
    player->clock->now = 4000;
    window->GetSoundTools().DoTimer();
    EXPECT_FALSE(window->GetSoundTools().IsPlaying());
}

TEST_F(PrefsWindowTest, OtherThenCancelKeepsThePreviousSound) {
    Make();
    window->Show();
    Click('DNPL');
    ChooseItem('DNSN', "b-sound.oga");
    Testing::Later([] { Testing::CancelChooser(); });
    ChooseItem('DNSN', "Other...");
    EXPECT_EQ(window->GetEditPreferences().downloadSound, sounds.file("b-sound.oga"));
    EXPECT_EQ(Popup('DNSN')->GetItemText(Popup('DNSN')->GetValue()), "b-sound.oga");
}

TEST_F(PrefsWindowTest, OtherPicksAFileAndShowsItByName) {
    Make();
    window->Show();
    Click('RDPL');
    // A file named like a system sound shows that item; the path is the pick.
    Testing::Later([this] { Testing::ChooseInChooser({other.file("a-sound.oga")}); });
    ChooseItem('RDSN', "Other...");
    EXPECT_EQ(window->GetEditPreferences().redialSound, other.file("a-sound.oga"));
    EXPECT_EQ(Popup('RDSN')->GetItemText(Popup('RDSN')->GetValue()), "a-sound.oga");
    EXPECT_EQ(player->opened.back(), other.file("a-sound.oga"));

    // An unplayable pick is refused and the previous one stays.
    Testing::Later([this] {
        Testing::Later([] { Testing::ClickAlertButton("OK"); });
        Testing::ChooseInChooser({other.file("bad.wav")});
    });
    ChooseItem('RDSN', "Other...");
    EXPECT_EQ(window->GetEditPreferences().redialSound, other.file("a-sound.oga"));
    PressOK();
    EXPECT_EQ(Saved().redialSound, other.file("a-sound.oga"));
}

TEST_F(PrefsWindowTest, EmptySoundsFolderDisablesTheSixSoundControls) {
    TempDir empty;
    Make(empty.path());
    sPreferences record = SampleRecord(sounds, other);
    window->PopulateWindow(record);
    window->Show();
    for (uint32_t signature : {'DNPL', 'DNSN', 'UPPL', 'UPSN', 'RDPL', 'RDSN'})
        EXPECT_FALSE(Control(signature)->IsEnabled()) << CodeToString(signature);
    // The loaded sound settings stay as they were.
    sPreferences gathered;
    ASSERT_TRUE(window->GatherPreferences(gathered));
    EXPECT_EQ(gathered.downloadSound, record.downloadSound);
    EXPECT_TRUE(gathered.playDownloadSound);
}

TEST_F(PrefsWindowTest, TextFieldsGetTheIBeamWhileEnabled) {
    Make();
    ThemeCursor cursor = ThemeCursor::Arrow;
    EXPECT_EQ(window->DoWindowCursorChange(Control('REDS'), cursor), noErr);
    EXPECT_EQ(cursor, ThemeCursor::IBeam);
    EXPECT_EQ(window->DoWindowCursorChange(Control('FTPS'), cursor), noErr); // time-out off
    EXPECT_EQ(cursor, ThemeCursor::Arrow);
    EXPECT_EQ(window->DoWindowCursorChange(Control('MMTL'), cursor), noErr);
    EXPECT_EQ(cursor, ThemeCursor::Arrow);
    EXPECT_EQ(window->DoWindowCursorChange(nullptr, cursor), eventNotHandledErr);
}
