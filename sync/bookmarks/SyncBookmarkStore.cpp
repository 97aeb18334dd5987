#include "SyncBookmarkStore.h"

#include "platform/core/Folders.h"

#include <climits>

const char* const kSyncBookMarksFilename = "Zarvel Sync Bookmarks";
const char* const kSyncBookMarkExtension = ".sync.zarvel";
const char* const kBookMarkLocalDirKey = "BookmarkLocalDir";
const char* const kBookMarkRemoteDirKey = "BookmarkRemoteDir";
const char* const kBookMarkActionKey = "BookmarkAction";
const char* const kBookMarkDeleteLocalKey = "BookmarkDeleteLocal";
const char* const kBookMarkDeleteRemoteKey = "BookmarkDeleteRemote";

using PPx::PlistDict;
using PPx::PropertyList;

namespace {

bool GetString(const PlistDict& dict, const char* key, std::string& out) {
    const PropertyList* value = dict.Find(key);
    if (!value || !value->AsString())
        return false;
    out = *value->AsString();
    return true;
}

bool GetBool(const PlistDict& dict, const char* key, bool& out) {
    const PropertyList* value = dict.Find(key);
    if (!value || !value->AsBoolean())
        return false;
    out = *value->AsBoolean();
    return true;
}

bool GetInt(const PlistDict& dict, const char* key, int32_t& out) {
    const PropertyList* value = dict.Find(key);
    if (!value || !value->AsInteger() || *value->AsInteger() < INT32_MIN ||
        *value->AsInteger() > INT32_MAX)
        return false;
    out = static_cast<int32_t>(*value->AsInteger());
    return true;
}

} // namespace

PropertyList SyncBookmarkToDictionary(const sSyncBookMarkData& b) {
    PlistDict dict;
    dict.Set(kBookMarkNameKey, PropertyList::String(b.name));
    dict.Set(kBookMarkHostKey, PropertyList::String(b.host));
    dict.Set(kBookMarkUsernameKey, PropertyList::String(b.username));
    dict.Set(kBookMarkPasswordKey, PropertyList::String(b.password));
    dict.Set(kBookMarkAccountKey, PropertyList::String(b.account));
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
    if (!GetInt(*dict, kBookMarkPortKey, b.port) || !GetInt(*dict, kBookMarkActionKey, b.action) ||
        !GetString(*dict, kBookMarkNameKey, b.name) ||
        !GetString(*dict, kBookMarkHostKey, b.host) ||
        !GetString(*dict, kBookMarkUsernameKey, b.username) ||
        !GetString(*dict, kBookMarkPasswordKey, b.password) ||
        !GetString(*dict, kBookMarkAccountKey, b.account) ||
        !GetString(*dict, kBookMarkLocalDirKey, b.localDir) ||
        !GetString(*dict, kBookMarkRemoteDirKey, b.remoteDir) ||
        !GetBool(*dict, kBookMarkPassiveKey, b.passive) ||
        !GetBool(*dict, kBookMarkSecureKey, b.secure) ||
        !GetBool(*dict, kBookMarkDeleteLocalKey, b.deleteLocal) ||
        !GetBool(*dict, kBookMarkDeleteRemoteKey, b.deleteRemote))
        return false;
    out = std::move(b);
    return true;
}

std::string SyncBookmarkStorePath() {
    return PPx::PreferencesFolder() + "/" + kSyncBookMarksFilename;
}

SyncStoreLoad LoadSyncBookmarkStore(const std::string& path) {
    SyncStoreLoad load;
    load.status = LoadStoreFile(
        path,
        [&load](const PropertyList& element) {
            sSyncBookMarkData bookmark;
            if (!SyncBookmarkFromDictionary(element, bookmark))
                return false;
            load.bookmarks.push_back(std::move(bookmark));
            return true;
        },
        load.keptAs);
    return load;
}

void SaveSyncBookmarkStore(const std::string& path,
                           const std::vector<sSyncBookMarkData>& bookmarks) {
    PPx::PlistArray array;
    array.reserve(bookmarks.size());
    for (const sSyncBookMarkData& bookmark : bookmarks)
        array.push_back(SyncBookmarkToDictionary(bookmark));
    SaveStoreFile(path, std::move(array));
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
    // The connection bookmarks' reading, with the start folder standing for
    // the remote folder.
    sBookMarkData connection;
    connection.host = bookmark.host;
    connection.username = bookmark.username;
    connection.password = bookmark.password;
    connection.port = bookmark.port;
    connection.secure = bookmark.secure;
    connection.dir = bookmark.remoteDir;
    if (!ApplyHostURL(connection, error))
        return false;
    bookmark.host = connection.host;
    bookmark.username = connection.username;
    bookmark.password = connection.password;
    bookmark.port = connection.port;
    bookmark.secure = connection.secure;
    bookmark.remoteDir = connection.dir;
    return true;
}
