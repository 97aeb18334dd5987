#include "app/ConnectWindow.h"

#include "app/BasicApp.h"
#include "app/BookmarkStore.h"
#include "app/BrowserFactory.h"
#include "app/ConnectSheet.h"

#include <algorithm>

namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool IsConnectionBookmarkFile(const std::string& path) {
    return EndsWith(path, kBookMarkExtension) && !EndsWith(path, ".sync.zarvel");
}

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

// ---------------------------------------------------------------------------
// The list's content

BookmarkContent::BookmarkContent(ConnectWindow* window)
    : BookmarkListContent(window), mConnectWindow(window) {}

bool BookmarkContent::DragIsAcceptable(const std::vector<std::string>& paths) {
    return mWindow && std::any_of(paths.begin(), paths.end(), IsConnectionBookmarkFile);
}

bool BookmarkContent::ReceiveDraggedItems(const std::vector<std::string>& paths) {
    return mWindow && mConnectWindow->ImportBookmarks(paths) > 0;
}

// ---------------------------------------------------------------------------
// The window

ConnectWindow::ConnectWindow()
    : BookmarkListWindow({"bookmark", 'CONN', kMiscRememberBookmarkWindow, "ConnectState",
                          "ConnectWindowState", "drag-", kBookMarkExtension, true}) {}

PPx::OSStatus ConnectWindow::DoCommandProcess(uint32_t command) {
    if (command != 'CONN')
        return BookmarkListWindow::DoCommandProcess(command);
    OnConnect();
    return PPx::noErr;
}

std::string ConnectWindow::StorePath() {
    return BookmarkStorePath();
}

StoreLoad ConnectWindow::LoadStore(const std::string& path) {
    return LoadBookmarkStore(path);
}

void ConnectWindow::SaveStore(const std::string& path,
                              const std::vector<sBookMarkData>& bookmarks) {
    SaveBookmarkStore(path, bookmarks);
}

std::string ConnectWindow::ExportRecord(const sBookMarkData& bookmark, const std::string& folder) {
    return ExportBookmark(bookmark, folder);
}

bool ConnectWindow::ReadExportedRecord(const std::string& path, sBookMarkData& out) {
    return ReadExportedBookmark(path, out);
}

PPx::DataBrowser::Content* ConnectWindow::MakeContent() {
    return new BookmarkContent(this);
}

BookmarkSheet<sBookMarkData>* ConnectWindow::MakeSheet(const sBookMarkData* bookmark) {
    if (!bookmark)
        return PPx::MakeNibWindow<ConnectSheet>(PPx::SysNib(), "ConnectSheet");
    return PPx::MakeNibWindow<ConnectSheet>(PPx::SysNib(), "ConnectSheet", *bookmark, true);
}

void ConnectWindow::OnConnect() {
    const int index = SingleSelection();
    if (index < 0)
        return;
    OpenConnection(mBookmarks[index], true);
}

void ConnectWindow::ConnectBookmark(const sBookMarkData& bookmark) {
    OpenConnection(bookmark, false);
}

void ConnectWindow::OpenConnection(const sBookMarkData& bookmark, bool fromList) {
    sBookMarkData copy = bookmark;
    std::string error;
    if (!ApplyHostURL(copy, error)) {
        ShowError(error, "\"" + HostForDisplay(bookmark.host) + "\"");
        return;
    }
    if (copy.port < 1 || copy.port > 65535) {
        ShowError(kBadPortMessage, "");
        return;
    }
    sPreferences prefs;
    BasicApp::CopyPreferences(prefs);
    if (!OpenBrowserWindow(copy, fromList ? this : nullptr))
        return;
    if (prefs.misc[kMiscHideBookmarksOnConnect] && (fromList || IsVisible()))
        CloseForConnect();
}

int ConnectWindow::ImportBookmarks(const std::vector<std::string>& paths) {
    int added = 0;
    std::vector<std::string> refused;
    for (const std::string& path : paths) {
        if (!IsConnectionBookmarkFile(path))
            continue;
        sBookMarkData bookmark;
        if (!ReadExportedBookmark(path, bookmark)) {
            refused.push_back(BaseName(path));
            continue;
        }
        if (std::find(mBookmarks.begin(), mBookmarks.end(), bookmark) != mBookmarks.end())
            continue; // already here
        const std::string base = bookmark.name;
        for (int n = 2; !CheckUniqueName(bookmark.name); ++n)
            bookmark.name = base + " " + std::to_string(n);
        mBookmarks.push_back(bookmark);
        ++added;
    }
    if (added > 0) {
        SaveBookmarks();
        PopulateList();
    }
    if (!refused.empty()) {
        std::string names;
        for (const std::string& name : refused)
            names += (names.empty() ? "\"" : ", \"") + name + "\"";
        ShowError(refused.size() == 1 ? "This file is not a bookmark file."
                                      : "These files are not bookmark files.",
                  names);
    }
    return added;
}
