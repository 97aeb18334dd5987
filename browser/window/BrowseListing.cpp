// The listing road: a folder's listing parsed and ordered off the main
// thread, its links resolved, and the list filled.
#include "browser/core/Listing.h"
#include "browser/window/BrowseContent.h"
#include "browser/window/BrowseText.h"
#include "browser/window/BrowseWindow.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <numeric>
#include <system_error>

using PPx::DataBrowser::ItemID;
using PPx::DataBrowser::PropertyID;

namespace {

// A listing job's end, and which listing it was.
constexpr PPx::FourCharCode kListingParsed = 'LSTp';
constexpr PPx::FourCharCode kParamGeneration = 'GENR';

} // namespace

void BrowseWindow::GetServerInfoComplete(bool resumeSupported, int serverType) {
    RequestEnded();
    mResumeSupported = resumeSupported;
    mServerType = serverType;
    Send([](Connection& c) { c.GetDirList(); });
}

void BrowseWindow::GetDirListComplete(const std::string& path, const std::string& listing) {
    RequestEnded();
    mCurrentPath = path;
    BuildPathPopup(path);
    DisableControls();
    ParseListing(listing);
}

// A folder of many thousand items takes tens of milliseconds to parse and
// order: that is done on a thread of its own, so that the window goes on
// drawing and answering meanwhile. Its controls stay disabled until the
// list is filled, and the list keeps showing the old items until then.
struct BrowseWindow::ParsedListing {
    std::vector<sFileInfo> items;
    std::vector<ItemID> order;
    int32_t serverType = kServerUnix;
    std::exception_ptr error;
};

void BrowseWindow::ParseListing(const std::string& listing) {
    if (mListingJob.joinable())
        mListingJob.join();
    if (!mListingHandler.IsInstalled())
        mListingHandler =
            mListingTarget.InstallCommandHandler(kListingParsed, [this](PPx::Event& event) {
                int64_t generation = 0;
                // One that a later listing overtook is dropped.
                if (event.GetInteger(kParamGeneration, generation) &&
                    generation == mListingGeneration)
                    ListingParsed();
                return PPx::noErr;
            });
    auto parsed = std::make_shared<ParsedListing>();
    parsed->serverType = mServerType;
    mParsed = parsed;
    const uint32_t generation = ++mListingGeneration;
    const PropertyID property = mList ? mList->GetSortProperty() : 0;
    const bool ascending = !mList || mList->GetSortOrderAscending();
    auto text = std::make_shared<const std::string>(listing);
    // The window's events go by a weak reference: once the window is gone,
    // the job's end is dropped.
    const PPx::EventTargetRef target = mListingTarget.Ref();
    auto job = [parsed, text, property, ascending, generation, target] {
        try {
            BuildFileList(*text, parsed->items, parsed->serverType);
            parsed->order = SortedOrder(parsed->items, property, ascending);
        } catch (...) {
            parsed->error = std::current_exception();
        }
        PPx::Event done = PPx::MakeCommandEvent(kListingParsed);
        done.SetInteger(kParamGeneration, generation);
        PPx::PostEvent(target, std::move(done));
    };
    try {
        mListingJob = std::thread(job);
    } catch (const std::system_error&) {
        job(); // no thread to be had: here, then
    }
}

void BrowseWindow::ListingParsed() {
    // A window on its way out shows nothing more.
    if (mClosing || IsClosePending())
        return;
    // The job has nothing left to do but end; joining it also orders its
    // writes before the reads here.
    if (mListingJob.joinable())
        mListingJob.join();
    const std::shared_ptr<ParsedListing> parsed = std::move(mParsed);
    if (!parsed)
        return;
    // Out of memory, say: the old list stays, and the user may try again.
    if (parsed->error) {
        std::fprintf(stderr, "zarvel: the listing could not be shown\n");
        EnableControls();
        return;
    }
    mServerType = parsed->serverType;
    mListedItems = std::move(parsed->items);
    mListedOrder = std::move(parsed->order);
    if (ResolveLinks())
        return;
    PopulateList();
    EnableControls();
}

// The list's ids (index + 1) in the order the list sorts them by PROPERTY.
std::vector<ItemID> BrowseWindow::SortedOrder(const std::vector<sFileInfo>& items,
                                              PropertyID property, bool ascending) {
    std::vector<ItemID> order(items.size());
    std::iota(order.begin(), order.end(), ItemID(1));
    std::stable_sort(order.begin(), order.end(), [&](ItemID a, ItemID b) {
        return ascending ? BrowseContent::ItemLess(items[a - 1], items[b - 1], property)
                         : BrowseContent::ItemLess(items[b - 1], items[a - 1], property);
    });
    return order;
}

bool BrowseWindow::ResolveLinks() {
    if (mServerType == kServerWindowsNT)
        return false;
    mLinkIndexes.clear();
    std::vector<std::string> names;
    for (size_t i = 0; i < mListedItems.size(); ++i)
        // A name that is no single item would have the server look elsewhere;
        // such a link simply stays a file.
        if (mListedItems[i].isLink && IsSingleComponent(mListedItems[i].name)) {
            mLinkIndexes.push_back(static_cast<int32_t>(i));
            names.push_back(mListedItems[i].name);
        }
    if (names.empty())
        return false;
    Send([&names](Connection& c) { c.ResolveLinks(names); });
    return true;
}

void BrowseWindow::ResolveLinksComplete(const std::vector<std::string>& folderLinks) {
    RequestEnded();
    for (int32_t index : mLinkIndexes) {
        if (index < 0 || static_cast<size_t>(index) >= mListedItems.size())
            continue;
        sFileInfo& item = mListedItems[static_cast<size_t>(index)];
        if (std::find(folderLinks.begin(), folderLinks.end(), item.name) != folderLinks.end())
            item.isFolder = true;
    }
    PopulateList();
    EnableControls();
}

void BrowseWindow::ChangeDirToComplete() {
    RequestEnded();
    Send([](Connection& c) { c.GetDirList(); });
}

void BrowseWindow::BuildPathPopup(const std::string& path) {
    if (!mPathPopup)
        return;
    mPathPopup->RemoveAllItems();
    for (const std::string& item : PathPopupItems(path))
        mPathPopup->AppendItem(item);
    mPathPopup->SetValue(mPathPopup->GetMaxValue());
}

void BrowseWindow::PopulateList() {
    mList->RemoveAllItems();
    mItems.swap(mListedItems);
    mListedItems.clear();
    // Added in the order they sort in, the sort below leaves them as they are.
    std::vector<ItemID> ids;
    ids.swap(mListedOrder);
    if (ids.size() != mItems.size()) {
        ids.resize(mItems.size());
        std::iota(ids.begin(), ids.end(), ItemID(1));
    }
    mList->AddItems(ids);
    mList->Sort();
    mList->AutoSizeColumns();
    const std::vector<ItemID> order = mList->GetItemsInOrder();
    if (!order.empty())
        mList->RevealItem(order.front());
    if (!mRevealName.empty()) {
        for (size_t i = 0; i < mItems.size(); ++i)
            if (mItems[i].name == mRevealName) {
                mList->RevealItem(static_cast<ItemID>(i + 1));
                break;
            }
    }
    mRevealName.clear();
}
