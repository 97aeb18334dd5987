// Properties of the plan over random trees and caches (fixed seeds).
#include "engine/UploadPart.h"
#include "sync/core/SyncPlan.h"
#include "tests/sync/sync_helpers.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

using namespace synctest;

namespace {

// A tree as the walks give it: folders before their contents.
using Tree = std::map<std::string, sFileInfo>; // by name: parents sort first

std::vector<sFileInfo> Listed(const Tree& tree) {
    std::vector<sFileInfo> list;
    for (const auto& [name, item] : tree)
        list.push_back(item);
    return list;
}

std::string Parent(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void AddWithParents(Tree& tree, const sFileInfo& item) {
    for (std::string parent = Parent(item.name); !parent.empty(); parent = Parent(parent))
        tree.emplace(parent, Folder(parent));
    tree[item.name] = item;
}

struct World {
    Tree remote, local;
    std::vector<sFileInfo> cachedRemote, cachedLocal;
};

// Names from a small alphabet so that both sides share many of them; with
// `mixedCase` some names differ by letter case only.
World RandomWorld(std::mt19937& rng, bool mixedCase) {
    static const char* const kParts[] = {"a", "b", "doc", "img", "x1"};
    std::uniform_int_distribution<int> part(0, 4), depth(0, 2), coin(0, 3), date(0, 6), size(0, 3);
    World world;
    std::set<std::string> names;
    for (int i = 0; i < 40; ++i) {
        std::string name;
        for (int d = depth(rng); d >= 0; --d)
            name += std::string(name.empty() ? "" : "/") + kParts[part(rng)];
        name += ".f" + std::to_string(i % 9);
        names.insert(name);
    }
    for (const std::string& base : names) {
        // A name is never both a folder on one side and a file on the other.
        bool clash = false;
        for (const std::string& other : names)
            clash |= other.starts_with(base + "/");
        if (clash)
            continue;
        std::string remoteName = base, localName = base;
        if (mixedCase && coin(rng) == 0)
            for (char& c : remoteName)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const int shape = coin(rng);
        const sFileInfo r = File(remoteName, static_cast<uint64_t>(size(rng)), date(rng));
        const sFileInfo l = File(localName, static_cast<uint64_t>(size(rng)), date(rng));
        if (shape != 1)
            AddWithParents(world.remote, r);
        if (shape != 2)
            AddWithParents(world.local, l);
        if (coin(rng) != 0) {
            world.cachedRemote.push_back(coin(rng) ? r : File(base, 1, date(rng)));
            world.cachedLocal.push_back(coin(rng) ? l : File(base, 1, date(rng)));
        }
    }
    return world;
}

struct SyncRun {
    std::vector<sFileInfo> remote, local;
    SyncInput input;
};

SyncRun MakeRun(const World& world, int action, bool deleteOption) {
    SyncRun run;
    run.remote = Listed(world.remote);
    run.local = Listed(world.local);
    run.input.remote = run.remote;
    run.input.local = run.local;
    run.input.cachedRemote = world.cachedRemote;
    run.input.cachedLocal = world.cachedLocal;
    run.input.action = action;
    run.input.deleteRemote = deleteOption && action == 1;
    run.input.deleteLocal = deleteOption && action == 2;
    return run;
}

// Carries a plan out on the two trees as a perfect server would: a
// transferred file gets a new date on its new side, as real transfers do.
void CarryOut(const SyncPlan& plan, World& world, int& clock) {
    for (const std::string& folder : plan.localFolders)
        AddWithParents(world.local, Folder(folder));
    for (const std::string& folder : plan.remoteFolders)
        AddWithParents(world.remote, Folder(folder));
    for (const sFileInfo& file : plan.uploads)
        AddWithParents(world.remote, File(file.name, file.size, ++clock));
    for (const sFileInfo& file : plan.downloads)
        AddWithParents(world.local, File(file.name, file.size, ++clock));
    for (const sFileInfo& file : plan.deletions) {
        world.remote.erase(file.name);
        world.local.erase(file.name);
    }
}

} // namespace

TEST(SyncPlanProperties, ASecondRunRightAfterACompletedOnePlansNothing) {
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        std::mt19937 rng(seed);
        World world = RandomWorld(rng, false);
        const int action = 1 + static_cast<int>(seed % 3);
        const bool deleteOption = seed % 2 == 0;
        SyncRun first = MakeRun(world, action, deleteOption);
        SyncPlan plan = PlanSync(first.input);
        // The user answers every conflict; skipped ones are asked again.
        std::vector<SyncChoice> answers;
        for (size_t i = 0; i < plan.conflicts.size(); ++i)
            answers.push_back(static_cast<SyncChoice>((seed + i) % 3));
        plan = PlanSync(first.input, answers);
        // Skipped, or answered with a transfer this action does not make.
        std::set<std::string> skipped;
        for (size_t i = 0; i < answers.size(); ++i)
            if (answers[i] == SyncChoice::Skip ||
                (action == 1 && answers[i] == SyncChoice::Download) ||
                (action == 2 && answers[i] == SyncChoice::Upload))
                skipped.insert(plan.conflicts[i].local.name);

        int clock = 100;
        CarryOut(plan, world, clock);
        std::vector<sFileInfo> newLocal = Listed(world.local);
        std::vector<sFileInfo> newRemote = Listed(world.remote);
        SettleSyncCache(newLocal, newRemote, world.cachedLocal, world.cachedRemote, plan.unsettled);
        world.cachedLocal = newLocal;
        world.cachedRemote = newRemote;

        SyncRun second = MakeRun(world, action, deleteOption);
        const SyncPlan again = PlanSync(second.input);
        SCOPED_TRACE("seed " + std::to_string(seed));
        EXPECT_TRUE(again.uploads.empty());
        EXPECT_TRUE(again.downloads.empty());
        EXPECT_TRUE(again.deletions.empty());
        EXPECT_TRUE(again.localFolders.empty());
        EXPECT_TRUE(again.remoteFolders.empty());
        for (const SyncConflict& conflict : again.conflicts)
            EXPECT_TRUE(skipped.contains(conflict.local.name))
                << conflict.local.name << " was settled, yet is asked again";
    }
}

TEST(SyncPlanProperties, DeletesOnlyWhatThisRunListedOnThatSideAlone) {
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        std::mt19937 rng(seed);
        const World world = RandomWorld(rng, seed % 2 == 0);
        for (int action : {1, 2}) {
            SyncRun run = MakeRun(world, action, true);
            const SyncPlan plan = PlanSync(run.input);
            const std::vector<sFileInfo>& side = action == 1 ? run.remote : run.local;
            const std::vector<sFileInfo>& other = action == 1 ? run.local : run.remote;
            std::set<std::string> otherNames;
            for (const sFileInfo& item : other)
                otherNames.insert(SyncUpperName(item.name));
            for (const sFileInfo& doomed : plan.deletions) {
                EXPECT_NE(std::find(side.begin(), side.end(), doomed), side.end())
                    << doomed.name << " was not listed (seed " << seed << ")";
                EXPECT_FALSE(doomed.isFolder);
                EXPECT_FALSE(otherNames.contains(SyncUpperName(doomed.name)))
                    << doomed.name << " exists on the other side (seed " << seed << ")";
            }
            // With temporary files of cut uploads beside some names (in
            // either letter case), nothing of those names is deleted, nor
            // downloaded over a local file.
            std::vector<SyncIgnoredItem> parts;
            std::set<std::string> cut;
            for (const sFileInfo& item : other)
                if (!item.isFolder && rng() % 3 == 0) {
                    const std::string name = rng() % 2 ? item.name.str() : SyncUpperName(item.name);
                    parts.push_back(
                        {UploadPartName(name), {}, false, true, SyncSkip::UploadPart, {}});
                    cut.insert(SyncUpperName(name));
                }
            for (const sFileInfo& item : side)
                if (!item.isFolder && rng() % 3 == 0) {
                    parts.push_back(
                        {UploadPartName(item.name), {}, false, true, SyncSkip::UploadPart, {}});
                    cut.insert(SyncUpperName(item.name));
                }
            run.input.remoteIgnored = parts;
            const SyncPlan guarded = PlanSync(run.input);
            std::set<std::string> localNames;
            for (const sFileInfo& item : run.local)
                localNames.insert(SyncUpperName(item.name));
            for (const std::vector<sFileInfo>* list : {&guarded.deletions, &guarded.downloads})
                for (const sFileInfo& item : *list)
                    EXPECT_FALSE(cut.contains(SyncUpperName(item.name)) &&
                                 (list == &guarded.deletions ||
                                  localNames.contains(SyncUpperName(item.name))))
                        << item.name << " has a cut upload beside it (seed " << seed << ")";
        }
    }
}

TEST(SyncPlanProperties, ThePlanDoesNotDependOnTheOrderOfTheLists) {
    auto summary = [](const SyncPlan& plan) {
        std::vector<std::string> conflicts;
        for (const SyncConflict& conflict : plan.conflicts)
            conflicts.push_back(conflict.remote.name + "|" + conflict.local.name);
        return std::vector<std::vector<std::string>>{
            Sorted(Names(plan.uploads)),   Sorted(Names(plan.downloads)),
            Sorted(Names(plan.deletions)), Sorted(plan.localFolders),
            Sorted(plan.remoteFolders),    conflicts, // conflicts keep their order
            Sorted(plan.unsettled)};
    };
    for (uint32_t seed = 1; seed <= 200; ++seed) {
        std::mt19937 rng(seed);
        const World world = RandomWorld(rng, false);
        for (int action : {1, 2, 3}) {
            SyncRun run = MakeRun(world, action, true);
            const auto expected = summary(PlanSync(run.input));
            // Shuffled files; folders keep their order, parents first.
            auto shuffle = [&](std::vector<sFileInfo> list) {
                std::vector<size_t> files;
                for (size_t i = 0; i < list.size(); ++i)
                    if (!list[i].isFolder)
                        files.push_back(i);
                std::vector<sFileInfo> moved;
                for (size_t i : files)
                    moved.push_back(list[i]);
                std::shuffle(moved.begin(), moved.end(), rng);
                for (size_t k = 0; k < files.size(); ++k)
                    list[files[k]] = moved[k];
                return list;
            };
            std::vector<sFileInfo> remote = shuffle(run.remote), local = shuffle(run.local);
            std::vector<sFileInfo> cachedRemote = world.cachedRemote;
            std::vector<sFileInfo> cachedLocal = world.cachedLocal;
            std::shuffle(cachedRemote.begin(), cachedRemote.end(), rng);
            std::shuffle(cachedLocal.begin(), cachedLocal.end(), rng);
            SyncInput input = run.input;
            input.remote = remote;
            input.local = local;
            input.cachedRemote = cachedRemote;
            input.cachedLocal = cachedLocal;
            EXPECT_EQ(summary(PlanSync(input)), expected) << "seed " << seed;
        }
    }
}
