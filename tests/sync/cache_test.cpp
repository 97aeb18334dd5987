#include "platform/core/Errors.h"
#include "sync/core/SyncCache.h"
#include "tests/support/tempdir.h"
#include "tests/sync/sync_helpers.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace synctest;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

// Points the Preferences folder at a private folder for one test.
class SyncCacheFile : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", mHome.path().c_str(), 1);
        mFolder = mHome.path() + "/Zarvel/Zarvel Sync Files";
    }
    void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }

    bool Exists(const std::string& path) const {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0;
    }
    std::vector<std::string> Listing(const std::string& folder) const {
        std::vector<std::string> names;
        if (DIR* dir = ::opendir(folder.c_str())) {
            while (const dirent* entry = ::readdir(dir))
                if (entry->d_name[0] != '.')
                    names.push_back(entry->d_name);
            ::closedir(dir);
        }
        return Sorted(names);
    }

    TempDir mHome;
    std::string mFolder;
};

bool SameEntry(const sFileInfo& a, const sFileInfo& b) {
    return a.name == b.name && a.size == b.size && a.modDate.year == b.modDate.year &&
           a.modDate.month == b.modDate.month && a.modDate.day == b.modDate.day &&
           a.modDate.hour == b.modDate.hour && a.modDate.minute == b.modDate.minute &&
           a.modDate.second == b.modDate.second;
}

} // namespace

TEST_F(SyncCacheFile, TheExactStoredForm) {
    sFileInfo link = File("link", 3, 0);
    link.isLink = true;
    const std::vector<sFileInfo> local{Folder("docs"), File("docs/a & b.txt", 1234, 0), link};
    const std::vector<sFileInfo> remote{File("x", 9223372036854775807ull, 90)};
    // 12:00 in Berlin in January is 11:00 universal time.
    EXPECT_EQ(SyncCacheText(local, remote),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
              "<plist version=\"1.0\">\n"
              "<dict>\n"
              "\t<key>Local</key>\n"
              "\t<array>\n"
              "\t\t<dict>\n"
              "\t\t\t<key>Date</key>\n"
              "\t\t\t<date>2026-01-10T11:00:00Z</date>\n"
              "\t\t\t<key>Name</key>\n"
              "\t\t\t<string>docs/a &amp; b.txt</string>\n"
              "\t\t\t<key>Size</key>\n"
              "\t\t\t<integer>1234</integer>\n"
              "\t\t</dict>\n"
              "\t</array>\n"
              "\t<key>Remote</key>\n"
              "\t<array>\n"
              "\t\t<dict>\n"
              "\t\t\t<key>Date</key>\n"
              "\t\t\t<date>2026-01-10T12:30:00Z</date>\n"
              "\t\t\t<key>Name</key>\n"
              "\t\t\t<string>x</string>\n"
              "\t\t\t<key>Size</key>\n"
              "\t\t\t<integer>9223372036854775807</integer>\n"
              "\t\t</dict>\n"
              "\t</array>\n"
              "</dict>\n"
              "</plist>\n");
    // Only folders: both arrays are written, empty.
    const std::string empty = SyncCacheText({Folder("d")}, {});
    EXPECT_NE(empty.find("<key>Local</key>\n\t<array/>"), std::string::npos) << empty;
    EXPECT_NE(empty.find("<key>Remote</key>\n\t<array/>"), std::string::npos) << empty;
}

TEST_F(SyncCacheFile, RoundTripKeepsNamesSizesAndDates) {
    std::vector<sFileInfo> local{Folder("d"), File("d/caf\xC3\xA9 \xE6\x97\xA5.txt", 7, 0),
                                 File("tab\there", 0, 5)};
    // A summer date, and the repeated hour when clocks go back (02:30 twice).
    sFileInfo summer = File("summer", 1, 0);
    summer.modDate = DateTimeRec{2025, 7, 1, 23, 59, 59, 0};
    sFileInfo autumn = File("autumn", 2, 0);
    autumn.modDate = DateTimeRec{2025, 10, 26, 2, 30, 0, 0};
    std::vector<sFileInfo> remote{summer, autumn};

    EXPECT_FALSE(Exists(mFolder));
    SaveSyncFile("site", local, remote);
    EXPECT_TRUE(Exists(mFolder + "/zarvel.site.sync"));

    std::vector<sFileInfo> cachedLocal{File("stale", 1, 1)}, cachedRemote;
    const SyncCacheLoad load = LoadSyncFile("site", cachedLocal, cachedRemote);
    EXPECT_EQ(load.status, SyncCacheLoad::Loaded);
    ASSERT_EQ(cachedLocal.size(), 2u);
    EXPECT_TRUE(SameEntry(cachedLocal[0], local[1]));
    EXPECT_TRUE(SameEntry(cachedLocal[1], local[2]));
    ASSERT_EQ(cachedRemote.size(), 2u);
    EXPECT_TRUE(SameEntry(cachedRemote[0], summer));
    EXPECT_TRUE(SameEntry(cachedRemote[1], autumn));
    EXPECT_TRUE(cachedRemote[0].permissions.empty() && !cachedRemote[0].isFolder);
}

TEST_F(SyncCacheFile, LoadingNeverCreatesTheFolderAndMissingMeansNoCache) {
    std::vector<sFileInfo> local{File("x", 1, 1)}, remote{File("y", 1, 1)};
    EXPECT_EQ(LoadSyncFile("site", local, remote).status, SyncCacheLoad::Missing);
    EXPECT_TRUE(local.empty() && remote.empty());
    EXPECT_FALSE(Exists(mFolder));
    ::mkdir((mHome.path() + "/Zarvel").c_str(), 0700);
    ::mkdir(mFolder.c_str(), 0700);
    EXPECT_EQ(LoadSyncFile("site", local, remote).status, SyncCacheLoad::Missing);
}

TEST_F(SyncCacheFile, BookmarkNamesCannotLeaveTheFolder) {
    // Only what could lead out of the folder is encoded; dots stay dots.
    const std::pair<const char*, const char*> names[] = {
        {"My Site \xC3\xA9 100%", "zarvel.My Site \xC3\xA9 100%.sync"},
        {"a.b", "zarvel.a.b.sync"},
        {"Backup...", "zarvel.Backup....sync"},
        {"..", "zarvel....sync"},
        {"../../x", "zarvel.%..%2F..%2Fx.sync"},
        {"a/b", "zarvel.%a%2Fb.sync"},
        {"%a", "zarvel.%%25a.sync"},
    };
    for (const auto& [name, file] : names)
        EXPECT_EQ(SyncFileName(name), file);
    // Encoded names cannot meet a name kept as it is, nor each other.
    EXPECT_NE(SyncFileName("%a%2Fb"), SyncFileName("a/b"));
    EXPECT_NE(SyncFileName("a%2Fb/"), SyncFileName("a/%2Fb"));

    const std::vector<sFileInfo> files{File("f", 1, 1)};
    SaveSyncFile("../../escape", files, files);
    SaveSyncFile("sub/dir", files, files);
    EXPECT_EQ(Listing(mFolder), (std::vector<std::string>{"zarvel.%..%2F..%2Fescape.sync",
                                                          "zarvel.%sub%2Fdir.sync"}));
    EXPECT_EQ(Listing(mHome.path()), std::vector<std::string>{"Zarvel"});
    std::vector<sFileInfo> local, remote;
    EXPECT_EQ(LoadSyncFile("sub/dir", local, remote).status, SyncCacheLoad::Loaded);
    EXPECT_EQ(Names(local), std::vector<std::string>{"f"});

    // A cache stored under the literal name is the bookmark's cache.
    writeFile(mFolder + "/zarvel.Backup....sync", SyncCacheText(files, files));
    EXPECT_EQ(LoadSyncFile("Backup...", local, remote).status, SyncCacheLoad::Loaded);
    EXPECT_EQ(Names(remote), std::vector<std::string>{"f"});
}

TEST_F(SyncCacheFile, AnUnreadableCacheIsSetAsideAndCountsAsNone) {
    const std::vector<sFileInfo> files{File("f", 1, 1)};
    SaveSyncFile("site", files, files);
    const std::string path = mFolder + "/zarvel.site.sync";
    writeFile(path, "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Local</key>");
    std::vector<sFileInfo> local, remote;
    SyncCacheLoad load = LoadSyncFile("site", local, remote);
    EXPECT_EQ(load.status, SyncCacheLoad::SetAside);
    EXPECT_EQ(load.keptAs, path + ".unreadable");
    EXPECT_TRUE(local.empty() && remote.empty());
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(readFile(load.keptAs).substr(0, 5), "<?xml");

    // The next save leaves it alone; a second bad file gets a name of its own.
    SaveSyncFile("site", files, files);
    writeFile(path, "<plist version=\"1.0\"><array/></plist>"); // root not a dictionary
    load = LoadSyncFile("site", local, remote);
    EXPECT_EQ(load.status, SyncCacheLoad::SetAside);
    EXPECT_EQ(load.keptAs, path + ".unreadable-2");
    EXPECT_TRUE(Exists(path + ".unreadable"));
}

TEST_F(SyncCacheFile, BadEntriesAreSkippedAndTheRestLoads) {
    ::mkdir((mHome.path() + "/Zarvel").c_str(), 0700);
    ::mkdir(mFolder.c_str(), 0700);
    writeFile(mFolder + "/zarvel.site.sync",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>Local</key><array>"
              "<dict><key>Name</key><string>no-size</string>"
              "<key>Date</key><date>2026-01-10T11:00:00Z</date></dict>"
              "<dict><key>Name</key><string>bad-size</string><key>Size</key><string>1</string>"
              "<key>Date</key><date>2026-01-10T11:00:00Z</date></dict>"
              "<string>not a dictionary</string>"
              "<dict><key>Name</key><string>good</string><key>Size</key><integer>5</integer>"
              "<key>Date</key><date>2026-01-10T11:00:00Z</date></dict>"
              "</array><key>Remote</key><string>not an array</string></dict></plist>\n");
    std::vector<sFileInfo> local, remote;
    EXPECT_EQ(LoadSyncFile("site", local, remote).status, SyncCacheLoad::Loaded);
    ASSERT_EQ(Names(local), std::vector<std::string>{"good"});
    EXPECT_EQ(local[0].size, 5u);
    EXPECT_EQ(local[0].modDate.hour, 12);
    EXPECT_TRUE(remote.empty());
}

TEST_F(SyncCacheFile, AFailedSaveLeavesTheOldCacheWhole) {
    const std::vector<sFileInfo> small{File("f", 1, 1)};
    SaveSyncFile("site", small, small);
    const std::string path = mFolder + "/zarvel.site.sync";
    const std::string before = readFile(path);

    std::vector<sFileInfo> big;
    for (int i = 0; i < 2000; ++i)
        big.push_back(File("file-" + std::to_string(i), 1, 1));
    // In a child: writes past a file-size limit fail part way.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            SaveSyncFile("site", big, big);
        } catch (const PPx::OSError&) {
            ::_exit(3);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3) << "the failure is reported";
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(Listing(mFolder), std::vector<std::string>{"zarvel.site.sync"});
}

TEST_F(SyncCacheFile, EditedAndRemovedBookmarks) {
    const std::vector<sFileInfo> files{File("f", 1, 1)};
    sSyncBookMarkData old;
    old.name = "site";
    old.host = "h";
    old.localDir = "/l";
    old.remoteDir = "/r";
    int asked = 0;
    auto answer = [&](bool yes) {
        return [&, yes](const std::string& message, const std::string& explanation) {
            ++asked;
            EXPECT_EQ(message, "Do you want to clear the synchronization cache?");
            EXPECT_NE(explanation.find("the currently  cached information"), std::string::npos);
            return yes;
        };
    };

    // User name, password, port, action: untouched, nothing asked.
    SaveSyncFile("site", files, files);
    sSyncBookMarkData edited = old;
    edited.username = "u";
    edited.port = 2121;
    edited.action = 1;
    CheckSyncFileStatus(old, edited, answer(true));
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(Exists(mFolder + "/zarvel.site.sync"));

    // A new name moves the file without a question.
    edited = old;
    edited.name = "renamed";
    CheckSyncFileStatus(old, edited, answer(true));
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(Listing(mFolder), std::vector<std::string>{"zarvel.renamed.sync"});

    // New name and new host: moved first, then asked; No keeps it.
    sSyncBookMarkData moved = edited;
    moved.name = "third";
    moved.host = "other";
    CheckSyncFileStatus(edited, moved, answer(false));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(Listing(mFolder), std::vector<std::string>{"zarvel.third.sync"});
    // A new remote folder, Yes: deleted.
    sSyncBookMarkData again = moved;
    again.remoteDir = "/elsewhere";
    CheckSyncFileStatus(moved, again, answer(true));
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(Listing(mFolder).empty());

    // Removing a bookmark deletes its file, and only its file.
    SaveSyncFile("a", files, files);
    SaveSyncFile("b", files, files);
    sSyncBookMarkData removed;
    removed.name = "a";
    RemoveSyncFile(removed);
    EXPECT_EQ(Listing(mFolder), std::vector<std::string>{"zarvel.b.sync"});
    RemoveSyncFile(removed); // nothing there: quiet
}
