#include "engine/ASCIIConvert.h"

#include "engine/LocalFiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

constexpr size_t kChunk = 1 << 20;

// An open descriptor closed on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : mFD(fd) {}
    ~Descriptor() {
        if (mFD >= 0)
            ::close(mFD);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return mFD; }
    // Closes now, so that a failing close (a full disk on NFS) is seen.
    int close() {
        const int fd = mFD;
        mFD = -1;
        return fd >= 0 && ::close(fd) != 0 ? errno : 0;
    }

private:
    int mFD;
};

int ErrnoOr(int fallback) {
    return errno != 0 ? errno : fallback;
}

bool WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

// Copies source to destination with every line end (CR LF, lone CR, lone LF)
// replaced by `eol`. The only state across chunks is whether the last byte of
// the previous chunk was a CR, so a CR LF split between two reads stays one
// line end.
int ConvertLineEnds(const std::string& source, const std::string& destination, const char* eol) {
    const size_t eolLength = std::strlen(eol);
    Descriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return ErrnoOr(EIO);
    Descriptor out(
        ::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (out.get() < 0)
        return ErrnoOr(EIO);

    // Each input byte yields at most two output bytes.
    std::unique_ptr<char[]> input(new char[kChunk]);
    std::unique_ptr<char[]> output(new char[2 * kChunk]);
    bool afterCR = false;
    for (;;) {
        const ssize_t got = ::read(in.get(), input.get(), kChunk);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return ErrnoOr(EIO);
        }
        if (got == 0)
            break;
        const char* p = input.get();
        const char* const end = p + got;
        char* o = output.get();
        while (p < end) {
            // Copy the run up to the next line-end byte.
            const char* run = p;
            while (p < end && *p != '\r' && *p != '\n')
                ++p;
            if (p != run) {
                std::memcpy(o, run, static_cast<size_t>(p - run));
                o += p - run;
                afterCR = false;
            }
            if (p == end)
                break;
            if (*p == '\n' && afterCR) {
                afterCR = false; // the LF of a CR LF already written
            } else {
                std::memcpy(o, eol, eolLength);
                o += eolLength;
                afterCR = *p == '\r';
            }
            ++p;
        }
        if (!WriteAll(out.get(), output.get(), static_cast<size_t>(o - output.get())))
            return ErrnoOr(EIO);
    }
    return out.close();
}

std::string TemporaryRoot() {
    const char* tmp = std::getenv("TMPDIR");
    std::string root = tmp && *tmp ? tmp : "/tmp";
    while (root.size() > 1 && root.back() == '/')
        root.pop_back();
    return root;
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The source's permissions and dates carried over to the converted file.
void CopyAttributes(int fd, const struct stat& info) {
    ::fchmod(fd, info.st_mode & 07777);
    const timespec times[2] = {info.st_atim, info.st_mtim};
    ::futimens(fd, times);
}

} // namespace

ASCIIConvert::ASCIIConvert(const char* name, const std::string& folder)
    : mFileName(name ? name : ""), mFolder(folder) {}

bool ASCIIConvert::ConvertAfterDownload() {
    if (!IsPlainName(mFileName))
        return false;
    const std::string path = mFolder + "/" + mFileName;
    struct stat info {};
    // Only a regular file is rewritten; a link would be replaced by a file.
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;

    // Beside the file, so that the final rename stays on one file system.
    LocalReplacement converted(path);
    if (!converted.Create(S_IRUSR | S_IWUSR) || ConvertDownload(path, converted.PartPath()) != 0)
        return false;
    CopyAttributes(converted.Descriptor(), info);
    return converted.Commit();
}

bool ASCIIConvert::ConvertBeforeUpload(std::string& folder) {
    mHasTemporary = false;
    if (!IsPlainName(mFileName))
        return false;
    const std::string path = mFolder + "/" + mFileName;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    std::string file;
    if (CreateTemporaryFile(mFileName.c_str(), info, file) != 0)
        return false;
    const std::string parent = ParentOf(file);
    if (ConvertUpload(path, file) != 0) {
        ::unlink(file.c_str());
        ::rmdir(parent.c_str());
        return false;
    }
    // The copy's dates follow the source, like its permissions.
    const timespec times[2] = {info.st_atim, info.st_mtim};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
    folder = parent;
    mTemporaryFile = file;
    mHasTemporary = true;
    return true;
}

int ASCIIConvert::DisposeTemporaryFile() {
    if (mHasTemporary) {
        ::unlink(mTemporaryFile.c_str());
        ::rmdir(ParentOf(mTemporaryFile).c_str());
        mHasTemporary = false;
        mTemporaryFile.clear();
    }
    return 0;
}

int ASCIIConvert::CreateTemporaryFile(const char* name, const struct stat& info,
                                      std::string& file) {
    if (name == nullptr || !IsPlainName(name))
        return EINVAL;
    // mkdtemp draws a new name while the drawn one is taken, and fails at once
    // on any other error (no space, no permission).
    std::string folder = TemporaryRoot() + "/zarvel-ascii-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr)
        return ErrnoOr(EIO);
    const std::string path = folder + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          (info.st_mode & 0777) | S_IRUSR | S_IWUSR);
    if (fd < 0) {
        const int error = ErrnoOr(EIO);
        ::rmdir(folder.c_str());
        return error;
    }
    ::close(fd);
    file = path;
    return 0;
}

int ASCIIConvert::ConvertDownload(const std::string& source, const std::string& destination) {
    return ConvertLineEnds(source, destination, "\n");
}

int ASCIIConvert::ConvertUpload(const std::string& source, const std::string& destination) {
    return ConvertLineEnds(source, destination, "\r\n");
}
