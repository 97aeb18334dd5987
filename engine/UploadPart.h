#pragma once
// Uploads that replace a remote file as a whole (the synchronisation's): the
// file is written beside its target under a name of its own and renamed into
// place only once complete, so that a cut upload never stands under the
// target's name. The name says which target it belongs to, so that a walk of
// the tree knows a leftover one when it meets it.
#include <string>
#include <string_view>

// "<name>.zarvel-upload" beside `path` (a "/"-separated path); a name too
// long for that is shortened and told apart by a hash of its upper-cased
// whole, so that names equal but for letter case give names equal but for
// letter case.
std::string UploadPartName(std::string_view path);

// Whether the last segment of `name` is such a name.
bool IsUploadPartName(std::string_view name);

// Nine permission letters ("rwxr-x---", set-id and sticky letters allowed)
// as the octal mode a chmod takes ("750"); false when they are not such letters.
bool PermissionsToMode(std::string_view letters, std::string& mode);
