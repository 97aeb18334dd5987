#pragma once
// The plain records that travel between windows, the connection, its backend
// and the worker threads. All are value types: every holder keeps its own copy.
#include "engine/InlineText.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A calendar date and time of day; all zeros means "not set".
struct DateTimeRec {
    int16_t year = 0;
    int16_t month = 0; // 1-12
    int16_t day = 0;   // 1-31
    int16_t hour = 0;
    int16_t minute = 0;
    int16_t second = 0;
    int16_t dayOfWeek = 0; // 1 = Sunday ... 7 = Saturday; 0 when unknown

    bool operator==(const DateTimeRec&) const = default;
};

// A connection bookmark.
struct sBookMarkData {
    std::string name;
    std::string host;     // host name or dotted IPv4 address
    std::string username; // empty: anonymous FTP login
    std::string password;
    std::string account; // sent with ACCT when the server asks; SFTP ignores it
    std::string dir;     // folder to change to after login; empty: stay
    int32_t port = 0;
    bool passive = false;
    bool secure = false; // true: SFTP

    bool operator==(const sBookMarkData&) const = default;
};

// A synchronisation bookmark: a connection plus a local and a remote folder.
struct sSyncBookMarkData {
    std::string name;
    std::string host;
    std::string username;
    std::string password;
    std::string account;
    int32_t port = 0;
    bool passive = false;
    bool secure = false;
    std::string remoteDir; // becomes the connection's start folder
    std::string localDir;  // POSIX path
    int32_t action = 0;    // 1 upload only, 2 download only, 3 both ways
    bool deleteLocal = false;
    bool deleteRemote = false;

    bool operator==(const sSyncBookMarkData&) const = default;
};

// What both kinds of bookmark say about the server: its name, address, login,
// port, passive mode and protocol. The folders differ and stay as they are.
template <class From, class To> void CopyServerFields(const From& from, To& to) {
    to.name = from.name;
    to.host = from.host;
    to.username = from.username;
    to.password = from.password;
    to.account = from.account;
    to.port = from.port;
    to.passive = from.passive;
    to.secure = from.secure;
}

// One remote or local file or folder in a request or a result. Its texts
// keep what they usually hold in place: a listing of many items is built
// without a heap block per item.
struct sFileInfo {
    InlineText<59> name; // in request lists a "/"-separated path relative to the start folder
    uint64_t size = 0;
    DateTimeRec modDate;        // local time
    InlineText<15> permissions; // nine letters, without the type character
    InlineText<15> owner;       // in upload lists: the local folder that `name` hangs under
    InlineText<15> group;
    bool isFolder = false;
    bool isLink = false;
    InlineText<15> resumeOffset; // decimal byte offset; empty: from the start

    bool operator==(const sFileInfo&) const = default;
};

// The byte offset a transfer of `info` resumes from: the leading decimal
// number of its resumeOffset text, 0 when there is none (or it overflows).
uint64_t ResumeOffset(const sFileInfo& info);

// A name or path with CR, LF or NUL would end a command early and smuggle in
// another: none goes to a server or the sftp tool.
bool HasLineBreakOrNul(std::string_view text);

// What a rename onto a name that an item already has is refused with.
std::string NameTakenText(std::string_view name);

// A download request.
struct sDownloadInfo {
    std::string destination; // POSIX path of the local folder that receives the items
    std::vector<sFileInfo> files;
    uint32_t index = 0; // the front end's cursor; workers don't read it
    bool ascii = false; // FTP only

    bool operator==(const sDownloadInfo&) const = default;
};

// An upload request.
struct sUploadInfo {
    std::vector<sFileInfo> files; // folders come before their contents
    uint32_t index = 0;
    bool ascii = false;
    std::vector<int32_t> skipped; // items the collision check dropped; for the window only
    // Each file is written beside its target and renamed over it once whole
    // (no resume); its `permissions`, when set, are given to it first, and a
    // target whose permissions deny its owner writing is not replaced.
    bool replaceWhole = false;
    // With replaceWhole: the temporary files that earlier replaces left
    // (remote paths); those of a file go once it has been replaced.
    std::vector<std::string> leftovers;

    bool operator==(const sUploadInfo&) const = default;
};

// A delete request.
struct sDeleteInfo {
    std::vector<sFileInfo> files;
    uint32_t index = 0;

    bool operator==(const sDeleteInfo&) const = default;
};

// The report of one file transfer carried by 'strt', 'updt' and 'endt'.
struct sFileProgress {
    std::string name;   // UTF-8
    int64_t size = 0;   // 'strt', 'endt': the file's size; 'updt': bytes done so far
    int64_t offset = 0; // 'strt': the resume offset; 0 otherwise

    bool operator==(const sFileProgress&) const = default;
};
