#include "sync/bookmarks/SyncRunFactory.h"

#include <utility>

namespace {

SyncRunRequests gRequests;

bool DefaultOpener(const sSyncBookMarkData& bookmark) {
    ++gRequests.count;
    gRequests.last = bookmark;
    return false;
}

SyncRunOpener& Opener() {
    static SyncRunOpener opener = DefaultOpener;
    return opener;
}

} // namespace

bool OpenSyncRun(const sSyncBookMarkData& bookmark) {
    return Opener()(bookmark);
}

SyncRunOpener SetSyncRunOpener(SyncRunOpener opener) {
    SyncRunOpener previous = std::move(Opener());
    Opener() = opener ? std::move(opener) : SyncRunOpener(DefaultOpener);
    return previous;
}

const SyncRunRequests& GetSyncRunRequests() {
    return gRequests;
}

void ResetSyncRunRequests() {
    gRequests = SyncRunRequests();
}
