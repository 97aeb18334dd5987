#pragma once
// The synchronisation cache of a bookmark: every plain file of both trees
// (relative path, size, date) as it stood after the last completed run, in
// "Zarvel Sync Files"/"zarvel.<name>.sync" in the Preferences folder, a plain
// XML property list {"Local": [...], "Remote": [...]} of {"Name", "Size", "Date"}.
#include "engine/ConnectionRecords.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// "Zarvel Sync Files" in the Preferences folder (not created here). Throws
// OSError when the Preferences folder cannot be found or made.
std::string SyncFilesFolder();

// "zarvel." + name + ".sync". A name that holds "/" or NUL could point out of
// the folder: it is written with each '/', '%' and NUL as %XX behind a
// leading "%", and so is a name that begins with "%", so that two bookmarks
// never share a file. Every other name goes in byte for byte.
std::string SyncFileName(const std::string& bookmarkName);

// The stored form of two lists: folders and links are left out, and so is an
// entry whose name or date cannot be stored.
std::string SyncCacheText(const std::vector<sFileInfo>& local,
                          const std::vector<sFileInfo>& remote);

// Reads the stored form; false when it is not a property list whose root is a
// dictionary. Entries lacking a key or of the wrong type are skipped.
bool ReadSyncCacheText(std::string_view text, std::vector<sFileInfo>& local,
                       std::vector<sFileInfo>& remote);

struct SyncCacheLoad {
    enum Status {
        Loaded,   // found and read (the lists may still be empty)
        Missing,  // no folder or no file: a first run
        SetAside, // could not be read; kept as `keptAs`, counts as no cache
        Blocked   // could not be read nor set aside; counts as no cache
    };
    Status status = Missing;
    std::string keptAs;
};

// Empties both lists, then fills them from the bookmark's cache file. Loading
// never creates the folder.
SyncCacheLoad LoadSyncFile(const std::string& bookmarkName, std::vector<sFileInfo>& cachedLocal,
                           std::vector<sFileInfo>& cachedRemote);

// Writes the bookmark's cache file whole: beside the old one, then renamed over
// it. Creates the folder when missing. Throws OSError when it cannot be written.
void SaveSyncFile(const std::string& bookmarkName, const std::vector<sFileInfo>& local,
                  const std::vector<sFileInfo>& remote);

// Keeps the cache file in step with an edited bookmark: a new name moves it;
// a new host, local or remote folder asks the user through `askUser` with a
// message and an explanation (true, 'Yes ': delete the file).
void CheckSyncFileStatus(
    const sSyncBookMarkData& before, const sSyncBookMarkData& after,
    const std::function<bool(const std::string& message, const std::string& explanation)>& askUser);

// Deletes the cache file of a removed bookmark, when there is one.
void RemoveSyncFile(const sSyncBookMarkData& bookmark);
