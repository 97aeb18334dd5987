#pragma once
// Where a drop target that saves dragged items itself (a file manager's
// folder or its Trash, through the X direct-save protocol) says they go.
// The target is another program: what it hands back is checked before
// anything is written.
#include <string>

namespace PPx {

struct DropLocation {
    enum Kind {
        kNothing, // the target named no place (it left the proposed name as it was)
        kFolder,  // a local folder this user may write in
        kTrash,   // the user's Trash
        kRefused, // a place nothing may be written to; the texts say why
    };
    Kind kind = kNothing;
    std::string folder; // kFolder and kTrash (the Trash's is TrashFolder())
    std::string message, explanation;
};

// Reads the file URI the target wrote ("file:///folder/name" or
// "file://thishost/folder/name", or a "trash:" URI): the folder part must be
// an existing local folder the user can write in, reached without "." or
// ".." steps, and the name it ends in one plain name (no NUL, CR or LF).
DropLocation ReadDropLocation(const std::string& uri);

} // namespace PPx
