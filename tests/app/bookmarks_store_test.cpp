// The bookmark store and exported files: what is written, what is read back,
// and what happens to files that cannot be read. Also the host URL and port
// readings the bookmark windows share.
#include "app/BookmarkStore.h"
#include "app/CDESCrypto.h"
#include "platform/core/Errors.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

sBookMarkData Sample(const std::string& name) {
    sBookMarkData b;
    b.name = name;
    b.host = "ftp.example.org";
    b.username = "anna";
    b.password = "secret";
    b.account = "acct";
    b.dir = "/pub";
    b.port = 21;
    b.passive = true;
    b.secure = false;
    return b;
}

std::string PlainStore(const std::string& dicts) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<array>\n" +
           dicts + "</array>\n</plist>\n";
}

std::string Dict(const std::string& name, const std::string& port, bool withSecure) {
    return "<dict><key>BookmarkName</key><string>" + name +
           "</string><key>BookmarkHost</key><string>h</string>"
           "<key>BookmarkUsername</key><string></string><key>BookmarkPassword</key><string/>"
           "<key>BookmarkAccount</key><string></string><key>BookmarkDir</key><string></string>"
           "<key>BookmarkPort</key>" +
           port + "<key>BookmarkPassive</key><true/>" +
           (withSecure ? "<key>BookmarkSecure</key><true/>" : "") + "</dict>\n";
}

int Mode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 0777) : -1;
}

bool Exists(const std::string& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

} // namespace

TEST(BookmarkStore, AwkwardStringsRoundTripEnciphered) {
    TempDir dir;
    std::string store = dir.file("Zarvel Bookmarks");
    sBookMarkData odd = Sample("a & b < c > d ]]> e");
    odd.password = "p\x01q\tr\x1fs";
    odd.dir = "/Grüße/日本語";
    odd.username = std::string(2000, 'u'); // longer than any fixed buffer
    odd.secure = true;
    odd.port = 2222;
    std::vector<sBookMarkData> list = {Sample("first"), odd, Sample("")};
    SaveBookmarkStore(store, list);

    std::string bytes = readFile(store);
    EXPECT_EQ(bytes.size() % 8, 0u);
    EXPECT_NE(bytes.compare(0, 5, "<?xml"), 0);
    EXPECT_EQ(bytes.find("secret"), std::string::npos);
    EXPECT_EQ(Mode(store), 0600);

    StoreLoad load = LoadBookmarkStore(store);
    EXPECT_EQ(load.status, StoreLoad::Loaded);
    EXPECT_EQ(load.bookmarks, list);
}

TEST(BookmarkStore, PlainXMLLoadsAndIsEncipheredAtTheNextSave) {
    TempDir dir;
    std::string store = dir.file("Zarvel Bookmarks");
    // Trailing zero bytes, as deciphering leaves them, are accepted too.
    writeFile(store,
              PlainStore(Dict("plain", "<integer>21</integer>", false)) + std::string(5, '\0'));
    ::chmod(store.c_str(), 0644);
    StoreLoad load = LoadBookmarkStore(store);
    ASSERT_EQ(load.status, StoreLoad::Loaded);
    ASSERT_EQ(load.bookmarks.size(), 1u);
    EXPECT_EQ(load.bookmarks[0].name, "plain");
    EXPECT_FALSE(load.bookmarks[0].secure); // no "BookmarkSecure" in a store: FTP

    SaveBookmarkStore(store, load.bookmarks);
    std::string bytes = readFile(store);
    EXPECT_NE(bytes.compare(0, 13, "<?xml version"), 0);
    EXPECT_EQ(Mode(store), 0600);
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    DecryptBookmarkData(data);
    EXPECT_EQ(std::string(data.begin(), data.begin() + 13), "<?xml version");
    EXPECT_EQ(LoadBookmarkStore(store).bookmarks, load.bookmarks);
}

TEST(BookmarkStore, ShortAndBrokenStoresAreKeptAsideNotOverwritten) {
    TempDir dir;
    std::string store = dir.file("Zarvel Bookmarks");

    // Empty: nothing to lose, an empty list.
    writeFile(store, "");
    StoreLoad empty = LoadBookmarkStore(store);
    EXPECT_EQ(empty.status, StoreLoad::Loaded);
    EXPECT_TRUE(empty.bookmarks.empty());
    EXPECT_TRUE(Exists(store));

    // 12 bytes (deciphered, not XML) and 13 bytes (plain, cut short).
    for (const std::string& content : {std::string("twelve bytes"), std::string("<?xml version")}) {
        SCOPED_TRACE(content);
        writeFile(store, content);
        StoreLoad load = LoadBookmarkStore(store);
        EXPECT_EQ(load.status, StoreLoad::Unreadable);
        EXPECT_TRUE(load.bookmarks.empty());
        ASSERT_FALSE(load.keptAs.empty());
        EXPECT_EQ(readFile(load.keptAs), content);
        EXPECT_FALSE(Exists(store));
        SaveBookmarkStore(store, {Sample("new")});
        EXPECT_EQ(readFile(load.keptAs), content);
        ::unlink(load.keptAs.c_str());
    }

    // A root that is not an array.
    writeFile(store, "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>");
    EXPECT_EQ(LoadBookmarkStore(store).status, StoreLoad::Unreadable);
    EXPECT_TRUE(Exists(store + ".corrupt"));
    EXPECT_EQ(LoadBookmarkStore(dir.file("missing")).status, StoreLoad::Missing);
}

TEST(BookmarkStore, UnreadableEntriesAreSkippedAndTheFileKept) {
    TempDir dir;
    std::string store = dir.file("Zarvel Bookmarks");
    std::string text = PlainStore(Dict("one", "<integer>21</integer>", true) +
                                  Dict("bad port", "<string>21</string>", true) +
                                  Dict("huge port", "<integer>9999999999</integer>", true) +
                                  Dict("three", "<integer>2121</integer>", false));
    writeFile(store, text);
    StoreLoad load = LoadBookmarkStore(store);
    EXPECT_EQ(load.status, StoreLoad::Partial);
    ASSERT_EQ(load.bookmarks.size(), 2u);
    EXPECT_EQ(load.bookmarks[0].name, "one");
    EXPECT_TRUE(load.bookmarks[0].secure);
    EXPECT_EQ(load.bookmarks[1].name, "three");
    EXPECT_EQ(load.bookmarks[1].port, 2121);
    EXPECT_EQ(readFile(load.keptAs), text);
}

TEST(BookmarkStore, FailedSaveThrowsAndLeavesTheOldStore) {
    TempDir dir;
    std::string store = dir.file("Zarvel Bookmarks");
    SaveBookmarkStore(store, {Sample("kept")});
    std::string before = readFile(store);
    writeFile(dir.file("file"), "x");
    EXPECT_THROW(SaveBookmarkStore(dir.file("file") + "/Zarvel Bookmarks", {Sample("x")}),
                 PPx::OSError);
    // A store that became a folder cannot be replaced; nothing is lost.
    EXPECT_EQ(readFile(store), before);
}

TEST(BookmarkFiles, ExportNamesStayInsideTheFolder) {
    EXPECT_EQ(ExportFileName("My server"), "My server.zarvel");
    EXPECT_EQ(ExportFileName("../up"), "__-up.zarvel");
    EXPECT_EQ(ExportFileName("/etc/passwd"), "-etc-passwd.zarvel");
    EXPECT_EQ(ExportFileName(".hidden"), "_hidden.zarvel");
    EXPECT_EQ(ExportFileName(".."), "__.zarvel");
    EXPECT_EQ(ExportFileName(""), "Bookmark.zarvel");
    std::string longName(300, 'x');
    EXPECT_LE(ExportFileName(longName).size(), 255u);
    std::string wide;
    for (int i = 0; i < 100; ++i)
        wide += "é";
    std::string cut = ExportFileName(wide);
    EXPECT_LE(cut.size(), 255u);
    EXPECT_EQ((cut.size() - 7) % 2, 0u); // whole two-byte characters only

    TempDir dir;
    std::string path = ExportBookmark(Sample("../../escape"), dir.path());
    EXPECT_EQ(path, dir.file("__-..-escape.zarvel"));
    EXPECT_TRUE(Exists(path));
}

TEST(BookmarkFiles, ExportReplacesAndReadsBack) {
    TempDir dir;
    sBookMarkData a = Sample("alpha"), b = Sample("beta");
    b.secure = true;
    std::string pa = ExportBookmark(a, dir.path());
    std::string pb = ExportBookmark(b, dir.path() + "/");
    EXPECT_NE(pa, pb);
    EXPECT_EQ(Mode(pa), 0600);
    sBookMarkData read;
    ASSERT_TRUE(ReadExportedBookmark(pb, read));
    EXPECT_EQ(read, b);

    a.host = "changed.example.org";
    EXPECT_EQ(ExportBookmark(a, dir.path()), pa);
    ASSERT_TRUE(ReadExportedBookmark(pa, read));
    EXPECT_EQ(read.host, "changed.example.org");

    // An exported file needs "BookmarkSecure"; folders and junk are no bookmarks.
    writeFile(dir.file("nosecure.zarvel"), "<?xml version=\"1.0\"?><plist version=\"1.0\">" +
                                               Dict("n", "<integer>21</integer>", false) +
                                               "</plist>");
    EXPECT_FALSE(ReadExportedBookmark(dir.file("nosecure.zarvel"), read));
    EXPECT_FALSE(ReadExportedBookmark(dir.path(), read));
    writeFile(dir.file("junk.zarvel"), "not a bookmark at all");
    EXPECT_FALSE(ReadExportedBookmark(dir.file("junk.zarvel"), read));
    EXPECT_FALSE(ReadExportedBookmark(dir.file("absent.zarvel"), read));
}

TEST(BookmarkFields, PortText) {
    int32_t port = 0;
    EXPECT_TRUE(ReadPortText("21", port));
    EXPECT_EQ(port, 21);
    EXPECT_TRUE(ReadPortText("  2121 ", port));
    EXPECT_EQ(port, 2121);
    EXPECT_TRUE(ReadPortText("65535", port));
    EXPECT_TRUE(ReadPortText("+22", port));
    EXPECT_EQ(port, 22);
    for (const char* bad : {"0", "65536", "-21", "abc", "", " ", "99999999999999999999", "21abc",
                            "2121x", "21 22", "2 1"})
        EXPECT_FALSE(ReadPortText(bad, port)) << bad;
}

TEST(BookmarkFields, HostURLs) {
    sBookMarkData b = Sample("url");
    std::string error;
    b.host = "sftp://u:p@h:2200/home";
    ASSERT_TRUE(ApplyHostURL(b, error));
    EXPECT_EQ(b.host, "h");
    EXPECT_EQ(b.username, "u");
    EXPECT_EQ(b.password, "p");
    EXPECT_EQ(b.port, 2200);
    EXPECT_EQ(b.dir, "/home");
    EXPECT_TRUE(b.secure);

    // ftp turns an SFTP bookmark into FTP; without a port the bookmark's stays.
    b = Sample("url");
    b.secure = true;
    b.port = 2121;
    b.host = "FTP://files.example.org";
    ASSERT_TRUE(ApplyHostURL(b, error));
    EXPECT_EQ(b.host, "files.example.org");
    EXPECT_FALSE(b.secure);
    EXPECT_EQ(b.port, 2121);
    EXPECT_EQ(b.username, "anna");
    EXPECT_EQ(b.dir, "/pub");

    b.host = "SFTP://x%40y:p%3Aq@[::1]:22/a%20b?query";
    ASSERT_TRUE(ApplyHostURL(b, error));
    EXPECT_EQ(b.host, "::1");
    EXPECT_EQ(b.username, "x@y");
    EXPECT_EQ(b.password, "p:q");
    EXPECT_EQ(b.dir, "/a b");
    EXPECT_TRUE(b.secure);

    b.host = "plain.example.org";
    ASSERT_TRUE(ApplyHostURL(b, error));
    EXPECT_EQ(b.host, "plain.example.org");

    struct Bad {
        const char* host;
        const char* message;
    } bad[] = {{"sftp://", kURLWithoutHostMessage}, {"sftp://u:p@:22/home", kURLWithoutHostMessage},
               {"ftp://h:0", kBadPortMessage},      {"ftp://h:70000", kBadPortMessage},
               {"ftp://h:2x", kBadPortMessage},     {"ftp://h x", kBadURLMessage},
               {"ftp://h/%zz", kBadURLMessage},     {"1ftp://h", kBadURLMessage}};
    for (const Bad& entry : bad) {
        sBookMarkData copy = Sample("bad");
        copy.host = entry.host;
        error.clear();
        EXPECT_FALSE(ApplyHostURL(copy, error)) << entry.host;
        EXPECT_EQ(error, entry.message) << entry.host;
        EXPECT_EQ(copy.host, entry.host);
        EXPECT_FALSE(CheckHostText(entry.host, error));
    }
}
