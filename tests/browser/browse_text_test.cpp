// The window's texts and name checks that need no window.
#include "browser/window/BrowseText.h"
#include "engine/ConnectionRecords.h"

#include <gtest/gtest.h>

TEST(BrowseText, StripsTheReplyCodeWhereverItStands) {
    EXPECT_EQ(StripReplyCode("550 No such file"), "No such file");
    // The hyphen form goes from every line; the closing line keeps its code.
    EXPECT_EQ(StripReplyCode("530-Login failed\n530-Try again\n530 Bye"),
              "Login failed\nTry again\n530 Bye");
    EXPECT_EQ(StripReplyCode("421 one 421 two"), "one two");
    for (const char* unchanged : {"550 ", "55", "X50 nope", "5a0 nope", "550:x", ""})
        EXPECT_EQ(StripReplyCode(unchanged), unchanged);
}

TEST(BrowseText, ServerTextsAreShownPlainShortAndVisible) {
    EXPECT_EQ(DisplayableText("<b>bold</b> & more"), "<b>bold</b> & more");
    EXPECT_EQ(DisplayableText("a\r\nb\nc"), "a\nb\nc");
    EXPECT_EQ(DisplayableText(std::string("a\0b\x1b[1m\x7f", 8)), "a\xE2\x90\x80"
                                                                  "b\xE2\x90\x9B[1m\xE2\x90\xA1");
    EXPECT_EQ(DisplayableText("a\rb"), "a\xE2\x90\x8D"
                                       "b");
    EXPECT_EQ(DisplayableText("\xff ok"), "\xEF\xBF\xBD ok"); // no valid UTF-8
    // At most 255 characters, never half of one.
    EXPECT_EQ(DisplayableText(std::string(300, 'x')), std::string(255, 'x'));
    std::string accents;
    for (int i = 0; i < 300; ++i)
        accents += "\xC3\xA9";
    EXPECT_EQ(DisplayableText(accents).size(), 510u);
}

TEST(BrowseText, SizeTexts) {
    const std::pair<uint64_t, const char*> cases[] = {
        {0, "0"},
        {1023, "1023"},
        {1024, "1 KB"},
        {1536, "1.50 KB"},
        {1048575, "1023.99 KB"},
        {1048576, "1 MB"},
        {2097152, "2 MB"},
        {1073741823, "1023.99 MB"},
        {1073741824, "1 GB"},
        {UINT64_MAX, "17179869183.99 GB"},
    };
    for (const auto& [size, text] : cases)
        EXPECT_EQ(SizeText(size), text) << size;
}

TEST(BrowseText, PathPopupItemsAndTheirPaths) {
    const std::vector<std::string> items = PathPopupItems("/home/user/www");
    EXPECT_EQ(items, (std::vector<std::string>{"/", "home", "user", "www"}));
    EXPECT_EQ(PathForPopupItem(items, 3), "/home/user/");
    EXPECT_EQ(PathForPopupItem(items, 4), "/home/user/www/");
    EXPECT_EQ(PathForPopupItem(items, 1), "/");
    EXPECT_EQ(PathPopupItems("/"), std::vector<std::string>{"/"});
    EXPECT_EQ(PathPopupItems("/a//b/"), (std::vector<std::string>{"/", "a", "", "b"}));
    EXPECT_EQ(PathPopupItems("/a/ /b"), (std::vector<std::string>{"/", "a", "b"}));
}

TEST(BrowseText, NamesThatCannotStandForOneItem) {
    for (const char* good : {"a", "a b", ".profile", "...", "a\\b"})
        EXPECT_TRUE(IsSingleComponent(good)) << good;
    for (const std::string& bad :
         {std::string(""), std::string("."), std::string(".."), std::string("a/b"),
          std::string("/"), std::string("a\rb"), std::string("a\nb"), std::string("a\0b", 3)})
        EXPECT_FALSE(IsSingleComponent(bad));
    EXPECT_TRUE(HasLineBreakOrNul("x\ny"));
    EXPECT_TRUE(HasLineBreakOrNul(std::string("x\0", 2)));
    EXPECT_FALSE(HasLineBreakOrNul("a/b c"));
}
