#include "browser/viewer/ViewFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kPrefix[] = "zarvel-view-";

// The folders of this process still standing; removed at exit too, so that a
// window never closed (the program quit around it) leaves nothing behind.
std::mutex gLock;
std::set<std::string>& Live() {
    static auto* live = new std::set<std::string>;
    return *live;
}

void RemoveLiveAtExit() {
    std::lock_guard<std::mutex> lock(gLock);
    for (const std::string& path : Live())
        ViewFolder::RemoveTree(path);
    Live().clear();
}

bool UsableFolder(const char* path) {
    if (!path || path[0] != '/')
        return false;
    struct stat st;
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode) && ::access(path, W_OK | X_OK) == 0;
}

// Empties the folder open as FD (closed here) and everything below it.
void EmptyAt(int fd) {
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    while (struct dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        if (::unlinkat(fd, name, 0) == 0)
            continue;
        if (errno != EISDIR && errno != EPERM)
            continue;
        const int sub = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub >= 0) {
            EmptyAt(sub);
            ::unlinkat(fd, name, AT_REMOVEDIR);
        }
    }
    ::closedir(dir);
}

} // namespace

std::string ViewFolder::Base() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); UsableFolder(runtime))
        return runtime;
    if (const char* tmp = std::getenv("TMPDIR"); UsableFolder(tmp))
        return tmp;
    return "/tmp";
}

std::unique_ptr<ViewFolder> ViewFolder::Make() {
    static const bool registered = [] { return std::atexit(RemoveLiveAtExit) == 0; }();
    (void)registered;
    std::string base = Base();
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    std::string path = base + "/" + kPrefix + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(path.data()))
        return nullptr;
    // mkdtemp makes it 0700 already; say so in case of an odd platform.
    ::chmod(path.c_str(), 0700);
    std::lock_guard<std::mutex> lock(gLock);
    Live().insert(path);
    return std::unique_ptr<ViewFolder>(new ViewFolder(path));
}

ViewFolder::~ViewFolder() {
    RemoveTree(mPath);
    std::lock_guard<std::mutex> lock(gLock);
    Live().erase(mPath);
}

void ViewFolder::RemoveTree(const std::string& path) {
    // A download still ending in its worker when the window goes may move its
    // part file to the file's own name while the folder is emptied, after the
    // listing that removal read: the folder is then not empty, and is emptied
    // again. Such a move happens once, and never into a folder that is gone.
    constexpr int kAttempts = 5;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            if (attempt == 0)
                ::unlink(path.c_str()); // a link or a file where the folder was
            return;
        }
        EmptyAt(fd);
        if (::rmdir(path.c_str()) == 0 || (errno != ENOTEMPTY && errno != EEXIST))
            return;
    }
}

void ViewFolder::RemoveStale() {
    const std::string base = Base();
    DIR* dir = ::opendir(base.c_str());
    if (!dir)
        return;
    const size_t prefixLength = sizeof(kPrefix) - 1;
    while (struct dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefixLength, kPrefix) != 0)
            continue;
        // zarvel-view-PID-XXXXXX
        char* end = nullptr;
        errno = 0;
        const long pid = std::strtol(name.c_str() + prefixLength, &end, 10);
        if (errno != 0 || pid <= 0 || !end || *end != '-')
            continue;
        if (pid == static_cast<long>(::getpid()))
            continue;
        if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue; // still running (or not ours to judge)
        const std::string path = base + "/" + name;
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
            continue;
        RemoveTree(path);
    }
    ::closedir(dir);
}
