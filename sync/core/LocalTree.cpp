#include "sync/core/LocalTree.h"

#include "sync/core/SyncDates.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

std::string Failure(const std::string& what, const std::string& path, int err) {
    return what + " \"" + path + "\": " + std::strerror(err) + ".";
}

class Walker {
public:
    explicit Walker(LocalTree& tree) : mTree(tree) {}

    // Lists the open folder `fd` (taken over), whose relative path is `parent`.
    bool LocalAppendFolder(int fd, const std::string& parent) {
        DirHandle dir(::fdopendir(fd));
        if (!dir) {
            const int err = errno;
            ::close(fd);
            return Fail(parent, err);
        }
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(dir.get());
            if (!entry) {
                if (errno != 0)
                    return Fail(parent, errno);
                return true;
            }
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            const std::string path = parent.empty() ? name : parent + "/" + name;
            struct stat st {};
            if (::fstatat(::dirfd(dir.get()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                if (errno == ENOENT)
                    continue; // gone since it was listed
                return Fail(path, errno);
            }
            const bool isFolder = S_ISDIR(st.st_mode);
            SyncSkip skip = SyncNameRule(name);
            if (skip == SyncSkip::None && S_ISLNK(st.st_mode))
                skip = SyncSkip::Link;
            else if (skip == SyncSkip::None && !isFolder && !S_ISREG(st.st_mode))
                skip = SyncSkip::OtherKind;
            if (skip != SyncSkip::None) {
                mTree.ignored.push_back({path, name, isFolder, false, skip, {}});
                continue;
            }
            sFileInfo item;
            item.name = path;
            item.owner = mTree.root;
            item.isFolder = isFolder;
            if (!isFolder) {
                item.size = static_cast<uint64_t>(st.st_size);
                item.modDate = SyncLocalDate(static_cast<int64_t>(st.st_mtim.tv_sec));
            }
            mTree.items.push_back(std::move(item));
            if (isFolder) {
                const int child = ::openat(::dirfd(dir.get()), name.c_str(),
                                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (child < 0)
                    return Fail(path, errno);
                if (!LocalAppendFolder(child, path))
                    return false;
            }
        }
    }

private:
    bool Fail(const std::string& relative, int err) {
        const std::string full = relative.empty() ? mTree.root : mTree.root + "/" + relative;
        mTree.error = Failure("Could not read the local folder", full, err);
        return false;
    }

    LocalTree& mTree;
};

} // namespace

LocalTree WalkLocalTree(const std::string& folder) {
    LocalTree tree;
    struct stat st {};
    if (folder.empty() || ::stat(folder.c_str(), &st) != 0) {
        tree.error = "The local folder \"" + folder + "\" does not exist.";
        return tree;
    }
    if (!S_ISDIR(st.st_mode)) {
        tree.error = "The local folder \"" + folder + "\" is not a folder.";
        return tree;
    }
    char resolved[PATH_MAX];
    if (!::realpath(folder.c_str(), resolved)) {
        tree.error = Failure("Could not find the local folder", folder, errno);
        return tree;
    }
    tree.root = resolved;
    const int fd = ::open(tree.root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        tree.error = Failure("Could not read the local folder", tree.root, errno);
        return tree;
    }
    Walker walker(tree);
    tree.ok = walker.LocalAppendFolder(fd, "");
    if (!tree.ok)
        tree.items.clear();
    return tree;
}
