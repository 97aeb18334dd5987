#include "sync/core/SyncPlan.h"

#include "sync/core/SyncDates.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace {

using Index = std::unordered_map<std::string, uint32_t>;
using KeySet = std::unordered_set<std::string>;

enum class Shadow { None, Direct, Below };

// Whether a side's item (by upper-cased path) meets something the other
// side's walk left out: the same name, or a folder above it.
Shadow ShadowOf(const std::string& key, const KeySet& ignored) {
    if (ignored.empty())
        return Shadow::None;
    if (ignored.contains(key))
        return Shadow::Direct;
    for (size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1))
        if (ignored.contains(key.substr(0, slash)))
            return Shadow::Below;
    return Shadow::None;
}

KeySet IgnoredKeys(std::span<const SyncIgnoredItem> ignored, std::span<const sFileInfo> items) {
    KeySet keys;
    for (const SyncIgnoredItem& item : ignored)
        keys.insert(SyncUpperName(item.path));
    for (const sFileInfo& item : items)
        if (item.isLink)
            keys.insert(SyncUpperName(item.name));
    return keys;
}

// One side prepared for matching: which items take part, and their keys.
struct Side {
    std::span<const sFileInfo> items;
    std::vector<std::string> keys; // upper-cased names
    std::vector<uint8_t> usable;   // takes part in the comparison
    Index files;                   // key -> last usable file with it
    KeySet folders;                // keys of usable folders
};

void Prepare(Side& side, std::span<const sFileInfo> items, const KeySet& otherIgnored, bool remote,
             std::vector<SyncIgnoredItem>& leftAlone) {
    side.items = items;
    side.keys.resize(items.size());
    side.usable.assign(items.size(), 0);
    side.files.reserve(items.size());
    for (uint32_t i = 0; i < items.size(); ++i) {
        const sFileInfo& item = items[i];
        if (item.isLink)
            continue;
        if (!IsSafeRelativePath(item.name)) {
            leftAlone.push_back(
                {item.name, item.name, item.isFolder, remote, SyncSkip::Unsafe, {}});
            continue;
        }
        side.keys[i] = SyncUpperName(item.name);
        const Shadow shadow = ShadowOf(side.keys[i], otherIgnored);
        if (shadow != Shadow::None) {
            if (shadow == Shadow::Direct)
                leftAlone.push_back(
                    {item.name, {}, item.isFolder, remote, SyncSkip::IgnoredOtherSide, {}});
            continue;
        }
        side.usable[i] = 1;
        if (item.isFolder)
            side.folders.insert(side.keys[i]);
        else
            side.files[side.keys[i]] = i;
    }
}

// Files of `side` without a partner go to `oneSide`; files with one whose
// name another file of the same side took are left alone.
void Match(const Side& side, const Side& other, bool remote, std::vector<uint32_t>& oneSide,
           std::vector<SyncIgnoredItem>& leftAlone) {
    for (uint32_t i = 0; i < side.items.size(); ++i) {
        if (!side.usable[i] || side.items[i].isFolder)
            continue;
        if (!other.files.contains(side.keys[i])) {
            oneSide.push_back(i);
            continue;
        }
        const uint32_t kept = side.files.at(side.keys[i]);
        if (kept != i)
            leftAlone.push_back({side.items[i].name,
                                 {},
                                 false,
                                 remote,
                                 SyncSkip::CaseCollision,
                                 side.items[kept].name});
    }
}

enum class Decision { Nothing, Upload, Download, Conflict };

Decision Decide(const sFileInfo& r, const sFileInfo& l, const sFileInfo* rc, const sFileInfo* lc) {
    if (!rc || !lc) {
        const int order = SyncCompareDates(r.modDate, l.modDate);
        return order < 0 ? Decision::Upload : order > 0 ? Decision::Download : Decision::Nothing;
    }
    const int remote = SyncCompareDates(r.modDate, rc->modDate);
    const int local = SyncCompareDates(l.modDate, lc->modDate);
    if (remote < 0)
        return Decision::Conflict;
    if (remote == 0) {
        if (local == 0)
            return r.size == rc->size && l.size == lc->size ? Decision::Nothing
                                                            : Decision::Conflict;
        if (local > 0)
            return r.size == rc->size ? Decision::Upload : Decision::Conflict;
        return Decision::Conflict;
    }
    if (local == 0)
        return l.size == lc->size ? Decision::Download : Decision::Conflict;
    return Decision::Conflict;
}

Index CacheIndex(std::span<const sFileInfo> cached) {
    Index index;
    index.reserve(cached.size());
    for (uint32_t i = 0; i < cached.size(); ++i)
        index[SyncUpperName(cached[i].name)] = i;
    return index;
}

} // namespace

SyncPlan PlanSync(const SyncInput& input, const std::vector<SyncChoice>& answers) {
    SyncPlan plan;
    if (!input.remoteComplete || !input.localComplete) {
        plan.refused = true;
        return plan;
    }
    const bool uploads = input.action != 2;
    const bool downloads = input.action != 1;

    Side remote, local;
    Prepare(remote, input.remote, IgnoredKeys(input.localIgnored, input.local), true,
            plan.leftAlone);
    Prepare(local, input.local, IgnoredKeys(input.remoteIgnored, input.remote), false,
            plan.leftAlone);

    // Folders missing on the other side, parents first as the trees list them.
    if (uploads)
        for (uint32_t i = 0; i < local.items.size(); ++i)
            if (local.usable[i] && local.items[i].isFolder &&
                !remote.folders.contains(local.keys[i]))
                plan.remoteFolders.push_back(local.items[i].name);
    if (downloads)
        for (uint32_t i = 0; i < remote.items.size(); ++i)
            if (remote.usable[i] && remote.items[i].isFolder &&
                !local.folders.contains(remote.keys[i]))
                plan.localFolders.push_back(remote.items[i].name);

    std::vector<uint32_t> localOnly, remoteOnly;
    Match(local, remote, false, localOnly, plan.leftAlone);
    Match(remote, local, true, remoteOnly, plan.leftAlone);

    // Deletions come only from what this run listed on one side alone.
    if (input.action == 1 && input.deleteRemote)
        for (uint32_t i : remoteOnly)
            plan.deletions.push_back(remote.items[i]);
    else if (input.action == 2 && input.deleteLocal)
        for (uint32_t i : localOnly)
            plan.deletions.push_back(local.items[i]);

    std::vector<sFileInfo> uploadList, downloadList;
    for (uint32_t i : localOnly)
        uploadList.push_back(local.items[i]);
    for (uint32_t i : remoteOnly)
        downloadList.push_back(remote.items[i]);

    struct Pair {
        const std::string* key;
        uint32_t remote, local;
    };
    std::vector<Pair> pairs;
    for (const auto& [key, l] : local.files) {
        auto found = remote.files.find(key);
        if (found != remote.files.end())
            pairs.push_back({&key, found->second, l});
    }
    std::sort(pairs.begin(), pairs.end(),
              [](const Pair& a, const Pair& b) { return *a.key < *b.key; });

    const bool cacheLoaded = !input.cachedRemote.empty() && !input.cachedLocal.empty();
    Index cachedRemote, cachedLocal;
    if (cacheLoaded) {
        cachedRemote = CacheIndex(input.cachedRemote);
        cachedLocal = CacheIndex(input.cachedLocal);
    }

    auto unsettle = [&](const sFileInfo& r, const sFileInfo& l) {
        plan.unsettled.push_back(r.name);
        if (l.name != r.name)
            plan.unsettled.push_back(l.name);
    };
    for (const Pair& pair : pairs) {
        const sFileInfo& r = remote.items[pair.remote];
        const sFileInfo& l = local.items[pair.local];
        const sFileInfo* rc = nullptr;
        const sFileInfo* lc = nullptr;
        if (cacheLoaded) {
            auto foundRemote = cachedRemote.find(remote.keys[pair.remote]);
            auto foundLocal = cachedLocal.find(local.keys[pair.local]);
            if (foundRemote != cachedRemote.end() && foundLocal != cachedLocal.end()) {
                rc = &input.cachedRemote[foundRemote->second];
                lc = &input.cachedLocal[foundLocal->second];
            }
        }
        Decision decision = Decide(r, l, rc, lc);
        if (decision == Decision::Conflict) {
            const size_t number = plan.conflicts.size();
            SyncConflict conflict;
            conflict.remoteIndex = pair.remote;
            conflict.localIndex = pair.local;
            conflict.cached = rc != nullptr;
            conflict.remote = r;
            conflict.local = l;
            if (rc) {
                conflict.cachedRemote = *rc;
                conflict.cachedLocal = *lc;
            }
            plan.conflicts.push_back(std::move(conflict));
            const SyncChoice choice = number < answers.size() ? answers[number] : SyncChoice::Skip;
            decision = choice == SyncChoice::Upload     ? Decision::Upload
                       : choice == SyncChoice::Download ? Decision::Download
                                                        : Decision::Nothing;
            if (decision == Decision::Nothing)
                unsettle(r, l);
        }
        if (decision == Decision::Upload) {
            uploadList.push_back(l);
            // A change this action does not carry out stays a change.
            if (!uploads)
                unsettle(r, l);
        } else if (decision == Decision::Download) {
            downloadList.push_back(r);
            if (!downloads)
                unsettle(r, l);
        }
    }

    if (uploads)
        plan.uploads = std::move(uploadList);
    if (downloads)
        plan.downloads = std::move(downloadList);
    return plan;
}

bool SyncAsksFirstTimeQuestion(const SyncInput& input) {
    if (input.action == 1 || input.action == 2)
        return true;
    KeySet local;
    local.reserve(input.local.size());
    for (const sFileInfo& item : input.local)
        local.insert(SyncUpperName(item.name));
    for (const sFileInfo& item : input.remote)
        if (!local.contains(SyncUpperName(item.name)))
            return false;
    return true;
}

void SettleSyncCache(std::vector<sFileInfo>& local, std::vector<sFileInfo>& remote,
                     const std::vector<sFileInfo>& cachedLocal,
                     const std::vector<sFileInfo>& cachedRemote,
                     const std::vector<std::string>& unsettled) {
    if (unsettled.empty())
        return;
    KeySet keys;
    for (const std::string& name : unsettled)
        keys.insert(SyncUpperName(name));
    auto settle = [&](std::vector<sFileInfo>& now, const std::vector<sFileInfo>& before) {
        std::erase_if(now, [&](const sFileInfo& item) {
            return !item.isFolder && keys.contains(SyncUpperName(item.name));
        });
        for (const sFileInfo& item : before)
            if (keys.contains(SyncUpperName(item.name)))
                now.push_back(item);
    };
    settle(local, cachedLocal);
    settle(remote, cachedRemote);
}
