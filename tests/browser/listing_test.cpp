// The listing parsers over hand-written listings: the Unix, Windows NT and
// classic MacOS forms, line splitting, and lines that must not yield records.
#include "browser/core/Listing.h"
#include "engine/FTPDateManager.h"
#include "engine/ProtocolBackend.h"

#include <gtest/gtest.h>

namespace {

std::vector<sFileData> Unix(const std::string& text) {
    std::vector<sFileData> out;
    ParseDirUnix(text, out);
    return out;
}

std::vector<sFileData> Mac(const std::string& text) {
    std::vector<sFileData> out;
    ParseDirMACOS(text, out);
    return out;
}

} // namespace

TEST(ListingUnix, TotalLineThenFileWithBlankInName) {
    const auto out =
        Unix("total 8\r\n-rw-r--r--   1 ftp      ftp          1234 Jan 31 12:05 a b.txt");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].permissions, "-rw-r--r--");
    EXPECT_EQ(out[0].linkCount, "1");
    EXPECT_EQ(out[0].owner, "ftp");
    EXPECT_EQ(out[0].group, "ftp");
    EXPECT_EQ(out[0].sizeText, "1234");
    EXPECT_EQ(out[0].month, "Jan");
    EXPECT_EQ(out[0].day, "31");
    EXPECT_EQ(out[0].timeOrYear, "12:05");
    EXPECT_EQ(out[0].name, "a b.txt");
    EXPECT_EQ(out[0].flags, 0u);
}

TEST(ListingUnix, GroupColumnPresentOrMissing) {
    auto out = Unix("-rw-r--r-- 1 ftp 1234 Jan 31 12:05 a.txt\n");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].owner, "ftp");
    EXPECT_EQ(out[0].group, "");
    EXPECT_EQ(out[0].sizeText, "1234");
    EXPECT_EQ(out[0].month, "Jan");
    EXPECT_EQ(out[0].name, "a.txt");

    // A three-digit size is a size, not a month.
    out = Unix("-rw-r--r-- 1 ftp ftp 123 Jan 31 2005 b\n");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].group, "ftp");
    EXPECT_EQ(out[0].sizeText, "123");
    EXPECT_EQ(out[0].month, "Jan");
    EXPECT_EQ(out[0].timeOrYear, "2005");

    // Three characters with a letter: the group column is missing.
    out = Unix("-rw-r--r-- 1 ftp 99 1a2 31 2005 c\n");
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].group, "");
    EXPECT_EQ(out[0].sizeText, "99");
    EXPECT_EQ(out[0].month, "1a2");
}

TEST(ListingUnix, LinksFoldersAndDots) {
    const auto out = Unix("lrwxrwxrwx 1 root root 7 Jan 31 12:05 bin -> usr/bin\n"
                          "drwxr-xr-x 2 root root 4096 Jan 31 12:05 .\n"
                          "drwxr-xr-x 2 root root 4096 Jan 31 12:05 ..\n"
                          "drwxr-xr-x 2 root root 4096 Jan 31 12:05 sub\n"
                          "lrwxrwxrwx 1 root root 7 Jan 31 12:05 a -> b -> c\n"
                          "lrwxrwxrwx 1 root root 7 Jan 31 12:05 plain\n");
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].name, "bin");
    EXPECT_EQ(out[0].linkTarget, "usr/bin");
    EXPECT_EQ(out[0].flags, kFileDataLink);
    EXPECT_EQ(out[1].name, "sub");
    EXPECT_EQ(out[1].sizeText, "0");
    EXPECT_EQ(out[2].name, "a");
    EXPECT_EQ(out[2].linkTarget, "b -> c");
    EXPECT_EQ(out[3].name, "plain");
    EXPECT_EQ(out[3].linkTarget, "");
    EXPECT_EQ(out[3].flags, kFileDataLink);

    std::vector<sFileInfo> items;
    int32_t type = kServerUnix;
    BuildFileList("lrwxrwxrwx 1 root root 7 Jan 31 12:05 bin -> usr/bin\n", items, type);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(items[0].isLink);
    EXPECT_FALSE(items[0].isFolder);
    EXPECT_EQ(items[0].name, "bin");
    // A recent file's time of day is kept; an older one's date has none.
    BuildFileList("-rw-r--r-- 1 u g 5 Jan 31 12:05 new\n-rw-r--r-- 1 u g 5 Jan 31 2001 old\n",
                  items, type);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(std::make_pair(items[0].modDate.hour, items[0].modDate.minute),
              std::make_pair(int16_t{12}, int16_t{5}));
    EXPECT_EQ(items[1].modDate, (DateTimeRec{2001, 1, 31, 0, 0, 0, 0}));
}

TEST(ListingUnix, BlanksTabsAndNamesKeptByteForByte) {
    const auto out = Unix("-rw-r--r-- 1 u g 5 Jan 31 12:05  lead\n"
                          "-rw-r--r-- 1 u g 5 Jan 31 12:05 trail  \n"
                          "-rw-r--r-- 1 u g 5 Jan 31 12:05 tab\there\n"
                          "-rw-r--r-- 1 u g 5 Jan 31 12:05 caf\xc3\xa9\xff/..\n"
                          "-rw-r--r--\t1 u g 5 Jan 31 12:05 tabbed-columns\n");
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(out[0].name, " lead");
    EXPECT_EQ(out[1].name, "trail  ");
    EXPECT_EQ(out[2].name, "tab\there");
    EXPECT_EQ(out[3].name, "caf\xc3\xa9\xff/..");
    // The tab joins two columns, so the line reads as one without a group.
    EXPECT_EQ(out[4].permissions, "-rw-r--r--\t1");
    EXPECT_EQ(out[4].linkCount, "u");
    EXPECT_EQ(out[4].owner, "g");
    EXPECT_EQ(out[4].sizeText, "5");
    EXPECT_EQ(out[4].name, "tabbed-columns");
}

TEST(ListingUnix, IncompleteLinesAreSkipped) {
    const char* lines[] = {
        "-",
        "-rw-r--r--",
        "-rw-r--r-- 1 u g 5 Jan 31 12:05",
        "-rw-r--r-- 1 u g 5 Jan 31 12:05 ",
        "-rw-r--r-- 1 u g 5 Jan 31",
        "lrwxrwxrwx 1 u g 5 Jan 31 12:05  -> target",
        " -rw-r--r-- 1 u g 5 Jan 31 12:05 leading-blank",
        "total 12",
        "crw-r--r-- 1 u g 5, 1 Jan 31 12:05 device",
    };
    for (const char* line : lines)
        EXPECT_TRUE(Unix(line).empty()) << line;
}

TEST(ListingLines, SeparatorsBlankLinesAndLastLine) {
    const std::string a = "-rw-r--r-- 1 u g 1 Jan 1 2001 a";
    const std::string b = "-rw-r--r-- 1 u g 2 Jan 1 2001 b";
    const std::string c = "-rw-r--r-- 1 u g 3 Jan 1 2001 c";
    for (const std::string& text : {a + "\r" + b + "\n" + c, a + "\r\n" + b + "\r\n" + c + "\r\n",
                                    "\n\n\r" + a + "\n\r\n\r\n" + b + "\r\r" + c + "\n\n"}) {
        const auto out = Unix(text);
        ASSERT_EQ(out.size(), 3u);
        EXPECT_EQ(out[0].name, "a");
        EXPECT_EQ(out[1].name, "b");
        EXPECT_EQ(out[2].name, "c");
    }
    EXPECT_TRUE(Unix("\r\n\r\n").empty());
}

TEST(ListingNT, FoldersFilesAndFields) {
    std::vector<sFileData> out;
    int32_t type = kServerWindowsNT;
    ParseDirNT("01-31-05  10:22AM       <DIR>          Docs\r\n"
               "02-03-99  01:15PM                12345   read me.txt  \r\n"
               "02-03-99  01:15PM                12345\r\n"
               "02-03-99  01:15PM                12345   \r\n",
               out, type);
    EXPECT_EQ(type, kServerWindowsNT);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].name, "Docs");
    EXPECT_EQ(out[0].permissions, "d??????");
    EXPECT_EQ(out[0].linkCount, "1");
    EXPECT_EQ(out[0].sizeText, "0");
    EXPECT_EQ(out[0].month, "01");
    EXPECT_EQ(out[0].day, "31");
    EXPECT_EQ(out[0].timeOrYear, "05");
    EXPECT_EQ(out[0].owner, "?");
    EXPECT_EQ(out[0].group, "?");
    EXPECT_EQ(out[1].name, "read me.txt  ");
    EXPECT_EQ(out[1].permissions, "-??????");
    EXPECT_EQ(out[1].linkCount, "?");
    EXPECT_EQ(out[1].sizeText, "12345");

    std::vector<sFileInfo> items;
    type = kServerWindowsNT;
    BuildFileList("01-31-05  10:22AM       <DIR>          Docs\r\n"
                  "02-03-99  01:15PM                12345 x.bin\r\n"
                  "02-03-99  01:15PM       <DIR>          .\r\n",
                  items, type);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_TRUE(items[0].isFolder);
    EXPECT_EQ(items[0].permissions, "??????");
    EXPECT_EQ(items[0].modDate.year, 2005);
    EXPECT_EQ(items[0].modDate.month, 1);
    EXPECT_EQ(items[0].modDate.day, 31);
    EXPECT_FALSE(items[1].isFolder);
    EXPECT_EQ(items[1].size, 12345u);
    EXPECT_EQ(items[1].modDate.year, 1999);
}

TEST(ListingNT, NonNTLineSwitchesTheServerToUnix) {
    std::vector<sFileData> out;
    int32_t type = kServerWindowsNT;
    ParseDirNT("01-31-05  10:22AM       <DIR>          Docs\r\n"
               "-rw-r--r-- 1 u g 5 Jan 31 12:05 unix.txt\r\n"
               "02-03-99  01:15PM                12345 later.txt\r\n",
               out, type);
    EXPECT_EQ(type, kServerUnix);
    // The NT line before the switch stays; the NT line after it is not one
    // the Unix rules take.
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].name, "Docs");
    EXPECT_EQ(out[1].name, "unix.txt");

    std::vector<sFileInfo> items;
    type = kServerWindowsNT;
    BuildFileList("550 No such file or directory.\r\n", items, type);
    EXPECT_EQ(type, kServerUnix);
    EXPECT_TRUE(items.empty());
}

TEST(ListingMac, FilesFoldersAndNames) {
    const auto out = Mac("-rw-r--r--    7    100    2048 Nov 22  1995   Read Me\r"
                         "drwxr-xr-x folder 2 May 10 1996 network\r"
                         "drwxr-xr-x folder 2 May 10 1996 ..\r"
                         "lrwxr-xr-x 1 2 3 May 10 1996 alias -> target\r"
                         "-rw-r--r-- 7 100 2048 Nov 22 1995    \r");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].name, "Read Me");
    EXPECT_EQ(out[0].linkCount, "7");
    EXPECT_EQ(out[0].sizeText, "2048");
    EXPECT_EQ(out[0].owner, "");
    EXPECT_EQ(out[0].group, "");
    EXPECT_EQ(out[0].month, "Nov");
    EXPECT_EQ(out[0].day, "22");
    EXPECT_EQ(out[0].timeOrYear, "1995");
    EXPECT_EQ(out[1].name, "network");
    EXPECT_EQ(out[1].linkCount, "folder");
    EXPECT_EQ(out[1].sizeText, "0");
    EXPECT_EQ(out[2].name, "alias");
    EXPECT_EQ(out[2].linkTarget, "target");
    EXPECT_EQ(out[2].flags, kFileDataLink);
}

TEST(ListingBuild, ParserChosenByServerTypeAndOutputsEmptied) {
    std::vector<sFileInfo> items(3);
    int32_t type = kServerUnix;
    BuildFileList("", items, type);
    EXPECT_TRUE(items.empty());

    const std::string mac = "drwxr-xr-x folder 2 May 10 1996 network\r";
    for (int32_t server : {kServerUnknown, kServerUnix, 7, -1}) {
        type = server;
        BuildFileList("-rw-r--r-- 1 u g 5 Jan 31 2004 f\n", items, type);
        ASSERT_EQ(items.size(), 1u) << server;
        EXPECT_EQ(type, server);
    }
    type = kServerMacOS;
    BuildFileList(mac, items, type);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_TRUE(items[0].isFolder);
    // The Unix rules find no name on the same line.
    type = kServerUnix;
    BuildFileList(mac, items, type);
    EXPECT_TRUE(items.empty());
}

// A name holding a NUL would be cut there on its way into a path or a
// command, naming another item: such lines are left out by every parser.
TEST(ListingBuild, LinesWhoseNameHoldsANulAreLeftOut) {
    using namespace std::string_literals;
    const std::string nul = "-rw-r--r--   1 ftp ftp 12 Dec  1 10:00 nul\0inside.txt\r\n"s;
    const struct {
        int32_t server;
        std::string listing; // the one line kept is named "kept"
    } rows[] = {
        {kServerUnix, nul + "lrwxrwxrwx 1 u g 5 Jan 31 2004 \0link -> t\r\n"s +
                          "drwxr-xr-x 1 u g 5 Jan 31 2004 sub\0\r\n"s +
                          "-rw-r--r-- 1 u g 5 Jan 31 2004 kept\r\n"},
        {kServerWindowsNT, "02-03-99  01:15PM  12 nul\0inside.txt\r\n"s +
                               "01-31-05  10:22AM  <DIR>  \0Docs\r\n"s +
                               "02-03-99  01:15PM  12 kept\r\n"},
        // The classic Mac form reads the name as "10:00 nul\0inside.txt".
        {kServerMacOS, nul + "-rw-r--r-- 1 2 5 Jan 31 2004 kept\r\n"},
    };
    for (const auto& row : rows) {
        std::vector<sFileInfo> items;
        int32_t type = row.server;
        BuildFileList(row.listing, items, type);
        EXPECT_EQ(type, row.server);
        ASSERT_EQ(items.size(), 1u) << row.server;
        EXPECT_EQ(items[0].name, "kept") << row.server;
    }
}

// Listings long enough that their item storage is prepared before the parse
// (huge pages, populated in advance): every item must come out as the record
// path makes it, also when the storage is reused, and when lines that end in a
// CR alone make the storage grow past what was prepared.
std::string LongListing(bool nt, size_t lines, bool someEndInCRAlone) {
    std::string text;
    for (size_t i = 0; i < lines; ++i) {
        const std::string n = std::to_string(i);
        // Mostly short names, every third long enough for a heap block.
        const std::string name = i % 3 == 0 ? "a name longer than fifteen " + n : "f" + n;
        if (nt)
            text += (i % 5 == 0 ? "01-31-05  10:22AM       <DIR>          "
                                : "02-03-99  01:15PM       " + std::to_string(i * 7) + " ") +
                    name;
        else if (i % 5 == 0)
            text += "drwxr-xr-x 2 owner group 4096 Jan 31 12:05 " + name;
        else if (i % 7 == 0)
            text += "lrwxrwxrwx 1 owner group 7 Feb 3 1999 " + name + " -> target" + n;
        else
            text += "-rw-r--r-- 1 owner group " + std::to_string(i * 7) + " Mar 9 2004 " + name;
        text += someEndInCRAlone && i % 2 == 1 ? "\r" : "\r\n";
    }
    return text;
}

TEST(ListingBuild, LongNamesOwnersAndGroupsKeptWhole) {
    // Items keep short texts in place and longer ones elsewhere: a text on
    // either side of that limit must come out whole.
    const std::string fits(59, 'n');
    const std::string spills = fits + "x";
    const std::string path(300, 'p');
    const std::string owner = "a-rather-long-owner-name";
    const std::string text = "-rw-r--r-- 1 " + owner + " staff 5 Jan 31 12:05 " + fits + "\n" +
                             "-rw-r--r-- 1 root " + owner + " 6 Jan 31 12:05 " + spills + "\n" +
                             "drwxr-xr-x 1 root staff 7 Jan 31 12:05 " + path + "\n";
    std::vector<sFileInfo> items;
    int32_t type = kServerUnix;
    BuildFileList(text, items, type);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].name, fits);
    EXPECT_EQ(items[0].owner, owner);
    EXPECT_EQ(items[0].group, "staff");
    EXPECT_EQ(items[1].name, spills);
    EXPECT_EQ(items[1].group, owner);
    EXPECT_EQ(items[2].name, path);
    EXPECT_TRUE(items[2].isFolder);
    EXPECT_EQ(items[2].permissions, "rwxr-xr-x");
    const std::vector<sFileInfo> copy = items;
    EXPECT_EQ(copy, items);
}

TEST(ListingBuild, LongListingsAgreeWithTheRecordPath) {
    constexpr size_t kLines = 40000; // several megabytes of items
    for (const bool nt : {false, true})
        for (const bool someEndInCRAlone : {false, true}) {
            const std::string text = LongListing(nt, kLines, someEndInCRAlone);
            std::vector<sFileData> records;
            int32_t type = nt ? kServerWindowsNT : kServerUnix;
            if (nt)
                ParseDirNT(text, records, type);
            else
                ParseDirUnix(text, records);
            ASSERT_EQ(records.size(), kLines) << nt << someEndInCRAlone;
            std::vector<sFileInfo> expected;
            FileDataToFileList(records, expected);

            std::vector<sFileInfo> items;
            for (int pass = 0; pass < 2; ++pass) {
                type = nt ? kServerWindowsNT : kServerUnix;
                BuildFileList(text, items, type);
                EXPECT_EQ(type, nt ? kServerWindowsNT : kServerUnix);
                ASSERT_EQ(items.size(), kLines) << nt << someEndInCRAlone << pass;
                EXPECT_TRUE(items == expected) << nt << someEndInCRAlone << pass;
            }
            EXPECT_EQ(items[1].name, "f1");
            EXPECT_EQ(items[3].name, "a name longer than fifteen 3");
            EXPECT_EQ(items.back().name, "a name longer than fifteen 39999");
            EXPECT_EQ(items[3].size, 21u);
        }
}

TEST(ListingConvert, SizesDatesPermissionsAndDots) {
    std::vector<sFileData> records(6);
    records[0].permissions = "-rw-r--r--";
    records[0].name = "big";
    records[0].sizeText = "18446744073709551615";
    records[0].day = "5";
    records[0].month = "Jan";
    records[0].timeOrYear = "2005";
    records[0].owner = "o";
    records[0].group = "g";
    records[1].permissions = "drwx------";
    records[1].name = "dir";
    records[1].sizeText = "x12";
    records[1].day = "31";
    records[1].month = "12";
    records[1].timeOrYear = "99";
    records[2].permissions = "-";
    records[2].name = "over";
    records[2].sizeText = "18446744073709551616";
    records[2].day = "stat";
    records[3].name = ".";
    records[4].name = "..";
    records[5].name = "bare"; // no permissions at all
    records[5].sizeText = "12abc";
    records[5].flags = kFileDataLink;

    std::vector<sFileInfo> out(2);
    const DateTimeRec before = [] {
        DateTimeRec d;
        FTPDateManager::LocalNow().GetDateRec(d);
        return d;
    }();
    FileDataToFileList(records, out);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0].size, 18446744073709551615ull);
    EXPECT_EQ(out[0].permissions, "rw-r--r--");
    EXPECT_EQ(out[0].owner, "o");
    EXPECT_EQ(out[0].group, "g");
    EXPECT_EQ(out[0].modDate, (DateTimeRec{2005, 1, 5, 0, 0, 0, 0}));
    EXPECT_TRUE(out[1].isFolder);
    EXPECT_EQ(out[1].size, 0u);
    EXPECT_EQ(out[1].modDate, (DateTimeRec{1999, 12, 31, 0, 0, 0, 0}));
    EXPECT_EQ(out[1].resumeOffset, "");
    EXPECT_EQ(out[2].size, 0u);
    EXPECT_EQ(out[2].permissions, "");
    // "stat" with no number: 1970-01-01 00:00 UTC in local time.
    FTPDateManager epoch;
    ASSERT_TRUE(epoch.FromStatFormat("stat"));
    DateTimeRec epochRec;
    epoch.GetDateRec(epochRec);
    EXPECT_EQ(out[2].modDate, epochRec);
    EXPECT_EQ(out[3].name, "bare");
    EXPECT_EQ(out[3].size, 12u);
    EXPECT_FALSE(out[3].isFolder);
    EXPECT_TRUE(out[3].isLink);
    // No date at all: now.
    EXPECT_GE(out[3].modDate.year, before.year);
    EXPECT_NE(out[3].modDate.dayOfWeek, 0);
}

// The conversion reads dates with the local "now" looked up once per listing;
// it must agree with FTPDateManager on every form.
TEST(ListingConvert, DatesAgreeWithTheDateManager) {
    const char* days[] = {"", "0", "1", "31", "32", "05", "7x", "stat", "stat 86400", " 3"};
    const char* months[] = {"", "Jan", "Dec", "jan", "January", "0", "1", "12", "13", "01"};
    const char* thirds[] = {"",      "0",     "50",  "51",    "99",     "2005",
                            "32767", "32768", "-12", " 7",    "\t1999", "12:05",
                            ":",     "0005",  "123", "1999x", "+42",    "99999999999"};
    std::vector<sFileData> records;
    for (const char* d : days)
        for (const char* m : months)
            for (const char* t : thirds) {
                sFileData& r = records.emplace_back();
                r.permissions = "-";
                r.name = "n";
                r.day = d;
                r.month = m;
                r.timeOrYear = t;
            }
    // Each month against today's date, for the time-of-day rule.
    for (int m = 0; m < 12; ++m)
        for (const char* d : {"1", "15", "28", "31"}) {
            static const char* const names[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
            sFileData& r = records.emplace_back();
            r.name = "n";
            r.day = d;
            r.month = names[m];
            r.timeOrYear = "23:59";
        }
    std::vector<sFileInfo> out;
    FileDataToFileList(records, out);
    ASSERT_EQ(out.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        FTPDateManager manager;
        DateTimeRec expected;
        if (manager.FromUnknownFormat(records[i].day, records[i].month, records[i].timeOrYear))
            manager.GetDateRec(expected);
        else
            FTPDateManager::LocalNow().GetDateRec(expected);
        EXPECT_EQ(out[i].modDate.year, expected.year)
            << records[i].day << "|" << records[i].month << "|" << records[i].timeOrYear;
        EXPECT_EQ(out[i].modDate.month, expected.month);
        EXPECT_EQ(out[i].modDate.day, expected.day);
    }
}
