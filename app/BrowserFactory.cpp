#include "app/BrowserFactory.h"

#include <utility>

namespace {

BrowserRequests gRequests;

bool DefaultOpener(const sBookMarkData& bookmark, PPx::Window* origin) {
    ++gRequests.count;
    gRequests.last = bookmark;
    gRequests.fromWindow = origin != nullptr;
    return false;
}

BrowserOpener& Opener() {
    static BrowserOpener opener = DefaultOpener;
    return opener;
}

} // namespace

bool OpenBrowserWindow(const sBookMarkData& bookmark, PPx::Window* origin) {
    return Opener()(bookmark, origin);
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
