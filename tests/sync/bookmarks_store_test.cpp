// The synchronisation bookmark store and exported files on disk.
#include "app/CDESCrypto.h"
#include "platform/core/Errors.h"
#include "platform/core/PropertyList.h"
#include "sync/bookmarks/SyncBookmarkStore.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

sSyncBookMarkData Bookmark(const std::string& name) {
    sSyncBookMarkData b;
    b.name = name;
    b.host = "files.example.org";
    b.username = "anna";
    b.password = "sécret";
    b.account = "acct";
    b.port = 2121;
    b.passive = true;
    b.secure = false;
    b.remoteDir = "/srv/photos";
    b.localDir = "/home/anna/Photos";
    b.action = 2;
    b.deleteLocal = true;
    b.deleteRemote = false;
    return b;
}

int Mode(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

} // namespace

TEST(SyncBookmarkStore, RoundTripsEveryFieldEncipheredAndPrivate) {
    TempDir dir;
    const std::string store = dir.file("Zarvel Sync Bookmarks");
    sSyncBookMarkData second = Bookmark("two");
    second.secure = true;
    second.passive = false;
    second.action = 1;
    second.deleteLocal = false;
    second.deleteRemote = true;
    second.remoteDir.clear();
    SaveSyncBookmarkStore(store, {Bookmark("one"), second});
    EXPECT_EQ(Mode(store), 0600);
    const std::string bytes = readFile(store);
    EXPECT_NE(bytes.compare(0, 13, "<?xml version"), 0); // enciphered
    EXPECT_EQ(bytes.size() % 8, 0u);

    SyncStoreLoad load = LoadSyncBookmarkStore(store);
    EXPECT_EQ(load.status, StoreLoad::Loaded);
    ASSERT_EQ(load.bookmarks.size(), 2u);
    EXPECT_EQ(load.bookmarks[0], Bookmark("one"));
    EXPECT_EQ(load.bookmarks[1], second);

    // The keys, by their names, with the remote folder under its own key.
    std::vector<uint8_t> plain(bytes.begin(), bytes.end());
    DecryptBookmarkData(plain);
    const std::string xml(plain.begin(), plain.end());
    for (const char* key : {"BookmarkName", "BookmarkLocalDir", "BookmarkRemoteDir",
                            "BookmarkAction", "BookmarkDeleteLocal", "BookmarkDeleteRemote"})
        EXPECT_NE(xml.find(std::string("<key>") + key + "</key>"), std::string::npos) << key;
    EXPECT_EQ(xml.find("<key>BookmarkDir</key>"), std::string::npos);
}

TEST(SyncBookmarkStore, ReadsPlainXMLAndSkipsIncompleteEntriesKeepingACopy) {
    TempDir dir;
    const std::string store = dir.file("Zarvel Sync Bookmarks");
    auto entry = [](const std::string& name, bool withAction, const std::string& port) {
        return "<dict><key>BookmarkName</key><string>" + name +
               "</string><key>BookmarkHost</key><string>h</string>"
               "<key>BookmarkUsername</key><string></string><key>BookmarkPassword</key><string>"
               "</string><key>BookmarkAccount</key><string></string><key>BookmarkPort</key>" +
               port +
               "<key>BookmarkPassive</key><true/><key>BookmarkSecure</key><false/>"
               "<key>BookmarkLocalDir</key><string>/tmp/l</string><key>BookmarkRemoteDir</key>"
               "<string>/r</string>" +
               (withAction ? "<key>BookmarkAction</key><integer>3</integer>" : "") +
               "<key>BookmarkDeleteLocal</key><false/><key>BookmarkDeleteRemote</key><false/>"
               "</dict>";
    };
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist "
                             "version=\"1.0\"><array>";
    writeFile(store, head + entry("good", true, "<integer>21</integer>") + "</array></plist>");
    SyncStoreLoad plain = LoadSyncBookmarkStore(store);
    EXPECT_EQ(plain.status, StoreLoad::Loaded);
    ASSERT_EQ(plain.bookmarks.size(), 1u);
    EXPECT_EQ(plain.bookmarks[0].localDir, "/tmp/l");
    EXPECT_EQ(plain.bookmarks[0].action, 3);

    // No action, a port as text: skipped; the entry after them still loads,
    // and the file as it was is kept before a save drops them.
    const std::string mixed = head + entry("noaction", false, "<integer>21</integer>") +
                              entry("textport", true, "<string>21</string>") +
                              entry("after", true, "<integer>22</integer>") + "</array></plist>";
    writeFile(store, mixed);
    SyncStoreLoad partial = LoadSyncBookmarkStore(store);
    EXPECT_EQ(partial.status, StoreLoad::Partial);
    ASSERT_EQ(partial.bookmarks.size(), 1u);
    EXPECT_EQ(partial.bookmarks[0].name, "after");
    EXPECT_EQ(readFile(partial.keptAs), mixed);
}

TEST(SyncBookmarkStore, AnUnreadableStoreIsSetAsideNotOverwritten) {
    TempDir dir;
    const std::string store = dir.file("Zarvel Sync Bookmarks");
    writeFile(store, "this is not a bookmark store at all");
    SyncStoreLoad load = LoadSyncBookmarkStore(store);
    EXPECT_EQ(load.status, StoreLoad::Unreadable);
    EXPECT_TRUE(load.bookmarks.empty());
    EXPECT_EQ(readFile(load.keptAs), "this is not a bookmark store at all");
    EXPECT_EQ(LoadSyncBookmarkStore(store).status, StoreLoad::Missing);

    // A store that cannot be written leaves the old one and says so.
    SaveSyncBookmarkStore(store, {Bookmark("one")});
    ::chmod(dir.path().c_str(), 0500);
    if (::access(dir.path().c_str(), W_OK) != 0) { // not when run as root
        EXPECT_THROW(SaveSyncBookmarkStore(store, {}), PPx::OSError);
        EXPECT_EQ(LoadSyncBookmarkStore(store).bookmarks.size(), 1u);
    }
    ::chmod(dir.path().c_str(), 0700);
}

TEST(SyncBookmarkStore, ExportedFilesOpenAndStayInTheirFolder) {
    TempDir dir;
    const std::string path = ExportSyncBookmark(Bookmark("Photos"), dir.path());
    EXPECT_EQ(path, dir.file("Photos.sync.zarvel"));
    EXPECT_EQ(Mode(path), 0600);
    sSyncBookMarkData read;
    ASSERT_TRUE(ReadExportedSyncBookmark(path, read));
    EXPECT_EQ(read, Bookmark("Photos"));

    // Names that would point elsewhere are written inside the folder.
    for (const char* name : {"../../escape", "/etc/passwd", ".."}) {
        const std::string written = ExportSyncBookmark(Bookmark(name), dir.path());
        EXPECT_EQ(written.rfind(dir.path() + "/", 0), 0u) << name;
        EXPECT_EQ(written.find('/', dir.path().size() + 1), std::string::npos) << name;
        ASSERT_TRUE(ReadExportedSyncBookmark(written, read)) << name;
        EXPECT_EQ(read.name, name);
    }

    // A connection bookmark file, a folder and a missing file are refused.
    sBookMarkData connection;
    connection.name = "c";
    connection.host = "h";
    const std::string other = ExportBookmark(connection, dir.path());
    EXPECT_FALSE(ReadExportedSyncBookmark(other, read));
    EXPECT_FALSE(ReadExportedSyncBookmark(dir.path(), read));
    EXPECT_FALSE(ReadExportedSyncBookmark(dir.file("missing.sync.zarvel"), read));
}

TEST(SyncBookmarkStore, HostURLsGiveHostUserPortSchemeAndRemoteFolder) {
    sSyncBookMarkData b = Bookmark("u");
    b.host = "sftp://bob:pw@sync.example.net:2200/backup/photos";
    std::string error;
    ASSERT_TRUE(ApplySyncHostURL(b, error));
    EXPECT_EQ(b.host, "sync.example.net");
    EXPECT_EQ(b.username, "bob");
    EXPECT_EQ(b.password, "pw");
    EXPECT_EQ(b.port, 2200);
    EXPECT_TRUE(b.secure);
    EXPECT_EQ(b.remoteDir, "/backup/photos");
    EXPECT_EQ(b.localDir, "/home/anna/Photos");
    EXPECT_EQ(b.account, "acct");

    sSyncBookMarkData plain = Bookmark("p");
    ASSERT_TRUE(ApplySyncHostURL(plain, error));
    EXPECT_EQ(plain, Bookmark("p"));
    plain.host = "ftp://:21/x";
    EXPECT_FALSE(ApplySyncHostURL(plain, error));
    EXPECT_EQ(error, kURLWithoutHostMessage);
}
