#pragma once
// The comparison of a synchronisation run: the two current trees and the two
// cached lists in, the folders to create, the transfers, the deletions and the
// conflicts out. No window, connection or file system: the run feeds it what
// it listed and carries out what it returns.
#include "engine/ConnectionRecords.h"
#include "sync/core/SyncNames.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct SyncInput {
    // Relative paths, segments joined by "/", every folder before its contents.
    std::span<const sFileInfo> remote;
    std::span<const sFileInfo> local;
    std::span<const sFileInfo> cachedRemote;
    std::span<const sFileInfo> cachedLocal;
    int32_t action = 3; // 1 upload only, 2 download only, 3 both ways
    bool deleteLocal = false;
    bool deleteRemote = false;
    // What each walk left out by its kind (links, devices) or name: the same
    // name on the other side, and everything below it, is left alone. The
    // temporary files of uploads among the remote ones mark uploads that did
    // not end: their targets are never deleted on either side, and a
    // download over a local file there becomes a conflict.
    std::span<const SyncIgnoredItem> remoteIgnored;
    std::span<const SyncIgnoredItem> localIgnored;
};

// A file changed on both sides since the last run, for the conflict sheet.
struct SyncConflict {
    uint32_t remoteIndex = 0; // into SyncInput::remote
    uint32_t localIndex = 0;  // into SyncInput::local
    bool cached = false;      // both cache entries found
    sFileInfo remote, cachedRemote, local, cachedLocal;
};

// The user's answer to one conflict, as the conflict sheet gives it.
enum class SyncChoice : int32_t { Skip = 0, Upload = 1, Download = 2 };

struct SyncPlan {
    // Nothing planned: the action is none of the three a bookmark can hold.
    bool refused = false;
    // Folders to create, each behind its parent, named as the side that has
    // them writes them below the folders both sides hold.
    std::vector<std::string> localFolders;
    std::vector<std::string> remoteFolders;
    // What the action carries out.
    std::vector<sFileInfo> uploads;
    std::vector<sFileInfo> downloads;
    std::vector<sFileInfo> deletions; // remote ones (action 1) or local ones (action 2)
    // Where each upload or download lands, by the other side's name: a file
    // paired across letter case replaces its partner instead of landing
    // beside it on a file system that tells case apart.
    std::vector<std::string> uploadTargets;
    std::vector<std::string> downloadTargets;
    // In byte order of the upper-cased names.
    std::vector<SyncConflict> conflicts;
    // Files the comparison left alone, for telling the user.
    std::vector<SyncIgnoredItem> leftAlone;
    // Relative paths of every file whose state the run must not record as
    // agreed (conflicts that were not answered with a transfer).
    std::vector<std::string> unsettled;
};

// Plans the run. `answers[i]` is the user's choice for conflict i of the plan
// made without answers; missing answers count as Skip. The plan is the same
// whatever the order of each input list, except that where one list holds
// names equal after upper-casing, the last of them is the one compared.
SyncPlan PlanSync(const SyncInput& input, const std::vector<SyncChoice>& answers = {});

// Whether a first run (no cache) asks if both trees already agree: always for
// actions 1 and 2; for action 3 only when every remote item has a local item
// of the same name, letter case aside.
bool SyncAsksFirstTimeQuestion(const SyncInput& input);

// The lists to store after a run: the trees as listed after the transfers,
// except that the files named in `unsettled` (failed, cut or skipped) keep
// what the previous cache said of them, or stay out when it said nothing.
void SettleSyncCache(std::vector<sFileInfo>& local, std::vector<sFileInfo>& remote,
                     const std::vector<sFileInfo>& cachedLocal,
                     const std::vector<sFileInfo>& cachedRemote,
                     const std::vector<std::string>& unsettled);
