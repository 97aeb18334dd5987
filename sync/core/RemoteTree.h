#pragma once
// How the remote walk takes the entries of one listing into its tree.
#include "engine/ConnectionRecords.h"
#include "sync/core/SyncNames.h"

#include <string>
#include <vector>

// Appends the entries of the listing of `folder` (a relative path; empty for
// the synchronised folder itself) to `tree`, with `folder` + "/" in front of
// their names; a server that lists full paths gives the same names as one
// that lists bare names. `self` is the folder's own entry in its parent's
// listing (null for the synchronised folder). Entries the walk rule refuses
// go to `ignored`. False, with `error` set and nothing appended, when the
// listing shows the folder itself instead of its contents (servers do that
// for a folder they cannot open): a folder that could not be listed is never
// taken for one that holds itself.
bool TakeRemoteListing(const std::string& folder, const sFileInfo* self,
                       const std::vector<sFileInfo>& entries, std::vector<sFileInfo>& tree,
                       std::vector<SyncIgnoredItem>& ignored, std::string& error);
