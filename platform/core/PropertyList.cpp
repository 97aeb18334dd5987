#include "platform/core/PropertyList.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace PPx {

// ---------------------------------------------------------------- dictionary

const PropertyList* PlistDict::Find(std::string_view key) const {
    for (auto& e : mEntries)
        if (e.first == key)
            return &e.second;
    return nullptr;
}

PropertyList* PlistDict::Find(std::string_view key) {
    for (auto& e : mEntries)
        if (e.first == key)
            return &e.second;
    return nullptr;
}

void PlistDict::Set(std::string key, PropertyList value) {
    if (PropertyList* existing = Find(key))
        *existing = std::move(value);
    else
        mEntries.emplace_back(std::move(key), std::move(value));
}

bool PlistDict::Remove(std::string_view key) {
    for (auto it = mEntries.begin(); it != mEntries.end(); ++it) {
        if (it->first == key) {
            mEntries.erase(it);
            return true;
        }
    }
    return false;
}

// Equal when they hold the same keys with equal values, in whatever order.
bool PlistDict::operator==(const PlistDict& other) const {
    if (mEntries.size() != other.mEntries.size())
        return false;
    for (const auto& [key, value] : mEntries) {
        const PropertyList* theirs = other.Find(key);
        if (!theirs || !(*theirs == value))
            return false;
    }
    return true;
}

// ---------------------------------------------------------------- dates

namespace {

struct Civil {
    int64_t year;
    int month, day, hour, minute, second;
};

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

Civil CivilFromSeconds(int64_t seconds) {
    int64_t days = seconds / 86400;
    int64_t rem = seconds % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    Civil c;
    c.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    c.year = yoe + era * 400 + (c.month <= 2);
    c.hour = static_cast<int>(rem / 3600);
    c.minute = static_cast<int>(rem / 60 % 60);
    c.second = static_cast<int>(rem % 60);
    return c;
}

bool IsLeap(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int64_t y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// ---------------------------------------------------------------- writer

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

class Writer {
public:
    explicit Writer(PlistKeyOrder order) : mOrder(order) {}

    std::string Finish(const PropertyList& root) {
        mOut = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
               "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
               "<plist version=\"1.0\">\n";
        Value(root, 0);
        mOut += "</plist>\n";
        return std::move(mOut);
    }

private:
    void Indent(int depth) { mOut.append(static_cast<size_t>(depth), '\t'); }

    void Escaped(std::string_view text) {
        for (char c : text) {
            switch (c) {
            case '&':
                mOut += "&amp;";
                break;
            case '<':
                mOut += "&lt;";
                break;
            case '>':
                mOut += "&gt;";
                break;
            default:
                mOut += c;
            }
        }
    }

    // One value at `depth`, its first line already indented, ending with "\n".
    void Value(const PropertyList& v, int depth) {
        switch (v.GetType()) {
        case PropertyList::Type::String:
            mOut += "<string>";
            Escaped(*v.AsString());
            mOut += "</string>\n";
            break;
        case PropertyList::Type::Integer: {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(*v.AsInteger()));
            mOut += "<integer>";
            mOut += buf;
            mOut += "</integer>\n";
            break;
        }
        case PropertyList::Type::Real:
            mOut += "<real>";
            Real(*v.AsReal());
            mOut += "</real>\n";
            break;
        case PropertyList::Type::Boolean:
            mOut += *v.AsBoolean() ? "<true/>\n" : "<false/>\n";
            break;
        case PropertyList::Type::Date: {
            Civil c = CivilFromSeconds(v.AsDate()->seconds);
            char buf[64];
            std::snprintf(buf, sizeof buf, "<date>%04lld-%02d-%02dT%02d:%02d:%02dZ</date>\n",
                          static_cast<long long>(c.year), c.month, c.day, c.hour, c.minute,
                          c.second);
            mOut += buf;
            break;
        }
        case PropertyList::Type::Data:
            Data(*v.AsData(), depth);
            break;
        case PropertyList::Type::Array: {
            const PlistArray& a = *v.AsArray();
            if (a.empty()) {
                mOut += "<array/>\n";
                break;
            }
            mOut += "<array>\n";
            for (const PropertyList& item : a) {
                Indent(depth + 1);
                Value(item, depth + 1);
            }
            Indent(depth);
            mOut += "</array>\n";
            break;
        }
        case PropertyList::Type::Dictionary: {
            const PlistDict& d = *v.AsDictionary();
            if (d.Empty()) {
                mOut += "<dict/>\n";
                break;
            }
            std::vector<const PlistDict::Entry*> entries;
            for (const auto& e : d)
                entries.push_back(&e);
            if (mOrder == PlistKeyOrder::Sorted)
                std::stable_sort(entries.begin(), entries.end(),
                                 [](auto* a, auto* b) { return a->first < b->first; });
            mOut += "<dict>\n";
            for (const auto* e : entries) {
                Indent(depth + 1);
                mOut += "<key>";
                Escaped(e->first);
                mOut += "</key>\n";
                Indent(depth + 1);
                Value(e->second, depth + 1);
            }
            Indent(depth);
            mOut += "</dict>\n";
            break;
        }
        }
    }

    void Real(double d) {
        if (std::isnan(d)) {
            mOut += "nan";
        } else if (std::isinf(d)) {
            mOut += d > 0 ? "+infinity" : "-infinity";
        } else {
            char buf[64];
            auto r = std::to_chars(buf, buf + sizeof buf, d);
            mOut.append(buf, r.ptr);
        }
    }

    // Base64 in lines of 76 characters, each at the element's indentation.
    void Data(const PlistData& data, int depth) {
        mOut += "<data>\n";
        std::string line;
        for (size_t i = 0; i < data.size(); i += 3) {
            uint32_t n = uint32_t(data[i]) << 16;
            size_t left = data.size() - i;
            if (left > 1)
                n |= uint32_t(data[i + 1]) << 8;
            if (left > 2)
                n |= data[i + 2];
            line += kBase64[(n >> 18) & 63];
            line += kBase64[(n >> 12) & 63];
            line += left > 1 ? kBase64[(n >> 6) & 63] : '=';
            line += left > 2 ? kBase64[n & 63] : '=';
            if (line.size() == 76) {
                Indent(depth);
                mOut += line;
                mOut += '\n';
                line.clear();
            }
        }
        if (!line.empty()) {
            Indent(depth);
            mOut += line;
            mOut += '\n';
        }
        Indent(depth);
        mOut += "</data>\n";
    }

    PlistKeyOrder mOrder;
    std::string mOut;
};

// ---------------------------------------------------------------- reader

constexpr int kMaxDepth = 256;

class Reader {
public:
    explicit Reader(std::string_view text) : mText(text) {}

    PropertyList Read() {
        if (mText.substr(0, 3) == "\xEF\xBB\xBF")
            mPos = 3;
        SkipMisc(true);
        if (AtEnd())
            Fail("no property list");
        PropertyList result;
        std::string name;
        bool selfClosing = false;
        size_t tagStart = mPos;
        ReadStartTag(name, selfClosing);
        if (name == "plist") {
            if (selfClosing)
                Fail("empty <plist>");
            SkipMisc(false);
            if (Peek("</"))
                Fail("empty <plist>");
            result = ReadValue(0);
            SkipMisc(false);
            ExpectEndTag("plist");
        } else {
            // A bare value without the <plist> wrapper is accepted too.
            mPos = tagStart;
            result = ReadValue(0);
        }
        SkipMisc(false);
        while (!AtEnd() && mText[mPos] == '\0')
            ++mPos;
        if (!AtEnd())
            Fail("unexpected text after the property list");
        return result;
    }

private:
    [[noreturn]] void Fail(const std::string& what) {
        size_t line =
            1 + std::count(mText.begin(), mText.begin() + std::min(mPos, mText.size()), '\n');
        throw PlistError("Malformed property list (line " + std::to_string(line) + "): " + what);
    }

    bool AtEnd() const { return mPos >= mText.size(); }
    bool Peek(std::string_view s) const { return mText.substr(mPos, s.size()) == s; }
    static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    void SkipSpace() {
        while (!AtEnd() && IsSpace(mText[mPos]))
            ++mPos;
    }

    void SkipPast(std::string_view end, const char* what) {
        size_t at = mText.find(end, mPos);
        if (at == std::string_view::npos)
            Fail(std::string("unterminated ") + what);
        mPos = at + end.size();
    }

    // White space, comments, and in the prolog also <?...?> and <!DOCTYPE ...>.
    void SkipMisc(bool prolog) {
        for (;;) {
            SkipSpace();
            if (Peek("<!--")) {
                mPos += 4;
                SkipPast("-->", "comment");
            } else if (prolog && Peek("<?")) {
                mPos += 2;
                SkipPast("?>", "processing instruction");
            } else if (prolog && Peek("<!DOCTYPE")) {
                SkipDoctype();
            } else {
                return;
            }
        }
    }

    void SkipDoctype() {
        mPos += 9;
        char quote = 0;
        int bracket = 0;
        while (!AtEnd()) {
            char c = mText[mPos++];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '[') {
                ++bracket;
            } else if (c == ']') {
                --bracket;
            } else if (c == '>' && bracket <= 0) {
                return;
            }
        }
        Fail("unterminated DOCTYPE");
    }

    static bool IsNameChar(char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == ':' || c == '.';
    }

    // At '<': reads the name, skips attributes, and tells whether it ends in "/>".
    void ReadStartTag(std::string& name, bool& selfClosing) {
        if (AtEnd() || mText[mPos] != '<')
            Fail("expected an element");
        ++mPos;
        size_t start = mPos;
        while (!AtEnd() && IsNameChar(mText[mPos]))
            ++mPos;
        if (mPos == start)
            Fail("expected an element name");
        name.assign(mText.substr(start, mPos - start));
        char quote = 0;
        while (!AtEnd()) {
            char c = mText[mPos++];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                selfClosing = mText[mPos - 2] == '/';
                return;
            } else if (c == '<') {
                break;
            }
        }
        Fail("unterminated tag <" + name + ">");
    }

    void ExpectEndTag(std::string_view name) {
        if (!Peek("</"))
            Fail("expected </" + std::string(name) + ">");
        mPos += 2;
        if (!Peek(name))
            Fail("expected </" + std::string(name) + ">");
        mPos += name.size();
        SkipSpace();
        if (AtEnd() || mText[mPos] != '>')
            Fail("expected </" + std::string(name) + ">");
        ++mPos;
    }

    void AppendUTF8(std::string& out, uint32_t cp) {
        if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            Fail("invalid character reference");
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    void ReadEntity(std::string& out) {
        size_t semi = mText.find(';', mPos);
        if (semi == std::string_view::npos || semi - mPos > 12)
            Fail("unterminated entity");
        std::string_view name = mText.substr(mPos + 1, semi - mPos - 1);
        if (name == "amp")
            out += '&';
        else if (name == "lt")
            out += '<';
        else if (name == "gt")
            out += '>';
        else if (name == "quot")
            out += '"';
        else if (name == "apos")
            out += '\'';
        else if (name.size() > 1 && name[0] == '#') {
            bool hex = name[1] == 'x';
            std::string_view digits = name.substr(hex ? 2 : 1);
            uint32_t cp = 0;
            auto r =
                std::from_chars(digits.data(), digits.data() + digits.size(), cp, hex ? 16 : 10);
            if (digits.empty() || r.ec != std::errc() || r.ptr != digits.data() + digits.size())
                Fail("invalid character reference");
            AppendUTF8(out, cp);
        } else {
            Fail("unknown entity &" + std::string(name) + ";");
        }
        mPos = semi + 1;
    }

    // Character data up to the end tag of `name` (entities, CDATA, comments).
    std::string ReadText(std::string_view name) {
        std::string out;
        for (;;) {
            if (AtEnd())
                Fail("unterminated <" + std::string(name) + ">");
            char c = mText[mPos];
            if (c == '&') {
                ReadEntity(out);
            } else if (c == '<') {
                if (Peek("<![CDATA[")) {
                    size_t start = mPos + 9;
                    size_t end = mText.find("]]>", start);
                    if (end == std::string_view::npos)
                        Fail("unterminated CDATA section");
                    out.append(mText.substr(start, end - start));
                    mPos = end + 3;
                } else if (Peek("<!--")) {
                    mPos += 4;
                    SkipPast("-->", "comment");
                } else {
                    ExpectEndTag(name);
                    return out;
                }
            } else {
                size_t end = mText.find_first_of("&<", mPos);
                if (end == std::string_view::npos)
                    end = mText.size();
                out.append(mText.substr(mPos, end - mPos));
                mPos = end;
            }
        }
    }

    static std::string_view Trim(std::string_view s) {
        while (!s.empty() && IsSpace(s.front()))
            s.remove_prefix(1);
        while (!s.empty() && IsSpace(s.back()))
            s.remove_suffix(1);
        return s;
    }

    int64_t ParseInteger(std::string_view text) {
        std::string_view s = Trim(text);
        bool negative = false;
        if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
            negative = s[0] == '-';
            s.remove_prefix(1);
        }
        int base = 10;
        if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
            base = 16;
            s.remove_prefix(2);
        }
        uint64_t magnitude = 0;
        auto r = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
        if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size())
            Fail("invalid integer \"" + std::string(text) + "\"");
        if (negative) {
            if (magnitude > uint64_t(INT64_MAX) + 1)
                Fail("integer out of range");
            return static_cast<int64_t>(0 - magnitude);
        }
        if (magnitude > uint64_t(INT64_MAX))
            Fail("integer out of range");
        return static_cast<int64_t>(magnitude);
    }

    double ParseReal(std::string_view text) {
        std::string_view s = Trim(text);
        std::string lower;
        for (char c : s)
            lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        if (lower == "nan")
            return NAN;
        if (lower == "+infinity" || lower == "infinity" || lower == "inf" || lower == "+inf")
            return INFINITY;
        if (lower == "-infinity" || lower == "-inf")
            return -INFINITY;
        if (!s.empty() && s[0] == '+')
            s.remove_prefix(1);
        double d = 0;
        auto r = std::from_chars(s.data(), s.data() + s.size(), d);
        if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size())
            Fail("invalid real \"" + std::string(text) + "\"");
        return d;
    }

    PlistDate ParseDate(std::string_view text) {
        std::string_view s = Trim(text);
        // YYYY-MM-DDTHH:MM:SSZ
        auto num = [&](size_t at, size_t len) {
            int v = 0;
            for (size_t i = at; i < at + len; ++i) {
                if (s[i] < '0' || s[i] > '9')
                    Fail("invalid date \"" + std::string(text) + "\"");
                v = v * 10 + (s[i] - '0');
            }
            return v;
        };
        if (s.size() != 20 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' ||
            s[16] != ':' || s[19] != 'Z')
            Fail("invalid date \"" + std::string(text) + "\"");
        int year = num(0, 4), month = num(5, 2), day = num(8, 2);
        int hour = num(11, 2), minute = num(14, 2), second = num(17, 2);
        if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
            minute > 59 || second > 59)
            Fail("invalid date \"" + std::string(text) + "\"");
        return PlistDate{DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 +
                         second};
    }

    PlistData ParseData(std::string_view text) {
        PlistData out;
        uint32_t acc = 0;
        int bits = 0;
        bool padding = false;
        for (char c : text) {
            int v;
            if (c >= 'A' && c <= 'Z')
                v = c - 'A';
            else if (c >= 'a' && c <= 'z')
                v = c - 'a' + 26;
            else if (c >= '0' && c <= '9')
                v = c - '0' + 52;
            else if (c == '+')
                v = 62;
            else if (c == '/')
                v = 63;
            else if (c == '=') {
                padding = true;
                continue;
            } else if (IsSpace(c))
                continue;
            else
                Fail("invalid character in <data>");
            if (padding)
                Fail("data after base64 padding");
            acc = (acc << 6) | static_cast<uint32_t>(v);
            bits += 6;
            if (bits >= 8) {
                bits -= 8;
                out.push_back(static_cast<uint8_t>(acc >> bits));
                acc &= (1u << bits) - 1;
            }
        }
        return out;
    }

    // At '<' of a value element.
    PropertyList ReadValue(int depth) {
        if (depth > kMaxDepth)
            Fail("nested too deeply");
        std::string name;
        bool selfClosing = false;
        ReadStartTag(name, selfClosing);
        if (name == "true" || name == "false") {
            if (!selfClosing) {
                SkipMisc(false);
                ExpectEndTag(name);
            }
            return PropertyList::Boolean(name == "true");
        }
        if (name == "string")
            return PropertyList::String(selfClosing ? std::string() : ReadText(name));
        if (name == "data")
            return PropertyList::Data(selfClosing ? PlistData() : ParseData(ReadText(name)));
        if (name == "integer" || name == "real" || name == "date") {
            if (selfClosing)
                Fail("empty <" + name + ">");
            std::string text = ReadText(name);
            if (name == "integer")
                return PropertyList::Integer(ParseInteger(text));
            if (name == "real")
                return PropertyList::Real(ParseReal(text));
            return PropertyList::Date(ParseDate(text));
        }
        if (name == "array") {
            PlistArray items;
            if (!selfClosing) {
                for (;;) {
                    SkipMisc(false);
                    if (Peek("</"))
                        break;
                    items.push_back(ReadValue(depth + 1));
                }
                ExpectEndTag("array");
            }
            return PropertyList::Array(std::move(items));
        }
        if (name == "dict") {
            PlistDict dict;
            if (!selfClosing) {
                for (;;) {
                    SkipMisc(false);
                    if (Peek("</"))
                        break;
                    std::string keyName;
                    bool keyEmpty = false;
                    ReadStartTag(keyName, keyEmpty);
                    if (keyName != "key")
                        Fail("expected <key> in <dict>, found <" + keyName + ">");
                    std::string key = keyEmpty ? std::string() : ReadText("key");
                    SkipMisc(false);
                    if (Peek("</"))
                        Fail("key \"" + key + "\" without a value");
                    dict.Set(std::move(key), ReadValue(depth + 1));
                }
                ExpectEndTag("dict");
            }
            return PropertyList::Dictionary(std::move(dict));
        }
        Fail("unknown element <" + name + ">");
    }

    std::string_view mText;
    size_t mPos = 0;
};

} // namespace

std::string WritePropertyList(const PropertyList& value, PlistKeyOrder order) {
    return Writer(order).Finish(value);
}

PropertyList ReadPropertyList(std::string_view xml) {
    return Reader(xml).Read();
}

bool TryReadPropertyList(std::string_view xml, PropertyList& out, std::string* error) {
    try {
        out = ReadPropertyList(xml);
        return true;
    } catch (const PlistError& e) {
        if (error)
            *error = e.what();
        return false;
    }
}

} // namespace PPx
