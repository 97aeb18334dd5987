#include "BrowserFactory.h"

#include <utility>

namespace {

BrowserRequests gRequests;

bool DefaultOpener(const sBookMarkData& bookmark, PPx::Window* cascadeOn) {
    ++gRequests.count;
    gRequests.last = bookmark;
    gRequests.cascaded = cascadeOn != nullptr;
    return false;
}

BrowserOpener& Opener() {
    static BrowserOpener opener = DefaultOpener;
    return opener;
}

} // namespace

bool OpenBrowserWindow(const sBookMarkData& bookmark, PPx::Window* cascadeOn) {
    return Opener()(bookmark, cascadeOn);
}

BrowserOpener SetBrowserOpener(BrowserOpener opener) {
    BrowserOpener previous = std::move(Opener());
    Opener() = opener ? std::move(opener) : BrowserOpener(DefaultOpener);
    return previous;
}

const BrowserRequests& GetBrowserRequests() {
    return gRequests;
}

void ResetBrowserRequests() {
    gRequests = BrowserRequests();
}
