#include "sync/core/RemoteTree.h"

namespace {

std::string LastSegment(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool ListsItself(const std::string& folder, const sFileInfo* self,
                 const std::vector<sFileInfo>& entries) {
    if (entries.size() != 1)
        return false;
    const sFileInfo& only = entries.front();
    if (!only.isFolder || (only.name != folder && only.name != LastSegment(folder)))
        return false;
    return !self || (only.size == self->size && only.modDate == self->modDate &&
                     only.permissions == self->permissions && only.owner == self->owner &&
                     only.group == self->group);
}

} // namespace

bool TakeRemoteListing(const std::string& folder, const sFileInfo* self,
                       const std::vector<sFileInfo>& entries, std::vector<sFileInfo>& tree,
                       std::vector<SyncIgnoredItem>& ignored, std::string& error) {
    if (!folder.empty() && ListsItself(folder, self, entries)) {
        error = "Could not list the remote folder \"" + folder + "\".";
        return false;
    }
    const std::string prefix = folder.empty() ? std::string() : folder + "/";
    for (const sFileInfo& entry : entries) {
        std::string name = entry.name;
        if (!prefix.empty() && name.size() > prefix.size() && name.starts_with(prefix))
            name.erase(0, prefix.size());
        SyncSkip skip = SyncNameRule(name);
        if (skip == SyncSkip::None && entry.isLink)
            skip = SyncSkip::Link;
        if (skip != SyncSkip::None) {
            ignored.push_back({prefix + name, name, entry.isFolder, true, skip, {}});
            continue;
        }
        sFileInfo taken = entry;
        taken.name = prefix + name;
        tree.push_back(std::move(taken));
    }
    return true;
}
