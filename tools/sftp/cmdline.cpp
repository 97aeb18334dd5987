#include "tools/sftp/cmdline.h"

#include <cstdio>
#include <cstring>

namespace sftptool {

namespace {

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isLineEnd(char c) {
    return c == '\r' || c == '\n';
}

bool allDigits(const std::string& s) {
    if (s.empty())
        return false;
    for (char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

} // namespace

std::string parseArguments(const std::vector<std::string>& args, Destination& out) {
    bool haveDestination = false;
    for (const std::string& a : args) {
        if (a.rfind("-o", 0) == 0) {
            const std::string opt = a.substr(2);
            if (opt == "CheckHostIP=no" || opt == "CheckHostIP=yes" || opt == "Protocol=2,1" ||
                opt == "Protocol=2")
                continue; // we check host keys by name and speak protocol 2 only
            if (opt.rfind("Port=", 0) == 0) {
                const std::string p = opt.substr(5);
                if (!allDigits(p) || p.size() > 5 || std::stoi(p) < 1 || std::stoi(p) > 65535)
                    return "bad port: " + p;
                out.port = std::stoi(p);
                continue;
            }
            return "unsupported option: " + a;
        }
        if (!a.empty() && a[0] == '-')
            return "unsupported option: " + a;
        if (haveDestination)
            return "more than one destination given";
        const size_t at = a.rfind('@');
        if (at == std::string::npos || at == 0 || at + 1 == a.size())
            return "destination must be user@host";
        out.user = a.substr(0, at);
        out.host = a.substr(at + 1);
        if (out.host.size() > 2 && out.host.front() == '[' && out.host.back() == ']')
            out.host = out.host.substr(1, out.host.size() - 2);
        haveDestination = true;
    }
    if (!haveDestination)
        return "no destination given";
    return {};
}

size_t findCommandEnd(const std::string& input) {
    bool inQuote = false, atWordStart = true;
    for (size_t i = 0; i < input.size(); ++i) {
        const char c = input[i];
        if (inQuote) {
            if (c == '\\')
                ++i; // the escaped byte may be a quote or a line end
            else if (c == '"')
                inQuote = false, atWordStart = false;
            continue;
        }
        if (isLineEnd(c))
            return i;
        if (isBlank(c)) {
            atWordStart = true;
        } else {
            if (c == '"' && atWordStart)
                inQuote = true;
            atWordStart = false;
        }
    }
    return std::string::npos;
}

bool splitWords(const std::string& command, std::vector<Word>& words, std::string& error) {
    words.clear();
    size_t i = 0;
    const size_t n = command.size();
    while (true) {
        while (i < n && isBlank(command[i]))
            ++i;
        if (i >= n)
            return true;
        Word w;
        if (command[i] == '"') {
            w.quoted = true;
            ++i;
            bool closed = false;
            while (i < n) {
                char c = command[i++];
                if (c == '\\') {
                    if (i >= n)
                        break;
                    w.text += command[i++];
                } else if (c == '"') {
                    closed = true;
                    break;
                } else {
                    w.text += c;
                }
            }
            if (!closed) {
                error = "Unterminated quoted name";
                return false;
            }
            if (i < n && !isBlank(command[i])) {
                error = "A closing quote must be followed by a blank";
                return false;
            }
        } else {
            while (i < n && !isBlank(command[i]))
                w.text += command[i++];
        }
        words.push_back(std::move(w));
    }
}

std::string echoText(const std::string& command) {
    std::string out;
    out.reserve(command.size());
    for (char c : command) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string modeString(unsigned long mode) {
    std::string s(10, '-');
    switch (mode & 0170000) {
    case 0040000:
        s[0] = 'd';
        break;
    case 0120000:
        s[0] = 'l';
        break;
    case 0020000:
        s[0] = 'c';
        break;
    case 0060000:
        s[0] = 'b';
        break;
    case 0010000:
        s[0] = 'p';
        break;
    case 0140000:
        s[0] = 's';
        break;
    default:
        s[0] = '-';
        break;
    }
    const char* rwx = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        if (mode & (0400u >> i))
            s[1 + i] = rwx[i];
    if (mode & 04000)
        s[3] = (mode & 0100) ? 's' : 'S';
    if (mode & 02000)
        s[6] = (mode & 010) ? 's' : 'S';
    if (mode & 01000)
        s[9] = (mode & 01) ? 't' : 'T';
    return s;
}

namespace {

// The length of the valid UTF-8 sequence at `s` (at most `n` bytes), or 0.
size_t utf8Length(const unsigned char* s, size_t n, uint32_t& cp) {
    size_t len;
    uint32_t min;
    if (s[0] >= 0xC2 && s[0] <= 0xDF)
        len = 2, min = 0x80, cp = s[0] & 0x1F;
    else if (s[0] >= 0xE0 && s[0] <= 0xEF)
        len = 3, min = 0x800, cp = s[0] & 0x0F;
    else if (s[0] >= 0xF0 && s[0] <= 0xF4)
        len = 4, min = 0x10000, cp = s[0] & 0x07;
    else
        return 0;
    if (n < len)
        return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

std::string padded(const std::string& text, size_t width, bool right) {
    if (text.size() >= width)
        return text;
    const std::string pad(width - text.size(), ' ');
    return right ? pad + text : text + pad;
}

} // namespace

std::string printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            out += (c < 0x20 || c == 0x7F) ? '?' : char(c);
            ++i;
            continue;
        }
        uint32_t cp = 0;
        const size_t len = utf8Length(s + i, n - i, cp);
        if (len == 0) {
            // Not UTF-8: a byte that some terminals take for a C1 control is
            // hidden, others are left for the terminal to show as it can.
            out += c <= 0x9F ? '?' : char(c);
            ++i;
        } else {
            if (cp <= 0x9F)
                out += '?';
            else
                out.append(text, i, len);
            i += len;
        }
    }
    return out;
}

std::string longListingLine(const ListEntry& e, time_t now) {
    struct tm tmv {};
    time_t t = e.mtime;
    localtime_r(&t, &tmv);
    char date[64];
    const char* month = kMonths[tmv.tm_mon >= 0 && tmv.tm_mon < 12 ? tmv.tm_mon : 0];
    // Like ls: recent dates show the time of day, older or future ones the year.
    if (t <= now && now - t < 365 * 24 * 60 * 60 / 2)
        std::snprintf(date, sizeof date, "%s %2d %02d:%02d", month, tmv.tm_mday, tmv.tm_hour,
                      tmv.tm_min);
    else
        std::snprintf(date, sizeof date, "%s %2d  %d", month, tmv.tm_mday, tmv.tm_year + 1900);
    // Owners and groups may be of any length: no part of the line is cut.
    return modeString(e.mode) + " " + padded(e.links, 3, true) + " " +
           padded(printable(e.owner), 8, false) + " " + padded(printable(e.group), 8, false) + " " +
           padded(std::to_string(e.size), 8, true) + " " + date + " " + printable(e.name);
}

bool ownerFromLongName(const std::string& longName, uint64_t size, ListEntry& e) {
    std::vector<std::string> tok;
    size_t i = 0;
    while (tok.size() < 5) {
        while (i < longName.size() && longName[i] == ' ')
            ++i;
        if (i >= longName.size())
            return false;
        size_t j = i;
        while (j < longName.size() && longName[j] != ' ')
            ++j;
        tok.push_back(longName.substr(i, j - i));
        i = j;
    }
    if (tok[0].size() != 10 || !allDigits(tok[1]) || !allDigits(tok[4]) ||
        tok[4] != std::to_string(size))
        return false;
    e.links = tok[1];
    e.owner = tok[2];
    e.group = tok[3];
    return true;
}

std::string modTimeText(time_t t) {
    struct tm tmv {};
    localtime_r(&t, &tmv);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %s %2d %02d:%02d:%02d %d",
                  kDays[tmv.tm_wday >= 0 && tmv.tm_wday < 7 ? tmv.tm_wday : 0],
                  kMonths[tmv.tm_mon >= 0 && tmv.tm_mon < 12 ? tmv.tm_mon : 0], tmv.tm_mday,
                  tmv.tm_hour, tmv.tm_min, tmv.tm_sec, tmv.tm_year + 1900);
    return buf;
}

bool parseOffset(const std::string& text, uint64_t& out) {
    if (!allDigits(text) || text.size() > 19)
        return false;
    out = std::stoull(text);
    return true;
}

bool parseMode(const std::string& text, unsigned& out) {
    if (text.empty() || text.size() > 5)
        return false;
    unsigned v = 0;
    for (char c : text) {
        if (c < '0' || c > '7')
            return false;
        v = v * 8 + unsigned(c - '0');
    }
    if (v > 07777)
        return false;
    out = v;
    return true;
}

std::string lastComponent(const std::string& path) {
    size_t end = path.size();
    while (end > 0 && path[end - 1] == '/')
        --end;
    size_t start = path.rfind('/', end == 0 ? 0 : end - 1);
    start = (start == std::string::npos || end == 0) ? 0 : start + 1;
    std::string name = path.substr(start, end - start);
    if (name == "." || name == ".." || (end == 0))
        return {};
    return name;
}

std::string remotePath(const std::string& cwd, const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return path;
    if (path.empty())
        return cwd;
    if (cwd.empty())
        return path;
    return cwd.back() == '/' ? cwd + path : cwd + "/" + path;
}

std::string base64(const unsigned char* data, size_t size) {
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < size; i += 3) {
        const unsigned v = (data[i] << 16) | (data[i + 1] << 8) | data[i + 2];
        out += abc[(v >> 18) & 63];
        out += abc[(v >> 12) & 63];
        out += abc[(v >> 6) & 63];
        out += abc[v & 63];
    }
    if (size - i == 1) {
        const unsigned v = data[i] << 16;
        out += abc[(v >> 18) & 63];
        out += abc[(v >> 12) & 63];
    } else if (size - i == 2) {
        const unsigned v = (data[i] << 16) | (data[i + 1] << 8);
        out += abc[(v >> 18) & 63];
        out += abc[(v >> 12) & 63];
        out += abc[(v >> 6) & 63];
    }
    return out;
}

} // namespace sftptool
