#include "engine/LocalFiles.h"

#include "engine/ConnectionRecords.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Six characters of a name nobody else is likely to pick at the same time;
// O_EXCL settles the rare clash.
std::string UniqueSuffix() {
    static std::atomic<unsigned long long> counter{0};
    static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned long long seed = static_cast<unsigned long long>(
                                  std::chrono::steady_clock::now().time_since_epoch().count()) ^
                              (static_cast<unsigned long long>(::getpid()) << 20) ^
                              (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    std::string suffix;
    for (int i = 0; i < 6; ++i) {
        suffix += kDigits[seed % 36];
        seed /= 36;
    }
    return suffix;
}

} // namespace

bool IsRelativePathBelow(std::string_view path) {
    if (path.empty())
        return false;
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        const std::string_view part = path.substr(
            start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (part.empty() || part == "." || part == ".." || HasLineBreakOrNul(part))
            return false;
        if (slash == std::string_view::npos)
            return true;
        start = slash + 1;
    }
}

bool LocalPathBelow(const std::string& folder, const std::string& name, std::string& path) {
    if (folder.empty() || !IsRelativePathBelow(name))
        return false;
    path = folder;
    if (path.back() != '/')
        path += '/';
    path += name;
    return true;
}

bool IsPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && !HasLineBreakOrNul(name);
}

LocalReplacement::LocalReplacement(std::string destination) : mDestination(std::move(destination)) {
    struct stat info {};
    mExisted = ::lstat(mDestination.c_str(), &info) == 0;
}

LocalReplacement::~LocalReplacement() {
    Discard();
}

bool LocalReplacement::Create(mode_t mode) {
    Discard();
    // A short name of its own rather than one made from the destination's,
    // which could grow past the longest name the file system takes.
    const std::string stem = FolderOf(mDestination) + "/.zarvel-part-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string candidate = stem + UniqueSuffix();
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0) {
            mFD = fd;
            mPart = std::move(candidate);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    errno = EEXIST;
    return false;
}

bool LocalReplacement::Close() {
    const int fd = mFD;
    mFD = -1;
    return fd < 0 || ::close(fd) == 0;
}

bool LocalReplacement::Commit() {
    if (mPart.empty()) {
        errno = ENOENT;
        return false;
    }
    if (!Close() || ::rename(mPart.c_str(), mDestination.c_str()) != 0) {
        const int error = errno;
        Discard();
        errno = error;
        return false;
    }
    mPart.clear();
    return true;
}

void LocalReplacement::Discard() {
    Close();
    if (!mPart.empty())
        ::unlink(mPart.c_str());
    mPart.clear();
}

bool LocalReplacement::KeepPartial() {
    Close();
    struct stat info {};
    if (!mPart.empty() && !mExisted && ::stat(mPart.c_str(), &info) == 0 && info.st_size > 0 &&
        ::lstat(mDestination.c_str(), &info) != 0 &&
        ::rename(mPart.c_str(), mDestination.c_str()) == 0) {
        mPart.clear();
        return true;
    }
    Discard();
    return false;
}
