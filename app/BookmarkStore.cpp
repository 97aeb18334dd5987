#include "app/BookmarkStore.h"

#include "app/CDESCrypto.h"
#include "platform/core/AtomicFile.h"
#include "platform/core/Errors.h"
#include "platform/core/Folders.h"
#include "platform/core/PercentEscapes.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char* const kBookMarksFilename = "Zarvel Bookmarks";
const char* const kBookMarkExtension = ".zarvel";
const char* const kBookMarkNameKey = "BookmarkName";
const char* const kBookMarkHostKey = "BookmarkHost";
const char* const kBookMarkUsernameKey = "BookmarkUsername";
const char* const kBookMarkPasswordKey = "BookmarkPassword";
const char* const kBookMarkAccountKey = "BookmarkAccount";
const char* const kBookMarkDirKey = "BookmarkDir";
const char* const kBookMarkPortKey = "BookmarkPort";
const char* const kBookMarkPassiveKey = "BookmarkPassive";
const char* const kBookMarkSecureKey = "BookmarkSecure";

const char* const kBadPortMessage = "Please enter a port number from 1 to 65535.";
const char* const kURLWithoutHostMessage = "The host URL does not name a host.";
const char* const kBadURLMessage = "The host is not a valid URL.";

using PPx::PlistDict;
using PPx::PropertyList;

namespace {

const char kXMLStart[] = "<?xml version";
const size_t kXMLStartLength = 13;

} // namespace

bool GetPlistString(const PlistDict& dict, const char* key, std::string& out) {
    const PropertyList* value = dict.Find(key);
    if (!value || !value->AsString())
        return false;
    out = *value->AsString();
    return true;
}

bool GetPlistBool(const PlistDict& dict, const char* key, bool& out) {
    const PropertyList* value = dict.Find(key);
    if (!value || !value->AsBoolean())
        return false;
    out = *value->AsBoolean();
    return true;
}

bool GetPlistInt(const PlistDict& dict, const char* key, int32_t& out) {
    const PropertyList* value = dict.Find(key);
    if (!value || !value->AsInteger() || *value->AsInteger() < INT32_MIN ||
        *value->AsInteger() > INT32_MAX)
        return false;
    out = static_cast<int32_t>(*value->AsInteger());
    return true;
}

PropertyList BookmarkToDictionary(const sBookMarkData& b) {
    PlistDict dict;
    SetCommonBookmarkFields(dict, b);
    dict.Set(kBookMarkDirKey, PropertyList::String(b.dir));
    dict.Set(kBookMarkPortKey, PropertyList::Integer(b.port));
    dict.Set(kBookMarkPassiveKey, PropertyList::Boolean(b.passive));
    dict.Set(kBookMarkSecureKey, PropertyList::Boolean(b.secure));
    return PropertyList::Dictionary(std::move(dict));
}

bool BookmarkFromDictionary(const PropertyList& value, sBookMarkData& out, bool secureRequired) {
    const PlistDict* dict = value.AsDictionary();
    if (!dict)
        return false;
    sBookMarkData b;
    if (!GetCommonBookmarkFields(*dict, b) || !GetPlistString(*dict, kBookMarkDirKey, b.dir))
        return false;
    if (!GetPlistBool(*dict, kBookMarkSecureKey, b.secure)) {
        if (secureRequired)
            return false;
        b.secure = false;
    }
    out = std::move(b);
    return true;
}

std::vector<uint8_t> EncodeBookmarkFile(const PropertyList& root) {
    std::string xml = PPx::WritePropertyList(root);
    std::vector<uint8_t> data(xml.begin(), xml.end());
    EncryptBookmarkData(data);
    return data;
}

bool DecodeBookmarkFile(const std::string& bytes, PropertyList& root) {
    if (bytes.size() >= kXMLStartLength && bytes.compare(0, kXMLStartLength, kXMLStart) == 0)
        return PPx::TryReadPropertyList(bytes, root);
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    DecryptBookmarkData(data);
    // Deciphering leaves up to seven zero bytes after the text; the reader
    // takes them.
    return PPx::TryReadPropertyList(
        std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), root);
}

void WritePrivateFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    // A new file is made owner-only before anything is written into it; the
    // atomic write keeps the mode of the file it replaces.
    bool created = false;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        created = true;
    } else if (errno == EEXIST) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077))
            ::chmod(path.c_str(), st.st_mode & 0700);
    } else {
        int error = errno;
        throw PPx::OSError(error, "Cannot create \"" + path + "\": " + std::strerror(error));
    }
    try {
        PPx::WriteFileAtomically(path, bytes);
    } catch (...) {
        if (created)
            ::unlink(path.c_str());
        throw;
    }
}

std::string BookmarkStorePath() {
    return PPx::PreferencesFolder() + "/" + kBookMarksFilename;
}

namespace {

// A free name beside PATH for keeping a store that could not be read.
std::string AsideName(const std::string& path) {
    std::string candidate = path + ".corrupt";
    for (int n = 2; ::access(candidate.c_str(), F_OK) == 0 && n < 1000; ++n)
        candidate = path + ".corrupt-" + std::to_string(n);
    return candidate;
}

} // namespace

StoreLoadStatus::Status LoadStoreFile(const std::string& path,
                                      const std::function<bool(const PropertyList&)>& read,
                                      std::string& keptAs) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT)
        return StoreLoad::Missing;
    std::string bytes;
    bool readable = true;
    try {
        bytes = PPx::ReadWholeFile(path);
    } catch (const PPx::OSError&) {
        readable = false;
    }
    if (readable && bytes.empty())
        return StoreLoad::Loaded; // nothing in it to lose
    PropertyList root;
    const PPx::PlistArray* array = nullptr;
    if (readable && DecodeBookmarkFile(bytes, root))
        array = root.AsArray();
    if (!array) {
        // Kept aside, so that the next save cannot destroy what may still be
        // recovered from it.
        std::string aside = AsideName(path);
        if (::rename(path.c_str(), aside.c_str()) != 0)
            return StoreLoad::Blocked;
        keptAs = aside;
        return StoreLoad::Unreadable;
    }
    bool skipped = false;
    for (const PropertyList& element : *array)
        if (!read(element))
            skipped = true;
    if (!skipped)
        return StoreLoad::Loaded;
    // The next save drops what could not be read: keep the file as it is.
    std::string aside = AsideName(path);
    try {
        WritePrivateFile(aside, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    } catch (const PPx::OSError&) {
        return StoreLoad::Blocked;
    }
    keptAs = aside;
    return StoreLoad::Partial;
}

StoreLoad LoadBookmarkStore(const std::string& path) {
    return LoadRecordStore<sBookMarkData>(
        path, [](const PropertyList& element, sBookMarkData& bookmark) {
            return BookmarkFromDictionary(element, bookmark, false);
        });
}

void SaveStoreFile(const std::string& path, PPx::PlistArray array) {
    WritePrivateFile(path, EncodeBookmarkFile(PropertyList::Array(std::move(array))));
}

void SaveBookmarkStore(const std::string& path, const std::vector<sBookMarkData>& bookmarks) {
    SaveRecordStore(path, bookmarks, BookmarkToDictionary);
}

std::string ExportFileName(const std::string& name) {
    return ExportFileName(name, kBookMarkExtension);
}

std::string ExportFileName(const std::string& name, const std::string& extension) {
    std::string safe;
    for (char c : name)
        safe += (c == '/' || c == '\0') ? '-' : c;
    // A leading dot would hide the file or name "." and "..".
    for (size_t i = 0; i < safe.size() && safe[i] == '.'; ++i)
        safe[i] = '_';
    if (safe.empty())
        safe = "Bookmark";
    // Keep the whole name within the file system's 255 bytes, not cutting
    // a UTF-8 sequence.
    const size_t limit = 255 - extension.size();
    if (safe.size() > limit) {
        size_t cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80)
            --cut;
        safe.resize(cut);
    }
    return safe + extension;
}

std::string ExportBookmarkFile(const PropertyList& root, const std::string& name,
                               const std::string& extension, const std::string& folder) {
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += ExportFileName(name, extension);
    WritePrivateFile(path, EncodeBookmarkFile(root));
    return path;
}

std::string ExportBookmark(const sBookMarkData& bookmark, const std::string& folder) {
    return ExportBookmarkFile(BookmarkToDictionary(bookmark), bookmark.name, kBookMarkExtension,
                              folder);
}

bool ReadBookmarkFileRoot(const std::string& path, PropertyList& root) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    // A bookmark file is a few kilobytes; a big file is refused unread
    // instead of keeping the window busy deciphering it.
    if (st.st_size > kMaxBookmarkFileSize)
        return false;
    std::string bytes;
    try {
        bytes = PPx::ReadWholeFile(path);
    } catch (const PPx::OSError&) {
        return false;
    }
    return DecodeBookmarkFile(bytes, root);
}

bool ReadExportedBookmark(const std::string& path, sBookMarkData& out) {
    PropertyList root;
    return ReadBookmarkFileRoot(path, root) && BookmarkFromDictionary(root, out, true);
}

bool ReadPortText(const std::string& text, int32_t& port) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    size_t digits = 0;
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i, ++digits)
        if (value < 100000)
            value = value * 10 + (text[i] - '0');
    // Blanks may follow the number, nothing else: "21abc" is a typing
    // mistake, not port 21.
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    if (digits == 0 || negative || i != text.size() || value < 1 || value > 65535)
        return false;
    port = static_cast<int32_t>(value);
    return true;
}

namespace {

struct ParsedURL {
    std::string scheme, user, password, host, path;
    bool hasUser = false, hasPassword = false, hasPort = false;
    int32_t port = 0;
};

enum class URLResult { Ok, Bad, NoHost, BadPort };

URLResult ParseURL(const std::string& text, ParsedURL& url) {
    for (unsigned char c : text)
        if (c <= 0x20 || c == 0x7F || std::strchr("\"<>\\^`{|}", c))
            return URLResult::Bad;
    size_t marker = text.find("://");
    url.scheme = text.substr(0, marker);
    for (size_t i = 0; i < url.scheme.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(url.scheme[i]);
        bool ok =
            std::isalpha(c) || (i > 0 && (std::isdigit(c) || c == '+' || c == '-' || c == '.'));
        if (!ok)
            return URLResult::Bad;
    }
    std::string rest = text.substr(marker + 3);
    size_t end = rest.find_first_of("/?#");
    std::string authority = rest.substr(0, end);
    if (end != std::string::npos && rest[end] == '/') {
        std::string rawPath = rest.substr(end);
        rawPath = rawPath.substr(0, rawPath.find_first_of("?#"));
        if (!PPx::UnescapePercent(rawPath, url.path))
            return URLResult::Bad;
    }
    size_t at = authority.rfind('@');
    std::string hostPort = authority;
    if (at != std::string::npos) {
        std::string userInfo = authority.substr(0, at);
        hostPort = authority.substr(at + 1);
        size_t colon = userInfo.find(':');
        if (!PPx::UnescapePercent(userInfo.substr(0, colon), url.user))
            return URLResult::Bad;
        url.hasUser = true;
        if (colon != std::string::npos) {
            if (!PPx::UnescapePercent(userInfo.substr(colon + 1), url.password))
                return URLResult::Bad;
            url.hasPassword = true;
        }
    }
    std::string portText;
    if (!hostPort.empty() && hostPort[0] == '[') {
        size_t close = hostPort.find(']');
        if (close == std::string::npos)
            return URLResult::Bad;
        url.host = hostPort.substr(1, close - 1);
        std::string after = hostPort.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':')
                return URLResult::Bad;
            portText = after.substr(1);
        }
    } else {
        size_t colon = hostPort.rfind(':');
        std::string rawHost = hostPort.substr(0, colon);
        if (colon != std::string::npos)
            portText = hostPort.substr(colon + 1);
        if (!PPx::UnescapePercent(rawHost, url.host))
            return URLResult::Bad;
    }
    if (!portText.empty()) {
        for (char c : portText)
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return URLResult::BadPort;
        if (!ReadPortText(portText, url.port))
            return URLResult::BadPort;
        url.hasPort = true;
    }
    if (url.host.empty())
        return URLResult::NoHost;
    return URLResult::Ok;
}

bool Explain(URLResult result, std::string& error) {
    switch (result) {
    case URLResult::Ok:
        return true;
    case URLResult::NoHost:
        error = kURLWithoutHostMessage;
        break;
    case URLResult::BadPort:
        error = kBadPortMessage;
        break;
    case URLResult::Bad:
        error = kBadURLMessage;
        break;
    }
    return false;
}

} // namespace

bool CheckHostText(const std::string& host, std::string& error) {
    if (host.find("://") == std::string::npos)
        return true;
    ParsedURL url;
    return Explain(ParseURL(host, url), error);
}

namespace {

// DIR is the folder a URL's path names.
template <class Record>
bool ApplyURL(Record& bookmark, std::string Record::*dir, std::string& error) {
    if (bookmark.host.find("://") == std::string::npos)
        return true;
    ParsedURL url;
    if (!Explain(ParseURL(bookmark.host, url), error))
        return false;
    bookmark.host = url.host;
    if (url.hasUser)
        bookmark.username = url.user;
    if (url.hasPassword)
        bookmark.password = url.password;
    if (!url.path.empty())
        bookmark.*dir = url.path;
    if (url.hasPort)
        bookmark.port = url.port;
    if (!url.scheme.empty()) {
        std::string upper;
        for (char c : url.scheme)
            upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        bookmark.secure = upper.find("SFTP") != std::string::npos;
    }
    return true;
}

} // namespace

bool ApplyHostURL(sBookMarkData& bookmark, std::string& error) {
    return ApplyURL(bookmark, &sBookMarkData::dir, error);
}

bool ApplyHostURL(sSyncBookMarkData& bookmark, std::string& error) {
    return ApplyURL(bookmark, &sSyncBookMarkData::remoteDir, error);
}

std::string HostForDisplay(const std::string& host) {
    size_t scheme = host.find("://");
    if (scheme == std::string::npos)
        return host;
    size_t start = scheme + 3;
    // The user part ends at the last "@" before the path.
    size_t end = host.find('/', start);
    size_t at = host.rfind('@', end == std::string::npos ? std::string::npos : end);
    if (at == std::string::npos || at < start)
        return host;
    size_t colon = host.find(':', start);
    if (colon == std::string::npos || colon > at)
        return host;
    return host.substr(0, colon) + host.substr(at);
}
