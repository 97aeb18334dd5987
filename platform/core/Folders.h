#pragma once
// The folders the program uses. Each throws OSError (status errno, message
// naming the folder) when the folder cannot be found or made.
#include <string>

namespace PPx {

// $XDG_CONFIG_HOME/Zarvel, or ~/.config/Zarvel; created when missing.
std::string PreferencesFolder();

// A private folder of this process (mkdtemp under $TMPDIR, default /tmp), made
// on first use and removed at exit when it is empty.
std::string TemporaryItemsFolder();

// The program's folder, resolved from /proc/self/exe.
std::string ExecutableFolder();

// <exe dir>/../share/zarvel/Resources, or $ZARVEL_RESOURCES when set.
std::string ResourcesFolder();

// <exe dir>/../libexec/zarvel (the sftp tool lives there).
std::string LibexecFolder();

// The user's Trash, where trashed files go: $XDG_DATA_HOME/Trash/files, or
// ~/.local/share/Trash/files, whether or not it exists yet. Not created.
std::string TrashFolder();

// Whether PATH is the user's Trash (its "files" folder or the Trash itself).
// Never throws: without a home there is no Trash.
bool IsTrashFolder(const std::string& path);

} // namespace PPx
