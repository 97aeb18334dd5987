#pragma once
// Where a synchronisation run starts: the synchronisation-status window. The
// run's window registers its opener at start-up; until it does, starting a
// run shows nothing and the request is only remembered (for tests).
#include "engine/ConnectionRecords.h"

#include <functional>

// Opens a synchronisation-status window and starts a run on a copy of
// BOOKMARK; false when no window could be made.
using SyncRunOpener = std::function<bool(const sSyncBookMarkData& bookmark)>;

bool OpenSyncRun(const sSyncBookMarkData& bookmark);
// Replaces the opener (an empty one restores the default); the previous one.
SyncRunOpener SetSyncRunOpener(SyncRunOpener opener);

// What the default opener was last handed, and how often.
struct SyncRunRequests {
    int count = 0;
    sSyncBookMarkData last;
};
const SyncRunRequests& GetSyncRunRequests();
void ResetSyncRunRequests();
