#pragma once
// Synchronisation bookmarks on disk: the store "Zarvel Sync Bookmarks" in the
// Preferences folder and exported ".sync.zarvel" files, kept like the
// connection bookmarks (enciphered XML property lists, written whole and
// atomically, an unreadable store set aside).
#include "app/BookmarkStore.h"
#include "engine/ConnectionRecords.h"
#include "platform/core/PropertyList.h"

#include <string>
#include <vector>

extern const char* const kSyncBookMarksFilename; // "Zarvel Sync Bookmarks"
extern const char* const kSyncBookMarkExtension; // ".sync.zarvel"
extern const char* const kBookMarkLocalDirKey;
extern const char* const kBookMarkRemoteDirKey;
extern const char* const kBookMarkActionKey;
extern const char* const kBookMarkDeleteLocalKey;
extern const char* const kBookMarkDeleteRemoteKey;

// One bookmark as a dictionary with all thirteen keys.
PPx::PropertyList SyncBookmarkToDictionary(const sSyncBookMarkData& bookmark);
// False unless every key is there with a value of its kind.
bool SyncBookmarkFromDictionary(const PPx::PropertyList& dict, sSyncBookMarkData& out);

using SyncStoreLoad = RecordStoreLoad<sSyncBookMarkData>;

// "Zarvel Sync Bookmarks" in the Preferences folder; throws OSError when that
// folder cannot be made.
std::string SyncBookmarkStorePath();
SyncStoreLoad LoadSyncBookmarkStore(const std::string& path);
// Throws OSError when the store cannot be written; the old one then stays.
void SaveSyncBookmarkStore(const std::string& path,
                           const std::vector<sSyncBookMarkData>& bookmarks);

// Writes the bookmark into FOLDER as its name + ".sync.zarvel" (a name that
// would leave the folder is made safe); the path written. Throws OSError.
std::string ExportSyncBookmark(const sSyncBookMarkData& bookmark, const std::string& folder);
// Reads an exported file; false when it is no synchronisation bookmark.
bool ReadExportedSyncBookmark(const std::string& path, sSyncBookMarkData& out);

// Applies a host written as a URL as the connection bookmarks do; the URL's
// path becomes the remote folder. False with a message for the user.
bool ApplySyncHostURL(sSyncBookMarkData& bookmark, std::string& error);
