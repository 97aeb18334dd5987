#include "platform/core/AtomicFile.h"

#include "platform/core/Errors.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace PPx {

namespace {

[[noreturn]] void Throw(int err, const std::string& what, const std::string& path) {
    throw OSError(err, what + " \"" + path + "\": " + std::strerror(err));
}

// The process's umask, read without changing it (umask() would race with
// other threads creating files).
mode_t CurrentUmask() {
    static const mode_t mask = [] {
        mode_t m = 022;
        if (FILE* f = std::fopen("/proc/self/status", "r")) {
            char line[256];
            while (std::fgets(line, sizeof line, f)) {
                unsigned value;
                if (std::sscanf(line, "Umask: %o", &value) == 1) {
                    m = static_cast<mode_t>(value);
                    break;
                }
            }
            std::fclose(f);
        }
        return m;
    }();
    return mask;
}

std::string DirectoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

} // namespace

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
    std::string target = path;
    struct stat st;
    bool exists = false;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved))
            target = resolved;
    }
    mode_t mode = 0666 & ~CurrentUmask();
    if (::stat(target.c_str(), &st) == 0) {
        exists = true;
        if (S_ISDIR(st.st_mode))
            Throw(EISDIR, "Cannot write", path);
        mode = st.st_mode & 07777;
    }
    (void)exists;

    std::string temp = target + ".tmp-XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        Throw(errno, "Cannot create a temporary file beside", path);
    auto fail = [&](int err, const char* what) {
        ::close(fd);
        ::unlink(temp.c_str());
        Throw(err, what, path);
    };
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(errno, "Cannot write");
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    if (::fchmod(fd, mode) != 0)
        fail(errno, "Cannot set the permissions of");
    if (::fsync(fd) != 0)
        fail(errno, "Cannot write");
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        Throw(err, "Cannot write", path);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        Throw(err, "Cannot replace", path);
    }
    // Make the rename itself durable.
    int dir = ::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
    WriteFileAtomically(
        path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string ReadWholeFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        Throw(errno, "Cannot open", path);
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        Throw(EISDIR, "Cannot read", path);
    }
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int err = errno;
            ::close(fd);
            Throw(err, "Cannot read", path);
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return out;
}

} // namespace PPx
