#include "platform/core/Folders.h"

#include "platform/core/Errors.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PPx {

namespace {

[[noreturn]] void Throw(int err, const std::string& what, const std::string& path) {
    throw OSError(err, what + " \"" + path + "\": " + std::strerror(err));
}

// mkdir -p; the last component gets `mode`, missing parents 0755 (less umask).
void MakeFolders(const std::string& path, mode_t mode) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode))
            Throw(ENOTDIR, "Cannot use the folder", path);
        return;
    }
    size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0)
        MakeFolders(path.substr(0, slash), 0755);
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST)
        Throw(errno, "Cannot create the folder", path);
}

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return home;
    struct passwd pw;
    struct passwd* result = nullptr;
    char buf[4096];
    if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &result) == 0 && result && result->pw_dir &&
        result->pw_dir[0] == '/')
        return result->pw_dir;
    throw OSError(ENOENT, "Cannot find the home folder");
}

std::mutex gTempMutex;
std::string gTempFolder;

void RemoveTempFolderIfEmpty() {
    std::lock_guard lock(gTempMutex);
    if (!gTempFolder.empty())
        ::rmdir(gTempFolder.c_str()); // fails, harmlessly, when something is left in it
}

} // namespace

std::string PreferencesFolder() {
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        base = xdg;
    else
        base = HomeFolder() + "/.config";
    std::string folder = base + "/Zarvel";
    MakeFolders(folder, 0700);
    return folder;
}

std::string TemporaryItemsFolder() {
    std::lock_guard lock(gTempMutex);
    struct stat st;
    if (!gTempFolder.empty() && ::stat(gTempFolder.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return gTempFolder;
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && tmp[0] == '/' ? tmp : "/tmp";
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    std::string pattern = base + "/zarvel-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        Throw(errno, "Cannot create a temporary folder in", base);
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit(RemoveTempFolderIfEmpty);
    }
    gTempFolder = pattern;
    return gTempFolder;
}

std::string ExecutableFolder() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        Throw(errno ? errno : ENOENT, "Cannot find the program's folder", "/proc/self/exe");
    std::string exe(buf, static_cast<size_t>(n));
    size_t slash = exe.rfind('/');
    return slash == 0 ? "/" : exe.substr(0, slash);
}

std::string ResourcesFolder() {
    if (const char* env = std::getenv("ZARVEL_RESOURCES"); env && env[0])
        return env;
    return ExecutableFolder() + "/../share/zarvel/Resources";
}

std::string LibexecFolder() {
    return ExecutableFolder() + "/../libexec/zarvel";
}

std::string TrashFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::string data = xdg && xdg[0] == '/' ? std::string(xdg) : HomeFolder() + "/.local/share";
    while (data.size() > 1 && data.back() == '/')
        data.pop_back();
    return data + "/Trash/files";
}

bool IsTrashFolder(const std::string& path) {
    std::string trash;
    try {
        trash = TrashFolder();
    } catch (const OSError&) {
        return false;
    }
    std::string given = path;
    while (given.size() > 1 && given.back() == '/')
        given.pop_back();
    const std::string parent = trash.substr(0, trash.rfind('/'));
    // Named as it is (it need not exist yet), or another name for it.
    std::error_code error;
    for (const std::string& candidate : {trash, parent})
        if (given == candidate || (std::filesystem::equivalent(given, candidate, error) && !error))
            return true;
    return false;
}

} // namespace PPx
