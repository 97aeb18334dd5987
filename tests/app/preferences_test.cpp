// The preferences file: its five resources byte for byte, short and missing
// resources, unreadable files, and the master copy.
#include "app/Preferences.h"
#include "platform/core/ResourceFile.h"
#include "platform/ui/Application.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <vector>

using testsupport::TempDir;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

struct Alerts {
    std::vector<std::string> messages;
    PreferencesMaster::AlertFunc func() {
        return [this](const std::string& m, const std::string&) { messages.push_back(m); };
    }
};

class PreferencesTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The master loads only on the main thread, which needs the
        // application object.
        PPx::UIApplication::EnsureForTests();
        master.SetAlert(alerts.func());
    }
    std::string FilePath() const { return dir.file(kPreferencesFileName); }
    TempDir dir;
    Alerts alerts;
    PreferencesMaster master{dir.path()};
};

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

} // namespace

TEST(PreferencesRecord, DefaultsAndResourceBytes) {
    sPreferences prefs;
    EXPECT_FALSE(prefs.loaded);
    EXPECT_EQ(prefs.uploadMode, kExistingAsk);
    EXPECT_EQ(prefs.ftpTimeoutSecs, -1);
    EXPECT_EQ(prefs.noopSecs, 60);
    EXPECT_EQ(prefs.redialSecs, 60);
    EXPECT_TRUE(prefs.misc[kMiscRememberSyncWindow]);
    EXPECT_FALSE(prefs.misc[kMiscListHiddenFiles]);

    prefs.playDownloadSound = true;
    prefs.downloadSound = "/d.wav";
    prefs.uploadSound = "/u.wav"; // play flag off: stored empty
    prefs.playRedialSound = true;
    prefs.redialSound = "/r.wav";
    prefs.uploadMode = kExistingReplace;
    prefs.downloadMode = kExistingResume;
    prefs.ftpTimeoutSecs = 30;
    prefs.noopSecs = -1;
    prefs.redialSecs = 258;
    prefs.misc[kMiscRememberBrowseWindow] = true;
    PPx::ResourceFile file;
    WritePreferencesResources(prefs, file);

    EXPECT_EQ(file.Get('snds', 0)->data, B(std::string("/d.wav\0\0", 8)));
    EXPECT_EQ(*file.Get('snds', 0)->name, "Sounds");
    EXPECT_EQ(file.Get('snds', 1)->data, B(std::string("/r.wav\0", 7)));
    EXPECT_EQ(*file.Get('snds', 1)->name, "Extra Sounds");
    EXPECT_EQ(file.Get('xfer', 0)->data, (Bytes{4, 3}));
    EXPECT_EQ(*file.Get('xfer', 0)->name, "Transfer Settings");
    EXPECT_EQ(file.Get('tout', 0)->data, (Bytes{0, 0, 0, 30, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 1, 2}));
    EXPECT_EQ(*file.Get('tout', 0)->name, "Timeouts");
    EXPECT_EQ(file.Get('misc', 0)->data, (Bytes{1, 1, 1, 1, 1, 0, 0, 1}));
    EXPECT_EQ(*file.Get('misc', 0)->name, "Misc");

    sPreferences back;
    ReadPreferencesResources(file, back);
    EXPECT_EQ(back.downloadSound, "/d.wav");
    EXPECT_TRUE(back.playDownloadSound);
    EXPECT_EQ(back.uploadSound, "");
    EXPECT_FALSE(back.playUploadSound);
    EXPECT_EQ(back.redialSecs, 258);
    EXPECT_EQ(back.noopSecs, -1);
    EXPECT_TRUE(back.misc[kMiscRememberBrowseWindow]);
}

TEST(PreferencesRecord, ShortResourcesAreReadAsFarAsTheyGo) {
    PPx::ResourceFile file;
    file.Add('misc', 0, std::string("Misc"), Bytes{0, 0, 0, 0, 0, 1});           // six bytes
    file.Add('tout', 0, std::string("Timeouts"), Bytes{0, 0, 0, 5, 0, 0, 0, 6}); // too short
    file.Add('xfer', 0, std::string("Transfer Settings"), Bytes{7, 2});
    file.Add('snds', 0, std::string("Sounds"), B(std::string("a\0\0", 3)));
    file.Add('snds', 1, std::string("Extra Sounds"), B("/no-nul")); // ends at the end
    sPreferences prefs;
    ReadPreferencesResources(file, prefs);
    for (int i = 0; i < 5; ++i)
        EXPECT_FALSE(prefs.misc[i]) << i;
    EXPECT_TRUE(prefs.misc[5]);
    EXPECT_FALSE(prefs.misc[6]);
    EXPECT_FALSE(prefs.misc[7]);
    EXPECT_EQ(prefs.ftpTimeoutSecs, -1);
    EXPECT_EQ(prefs.noopSecs, 60);
    EXPECT_EQ(prefs.uploadMode, 7); // kept as it is; readers take it as "ask"
    EXPECT_EQ(prefs.downloadMode, kExistingSkip);
    EXPECT_EQ(prefs.downloadSound, "a");
    EXPECT_TRUE(prefs.playDownloadSound);
    EXPECT_EQ(prefs.uploadSound, "");
    EXPECT_FALSE(prefs.playUploadSound);
    EXPECT_EQ(prefs.redialSound, "/no-nul");

    PPx::ResourceFile five;
    five.Add('misc', 0, std::string("Misc"), Bytes{0, 0, 0, 0, 0});
    sPreferences untouched;
    ReadPreferencesResources(five, untouched);
    EXPECT_TRUE(untouched.misc[0]); // a five-byte 'misc' is ignored whole
}

TEST_F(PreferencesTest, NoFileGivesDefaultsAndSavingCreatesIt) {
    sPreferences prefs;
    master.GetPreferences(prefs);
    EXPECT_TRUE(prefs.loaded);
    sPreferences defaults;
    defaults.loaded = true;
    EXPECT_EQ(prefs, defaults);
    EXPECT_FALSE(Exists(FilePath()));
    EXPECT_TRUE(alerts.messages.empty());

    prefs.playUploadSound = true;
    prefs.uploadSound = "/sounds/up.aiff";
    prefs.misc[kMiscListHiddenFiles] = true;
    master.SetPreferences(prefs);
    EXPECT_EQ(master.SavePreferences(), PPx::noErr);
    ASSERT_TRUE(Exists(FilePath()));
    std::string first = testsupport::readFile(FilePath());

    // Read back by a new master, and written again byte for byte the same.
    PreferencesMaster again(dir.path());
    sPreferences loaded;
    again.GetPreferences(loaded);
    EXPECT_EQ(loaded, prefs);
    EXPECT_EQ(again.SavePreferences(), PPx::noErr);
    EXPECT_EQ(testsupport::readFile(FilePath()), first);
    PPx::ResourceFile file = PPx::ResourceFile::Read(FilePath());
    EXPECT_EQ(file.Types().size(), 4u); // snds, xfer, tout, misc
}

TEST_F(PreferencesTest, OtherResourcesOfTheFileAreKept) {
    PPx::ResourceFile file;
    file.Add('XTRA', 5, std::string("Kept"), B("keep me"));
    file.Write(FilePath());
    EXPECT_EQ(master.SavePreferences(), PPx::noErr);
    PPx::ResourceFile after = PPx::ResourceFile::Read(FilePath());
    ASSERT_NE(after.Get('XTRA', 5), nullptr);
    EXPECT_EQ(after.Get('XTRA', 5)->data, B("keep me"));
    EXPECT_NE(after.Get('misc', 0), nullptr);
}

TEST_F(PreferencesTest, UnreadableFileIsKeptAsideAndTheUserTold) {
    testsupport::writeFile(FilePath(), "this is no resource file at all");
    sPreferences prefs;
    master.GetPreferences(prefs);
    EXPECT_TRUE(prefs.loaded);
    EXPECT_EQ(prefs.noopSecs, 60);
    ASSERT_EQ(alerts.messages.size(), 1u);
    EXPECT_EQ(alerts.messages[0], "Error opening preferences file");
    EXPECT_FALSE(Exists(FilePath()));
    EXPECT_EQ(master.SetAsidePath(), FilePath() + ".corrupt");
    EXPECT_EQ(testsupport::readFile(FilePath() + ".corrupt"), "this is no resource file at all");

    // The next save writes a new file beside the kept one.
    EXPECT_EQ(master.SavePreferences(), PPx::noErr);
    EXPECT_TRUE(Exists(FilePath()));
    EXPECT_EQ(testsupport::readFile(FilePath() + ".corrupt"), "this is no resource file at all");

    // A file that turns unreadable before a save is kept aside too.
    testsupport::writeFile(FilePath(), "garbage again");
    EXPECT_EQ(master.SavePreferences(), PPx::noErr);
    EXPECT_EQ(testsupport::readFile(FilePath() + ".corrupt-2"), "garbage again");
    EXPECT_NO_THROW(PPx::ResourceFile::Read(FilePath()));
    EXPECT_EQ(alerts.messages.size(), 2u);
}

TEST_F(PreferencesTest, PlayFlagsNeverStandWithoutAPath) {
    sPreferences prefs;
    prefs.playRedialSound = true;   // no path
    prefs.downloadSound = "/x.wav"; // path, flag off
    master.SetPreferences(prefs);
    master.SavePreferences();
    PreferencesMaster again(dir.path());
    sPreferences loaded;
    again.GetPreferences(loaded);
    EXPECT_FALSE(loaded.playRedialSound);
    EXPECT_FALSE(loaded.playDownloadSound);
    EXPECT_EQ(loaded.downloadSound, "");
}
