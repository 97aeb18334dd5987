#include "engine/UploadPart.h"
#include "sync/core/SyncDates.h"
#include "sync/core/SyncPlan.h"
#include "tests/sync/sync_helpers.h"

#include <gtest/gtest.h>

using namespace synctest;
using S = std::vector<std::string>;

namespace {

enum class Outcome { Nothing, Upload, Download, Conflict };

// What the plan does with the file "f".
Outcome OutcomeOf(const SyncPlan& plan) {
    if (!plan.conflicts.empty())
        return Outcome::Conflict;
    if (!plan.uploads.empty())
        return Outcome::Upload;
    if (!plan.downloads.empty())
        return Outcome::Download;
    return Outcome::Nothing;
}

struct Side {
    int date;
    uint64_t size;
};

struct Row {
    const char* what;
    bool cached;
    Side r, l, rc, lc;
    Outcome outcome;
};

// Every row of the decision table for a file on both sides. Dates are minutes
// after a fixed moment; "cached" false means no cache for the pair.
const Row kRows[] = {
    {"no cache, remote older: upload", false, {0, 5}, {1, 9}, {}, {}, Outcome::Upload},
    {"no cache, remote newer: download", false, {2, 5}, {1, 9}, {}, {}, Outcome::Download},
    {"no cache, same date, sizes differ: nothing", false, {1, 5}, {1, 9}, {}, {}, Outcome::Nothing},
    {"unchanged on both sides: nothing", true, {1, 5}, {1, 9}, {1, 5}, {1, 9}, Outcome::Nothing},
    {"dates as cached, remote size changed: conflict",
     true,
     {1, 6},
     {1, 9},
     {1, 5},
     {1, 9},
     Outcome::Conflict},
    {"dates as cached, local size changed: conflict",
     true,
     {1, 5},
     {1, 8},
     {1, 5},
     {1, 9},
     Outcome::Conflict},
    {"local newer, remote as cached: upload",
     true,
     {1, 5},
     {3, 7},
     {1, 5},
     {1, 9},
     Outcome::Upload},
    {"local newer, remote size changed: conflict",
     true,
     {1, 6},
     {3, 7},
     {1, 5},
     {1, 9},
     Outcome::Conflict},
    {"local went back in time: conflict", true, {1, 5}, {0, 9}, {1, 5}, {1, 9}, Outcome::Conflict},
    {"remote newer, local as cached: download",
     true,
     {4, 6},
     {1, 9},
     {1, 5},
     {1, 9},
     Outcome::Download},
    {"remote newer, local size changed: conflict",
     true,
     {4, 6},
     {1, 8},
     {1, 5},
     {1, 9},
     Outcome::Conflict},
    {"changed on both sides: conflict", true, {4, 5}, {3, 9}, {1, 5}, {1, 9}, Outcome::Conflict},
    {"remote newer, local older than cached: conflict",
     true,
     {4, 5},
     {0, 9},
     {1, 5},
     {1, 9},
     Outcome::Conflict},
    {"remote went back in time: conflict", true, {0, 5}, {1, 9}, {1, 5}, {1, 9}, Outcome::Conflict},
};

class DecisionTable : public ::testing::TestWithParam<Row> {};

} // namespace

TEST_P(DecisionTable, DecidesTheFileOnBothSides) {
    const Row& row = GetParam();
    std::vector<sFileInfo> remote{File("f", row.r.size, row.r.date)};
    std::vector<sFileInfo> local{File("f", row.l.size, row.l.date)};
    // Another cached file keeps the cache loaded when the pair has no entries.
    std::vector<sFileInfo> cachedRemote{File("other", 1, 0)};
    std::vector<sFileInfo> cachedLocal{File("other", 1, 0)};
    if (row.cached) {
        cachedRemote.push_back(File("f", row.rc.size, row.rc.date));
        cachedLocal.push_back(File("f", row.lc.size, row.lc.date));
    }
    SyncInput input;
    input.remote = remote;
    input.local = local;
    input.cachedRemote = cachedRemote;
    input.cachedLocal = cachedLocal;
    input.action = 3;
    const SyncPlan plan = PlanSync(input);
    EXPECT_EQ(OutcomeOf(plan), row.outcome) << row.what;
    EXPECT_TRUE(plan.deletions.empty());
    if (row.outcome == Outcome::Conflict) {
        ASSERT_EQ(plan.conflicts.size(), 1u);
        const SyncConflict& conflict = plan.conflicts[0];
        EXPECT_TRUE(conflict.cached);
        EXPECT_EQ(conflict.remote, remote[0]);
        EXPECT_EQ(conflict.local, local[0]);
        EXPECT_EQ(conflict.cachedRemote.size, row.rc.size);
        EXPECT_EQ(conflict.cachedLocal.size, row.lc.size);
        EXPECT_EQ(Sorted(plan.unsettled), S{"f"}) << "a conflict not answered stays unsettled";
    } else {
        EXPECT_TRUE(plan.unsettled.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(SyncPlan, DecisionTable, ::testing::ValuesIn(kRows));

TEST(SyncPlan, CacheCountsOnlyWhenBothListsHoldEntriesAndBothNamesAreFound) {
    // Remote changed (size and date) since the cache, local as cached: with the
    // cache in use this is a download; without it, dates alone decide.
    std::vector<sFileInfo> remote{File("f", 6, 0)};
    std::vector<sFileInfo> local{File("f", 9, 1)};
    std::vector<sFileInfo> cachedRemote{File("f", 5, -5)};
    std::vector<sFileInfo> cachedLocal{File("f", 9, 1)};
    SyncInput input;
    input.remote = remote;
    input.local = local;
    input.cachedRemote = cachedRemote;
    input.cachedLocal = cachedLocal;
    EXPECT_EQ(OutcomeOf(PlanSync(input)), Outcome::Download);

    std::vector<sFileInfo> none;
    input.cachedLocal = none; // one list empty: no cache at all
    EXPECT_EQ(OutcomeOf(PlanSync(input)), Outcome::Upload);

    std::vector<sFileInfo> elsewhere{File("g", 9, 1)};
    input.cachedLocal = elsewhere; // loaded, but the local name is missing from it
    EXPECT_EQ(OutcomeOf(PlanSync(input)), Outcome::Upload);

    std::vector<sFileInfo> otherCase{File("F", 9, 1)};
    input.cachedLocal = otherCase; // names match letter case aside
    EXPECT_EQ(OutcomeOf(PlanSync(input)), Outcome::Download);
}

TEST(SyncPlan, FirstRunBothWays) {
    std::vector<sFileInfo> remote{File("newer-remote", 1, 5), File("newer-local", 1, 1),
                                  File("same-date", 1, 3), File("remote-only", 1, 0)};
    std::vector<sFileInfo> local{File("newer-remote", 1, 1), File("newer-local", 1, 5),
                                 File("same-date", 2, 3), File("local-only", 1, 0)};
    SyncInput input;
    input.remote = remote;
    input.local = local;
    const SyncPlan plan = PlanSync(input);
    EXPECT_EQ(Names(plan.uploads), (S{"local-only", "newer-local"}));
    EXPECT_EQ(Names(plan.downloads), (S{"remote-only", "newer-remote"}));
    EXPECT_TRUE(plan.deletions.empty());
    EXPECT_TRUE(plan.conflicts.empty());
}

TEST(SyncPlan, OneSideFilesByActionAndDeleteOptions) {
    std::vector<sFileInfo> remote{File("remote-only", 1, 0), File("both", 1, 0)};
    std::vector<sFileInfo> local{File("local-only", 1, 0), File("both", 1, 0)};
    // The cache says local-only was remote before: deletions are never inferred.
    std::vector<sFileInfo> cachedRemote{File("local-only", 1, 0), File("both", 1, 0)};
    std::vector<sFileInfo> cachedLocal{File("both", 1, 0)};
    SyncInput input;
    input.remote = remote;
    input.local = local;
    input.cachedRemote = cachedRemote;
    input.cachedLocal = cachedLocal;

    input.action = 1;
    SyncPlan plan = PlanSync(input);
    EXPECT_EQ(Names(plan.uploads), S{"local-only"});
    EXPECT_TRUE(plan.downloads.empty());
    EXPECT_TRUE(plan.deletions.empty());
    input.deleteRemote = true;
    plan = PlanSync(input);
    EXPECT_EQ(Names(plan.uploads), S{"local-only"});
    EXPECT_EQ(Names(plan.deletions), S{"remote-only"});

    input.action = 2;
    input.deleteRemote = false;
    plan = PlanSync(input);
    EXPECT_TRUE(plan.uploads.empty());
    EXPECT_EQ(Names(plan.downloads), S{"remote-only"});
    EXPECT_TRUE(plan.deletions.empty());
    input.deleteLocal = true;
    plan = PlanSync(input);
    EXPECT_EQ(Names(plan.deletions), S{"local-only"});

    // Both ways never deletes, whatever the options say.
    input.action = 3;
    input.deleteRemote = true;
    plan = PlanSync(input);
    EXPECT_EQ(Names(plan.uploads), S{"local-only"});
    EXPECT_EQ(Names(plan.downloads), S{"remote-only"});
    EXPECT_TRUE(plan.deletions.empty());
}

TEST(SyncPlan, FoldersMissingOnTheOtherSideParentsFirst) {
    std::vector<sFileInfo> remote{Folder("Docs"), Folder("pics"), Folder("pics/2025")};
    std::vector<sFileInfo> local{Folder("docs"), Folder("docs/old"), Folder("music"),
                                 Folder("music/live")};
    SyncInput input;
    input.remote = remote;
    input.local = local;
    input.action = 1;
    SyncPlan plan = PlanSync(input);
    // "docs/old" goes into the remote "Docs" it was matched with.
    EXPECT_EQ(plan.remoteFolders, (S{"Docs/old", "music", "music/live"}));
    EXPECT_TRUE(plan.localFolders.empty());
    input.action = 2;
    plan = PlanSync(input);
    EXPECT_TRUE(plan.remoteFolders.empty());
    EXPECT_EQ(plan.localFolders, (S{"pics", "pics/2025"}));
    input.action = 3;
    plan = PlanSync(input);
    EXPECT_EQ(plan.remoteFolders, (S{"Docs/old", "music", "music/live"}));
    EXPECT_EQ(plan.localFolders, (S{"pics", "pics/2025"}));
}

TEST(SyncPlan, LetterCaseAndTheLastOfCollidingNames) {
    // A local and a remote name that differ only in letter case are one file.
    {
        std::vector<sFileInfo> remote{File("READ.me", 1, 5)};
        std::vector<sFileInfo> local{File("read.ME", 1, 1)};
        SyncInput input;
        input.remote = remote;
        input.local = local;
        SyncPlan plan = PlanSync(input);
        EXPECT_EQ(Names(plan.downloads), S{"READ.me"});
        EXPECT_EQ(plan.downloadTargets, S{"read.ME"}) << "it replaces its partner";
        EXPECT_TRUE(plan.uploads.empty());
        local[0].modDate = At(9);
        plan = PlanSync(input);
        EXPECT_EQ(Names(plan.uploads), S{"read.ME"});
        EXPECT_EQ(plan.uploadTargets, S{"READ.me"});
    }
    // New files and folders go into the partner folder of the other side.
    {
        std::vector<sFileInfo> remote{Folder("Photos"), Folder("Photos/2024"),
                                      File("Photos/2024/r.jpg", 1, 1)};
        std::vector<sFileInfo> local{Folder("photos"), File("photos/l.jpg", 1, 1),
                                     Folder("photos/new"), File("photos/new/n.jpg", 1, 1)};
        SyncInput input;
        input.remote = remote;
        input.local = local;
        const SyncPlan plan = PlanSync(input);
        EXPECT_EQ(plan.remoteFolders, S{"Photos/new"});
        EXPECT_EQ(plan.localFolders, S{"photos/2024"});
        EXPECT_EQ(plan.uploadTargets, (S{"Photos/l.jpg", "Photos/new/n.jpg"}));
        EXPECT_EQ(Names(plan.uploads), (S{"photos/l.jpg", "photos/new/n.jpg"}));
        EXPECT_EQ(plan.downloadTargets, S{"photos/2024/r.jpg"});
    }
    // Two remote names equal after upper-casing with a local partner: the later
    // one is compared; the earlier is left alone and the user is told.
    {
        std::vector<sFileInfo> remote{File("a.txt", 1, 9), File("A.txt", 1, 5)};
        std::vector<sFileInfo> local{File("a.TXT", 1, 5)};
        SyncInput input;
        input.remote = remote;
        input.local = local;
        const SyncPlan plan = PlanSync(input);
        EXPECT_TRUE(plan.downloads.empty()) << "a.txt is newer but not the one compared";
        EXPECT_TRUE(plan.uploads.empty());
        ASSERT_EQ(plan.leftAlone.size(), 1u);
        EXPECT_EQ(plan.leftAlone[0].path, "a.txt");
        EXPECT_EQ(plan.leftAlone[0].other, "A.txt");
        EXPECT_EQ(plan.leftAlone[0].reason, SyncSkip::CaseCollision);
        EXPECT_EQ(SyncIgnoredMessage(plan.leftAlone[0]),
                  "The remote file 'a.txt' will be left alone because 'A.txt' has the same name "
                  "in other letter case.");
    }
    // Without a partner every one of them is a candidate.
    {
        std::vector<sFileInfo> remote{File("a.txt", 1, 9), File("A.txt", 1, 5)};
        SyncInput input;
        input.remote = remote;
        const SyncPlan plan = PlanSync(input);
        EXPECT_EQ(Names(plan.downloads), (S{"a.txt", "A.txt"}));
        EXPECT_TRUE(plan.leftAlone.empty());
    }
    // The same on the local side, and a collision never feeds the deletions.
    {
        std::vector<sFileInfo> remote{File("X", 1, 1)};
        std::vector<sFileInfo> local{File("x", 1, 1), File("X", 1, 1), File("y", 1, 1)};
        SyncInput input;
        input.remote = remote;
        input.local = local;
        input.action = 2;
        input.deleteLocal = true;
        const SyncPlan plan = PlanSync(input);
        EXPECT_EQ(Names(plan.deletions), S{"y"});
        ASSERT_EQ(plan.leftAlone.size(), 1u);
        EXPECT_EQ(plan.leftAlone[0].path, "x");
        EXPECT_FALSE(plan.leftAlone[0].remote);
    }
}

TEST(SyncPlan, ConflictsInByteOrderOfUpperCasedNamesAndTheirAnswers) {
    // Upper-cased: "B", "Z.TXT", "_A", "\xC3\xA9.TXT": unsigned byte order.
    const std::vector<std::string> names{"\xC3\xA9.txt", "_a", "z.txt", "B"};
    std::vector<sFileInfo> remote, local, cachedRemote, cachedLocal;
    for (const std::string& name : names) {
        remote.push_back(File(name, 1, 5));
        local.push_back(File(name, 1, 5));
        cachedRemote.push_back(File(name, 1, 1));
        cachedLocal.push_back(File(name, 1, 1));
    }
    // A plain upload sits between the conflicts in name order.
    remote.push_back(File("m", 1, 1));
    local.push_back(File("m", 1, 3));
    cachedRemote.push_back(File("m", 1, 1));
    cachedLocal.push_back(File("m", 1, 1));
    local.push_back(File("0-local-only", 1, 0));

    SyncInput input;
    input.remote = remote;
    input.local = local;
    input.cachedRemote = cachedRemote;
    input.cachedLocal = cachedLocal;
    SyncPlan plan = PlanSync(input);
    std::vector<std::string> order;
    for (const SyncConflict& conflict : plan.conflicts)
        order.push_back(conflict.local.name);
    EXPECT_EQ(order, (S{"B", "z.txt", "_a", "\xC3\xA9.txt"}));
    EXPECT_EQ(Names(plan.uploads), (S{"0-local-only", "m"}));
    EXPECT_EQ(Sorted(plan.unsettled), Sorted(names));

    plan = PlanSync(input, {SyncChoice::Upload, SyncChoice::Download, SyncChoice::Skip});
    // One-side files first, then pairs in name order, answers where they fall.
    EXPECT_EQ(Names(plan.uploads), (S{"0-local-only", "B", "m"}));
    EXPECT_EQ(Names(plan.downloads), S{"z.txt"});
    // The skipped one and the one not answered keep their cache entries.
    EXPECT_EQ(Sorted(plan.unsettled), Sorted({"_a", "\xC3\xA9.txt"}));
}

TEST(SyncPlan, ChangesTheActionDoesNotCarryOutStayUnsettled) {
    std::vector<sFileInfo> remote{File("f", 1, 5)};
    std::vector<sFileInfo> local{File("f", 1, 1)};
    std::vector<sFileInfo> cached{File("f", 1, 1)};
    SyncInput input;
    input.remote = remote;
    input.local = local;
    input.cachedRemote = cached;
    input.cachedLocal = cached;
    input.action = 1; // upload only: the remote change is not taken
    const SyncPlan plan = PlanSync(input);
    EXPECT_TRUE(plan.downloads.empty());
    EXPECT_EQ(plan.unsettled, S{"f"});
}

TEST(SyncPlan, NothingIsPlannedForAnActionNoBookmarkHolds) {
    std::vector<sFileInfo> remote{File("r", 1, 1), Folder("d")};
    std::vector<sFileInfo> local{File("l", 1, 1), Folder("e")};
    for (int32_t action : {0, 4, -1}) {
        SyncInput input;
        input.remote = remote;
        input.local = local;
        input.action = action;
        input.deleteRemote = input.deleteLocal = true;
        const SyncPlan plan = PlanSync(input);
        EXPECT_TRUE(plan.refused) << action;
        EXPECT_TRUE(plan.deletions.empty() && plan.uploads.empty() && plan.downloads.empty() &&
                    plan.localFolders.empty() && plan.remoteFolders.empty())
            << action;
    }
}

// A temporary file of a cut upload beside a name: that name is never deleted
// on either side, nor downloaded over without asking; otherwise the table
// decides.
TEST(SyncPlan, ANameBesideACutUploadIsNeverDeletedNorDownloadedOver) {
    const std::string longName(250, 'n');
    const sFileInfo f = File("f", 1, 5), g = File("g", 1, 1), older = File("f", 9, 1),
                    newer = File("f", 9, 9);
    struct Row {
        const char* what;
        int32_t action;
        bool deleteOption;
        std::vector<sFileInfo> remote, local;
        std::string partOf; // the remote name a temporary file stands beside
        S uploads, downloads, deletions, conflicts, leftAlone;
    } rows[] = {
        // clang-format off
        {"local newer, both ways: uploaded", 3, false, {f}, {newer}, "f", {"f"}, {}, {}, {}, {}},
        {"remote newer, both ways: asked", 3, false, {f}, {older}, "f", {}, {}, {}, {"f"}, {}},
        {"remote newer, download only: asked", 2, true, {f}, {older}, "f", {}, {}, {}, {"f"}, {}},
        {"the same on both sides: nothing", 3, false, {f}, {f}, "f", {}, {}, {}, {}, {}},
        {"target gone before the rename, download only: the local file stays", 2, true, {},
         {older, g}, "f", {}, {}, {"g"}, {}, {"f"}},
        {"remote only, upload only: not deleted", 1, true, {f, g}, {}, "f", {}, {}, {"g"}, {},
         {"f"}},
        {"remote only, both ways: fetched, nothing stands in its way", 3, false, {f, g}, {}, "f",
         {}, {"f", "g"}, {}, {}, {}},
        {"letter case: the temporary file of the remote name counts", 3, false,
         {Folder("Docs"), File("Docs/Report", 1, 5)}, {Folder("docs"), File("docs/report", 9, 1)},
         "DOCS/REPORT", {}, {}, {}, {"docs/report"}, {}},
        {"a long name's temporary file", 1, true, {File(longName, 1, 1)}, {}, longName, {}, {},
         {}, {}, {longName}},
        // clang-format on
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::vector<SyncIgnoredItem> ignored{
            {UploadPartName(row.partOf), {}, false, true, SyncSkip::UploadPart, {}}};
        SyncInput input;
        input.remote = row.remote;
        input.local = row.local;
        input.action = row.action;
        input.deleteLocal = row.deleteOption && row.action == 2;
        input.deleteRemote = row.deleteOption && row.action == 1;
        input.remoteIgnored = ignored;
        const SyncPlan plan = PlanSync(input);
        EXPECT_EQ(Names(plan.uploads), row.uploads);
        EXPECT_EQ(Names(plan.downloads), row.downloads);
        EXPECT_EQ(Names(plan.deletions), row.deletions);
        S conflicts, leftAlone;
        for (const SyncConflict& conflict : plan.conflicts)
            conflicts.push_back(conflict.local.name);
        EXPECT_EQ(conflicts, row.conflicts);
        for (const SyncIgnoredItem& item : plan.leftAlone) {
            EXPECT_EQ(item.reason, SyncSkip::UploadCut);
            leftAlone.push_back(item.path);
        }
        EXPECT_EQ(leftAlone, row.leftAlone);
        for (const std::string& name : row.leftAlone)
            EXPECT_NE(std::find(plan.unsettled.begin(), plan.unsettled.end(), name),
                      plan.unsettled.end());
    }
}

TEST(SyncPlan, WhatOneWalkLeftOutIsLeftAloneOnTheOtherSide) {
    // Locally "link" is a symbolic link and "dev" a pipe; remotely both are
    // plain: the remote ones must not be deleted, nor anything below them.
    std::vector<sFileInfo> remote{File("link", 1, 1), Folder("dev"), File("dev/a", 1, 1),
                                  File("gone", 1, 1)};
    std::vector<SyncIgnoredItem> localIgnored{
        {"link", "link", false, false, SyncSkip::Link, {}},
        {"DEV", "DEV", false, false, SyncSkip::OtherKind, {}}};
    SyncInput input;
    input.remote = remote;
    input.localIgnored = localIgnored;
    input.action = 1;
    input.deleteRemote = true;
    SyncPlan plan = PlanSync(input);
    EXPECT_EQ(Names(plan.deletions), S{"gone"});
    EXPECT_EQ(plan.leftAlone.size(), 2u);

    // A remote link over a local folder: nothing below it is uploaded.
    std::vector<sFileInfo> linkRemote{[] {
        sFileInfo link = File("up", 0, 0);
        link.isLink = true;
        return link;
    }()};
    std::vector<sFileInfo> local{Folder("up"), File("up/x", 1, 1), File("y", 1, 1)};
    SyncInput upload;
    upload.remote = linkRemote;
    upload.local = local;
    upload.action = 3;
    plan = PlanSync(upload);
    EXPECT_EQ(Names(plan.uploads), S{"y"});
    EXPECT_TRUE(plan.remoteFolders.empty());
    EXPECT_TRUE(plan.downloads.empty());
}

TEST(SyncPlan, PathsThatWouldLeaveTheFolderAreLeftAlone) {
    std::vector<sFileInfo> remote{File("../etc/passwd", 1, 1), File("a/./b", 1, 1),
                                  File("ok", 1, 1), File("bad\nname", 1, 1), Folder("x/..")};
    SyncInput input;
    input.remote = remote;
    input.action = 2;
    const SyncPlan plan = PlanSync(input);
    EXPECT_EQ(Names(plan.downloads), S{"ok"});
    EXPECT_TRUE(plan.localFolders.empty());
    EXPECT_EQ(plan.leftAlone.size(), 4u);
    for (const SyncIgnoredItem& item : plan.leftAlone)
        EXPECT_EQ(item.reason, SyncSkip::Unsafe);
}

TEST(SyncPlan, FirstTimeQuestion) {
    std::vector<sFileInfo> remote{Folder("D"), File("D/a", 1, 1)};
    std::vector<sFileInfo> local{Folder("d"), File("d/A", 1, 1), File("extra", 1, 1)};
    SyncInput input;
    input.remote = remote;
    input.local = local;
    input.action = 3;
    EXPECT_TRUE(SyncAsksFirstTimeQuestion(input));
    std::vector<sFileInfo> more{Folder("D"), File("D/a", 1, 1), File("new", 1, 1)};
    input.remote = more;
    EXPECT_FALSE(SyncAsksFirstTimeQuestion(input));
    input.action = 1;
    EXPECT_TRUE(SyncAsksFirstTimeQuestion(input));
    input.action = 2;
    EXPECT_TRUE(SyncAsksFirstTimeQuestion(input));
}

TEST(SyncPlan, UniversalRemoteDatesAreBroughtToLocalTimeBeforeComparing) {
    // TZ is Europe/Berlin: in January local time is one hour ahead. The same
    // moment reads 11:00 in an MDTM reply and 12:00 on the local file.
    DateTimeRec mdtm = At(0);
    mdtm.hour = 11;
    const DateTimeRec local = SyncUniversalToLocal(mdtm);
    EXPECT_EQ(SyncCompareDates(local, At(0)), 0);
    EXPECT_EQ(local.dayOfWeek, 7); // a Saturday

    // Summer: two hours ahead; and a moment that crosses midnight.
    DateTimeRec summer{2025, 7, 31, 23, 30, 15, 0};
    EXPECT_EQ(SyncCompareDates(SyncUniversalToLocal(summer), DateTimeRec{2025, 8, 1, 1, 30, 15, 0}),
              0);
    // A record that is no date stays as it was.
    EXPECT_EQ(SyncUniversalToLocal(DateTimeRec{}), DateTimeRec{});

    sFileInfo remoteFile = File("f", 10, 0);
    remoteFile.modDate = SyncUniversalToLocal(mdtm);
    std::vector<sFileInfo> remote{remoteFile};
    std::vector<sFileInfo> localList{File("f", 10, 0)};
    SyncInput input;
    input.remote = remote;
    input.local = localList;
    const SyncPlan plan = PlanSync(input);
    EXPECT_TRUE(plan.uploads.empty()) << "the remote file is not older";
    EXPECT_TRUE(plan.downloads.empty());
}

TEST(SyncPlan, SettledCacheKeepsPreviousEntriesOfUnsettledFiles) {
    std::vector<sFileInfo> local{Folder("d"), File("d/ok", 1, 9), File("d/failed", 2, 9),
                                 File("new-failed", 3, 9)};
    std::vector<sFileInfo> remote{File("d/ok", 1, 9), File("D/FAILED", 999, 9)};
    const std::vector<sFileInfo> cachedLocal{File("d/ok", 1, 1), File("d/failed", 2, 1)};
    const std::vector<sFileInfo> cachedRemote{File("d/ok", 1, 1), File("d/failed", 2, 1)};
    SettleSyncCache(local, remote, cachedLocal, cachedRemote, {"d/failed", "new-failed"});
    EXPECT_EQ(Names(local), (S{"d", "d/ok", "d/failed"}));
    EXPECT_EQ(local[2], cachedLocal[1]);
    EXPECT_EQ(Names(remote), (S{"d/ok", "d/failed"}));
    EXPECT_EQ(remote[1], cachedRemote[1]) << "a cut download is not recorded as done";
    EXPECT_EQ(local[1].modDate, At(9)) << "settled files take this run's state";
}
