#pragma once
// The walk of the local synchronised folder.
#include "engine/ConnectionRecords.h"
#include "sync/core/SyncNames.h"

#include <string>
#include <vector>

struct LocalTree {
    bool ok = false;
    std::string error; // why the walk failed, for the user
    std::string root;  // the folder's canonical path
    // Relative paths, depth first, each folder before its contents. Files
    // carry their size and local modification date; `owner` is `root`.
    std::vector<sFileInfo> items;
    // What the walk left out (links, devices, names the rule refuses).
    std::vector<SyncIgnoredItem> ignored;
};

// Lists the folder at `folder` (a POSIX path). A root that is missing, not a
// folder or unreadable, and any sub-folder that cannot be read, fail the
// whole walk: a tree seen only in part must not look like files removed.
LocalTree WalkLocalTree(const std::string& folder);
