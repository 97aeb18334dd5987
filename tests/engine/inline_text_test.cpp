#include "engine/ConnectionRecords.h"
#include "engine/InlineText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <unordered_set>
#include <vector>

namespace {

using Short = InlineText<15>;

const std::string kFits(15, 'a');        // the longest text kept in place
const std::string kSpills = kFits + "b"; // one byte more: on the heap

TEST(InlineText, HoldsEveryLengthAcrossTheInlineLimit) {
    for (const std::string& text : {std::string(), std::string("x"), kFits, kSpills,
                                    std::string(300, 'z'), std::string("a\0b", 3)}) {
        const Short t(text);
        EXPECT_EQ(t.size(), text.size());
        EXPECT_EQ(t.view(), text);
        EXPECT_EQ(t.c_str()[t.size()], '\0');
        EXPECT_EQ(std::string(t), text);
    }
}

TEST(InlineText, CopiesAndMovesAreIndependentOnBothSidesOfTheLimit) {
    for (const std::string& text : {kFits, kSpills}) {
        Short a(text);
        Short copy(a);
        a += "!";
        EXPECT_EQ(copy, text);
        EXPECT_EQ(a, text + "!");

        Short moved(std::move(a));
        EXPECT_EQ(moved, text + "!");
        EXPECT_TRUE(a.empty()); // NOLINT(bugprone-use-after-move): moved-from is empty
        a = "reused";
        EXPECT_EQ(a, "reused");

        Short assigned;
        assigned = copy;
        const Short& alias = assigned;
        assigned = alias; // assigned itself: keeps the text
        EXPECT_EQ(assigned, text);
        assigned = std::move(moved);
        EXPECT_EQ(assigned, text + "!");
    }
    // Many moves through a growing vector: no heap block lost or freed twice
    // (the sanitizer builds watch this).
    std::vector<Short> many;
    for (int i = 0; i < 1000; ++i)
        many.emplace_back(std::string(static_cast<size_t>(i % 40), 'q'));
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(many[static_cast<size_t>(i)].size(), static_cast<size_t>(i % 40));
}

TEST(InlineText, GrowsAndShrinksAcrossTheLimitAlsoFromItself) {
    Short t("0123456789");
    t.append(t.view().substr(0, 5)); // 15: still in place, from itself
    EXPECT_EQ(t, "012345678901234");
    t.push_back('5'); // 16: moves to the heap
    EXPECT_EQ(t, "0123456789012345");
    t.append(t); // from itself while on the heap
    EXPECT_EQ(t, "01234567890123450123456789012345");
    t = t.view().substr(2); // assigned a part of itself
    EXPECT_EQ(t, "234567890123450123456789012345");
    t.resize(20);
    EXPECT_EQ(t, "23456789012345012345");
    t.resize(3); // back in place
    EXPECT_EQ(t, "234");
    t.resize(10); // never grows
    EXPECT_EQ(t, "234");
    t.pop_back();
    EXPECT_EQ(t, "23");
    t = kSpills;
    t.clear();
    EXPECT_TRUE(t.empty());
    EXPECT_EQ(t, "");
}

TEST(InlineText, ComparesJoinsAndSearchesLikeAString) {
    const Short name("report.txt");
    const std::string same = "report.txt";
    EXPECT_TRUE(name == same && same == name && name == "report.txt");
    EXPECT_TRUE(name == std::string_view("report.txt") && name != "report");
    EXPECT_LT(Short("a"), Short("b"));
    EXPECT_LT(Short("abc"), Short("abd" + std::string(20, 'x')));
    EXPECT_GT(name, std::string("re"));

    EXPECT_EQ("/home/" + name, "/home/report.txt");
    EXPECT_EQ(std::string("dir") + '/' + name, "dir/report.txt");
    EXPECT_EQ(name + ".bak", "report.txt.bak");
    EXPECT_EQ(name + name, "report.txtreport.txt");
    std::string path = "dir/";
    path += name;
    EXPECT_EQ(path, "dir/report.txt");

    EXPECT_EQ(name.find('.'), 6u);
    EXPECT_EQ(name.rfind("t"), 9u);
    EXPECT_EQ(name.substr(7), "txt");
    EXPECT_THROW((void)name.substr(11), std::out_of_range);
    EXPECT_TRUE(name.starts_with("rep") && name.ends_with(".txt"));

    std::ostringstream out;
    out << name;
    EXPECT_EQ(out.str(), "report.txt");

    std::map<Short, int> sorted{{"b", 2}, {"a", 1}};
    EXPECT_EQ(sorted.begin()->first, "a");
    std::unordered_set<Short> seen{"x", Short(kSpills)};
    EXPECT_EQ(seen.count(Short(kSpills)), 1u);
}

TEST(InlineText, ItemsSortAndCompareByTheirTexts) {
    std::vector<sFileInfo> items(3);
    items[0].name = std::string(80, 'c'); // a long relative path, on the heap
    items[1].name = "b";
    items[2].name = "a";
    items[2].owner = "/a/local/folder/far/longer/than/the/inline/room";
    std::sort(items.begin(), items.end(),
              [](const sFileInfo& l, const sFileInfo& r) { return l.name < r.name; });
    EXPECT_EQ(items[0].name, "a");
    EXPECT_EQ(items[0].owner, "/a/local/folder/far/longer/than/the/inline/room");
    EXPECT_EQ(items[2].name, std::string(80, 'c'));
    sFileInfo copy = items[2];
    EXPECT_EQ(copy, items[2]);
    copy.name += "d";
    EXPECT_NE(copy, items[2]);
}

} // namespace
