#include "platform/ui/DropLocation.h"

#include "platform/core/Folders.h"
#include "platform/core/PercentEscapes.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace PPx {

namespace {

const char* const kRefusedMessage = "The items cannot be saved where they were dropped.";

DropLocation Refused(const std::string& explanation) {
    DropLocation location;
    location.kind = DropLocation::kRefused;
    location.message = kRefusedMessage;
    location.explanation = explanation;
    return location;
}

DropLocation NotLocal() {
    return Refused("The place they were dropped on is not a folder on this computer.");
}

bool IsThisHost(const std::string& host) {
    if (host.empty() || host == "localhost")
        return true;
    char name[HOST_NAME_MAX + 1] = {};
    return ::gethostname(name, sizeof name - 1) == 0 && host == name;
}

// An absolute path with no empty, ".", ".." step, and no NUL, CR or LF.
bool IsPlainAbsolutePath(const std::string& path) {
    if (path.size() < 2 || path.front() != '/')
        return false;
    size_t start = 1;
    while (true) {
        const size_t slash = path.find('/', start);
        const std::string step = path.substr(start, slash - start);
        if (step.empty() || step == "." || step == ".." ||
            step.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            return false;
        if (slash == std::string::npos)
            return true;
        start = slash + 1;
    }
}

} // namespace

DropLocation ReadDropLocation(const std::string& uri) {
    // A scheme is letters, digits, '+', '-', '.' before the first ':'.
    size_t colon = 0;
    while (colon < uri.size() && (std::isalnum(static_cast<unsigned char>(uri[colon])) ||
                                  uri[colon] == '+' || uri[colon] == '-' || uri[colon] == '.'))
        ++colon;
    if (colon == 0 || colon >= uri.size() || uri[colon] != ':')
        return {}; // a bare name: the target named no place
    std::string scheme = uri.substr(0, colon);
    for (char& c : scheme)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    if (scheme == "trash") {
        DropLocation location;
        try {
            location.folder = TrashFolder();
        } catch (const std::exception&) {
            return NotLocal();
        }
        location.kind = DropLocation::kTrash;
        return location;
    }
    if (scheme != "file")
        return NotLocal();

    std::string rest = uri.substr(colon + 1);
    if (rest.compare(0, 2, "//") == 0) {
        const size_t slash = rest.find('/', 2);
        if (slash == std::string::npos || !IsThisHost(rest.substr(2, slash - 2)))
            return NotLocal();
        rest.erase(0, slash);
    }
    std::string path;
    if (rest.find_first_of("?#") != std::string::npos || !UnescapePercent(rest, path) ||
        !IsPlainAbsolutePath(path))
        return Refused("The place they were dropped on is not a plain folder path.");

    DropLocation location;
    location.kind = DropLocation::kFolder;
    const size_t slash = path.rfind('/');
    location.folder = slash == 0 ? "/" : path.substr(0, slash);
    struct stat info {};
    int error = 0;
    if (::stat(location.folder.c_str(), &info) != 0)
        error = errno;
    else if (!S_ISDIR(info.st_mode))
        error = ENOTDIR;
    else if (::access(location.folder.c_str(), W_OK | X_OK) != 0)
        error = errno;
    if (error != 0)
        return Refused("The folder \"" + location.folder +
                       "\" cannot be written: " + std::strerror(error) + ".");
    return location;
}

} // namespace PPx
