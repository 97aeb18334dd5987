#pragma once
// Names as synchronisation sees them: the one upper-casing both sides are
// matched by, and the one rule both tree walks use to leave items out, so that
// nothing is "on one side only" because only one walk hid it.
#include "engine/ConnectionRecords.h"

#include <string>
#include <string_view>

// Every byte through toupper of the C locale: only a to z change, bytes of
// multi-byte characters stay as they are.
std::string SyncUpperName(std::string_view name);

// Why a walk leaves an item out.
enum class SyncSkip {
    None,
    Hidden,           // begins with "." ("." and ".." included)
    CacheFile,        // "zarvel." + anything + ".sync"
    Link,             // a symbolic link: never followed, never replaced
    OtherKind,        // neither a plain file nor a folder (device, socket, pipe)
    BadCharacter,     // holds '\', '/' or ':'
    Unsafe,           // empty, or holds NUL, CR or LF: never a path component
    NotUTF8,          // cannot be stored in the cache as it stands
    CaseCollision,    // another item has the same name in other letters' case
    IgnoredOtherSide, // the other side holds an item of this name that its walk left out
    UploadPart,       // what an upload writes before it takes its target's place
    UploadCut,        // a remote upload part stands beside it: an upload of it did not end
    KindClash         // a file on one side, a folder of the same name on the other
};

// The rule of both walks for one directory entry. Links and other kinds are
// the caller's to tell (the name alone does not say).
SyncSkip SyncNameRule(std::string_view name);

bool IsValidUTF8(std::string_view text);

// True when every "/"-separated segment of `path` is a usable name: not empty,
// not "." or "..", and free of NUL, CR, LF and '\'. Paths built from it stay
// inside the synchronised folder.
bool IsSafeRelativePath(std::string_view path);

// An item a walk or the comparison left alone, for telling the user.
struct SyncIgnoredItem {
    std::string path; // relative path, segments joined by "/"
    std::string name; // the item's own name, as listed (may hold a "/")
    bool isFolder = false;
    bool remote = false;
    SyncSkip reason = SyncSkip::None;
    std::string other; // CaseCollision: the name that was kept; KindClash: the other side's
};

// Whether the user hears about it: hidden items, cache files and links are
// left out silently, as they always were.
bool SyncSkipIsReported(SyncSkip reason);

// The text that tells the user about one item left alone.
std::string SyncIgnoredMessage(const SyncIgnoredItem& item);
