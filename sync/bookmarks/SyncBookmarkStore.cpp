#include "sync/bookmarks/SyncBookmarkStore.h"

#include "platform/core/Folders.h"

const char* const kSyncBookMarksFilename = "Zarvel Sync Bookmarks";
const char* const kSyncBookMarkExtension = ".sync.zarvel";
const char* const kBookMarkLocalDirKey = "BookmarkLocalDir";
const char* const kBookMarkRemoteDirKey = "BookmarkRemoteDir";
const char* const kBookMarkActionKey = "BookmarkAction";
const char* const kBookMarkDeleteLocalKey = "BookmarkDeleteLocal";
const char* const kBookMarkDeleteRemoteKey = "BookmarkDeleteRemote";

using PPx::PlistDict;
using PPx::PropertyList;

PropertyList SyncBookmarkToDictionary(const sSyncBookMarkData& b) {
    PlistDict dict;
    SetCommonBookmarkFields(dict, b);
    dict.Set(kBookMarkPortKey, PropertyList::Integer(b.port));
    dict.Set(kBookMarkPassiveKey, PropertyList::Boolean(b.passive));
    dict.Set(kBookMarkSecureKey, PropertyList::Boolean(b.secure));
    dict.Set(kBookMarkLocalDirKey, PropertyList::String(b.localDir));
    dict.Set(kBookMarkRemoteDirKey, PropertyList::String(b.remoteDir));
    dict.Set(kBookMarkActionKey, PropertyList::Integer(b.action));
    dict.Set(kBookMarkDeleteLocalKey, PropertyList::Boolean(b.deleteLocal));
    dict.Set(kBookMarkDeleteRemoteKey, PropertyList::Boolean(b.deleteRemote));
    return PropertyList::Dictionary(std::move(dict));
}

bool SyncBookmarkFromDictionary(const PropertyList& value, sSyncBookMarkData& out) {
    const PlistDict* dict = value.AsDictionary();
    if (!dict)
        return false;
    sSyncBookMarkData b;
    if (!GetCommonBookmarkFields(*dict, b) || !GetPlistInt(*dict, kBookMarkActionKey, b.action) ||
        !GetPlistString(*dict, kBookMarkLocalDirKey, b.localDir) ||
        !GetPlistString(*dict, kBookMarkRemoteDirKey, b.remoteDir) ||
        !GetPlistBool(*dict, kBookMarkSecureKey, b.secure) ||
        !GetPlistBool(*dict, kBookMarkDeleteLocalKey, b.deleteLocal) ||
        !GetPlistBool(*dict, kBookMarkDeleteRemoteKey, b.deleteRemote))
        return false;
    out = std::move(b);
    return true;
}

std::string SyncBookmarkStorePath() {
    return PPx::PreferencesFolder() + "/" + kSyncBookMarksFilename;
}

SyncStoreLoad LoadSyncBookmarkStore(const std::string& path) {
    return LoadRecordStore<sSyncBookMarkData>(path, SyncBookmarkFromDictionary);
}

void SaveSyncBookmarkStore(const std::string& path,
                           const std::vector<sSyncBookMarkData>& bookmarks) {
    SaveRecordStore(path, bookmarks, SyncBookmarkToDictionary);
}

std::string ExportSyncBookmark(const sSyncBookMarkData& bookmark, const std::string& folder) {
    return ExportBookmarkFile(SyncBookmarkToDictionary(bookmark), bookmark.name,
                              kSyncBookMarkExtension, folder);
}

bool ReadExportedSyncBookmark(const std::string& path, sSyncBookMarkData& out) {
    PropertyList root;
    return ReadBookmarkFileRoot(path, root) && SyncBookmarkFromDictionary(root, out);
}

bool ApplySyncHostURL(sSyncBookMarkData& bookmark, std::string& error) {
    return ApplyHostURL(bookmark, error);
}
