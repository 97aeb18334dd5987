// The synchronisation bookmark window and its sheet, driven as the user
// drives them (offscreen), with the application object that makes them.
#include "app/BasicApp.h"
#include "app/BookmarkForm.h"
#include "app/BookmarkStore.h"
#include "app/ConnectSheet.h"
#include "app/ConnectWindow.h"
#include "platform/core/EventLoop.h"
#include "platform/core/Preferences.h"
#include "platform/ui/Application.h"
#include "platform/ui/testing/Testing.h"
#include "sync/bookmarks/SyncBookmarkStore.h"
#include "sync/bookmarks/SyncOpenSheet.h"
#include "sync/bookmarks/SyncRunFactory.h"
#include "sync/bookmarks/SyncSheet.h"
#include "sync/bookmarks/SyncWindow.h"
#include "sync/core/SyncCache.h"
#include "tests/support/tempdir.h"
#include "tests/support/window_driving.h"

#include <QWidget>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace PPx;
using testsupport::BookmarkListTest;
using testsupport::ClickForAlert;
using testsupport::Control;
using testsupport::readFile;
using testsupport::SetField;
using testsupport::TempDir;
using testsupport::WindowsOf;
using testsupport::writeFile;

namespace {

// Where the keyboard focus is in WINDOW (also while an alert has it).
bool FocusIn(Window* window, uint32_t signature) {
    return window->GetSysWindow()->focusWidget() == FindControl(window->GetSysWindow(), signature);
}

// Picks direction VALUE as a click on its button would.
void SetDirection(Window* sheet, int32_t value) {
    View* group = Control(sheet, 'SYNO');
    group->SetValue(value);
    group->SimulateClick();
    Testing::ProcessEvents();
}

class SyncWindows : public BookmarkListTest<SyncWindow, SyncSheet> {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove_all(config.path() + "/Zarvel", ignored);
        ::mkdir((config.path() + "/Zarvel").c_str(), 0700);
        UIApplication::EnsureForTests();
        ResetSyncRunRequests();
        SetSyncRunOpener(nullptr);
        store = config.path() + "/Zarvel/Zarvel Sync Bookmarks";
        cacheFolder = config.path() + "/Zarvel/Zarvel Sync Files";
        local = std::make_unique<TempDir>();
    }
    void TearDown() override {
        app.reset();
        Testing::ProcessEvents();
        SetSyncRunOpener(nullptr);
        SetSyncWindowHooks({});
    }
    sSyncBookMarkData Bookmark(const std::string& name, const std::string& host = "h") {
        sSyncBookMarkData b;
        b.name = name;
        b.host = host;
        b.port = 21;
        b.username = "user";
        b.passive = true;
        b.remoteDir = "/remote";
        b.localDir = local->path();
        b.action = 3;
        return b;
    }
    void Start(const std::vector<sSyncBookMarkData>& bookmarks = {}, bool show = true) {
        if (!bookmarks.empty())
            SaveSyncBookmarkStore(store, bookmarks);
        InstallSyncWindow();
        app = std::make_unique<BasicApp>();
        window = app->GetSyncWindow();
        ASSERT_NE(window, nullptr);
        if (show)
            window->Show();
        Testing::ProcessEvents();
    }
    std::vector<sSyncBookMarkData> Stored() { return LoadSyncBookmarkStore(store).bookmarks; }
    std::string CacheFile(const std::string& name) {
        return cacheFolder + "/" + SyncFileName(name);
    }
    void MakeCache(const std::string& name) {
        ::mkdir(cacheFolder.c_str(), 0700);
        writeFile(CacheFile(name), "cache of " + name);
    }
    static bool Exists(const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0;
    }

    std::unique_ptr<TempDir> local;
    std::string store;
    std::string cacheFolder;
    std::unique_ptr<BasicApp> app;
};

} // namespace

TEST_F(SyncWindows, MadeHiddenAtStartAndShownBySYBK) {
    Start({Bookmark("one")}, false);
    EXPECT_FALSE(window->IsVisible());
    EXPECT_EQ(window->GetBookmarks().size(), 1u);
    PostEvent(ApplicationTarget().Ref(), MakeCommandEvent('SYBK'));
    Testing::ProcessEvents();
    EXPECT_TRUE(window->IsVisible());
    // Closing hides it; it stays with its list.
    window->Close();
    Testing::ProcessEvents();
    EXPECT_FALSE(window->IsVisible());
    EXPECT_EQ(app->GetSyncWindow(), window);
}

TEST_F(SyncWindows, SheetValidatesInOrderThenStoresEveryField) {
    sBookMarkData connection;
    connection.name = "shared";
    connection.host = "c";
    connection.port = 21;
    SaveBookmarkStore(config.path() + "/Zarvel/Zarvel Bookmarks", {connection});
    Start({Bookmark("taken")});
    const std::string aFile = local->file("file.txt");
    writeFile(aFile, "x");
    WithSheet('ADDB', [&](SyncSheet* sheet) {
        SetField(sheet, 'PORT', "");
        EXPECT_EQ(ClickForAlert(sheet, 'okok').message, kCompleteNameMessage);
        SetField(sheet, 'NAME', "taken");
        EXPECT_EQ(ClickForAlert(sheet, 'okok').message, kCompleteHostMessage);
        SetField(sheet, 'HOST', "files.example.org");
        EXPECT_EQ(ClickForAlert(sheet, 'okok').message, kCompletePortMessage);
        EXPECT_TRUE(FocusIn(sheet, 'PORT'));
        SetField(sheet, 'PORT', "21");
        Control(sheet, 'UNAM')->SetFocus();
        EXPECT_EQ(ClickForAlert(sheet, 'okok').message, kSelectLocalDirMessage);
        EXPECT_TRUE(FocusIn(sheet, 'UNAM')); // the focus stays
        // A path that is no folder, or nothing at all, is refused.
        for (const std::string& bad : {aFile, local->file("missing")}) {
            SetField(sheet, 'LDIR', bad);
            EXPECT_EQ(ClickForAlert(sheet, 'okok').message, kLocalDirNotFolderMessage) << bad;
        }
        // The chooser fills the local folder; cancelling it changes nothing.
        Testing::Later([&] { Testing::ChooseInChooser({local->path()}); });
        Testing::ClickControl(sheet->GetSysWindow(), 'PDIR');
        Testing::ProcessEvents();
        EXPECT_EQ(Control(sheet, 'LDIR')->GetText(), local->path());
        Testing::Later([] { Testing::CancelChooser(); });
        Testing::ClickControl(sheet->GetSysWindow(), 'PDIR');
        Testing::ProcessEvents();
        EXPECT_EQ(Control(sheet, 'LDIR')->GetText(), local->path());
        EXPECT_EQ(ClickForAlert(sheet, 'okok').message, kNameInUseMessage);
        // Connection bookmark names do not count here.
        SetField(sheet, 'NAME', "shared");
        SetField(sheet, 'UNAM', "anna");
        SetField(sheet, 'PASS', "pw");
        SetField(sheet, 'ACCT', "acct");
        SetField(sheet, 'RDIR', ""); // may be empty
        SetDirection(sheet, 1);
        Control(sheet, 'DELR')->SetValue(1);
        Testing::ClickControl(sheet->GetSysWindow(), 'okok');
    });
    ASSERT_EQ(window->GetBookmarks().size(), 2u);
    const sSyncBookMarkData& added = window->GetBookmarks()[1];
    EXPECT_EQ(added.name, "shared");
    EXPECT_EQ(added.host, "files.example.org");
    EXPECT_EQ(added.port, 21);
    EXPECT_EQ(added.username, "anna");
    EXPECT_EQ(added.password, "pw");
    EXPECT_EQ(added.account, "acct");
    EXPECT_EQ(added.remoteDir, "");
    EXPECT_EQ(added.localDir, local->path());
    EXPECT_EQ(added.action, 1);
    EXPECT_FALSE(added.deleteLocal);
    EXPECT_TRUE(added.deleteRemote);
    EXPECT_EQ(Stored(), window->GetBookmarks());
    EXPECT_EQ(window->GetList()->GetItemCount(), 2u);
}

TEST_F(SyncWindows, DeleteBoxesFollowTheDirectionAndADisabledOneIsStoredFalse) {
    Start();
    WithSheet('ADDB', [&](SyncSheet* sheet) {
        View* deleteLocal = Control(sheet, 'DELL');
        View* deleteRemote = Control(sheet, 'DELR');
        EXPECT_EQ(Control(sheet, 'SYNO')->GetValue(), 3);
        EXPECT_FALSE(deleteLocal->IsEnabled());
        EXPECT_FALSE(deleteRemote->IsEnabled());
        SetDirection(sheet, 1);
        EXPECT_FALSE(deleteLocal->IsEnabled());
        EXPECT_TRUE(deleteRemote->IsEnabled());
        EXPECT_EQ(deleteRemote->GetValue(), 0);
        deleteRemote->SetValue(1);
        SetDirection(sheet, 2);
        EXPECT_TRUE(deleteLocal->IsEnabled());
        EXPECT_FALSE(deleteRemote->IsEnabled());
        EXPECT_EQ(deleteRemote->GetValue(), 0);
        deleteLocal->SetValue(1);
        SetDirection(sheet, 3);
        EXPECT_EQ(deleteLocal->GetValue(), 0);
        EXPECT_FALSE(deleteLocal->IsEnabled());
        SetDirection(sheet, 1);
        EXPECT_TRUE(deleteRemote->IsEnabled());
        EXPECT_EQ(deleteRemote->GetValue(), 0);
        // Checked behind the user's back while disabled: not an option.
        deleteLocal->SetValue(1);
        SetField(sheet, 'NAME', "n");
        SetField(sheet, 'HOST', "h");
        SetField(sheet, 'LDIR', local->path());
        Testing::ClickControl(sheet->GetSysWindow(), 'okok');
    });
    ASSERT_EQ(window->GetBookmarks().size(), 1u);
    EXPECT_FALSE(window->GetBookmarks()[0].deleteLocal);
    EXPECT_FALSE(window->GetBookmarks()[0].deleteRemote);
    EXPECT_EQ(window->GetBookmarks()[0].action, 1);
}

TEST_F(SyncWindows, EditShowsTheRulesAppliedAndOKStoresThem) {
    sSyncBookMarkData sftp = Bookmark("sftp");
    sftp.secure = true;      // on port 21
    sftp.deleteLocal = true; // not offered both ways
    sSyncBookMarkData ftp = Bookmark("ftp");
    ftp.port = 22;
    ftp.action = 2;
    ftp.deleteLocal = true;
    Start({sftp, ftp});
    Select({"sftp"});
    WithSheet('EDBB', [&](SyncSheet* sheet) {
        EXPECT_EQ(Control(sheet, 'PORT')->GetText(), "22");
        EXPECT_FALSE(Control(sheet, 'ACCT')->IsEnabled());
        EXPECT_FALSE(Control(sheet, 'PASV')->IsEnabled());
        EXPECT_EQ(Control(sheet, 'DELL')->GetValue(), 0);
        EXPECT_EQ(Control(sheet, 'LDIR')->GetText(), local->path());
        EXPECT_EQ(Control(sheet, 'RDIR')->GetText(), "/remote");
        Testing::ClickControl(sheet->GetSysWindow(), 'okok');
    });
    EXPECT_EQ(window->GetBookmarks()[0].port, 22);
    EXPECT_FALSE(window->GetBookmarks()[0].deleteLocal);
    Select({"ftp"});
    WithSheet('EDBB', [&](SyncSheet* sheet) {
        EXPECT_EQ(Control(sheet, 'PORT')->GetText(), "21");
        EXPECT_EQ(Control(sheet, 'DELL')->GetValue(), 1);
        EXPECT_TRUE(Control(sheet, 'DELL')->IsEnabled());
        // The SFTP rule while editing.
        Testing::ClickControl(sheet->GetSysWindow(), 'SECR');
        EXPECT_EQ(Control(sheet, 'PORT')->GetText(), "22");
        Testing::ClickControl(sheet->GetSysWindow(), 'cncl');
    });
    EXPECT_EQ(window->GetBookmarks()[1], ftp);
    EXPECT_EQ(Stored(), window->GetBookmarks());
}

TEST_F(SyncWindows, TheCacheFollowsRenamesAndIsClearedOnlyWhenTheUserSays) {
    Start({Bookmark("old"), Bookmark("gone")});
    MakeCache("old");
    MakeCache("gone");
    // A new name moves the file without a question.
    Select({"old"});
    bool asked = false;
    Testing::Later([&] {
        SetField(WindowsOf<SyncSheet>()[0], 'NAME', "new");
        Testing::Later([&] { asked = Testing::CurrentAlert().shown; });
        Testing::ClickControl(WindowsOf<SyncSheet>()[0]->GetSysWindow(), 'okok');
    });
    Testing::ClickControl(window->GetSysWindow(), 'EDBB');
    Testing::ProcessEvents();
    EXPECT_FALSE(asked);
    EXPECT_FALSE(Exists(CacheFile("old")));
    EXPECT_EQ(readFile(CacheFile("new")), "cache of old");

    // A new host asks; No keeps the file, Yes deletes it.
    for (const char* answer : {"No", "Yes"}) {
        Select({"new"});
        Testing::AlertInfo question;
        Testing::Later([&] {
            SyncSheet* sheet = WindowsOf<SyncSheet>()[0];
            SetField(sheet, 'HOST', std::string("host-") + answer);
            Testing::Later([&] {
                question = Testing::CurrentAlert();
                Testing::ClickAlertButton(answer);
            });
            Testing::ClickControl(sheet->GetSysWindow(), 'okok');
        });
        Testing::ClickControl(window->GetSysWindow(), 'EDBB');
        Testing::ProcessEvents();
        EXPECT_EQ(question.message, "Do you want to clear the synchronization cache?");
        EXPECT_NE(question.explanation.find("the currently  cached information"),
                  std::string::npos);
        EXPECT_TRUE(question.sheet);
        EXPECT_EQ(Exists(CacheFile("new")), std::string(answer) == "No") << answer;
    }

    // Removal asks, then deletes the cache with the bookmark.
    Select({"gone"});
    auto no = ClickForAlert(window, 'RMVB', "No");
    EXPECT_EQ(no.message, kRemoveBookmarkQuestion);
    EXPECT_TRUE(Exists(CacheFile("gone")));
    Select({"gone"});
    ClickForAlert(window, 'RMVB', "Yes");
    EXPECT_FALSE(Exists(CacheFile("gone")));
    ASSERT_EQ(Stored().size(), 1u);
    EXPECT_EQ(Stored()[0].name, "new");
}

TEST_F(SyncWindows, SynchronizeNeedsOneBookmarkALocalFolderAndReadsTheHostURL) {
    sSyncBookMarkData url = Bookmark("url", "sftp://bob@sync.example.net:2200/backup");
    sSyncBookMarkData nolocal = Bookmark("nolocal");
    nolocal.localDir.clear();
    Start({url, nolocal, Bookmark("other")});
    for (uint32_t sig : {'EDBB', 'RMVB', 'SYNC'})
        EXPECT_FALSE(Control(window, sig)->IsEnabled());
    Select({"url", "other"});
    EXPECT_TRUE(Control(window, 'SYNC')->IsEnabled());
    window->DoCommandProcess('SYNC'); // two selected: nothing
    window->DoCommandProcess('EDBB');
    Testing::ProcessEvents();
    EXPECT_EQ(GetSyncRunRequests().count, 0);
    EXPECT_TRUE(WindowsOf<SyncSheet>().empty());

    Select({"nolocal"});
    auto alert = ClickForAlert(window, 'SYNC');
    EXPECT_EQ(alert.message, kSelectLocalFolderMessage);
    EXPECT_EQ(GetSyncRunRequests().count, 0);

    Select({"url"});
    window->GetList()->GetContent()->NotifyAboutItem(Item("url"), DataBrowser::kItemDoubleClicked);
    Testing::ProcessEvents();
    ASSERT_EQ(GetSyncRunRequests().count, 1);
    const sSyncBookMarkData& sent = GetSyncRunRequests().last;
    EXPECT_EQ(sent.host, "sync.example.net");
    EXPECT_EQ(sent.username, "bob");
    EXPECT_EQ(sent.port, 2200);
    EXPECT_TRUE(sent.secure);
    EXPECT_EQ(sent.remoteDir, "/backup");
    EXPECT_EQ(sent.localDir, local->path());
    EXPECT_EQ(window->GetBookmarks()[0], url); // the bookmark itself is unchanged
    EXPECT_TRUE(window->IsVisible());          // no run window opened: stays

    // Once a run opens, the window hides (the default preference).
    SetSyncRunOpener([](const sSyncBookMarkData&) { return true; });
    Select({"other"});
    Testing::ClickControl(window->GetSysWindow(), 'SYNC');
    Testing::ProcessEvents();
    EXPECT_FALSE(window->IsVisible());
}

TEST_F(SyncWindows, AnOpenedFileRunsOnlyOnceTheUserConfirmedWhatItDoes) {
    Start({Bookmark("mine")}, false);
    TempDir downloads;
    sSyncBookMarkData risky = Bookmark("From a stranger");
    risky.action = 1;
    risky.deleteRemote = true;
    const std::string file = ExportSyncBookmark(risky, downloads.path());
    const std::string storeBefore = readFile(store);

    struct Seen {
        bool shown = false;
        std::string deletion, direction, localDir;
        bool deletionVisible = false;
    };
    auto open = [&](uint32_t answer) {
        Seen seen;
        Testing::Later([&] {
            auto sheets = WindowsOf<SyncOpenSheet>();
            if (sheets.empty())
                return;
            seen.shown = true;
            seen.deletion = Control(sheets[0], 'DELW')->GetText();
            seen.deletionVisible = Control(sheets[0], 'DELW')->IsVisible();
            seen.direction = Control(sheets[0], 'DIRN')->GetText();
            seen.localDir = Control(sheets[0], 'LDIR')->GetText();
            Testing::ClickControl(sheets[0]->GetSysWindow(), answer);
        });
        BasicApp::OpenDocuments({file});
        Testing::ProcessEvents();
        return seen;
    };
    Seen cancelled = open('cncl');
    ASSERT_TRUE(cancelled.shown);
    EXPECT_TRUE(cancelled.deletionVisible);
    EXPECT_NE(cancelled.deletion.find("DELETED from the server"), std::string::npos);
    EXPECT_EQ(cancelled.direction, SyncOpenSheet::DirectionText(risky));
    EXPECT_EQ(cancelled.localDir, local->path());
    EXPECT_EQ(GetSyncRunRequests().count, 0);

    Seen confirmed = open('okok');
    ASSERT_TRUE(confirmed.shown);
    ASSERT_EQ(GetSyncRunRequests().count, 1);
    EXPECT_EQ(GetSyncRunRequests().last, risky);
    // Not added to the list or the store.
    EXPECT_EQ(window->GetBookmarks().size(), 1u);
    EXPECT_EQ(readFile(store), storeBefore);

    // Nothing to delete: no warning. The option of the other direction does
    // not count, because the run does not act on it.
    sSyncBookMarkData harmless = Bookmark("harmless");
    harmless.action = 2;
    harmless.deleteRemote = true;
    ExportSyncBookmark(harmless, downloads.path());
    ::rename(downloads.file("harmless.sync.zarvel").c_str(), file.c_str());
    Seen calm = open('cncl');
    ASSERT_TRUE(calm.shown);
    EXPECT_FALSE(calm.deletionVisible);

    // A file that is no synchronisation bookmark says so.
    writeFile(file, "garbage");
    Testing::AlertInfo refused;
    Testing::Later([&] {
        refused = Testing::CurrentAlert();
        Testing::ClickAlertButton("OK");
    });
    BasicApp::OpenDocuments({file});
    Testing::ProcessEvents();
    EXPECT_NE(refused.message.find("could not be opened"), std::string::npos);
    EXPECT_EQ(GetSyncRunRequests().count, 1);
}

TEST_F(SyncWindows, AnUnreadableStoreIsSetAsideAndTheUserTold) {
    writeFile(store, "not a store");
    Testing::AlertInfo told;
    // Told once the event loop runs, after the window was made.
    Testing::Later([&] {
        Testing::Later([&] {
            told = Testing::CurrentAlert();
            Testing::ClickAlertButton("OK");
        });
    });
    Start({}, false);
    Testing::ProcessEvents();
    EXPECT_EQ(told.message, "Your synchronization bookmarks could not be read.");
    EXPECT_EQ(readFile(store + ".corrupt"), "not a store");
    EXPECT_TRUE(window->GetBookmarks().empty());
    window->AddBookmark(Bookmark("fresh"));
    EXPECT_EQ(Stored().size(), 1u);
    EXPECT_EQ(readFile(store + ".corrupt"), "not a store");
}

TEST_F(SyncWindows, ExportedFilesOpenAndAFailedExportIsShown) {
    Start({Bookmark("b"), Bookmark("a")});
    TempDir target;
    Select({"a"});
    window->SaveBookmark(target.path());
    sSyncBookMarkData read;
    ASSERT_TRUE(ReadExportedSyncBookmark(target.file("a.sync.zarvel"), read));
    EXPECT_EQ(read, window->GetBookmarks()[1]);

    Testing::AlertInfo failed;
    Testing::Later([&] {
        failed = Testing::CurrentAlert();
        Testing::ClickAlertButton("OK");
    });
    window->SaveBookmark(target.file("no-such-folder"));
    Testing::ProcessEvents();
    EXPECT_EQ(failed.message, "The bookmark \"a\" could not be exported.");
}

TEST_F(SyncWindows, RemembersItsPlaceAndListAndADropOnTheTrashRemovesWithTheCache) {
    Start({Bookmark("a"), Bookmark("b")});
    window->SetContentBounds(Rect{44, 20, 444, 520});
    window->DoWindowBoundsChanged();
    auto place = CopyAppValue("SyncWindowState");
    ASSERT_TRUE(place && place->AsData());
    EXPECT_EQ(*place->AsData(),
              (std::vector<uint8_t>{0x00, 0x2C, 0x00, 0x14, 0x01, 0xBC, 0x02, 0x08}));
    window->GetList()->GetContent()->NotifyAboutItem(0, DataBrowser::kUserStateChanged);
    auto list = CopyAppValue("SyncState");
    ASSERT_TRUE(list && list->AsDictionary());
    EXPECT_FALSE(list->AsDictionary()->Empty());

    TempDir data;
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    ::mkdir(data.file("Trash").c_str(), 0700);
    ::mkdir(data.file("Trash/files").c_str(), 0700);
    MakeCache("b");
    Select({"a", "b"});
    DropSelectionOn(data.file("Trash/files")); // two: nothing
    EXPECT_EQ(window->GetBookmarks().size(), 2u);
    Select({"b"});
    Testing::AlertInfo asked;
    Testing::Later([&] {
        asked = Testing::CurrentAlert();
        Testing::ClickAlertButton("Yes");
    });
    DropSelectionOn(data.file("Trash/files"));
    Testing::ProcessEvents();
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(asked.message, kRemoveBookmarkQuestion);
    ASSERT_EQ(window->GetBookmarks().size(), 1u);
    EXPECT_FALSE(Exists(CacheFile("b")));

    // Another folder receives the exported files, under the name a file
    // manager is offered.
    Select({"a"});
    DropSelectionOn(data.path());
    EXPECT_TRUE(Exists(data.file("a.sync.zarvel")));
    EXPECT_EQ(window->GetList()->GetContent()->DirectSaveName({Item("a")}), "a.sync.zarvel");
}
