#include "sync/core/SyncPlan.h"

#include "engine/UploadPart.h"
#include "sync/core/SyncDates.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_set>

namespace {

using KeySet = std::unordered_set<std::string>;

// The upper-cased names of one list, in one buffer, with their hashes: the
// comparison looks every name up several times, on trees of a million files.
class Keys {
public:
    explicit Keys(std::span<const sFileInfo> items) {
        size_t total = 0;
        for (const sFileInfo& item : items)
            total += item.name.size();
        mText.resize(total);
        mStart.reserve(items.size() + 1);
        mHash.reserve(items.size());
        size_t at = 0;
        for (const sFileInfo& item : items) {
            mStart.push_back(at);
            for (char c : item.name)
                mText[at++] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
            mHash.push_back(std::hash<std::string_view>()(Key(mStart.size() - 1, at)));
        }
        mStart.push_back(at);
    }
    std::string_view operator[](size_t i) const { return Key(i, mStart[i + 1]); }
    size_t Hash(size_t i) const { return mHash[i]; }

private:
    std::string_view Key(size_t i, size_t end) const {
        return std::string_view(mText.data() + mStart[i], end - mStart[i]);
    }
    std::string mText;
    std::vector<size_t> mStart;
    std::vector<size_t> mHash;
};

// Upper-cased name -> position in its list; a later position replaces an
// earlier one ("last one wins"). Open addressing; each slot holds the upper
// half of the name's hash beside the position, so that most probes never
// touch the name itself.
class NameIndex {
public:
    static constexpr uint32_t kAbsent = UINT32_MAX;

    NameIndex(const Keys& keys, size_t count) : mKeys(keys) {
        size_t size = 16;
        while (size < count * 2)
            size *= 2;
        mSlots.assign(size, kEmpty);
        mMask = size - 1;
    }
    void Set(uint32_t i) {
        const size_t hash = mKeys.Hash(i);
        mSlots[Slot(mKeys[i], hash)] = Tag(hash) | i;
    }
    // The position of a name of another list (its key and hash).
    uint32_t Find(std::string_view key, size_t hash) const {
        const uint64_t slot = mSlots[Slot(key, hash)];
        return slot == kEmpty ? kAbsent : static_cast<uint32_t>(slot);
    }
    bool Contains(std::string_view key, size_t hash) const { return Find(key, hash) != kAbsent; }

private:
    static constexpr uint64_t kEmpty = UINT64_MAX;
    static uint64_t Tag(size_t hash) { return static_cast<uint64_t>(hash) >> 32 << 32; }

    size_t Slot(std::string_view key, size_t hash) const {
        const uint64_t tag = Tag(hash);
        for (size_t slot = hash & mMask;; slot = (slot + 1) & mMask) {
            const uint64_t at = mSlots[slot];
            if (at == kEmpty ||
                ((at >> 32 << 32) == tag && mKeys[static_cast<uint32_t>(at)] == key))
                return slot;
        }
    }
    const Keys& mKeys;
    std::vector<uint64_t> mSlots;
    size_t mMask;
};

enum class Shadow { None, Direct, Below };

// Whether a side's item (by upper-cased path) meets something the other
// side's walk left out: the same name, or a folder above it.
Shadow ShadowOf(std::string_view key, const KeySet& ignored) {
    if (ignored.empty())
        return Shadow::None;
    if (ignored.contains(std::string(key)))
        return Shadow::Direct;
    for (size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1))
        if (ignored.contains(std::string(key.substr(0, slash))))
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
    explicit Side(std::span<const sFileInfo> list)
        : items(list), keys(list), usable(list.size(), 0), files(keys, list.size() - Folders(list)),
          folders(keys, Folders(list)) {}
    static size_t Folders(std::span<const sFileInfo> list) {
        size_t count = 0;
        for (const sFileInfo& item : list)
            count += item.isFolder;
        return count;
    }
    std::span<const sFileInfo> items;
    Keys keys;                   // upper-cased names
    std::vector<uint8_t> usable; // takes part in the comparison
    NameIndex files;             // key -> last usable file with it
    NameIndex folders;           // key -> a usable folder with it
};

void Prepare(Side& side, const KeySet& otherIgnored, bool remote,
             std::vector<SyncIgnoredItem>& leftAlone) {
    for (uint32_t i = 0; i < side.items.size(); ++i) {
        const sFileInfo& item = side.items[i];
        if (item.isLink)
            continue;
        if (!IsSafeRelativePath(item.name)) {
            leftAlone.push_back(
                {item.name, item.name, item.isFolder, remote, SyncSkip::Unsafe, {}});
            continue;
        }
        const Shadow shadow = ShadowOf(side.keys[i], otherIgnored);
        if (shadow != Shadow::None) {
            if (shadow == Shadow::Direct)
                leftAlone.push_back(
                    {item.name, {}, item.isFolder, remote, SyncSkip::IgnoredOtherSide, {}});
            continue;
        }
        side.usable[i] = 1;
        if (item.isFolder)
            side.folders.Set(i);
        else
            side.files.Set(i);
    }
}

// A name that is a file on one side and a folder on the other: neither is
// synchronised, nor anything below the folder, so that no transfer lands on
// the other kind and no deletion takes what stands in its way. Each clash is
// told once, by the local item.
void LeaveClashesAlone(Side& local, Side& remote, std::vector<SyncIgnoredItem>& leftAlone) {
    KeySet clashes;
    for (uint32_t i = 0; i < local.items.size(); ++i) {
        if (!local.usable[i])
            continue;
        const bool folder = local.items[i].isFolder;
        const NameIndex& otherKind = folder ? remote.files : remote.folders;
        const uint32_t other = otherKind.Find(local.keys[i], local.keys.Hash(i));
        if (other == NameIndex::kAbsent)
            continue;
        clashes.insert(std::string(local.keys[i]));
        leftAlone.push_back({local.items[i].name,
                             {},
                             folder,
                             false,
                             SyncSkip::KindClash,
                             remote.items[other].name});
    }
    if (clashes.empty())
        return;
    for (Side* side : {&local, &remote})
        for (uint32_t i = 0; i < side->items.size(); ++i)
            if (ShadowOf(side->keys[i], clashes) != Shadow::None)
                side->usable[i] = 0;
}

// Files of `side` without a partner go to `oneSide`; files with one whose
// name another file of the same side took are left alone.
void Match(const Side& side, const Side& other, bool remote, std::vector<uint32_t>& oneSide,
           std::vector<SyncIgnoredItem>& leftAlone) {
    for (uint32_t i = 0; i < side.items.size(); ++i) {
        if (!side.usable[i] || side.items[i].isFolder)
            continue;
        if (!other.files.Contains(side.keys[i], side.keys.Hash(i))) {
            oneSide.push_back(i);
            continue;
        }
        const uint32_t kept = side.files.Find(side.keys[i], side.keys.Hash(i));
        if (kept != i)
            leftAlone.push_back({side.items[i].name,
                                 {},
                                 false,
                                 remote,
                                 SyncSkip::CaseCollision,
                                 side.items[kept].name});
    }
}

// `name` as the other side writes it: the longest folder above it that the
// other side holds takes that side's letter case, so that a new file or
// folder goes into the folder it was matched with.
std::string OnOtherSide(const std::string& name, const Side& other) {
    for (size_t slash = name.rfind('/'); slash != std::string::npos && slash > 0;
         slash = name.rfind('/', slash - 1)) {
        const std::string key = SyncUpperName(std::string_view(name).substr(0, slash));
        const uint32_t folder = other.folders.Find(key, std::hash<std::string_view>()(key));
        if (folder != NameIndex::kAbsent)
            return other.items[folder].name + name.substr(slash);
    }
    return name;
}

// The temporary files of uploads that a remote walk met, by the upper-cased
// stem of their target.
class UploadParts {
public:
    explicit UploadParts(std::span<const SyncIgnoredItem> remoteIgnored) {
        for (const SyncIgnoredItem& item : remoteIgnored)
            if (item.reason == SyncSkip::UploadPart && !item.isFolder)
                mOwners.insert(SyncUpperName(UploadPartOwner(item.path)));
    }
    // Whether a temporary file of an upload to `name` stands beside it.
    bool Beside(const std::string& name) const {
        return !mOwners.empty() && mOwners.contains(SyncUpperName(UploadPartStem(name)));
    }

private:
    KeySet mOwners;
};

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

} // namespace

SyncPlan PlanSync(const SyncInput& input, const std::vector<SyncChoice>& answers) {
    SyncPlan plan;
    // A damaged or foreign bookmark: no direction is assumed for it.
    if (input.action < 1 || input.action > 3) {
        plan.refused = true;
        return plan;
    }
    const bool uploads = input.action != 2;
    const bool downloads = input.action != 1;

    Side remote(input.remote), local(input.local);
    Prepare(remote, IgnoredKeys(input.localIgnored, input.local), true, plan.leftAlone);
    Prepare(local, IgnoredKeys(input.remoteIgnored, input.remote), false, plan.leftAlone);
    LeaveClashesAlone(local, remote, plan.leftAlone);

    // Folders missing on the other side, parents first as the trees list them.
    if (uploads)
        for (uint32_t i = 0; i < local.items.size(); ++i)
            if (local.usable[i] && local.items[i].isFolder &&
                !remote.folders.Contains(local.keys[i], local.keys.Hash(i)))
                plan.remoteFolders.push_back(OnOtherSide(local.items[i].name, remote));
    if (downloads)
        for (uint32_t i = 0; i < remote.items.size(); ++i)
            if (remote.usable[i] && remote.items[i].isFolder &&
                !local.folders.Contains(remote.keys[i], remote.keys.Hash(i)))
                plan.localFolders.push_back(OnOtherSide(remote.items[i].name, local));

    std::vector<uint32_t> localOnly, remoteOnly;
    Match(local, remote, false, localOnly, plan.leftAlone);
    Match(remote, local, true, remoteOnly, plan.leftAlone);

    // An upload of this name did not end: a file beside its temporary file
    // is not deleted, nor is a local file whose remote name has one (the
    // rename may have been cut after the old remote file went aside).
    const UploadParts parts(input.remoteIgnored);
    auto leaveCut = [&](const sFileInfo& item, bool remoteSide) {
        plan.leftAlone.push_back({item.name, {}, false, remoteSide, SyncSkip::UploadCut, {}});
        plan.unsettled.push_back(item.name);
    };

    // Deletions come only from what this run listed on one side alone.
    if (input.action == 1 && input.deleteRemote)
        for (uint32_t i : remoteOnly) {
            if (parts.Beside(remote.items[i].name))
                leaveCut(remote.items[i], true);
            else
                plan.deletions.push_back(remote.items[i]);
        }
    else if (input.action == 2 && input.deleteLocal)
        for (uint32_t i : localOnly) {
            if (parts.Beside(OnOtherSide(local.items[i].name, remote)))
                leaveCut(local.items[i], false);
            else
                plan.deletions.push_back(local.items[i]);
        }

    std::vector<sFileInfo> uploadList, downloadList;
    std::vector<std::string> uploadTargets, downloadTargets;
    for (uint32_t i : localOnly) {
        uploadList.push_back(local.items[i]);
        uploadTargets.push_back(OnOtherSide(local.items[i].name, remote));
    }
    for (uint32_t i : remoteOnly) {
        downloadList.push_back(remote.items[i]);
        downloadTargets.push_back(OnOtherSide(remote.items[i].name, local));
    }

    const bool cacheLoaded = !input.cachedRemote.empty() && !input.cachedLocal.empty();
    const Keys cachedRemoteKeys(cacheLoaded ? input.cachedRemote : std::span<const sFileInfo>());
    const Keys cachedLocalKeys(cacheLoaded ? input.cachedLocal : std::span<const sFileInfo>());
    NameIndex cachedRemote(cachedRemoteKeys, cacheLoaded ? input.cachedRemote.size() : 0);
    NameIndex cachedLocal(cachedLocalKeys, cacheLoaded ? input.cachedLocal.size() : 0);
    if (cacheLoaded) {
        for (uint32_t i = 0; i < input.cachedRemote.size(); ++i)
            cachedRemote.Set(i);
        for (uint32_t i = 0; i < input.cachedLocal.size(); ++i)
            cachedLocal.Set(i);
    }

    // Each pair is decided on its own; only the pairs that do something are
    // then put in byte order of their upper-cased names (unsigned, as
    // std::string_view compares), which is the order of the transfers and of
    // the questions.
    struct Pair {
        std::string_view key;
        uint32_t remote, local;
        const sFileInfo* rc;
        const sFileInfo* lc;
        Decision decision;
    };
    std::vector<Pair> pairs;
    for (uint32_t l = 0; l < local.items.size(); ++l) {
        if (!local.usable[l] || local.items[l].isFolder ||
            local.files.Find(local.keys[l], local.keys.Hash(l)) != l)
            continue;
        const uint32_t r = remote.files.Find(local.keys[l], local.keys.Hash(l));
        if (r == NameIndex::kAbsent)
            continue;
        const sFileInfo* rc = nullptr;
        const sFileInfo* lc = nullptr;
        if (cacheLoaded) {
            const uint32_t foundRemote = cachedRemote.Find(remote.keys[r], remote.keys.Hash(r));
            const uint32_t foundLocal = cachedLocal.Find(local.keys[l], local.keys.Hash(l));
            if (foundRemote != NameIndex::kAbsent && foundLocal != NameIndex::kAbsent) {
                rc = &input.cachedRemote[foundRemote];
                lc = &input.cachedLocal[foundLocal];
            }
        }
        Decision decision = Decide(remote.items[r], local.items[l], rc, lc);
        // The remote file is whole (it only ever takes a finished upload's
        // place), but the local one may hold what that upload was to carry:
        // it is not downloaded over without asking.
        if (decision == Decision::Download && parts.Beside(remote.items[r].name))
            decision = Decision::Conflict;
        if (decision != Decision::Nothing)
            pairs.push_back({local.keys[l], r, l, rc, lc, decision});
    }
    std::sort(pairs.begin(), pairs.end(),
              [](const Pair& a, const Pair& b) { return a.key < b.key; });

    auto unsettle = [&](const sFileInfo& r, const sFileInfo& l) {
        plan.unsettled.push_back(r.name);
        if (l.name != r.name)
            plan.unsettled.push_back(l.name);
    };
    for (const Pair& pair : pairs) {
        const sFileInfo& r = remote.items[pair.remote];
        const sFileInfo& l = local.items[pair.local];
        const sFileInfo* rc = pair.rc;
        const sFileInfo* lc = pair.lc;
        Decision decision = pair.decision;
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
            uploadTargets.push_back(r.name); // the file it pairs with, in its letter case
            // A change this action does not carry out stays a change.
            if (!uploads)
                unsettle(r, l);
        } else if (decision == Decision::Download) {
            downloadList.push_back(r);
            downloadTargets.push_back(l.name);
            if (!downloads)
                unsettle(r, l);
        }
    }

    if (uploads) {
        plan.uploads = std::move(uploadList);
        plan.uploadTargets = std::move(uploadTargets);
    }
    if (downloads) {
        plan.downloads = std::move(downloadList);
        plan.downloadTargets = std::move(downloadTargets);
    }
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
