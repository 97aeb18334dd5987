#include "sync/core/SyncCache.h"

#include "platform/core/AtomicFile.h"
#include "platform/core/Errors.h"
#include "platform/core/Folders.h"
#include "platform/core/PropertyList.h"
#include "sync/core/SyncDates.h"
#include "sync/core/SyncNames.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using PPx::PlistArray;
using PPx::PlistDict;
using PPx::PropertyList;

namespace {

constexpr const char* kSyncFilesFolder = "Zarvel Sync Files";
// Names that would not fit the fixed buffer a cache was always read into.
constexpr size_t kLongestName = 1023;

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

PropertyList EntryList(const std::vector<sFileInfo>& files) {
    PlistArray array;
    array.reserve(files.size());
    for (const sFileInfo& file : files) {
        if (file.isFolder || file.isLink)
            continue;
        if (!IsValidUTF8(file.name) || file.name.find('\0') != std::string::npos)
            continue;
        int64_t seconds = 0;
        if (!SyncUnixSeconds(file.modDate, seconds))
            continue;
        PlistDict entry;
        entry.Set("Name", PropertyList::String(file.name));
        entry.Set("Size", PropertyList::Integer(static_cast<int64_t>(file.size)));
        entry.Set("Date", PropertyList::Date(PPx::PlistDate{seconds}));
        array.push_back(PropertyList::Dictionary(std::move(entry)));
    }
    return PropertyList::Array(std::move(array));
}

void ReadEntries(const PlistDict& root, const char* key, std::vector<sFileInfo>& out) {
    const PropertyList* list = root.Find(key);
    const PlistArray* array = list ? list->AsArray() : nullptr;
    if (!array)
        return;
    out.reserve(array->size());
    for (const PropertyList& element : *array) {
        const PlistDict* entry = element.AsDictionary();
        if (!entry)
            continue;
        const PropertyList* name = entry->Find("Name");
        const PropertyList* size = entry->Find("Size");
        const PropertyList* date = entry->Find("Date");
        if (!name || !size || !date || !name->AsString() || !size->AsInteger() || !date->AsDate())
            continue;
        if (name->AsString()->size() > kLongestName)
            continue;
        sFileInfo file;
        file.name = *name->AsString();
        file.size = static_cast<uint64_t>(*size->AsInteger());
        file.modDate = SyncLocalDate(date->AsDate()->seconds);
        out.push_back(std::move(file));
    }
}

std::string CacheFilePath(const std::string& folder, const std::string& bookmarkName) {
    return folder + "/" + SyncFileName(bookmarkName);
}

// A free name beside `path` for keeping a cache that could not be read.
std::string AsideName(const std::string& path) {
    std::string candidate = path + ".unreadable";
    for (int n = 2; Exists(candidate) && n < 1000; ++n)
        candidate = path + ".unreadable-" + std::to_string(n);
    return candidate;
}

} // namespace

std::string SyncFilesFolder() {
    return PPx::PreferencesFolder() + "/" + kSyncFilesFolder;
}

std::string SyncFileName(const std::string& bookmarkName) {
    // Only "/" and NUL could lead out of the folder (no "." or ".." can stand
    // alone behind the prefix). The leading "%" of an encoded name is itself
    // encoded in a plain one, so no two bookmarks share a file.
    const bool needsEncoding = bookmarkName.find('/') != std::string::npos ||
                               bookmarkName.find('\0') != std::string::npos ||
                               bookmarkName.starts_with('%');
    if (!needsEncoding)
        return "zarvel." + bookmarkName + ".sync";
    std::string encoded = "%";
    for (char c : bookmarkName) {
        if (c == '/' || c == '%' || c == '\0') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
            encoded += hex;
        } else {
            encoded += c;
        }
    }
    return "zarvel." + encoded + ".sync";
}

std::string SyncCacheText(const std::vector<sFileInfo>& local,
                          const std::vector<sFileInfo>& remote) {
    PlistDict root;
    root.Set("Local", EntryList(local));
    root.Set("Remote", EntryList(remote));
    return PPx::WritePropertyList(PropertyList::Dictionary(std::move(root)));
}

bool ReadSyncCacheText(std::string_view text, std::vector<sFileInfo>& local,
                       std::vector<sFileInfo>& remote) {
    local.clear();
    remote.clear();
    PropertyList root;
    if (!PPx::TryReadPropertyList(text, root))
        return false;
    const PlistDict* dict = root.AsDictionary();
    if (!dict)
        return false;
    ReadEntries(*dict, "Local", local);
    ReadEntries(*dict, "Remote", remote);
    return true;
}

SyncCacheLoad LoadSyncFile(const std::string& bookmarkName, std::vector<sFileInfo>& cachedLocal,
                           std::vector<sFileInfo>& cachedRemote) {
    cachedLocal.clear();
    cachedRemote.clear();
    SyncCacheLoad load;
    std::string folder;
    try {
        folder = SyncFilesFolder();
    } catch (const PPx::OSError&) {
        return load;
    }
    if (!IsFolder(folder))
        return load;
    const std::string path = CacheFilePath(folder, bookmarkName);
    if (!Exists(path))
        return load;
    std::string bytes;
    bool readable = true;
    try {
        bytes = PPx::ReadWholeFile(path);
    } catch (const PPx::OSError&) {
        readable = false;
    }
    if (readable && ReadSyncCacheText(bytes, cachedLocal, cachedRemote)) {
        load.status = SyncCacheLoad::Loaded;
        return load;
    }
    cachedLocal.clear();
    cachedRemote.clear();
    // Kept, not overwritten by the end of this run: it may still be recovered.
    const std::string aside = AsideName(path);
    if (::rename(path.c_str(), aside.c_str()) == 0) {
        load.status = SyncCacheLoad::SetAside;
        load.keptAs = aside;
    } else {
        load.status = SyncCacheLoad::Blocked;
    }
    return load;
}

void SaveSyncFile(const std::string& bookmarkName, const std::vector<sFileInfo>& local,
                  const std::vector<sFileInfo>& remote) {
    const std::string folder = SyncFilesFolder();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw PPx::OSError(errno,
                           "Cannot create the folder \"" + folder + "\": " + std::strerror(errno));
    PPx::WriteFileAtomically(CacheFilePath(folder, bookmarkName), SyncCacheText(local, remote));
}

void CheckSyncFileStatus(const sSyncBookMarkData& before, const sSyncBookMarkData& after,
                         const std::function<bool(const std::string& message,
                                                  const std::string& explanation)>& askUser) {
    const bool renamed = before.name != after.name;
    const bool moved = before.host != after.host || before.localDir != after.localDir ||
                       before.remoteDir != after.remoteDir;
    if (!renamed && !moved)
        return;
    std::string folder;
    try {
        folder = SyncFilesFolder();
    } catch (const PPx::OSError&) {
        return;
    }
    if (!IsFolder(folder))
        return;
    std::string path = CacheFilePath(folder, before.name);
    if (!Exists(path))
        return;
    if (renamed) {
        const std::string newPath = CacheFilePath(folder, after.name);
        if (::rename(path.c_str(), newPath.c_str()) == 0)
            path = newPath;
    }
    if (moved && askUser &&
        askUser("Do you want to clear the synchronization cache?",
                "Zarvel keeps a synchronization cache to properly track changes to local and "
                "remote files. Due to the changes you have made to this bookmark, the currently  "
                "cached information might not be valid anymore."))
        ::unlink(path.c_str());
}

void RemoveSyncFile(const sSyncBookMarkData& bookmark) {
    std::string folder;
    try {
        folder = SyncFilesFolder();
    } catch (const PPx::OSError&) {
        return;
    }
    if (!IsFolder(folder))
        return;
    ::unlink(CacheFilePath(folder, bookmark.name).c_str());
}
