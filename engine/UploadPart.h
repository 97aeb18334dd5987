#pragma once
// Uploads that replace a remote file as a whole (the synchronisation's): the
// file is written beside its target under a temporary name and renamed into
// place only once complete, so that a cut upload never stands under the
// target's name. The temporary name is hidden and carries a random tag, so
// that no user's file is taken for one; it says which target it belongs to,
// so that a walk of the tree knows a leftover one when it meets it.
#include <string>
#include <string_view>

// ".<name>.<8 hex digits>.zarvel-upload" beside `path` (a "/"-separated
// path), with a fresh random tag on each call; a name too long for that is
// shortened and told apart by a hash of its upper-cased whole.
std::string UploadPartName(std::string_view path);

// Whether the last segment of `name` is such a name.
bool IsUploadPartName(std::string_view name);

// What ties a temporary name to its target: the same for every temporary
// name made for `target`, and for `UploadPartOwner` of each of them.
std::string UploadPartStem(std::string_view target);
// The stem of the target of `part` (a name IsUploadPartName accepts).
std::string UploadPartOwner(std::string_view part);

// Nine permission letters ("rwxr-x---", set-id and sticky letters allowed)
// as the octal mode a chmod takes ("750"); false when they are not such letters.
bool PermissionsToMode(std::string_view letters, std::string& mode);

// Whether nine permission letters deny the file's owner writing.
bool PermissionsDenyOwnerWrite(std::string_view letters);
