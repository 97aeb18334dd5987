// The tool's command grammar and the texts it prints.
#include "tools/sftp/cmdline.h"

#include <gtest/gtest.h>

using namespace sftptool;

namespace {

std::vector<std::string> words(const std::string& line) {
    std::vector<Word> w;
    std::string error;
    EXPECT_TRUE(splitWords(line, w, error)) << error;
    std::vector<std::string> out;
    for (auto& x : w)
        out.push_back(x.text);
    return out;
}

TEST(SftpCommandLine, TakesTheArgumentsTheProgramPasses) {
    Destination d;
    EXPECT_EQ(parseArguments({"-oCheckHostIP=no", "-oProtocol=2,1", "-oPort=2222", "me@x@host"}, d),
              "");
    EXPECT_EQ(d.user, "me@x"); // split at the last @
    EXPECT_EQ(d.host, "host");
    EXPECT_EQ(d.port, 2222);
    EXPECT_NE(parseArguments({"-oProxyCommand=sh", "u@h"}, d), "");
    EXPECT_NE(parseArguments({"-b", "u@h"}, d), "");
    EXPECT_NE(parseArguments({"-oPort=70000", "u@h"}, d), "");
    EXPECT_NE(parseArguments({"host"}, d), "");
    EXPECT_NE(parseArguments({"u@h", "v@h"}, d), "");
    EXPECT_NE(parseArguments({}, d), "");
}

TEST(SftpCommandLine, SplitsWordsWithQuotesAndEscapes) {
    EXPECT_EQ(words("get  a   b"), (std::vector<std::string>{"get", "a", "b"}));
    EXPECT_EQ(words("get \"a b\" c"), (std::vector<std::string>{"get", "a b", "c"}));
    EXPECT_EQ(words("rm \"q\\\"x\\\\y\""), (std::vector<std::string>{"rm", "q\"x\\y"}));
    // Bare words are taken as they are: backslashes and inner quotes included.
    EXPECT_EQ(words("rm a\\b c\"d *"), (std::vector<std::string>{"rm", "a\\b", "c\"d", "*"}));
    EXPECT_EQ(words("rm \"\""), (std::vector<std::string>{"rm", ""}));
    std::vector<Word> w;
    std::string error;
    EXPECT_FALSE(splitWords("rm \"open", w, error));
    EXPECT_FALSE(splitWords("rm \"a\"b", w, error));
    EXPECT_TRUE(splitWords("ls -l \"-l\"", w, error));
    EXPECT_FALSE(w[1].quoted);
    EXPECT_TRUE(w[2].quoted);
}

TEST(SftpCommandLine, ALineEndEndsACommandOnlyOutsideQuotes) {
    EXPECT_EQ(findCommandEnd("pwd"), std::string::npos);
    EXPECT_EQ(findCommandEnd("pwd\nls\n"), 3u);
    EXPECT_EQ(findCommandEnd("pwd\r"), 3u);
    EXPECT_EQ(findCommandEnd("rm \"a\nrm b\"\n"), 11u);
    EXPECT_EQ(findCommandEnd("rm \"a\\\"\nb\""), std::string::npos);
    EXPECT_EQ(findCommandEnd("rm a\"b\n"), 6u); // a quote inside a bare word opens nothing
    EXPECT_EQ(echoText("rm \"a\r\nb\""), "rm \"a\\r\\nb\"");
}

TEST(SftpCommandLine, LongListingLinesHaveTheUnixColumns) {
    ListEntry e;
    e.name = "a  b.txt";
    e.mode = 0100644;
    e.size = 1234;
    e.owner = "ftp";
    e.group = "staff";
    struct tm t {};
    t.tm_year = 2005 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 31;
    t.tm_hour = 12;
    t.tm_min = 5;
    t.tm_isdst = -1;
    const time_t when = mktime(&t);
    e.mtime = when;
    EXPECT_EQ(longListingLine(e, when + 3600),
              "-rw-r--r--   1 ftp      staff        1234 Jan 31 12:05 a  b.txt");
    EXPECT_EQ(longListingLine(e, when + 400 * 24 * 3600),
              "-rw-r--r--   1 ftp      staff        1234 Jan 31  2005 a  b.txt");
    // A name with line ends from a hostile server cannot forge lines.
    e.name = "x\r\nsftp> \x7f";
    EXPECT_EQ(longListingLine(e, when + 3600),
              "-rw-r--r--   1 ftp      staff        1234 Jan 31 12:05 x??sftp> ?");
    // Owners of any length keep the whole line.
    e.name = "f";
    e.owner = std::string(300, 'o');
    EXPECT_EQ(longListingLine(e, when + 3600),
              "-rw-r--r--   1 " + e.owner + " staff        1234 Jan 31 12:05 f");
    EXPECT_EQ(modeString(040755), "drwxr-xr-x");
    EXPECT_EQ(modeString(0120777), "lrwxrwxrwx");
    EXPECT_EQ(modeString(0106755), "-rwsr-sr-x");
    EXPECT_EQ(modeString(041777), "drwxrwxrwt");

    ListEntry f;
    EXPECT_TRUE(
        ownerFromLongName("-rw-r--r--    1 alice    users        1234 Jan 31 12:05 x", 1234, f));
    EXPECT_EQ(f.owner, "alice");
    EXPECT_EQ(f.group, "users");
    EXPECT_FALSE(ownerFromLongName("-rw-r--r--    1 alice    users        99 Jan 31 x", 1234, f));
    EXPECT_FALSE(ownerFromLongName("", 0, f));
}

TEST(SftpCommandLine, ServerTextsShowControlCharactersOfEveryKindAsQuestionMarks) {
    // C0, DEL, C1 as UTF-8 (U+0085, U+009B) and as bare bytes; other UTF-8
    // (U+00A0, U+00E9, U+20AC, U+1F600) and bytes beyond C1 stay as they are.
    EXPECT_EQ(printable("a\x1b[2J\r\n\x7f"), "a?[2J???");
    EXPECT_EQ(printable("\xc2\x85\xc2\x9b|\x85\x9b|\xc2\xa0\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"),
              "??|??|\xc2\xa0\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
    // Broken sequences: a lead byte without its continuation, an overlong
    // form of U+0085 and a cut sequence at the end are not UTF-8.
    EXPECT_EQ(printable("\xc3(\xc0\x85\xe2\x82"), "\xc3(\xc0?\xe2?");
}

TEST(SftpCommandLine, PrintsModificationTimesInTheFiveFieldForm) {
    struct tm t {};
    t.tm_year = 2005 - 1900;
    t.tm_mon = 0;
    t.tm_mday = 5;
    t.tm_hour = 3;
    t.tm_min = 4;
    t.tm_sec = 5;
    t.tm_isdst = -1;
    EXPECT_EQ(modTimeText(mktime(&t)), "Wed Jan  5 03:04:05 2005");
}

TEST(SftpCommandLine, ReadsOffsetsModesAndNames) {
    uint64_t o = 0;
    EXPECT_TRUE(parseOffset("0", o));
    EXPECT_TRUE(parseOffset("18446744073709551", o));
    EXPECT_EQ(o, 18446744073709551ull);
    EXPECT_FALSE(parseOffset("-1", o));
    EXPECT_FALSE(parseOffset("12x", o));
    EXPECT_FALSE(parseOffset("", o));
    unsigned m = 0;
    EXPECT_TRUE(parseMode("644", m));
    EXPECT_EQ(m, 0644u);
    EXPECT_FALSE(parseMode("89", m));
    EXPECT_FALSE(parseMode("77777", m));
    EXPECT_EQ(lastComponent("a/b/c.txt"), "c.txt");
    EXPECT_EQ(lastComponent("dir/"), "dir");
    EXPECT_EQ(lastComponent("/"), "");
    EXPECT_EQ(lastComponent(".."), "");
    EXPECT_EQ(remotePath("/home/u", "x"), "/home/u/x");
    EXPECT_EQ(remotePath("/", "x"), "/x");
    EXPECT_EQ(remotePath("/home/u", "/abs"), "/abs");
    const unsigned char bytes[] = {0xff, 0x00, 0x10, 0x20};
    EXPECT_EQ(base64(bytes, 4), "/wAQIA");
}

} // namespace
