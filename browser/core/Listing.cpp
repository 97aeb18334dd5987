#include "browser/core/Listing.h"

#include "engine/FTPDateManager.h"
#include "engine/ProtocolBackend.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <ctime>
#include <limits>
#include <string_view>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace {

// Eight bytes at a time: a byte 0x80 in each place where `word` holds `c`.
inline uint64_t BytesEqual(uint64_t word, unsigned char c) {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    const uint64_t x = word ^ (0x0101010101010101ull * c);
    return ~(((x & kLow7) + kLow7) | x | kLow7);
}

inline uint64_t LoadWord(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof(word));
    return word;
}

#if defined(__SSE2__)
inline __m128i Load16(const char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// One bit per byte of the 16 at p that equals `c`.
inline unsigned Matches16(const char* p, char c) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(Load16(p), _mm_set1_epi8(c))));
}
#endif

// The first CR or LF at or after p, or end.
const char* FindLineEnd(const char* p, const char* end) {
    static_assert(std::endian::native == std::endian::little, "byte order of the word scan");
#if defined(__SSE2__)
    while (end - p >= 16) {
        const __m128i bytes = Load16(p);
        const unsigned hits = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')),
                                           _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')))));
        if (hits)
            return p + std::countr_zero(hits);
        p += 16;
    }
#endif
    while (end - p >= 8) {
        const uint64_t word = LoadWord(p);
        const uint64_t hits = BytesEqual(word, '\r') | BytesEqual(word, '\n');
        if (hits)
            return p + std::countr_zero(hits) / 8;
        p += 8;
    }
    while (p < end && *p != '\r' && *p != '\n')
        ++p;
    return p;
}

// How many LF the text holds.
size_t CountLineFeeds(std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    size_t count = 0;
#if defined(__SSE2__)
    // Per-byte counters (0 - matches), summed before any of them can wrap.
    while (end - p >= 16) {
        __m128i counters = _mm_setzero_si128();
        for (int i = 0; i < 255 && end - p >= 16; ++i, p += 16)
            counters = _mm_sub_epi8(counters, _mm_cmpeq_epi8(Load16(p), _mm_set1_epi8('\n')));
        const __m128i sums = _mm_sad_epu8(counters, _mm_setzero_si128());
        count += static_cast<size_t>(_mm_cvtsi128_si64(sums)) +
                 static_cast<size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    }
#endif
    for (; end - p >= 8; p += 8)
        // One bit per matching byte, summed in the top byte by the product.
        count += static_cast<size_t>(
            ((BytesEqual(LoadWord(p), '\n') >> 7) * 0x0101010101010101ull) >> 56);
    for (; p < end; ++p)
        count += *p == '\n';
    return count;
}

// Calls `handle` with each line of `text`: lines end at CR or LF, and runs of
// line ends (CR LF, blank lines) yield no empty lines.
template <typename Handler> void ForEachLine(std::string_view text, Handler&& handle) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        while (p < end && (*p == '\r' || *p == '\n'))
            ++p;
        if (p == end)
            break;
        const char* lineEnd = FindLineEnd(p, end);
        if (!handle(std::string_view(p, static_cast<size_t>(lineEnd - p))))
            return;
        p = lineEnd;
    }
}

// Blank-separated tokens of one line. Only the space is a blank: a tab is an
// ordinary character, as in the listings servers send.
class Tokens {
public:
    // `limit` ends the text the line lies in: bytes up to it may be read,
    // though only those of the line count.
    Tokens(std::string_view line, const char* limit) : mLine(line) { MarkWindow(limit); }

    // The next token; false when there is none or no blank follows it, which
    // makes the whole line unusable.
    bool Next(std::string_view& token) {
        if (mEnds) {
            const size_t start = static_cast<size_t>(std::countr_zero(mStarts));
            mPos = static_cast<size_t>(std::countr_zero(mEnds));
            mStarts &= mStarts - 1;
            mEnds &= mEnds - 1;
            token = mLine.substr(start, mPos - start);
            return true;
        }
        // Past the window, or none: byte by byte from here on.
        mStarts = 0;
        SkipBlanks();
        const size_t start = mPos;
        while (mPos < mLine.size() && mLine[mPos] != ' ')
            ++mPos;
        if (mPos == start || mPos >= mLine.size())
            return false;
        token = mLine.substr(start, mPos - start);
        return true;
    }

    // What follows the blank that ended the last token, blanks included.
    std::string_view AfterBlank() const {
        return mPos + 1 <= mLine.size() ? mLine.substr(mPos + 1) : std::string_view();
    }

    // What follows the blanks after the last token.
    std::string_view RestAfterBlanks() {
        if (mStarts)
            mPos = static_cast<size_t>(std::countr_zero(mStarts));
        else
            SkipBlanks();
        return mLine.substr(mPos);
    }

private:
    // Token lengths vary from line to line, so byte loops mispredict their
    // exits; instead the first 64 bytes are classified at once, and each
    // token then costs a few bit operations. Bit i of mStarts marks a token
    // starting at byte i, of mEnds the blank ending one (so a token at the
    // end of the line has none); both cover the window only.
    void MarkWindow(const char* limit) {
#if defined(__SSE2__)
        const char* const p = mLine.data();
        if (limit - p < 64)
            return;
        uint64_t blanks = 0;
        for (int i = 0; i < 4; ++i)
            blanks |= static_cast<uint64_t>(Matches16(p + 16 * i, ' ')) << (16 * i);
        const uint64_t inLine = mLine.size() >= 64 ? ~0ull : (1ull << mLine.size()) - 1;
        blanks &= inLine;
        const uint64_t others = ~blanks & inLine;
        mStarts = others & ~(others << 1);
        mEnds = blanks & (others << 1);
#else
        (void)limit;
#endif
    }

    void SkipBlanks() {
        while (mPos < mLine.size() && mLine[mPos] == ' ')
            ++mPos;
    }

    std::string_view mLine;
    size_t mPos = 0;
    uint64_t mStarts = 0;
    uint64_t mEnds = 0;
};

bool IsDotName(std::string_view name) {
    return name == "." || name == "..";
}

// A name with a NUL would be cut there by every path and command it reaches,
// and so name another item.
bool HoldsNul(std::string_view name) {
    return name.find('\0') != std::string_view::npos;
}

bool AllDigits(std::string_view text) {
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// The fields of one line before they are copied into a record.
struct Fields {
    std::string_view permissions, linkCount, owner, group, sizeText, month, day, timeOrYear, name,
        linkTarget;
    uint32_t flags = 0;
    std::string_view line; // the texts above lie in it, unless set to constants
};

// The fields of a Unix or MacOS line, before its link and folder rules.
Fields UnixLikeFields(std::string_view line, std::string_view permissions,
                      std::string_view linkCount, std::string_view owner, std::string_view group,
                      std::string_view sizeText, std::string_view month, std::string_view day,
                      std::string_view timeOrYear, std::string_view name) {
    return {.permissions = permissions,
            .linkCount = linkCount,
            .owner = owner,
            .group = group,
            .sizeText = sizeText,
            .month = month,
            .day = day,
            .timeOrYear = timeOrYear,
            .name = name,
            .linkTarget = {},
            .line = line};
}

// Link and folder rules shared by the Unix and MacOS forms. False when the
// line yields no record.
bool FinishUnixLike(Fields& f) {
    if (f.permissions[0] == 'l') {
        f.flags |= kFileDataLink;
        const size_t arrow = f.name.find(" -> ");
        if (arrow != std::string_view::npos) {
            f.linkTarget = f.name.substr(arrow + 4);
            f.name = f.name.substr(0, arrow);
        }
    }
    if (f.permissions[0] == 'd') {
        f.sizeText = "0";
        if (IsDotName(f.name))
            return false;
    }
    // A link line whose name is all target names nothing.
    return !f.name.empty() && !HoldsNul(f.name);
}

void AppendRecord(std::vector<sFileData>& out, const Fields& f) {
    sFileData& r = out.emplace_back();
    r.permissions.assign(f.permissions);
    r.linkCount.assign(f.linkCount);
    r.owner.assign(f.owner);
    r.group.assign(f.group);
    r.sizeText.assign(f.sizeText);
    r.month.assign(f.month);
    r.day.assign(f.day);
    r.timeOrYear.assign(f.timeOrYear);
    r.name.assign(f.name);
    r.linkTarget.assign(f.linkTarget);
    r.flags = f.flags;
}

bool StartsUnixLike(std::string_view line) {
    return line[0] == '-' || line[0] == 'd' || line[0] == 'l';
}

// Each line parser hands the fields of an accepted line to `sink`. It reads
// the tokens into locals and builds the Fields once, member by member: a
// Fields made first and filled in after is zeroed whole on every line, which
// cost a tenth of the parse.
template <typename Sink> void ParseUnixLine(std::string_view line, const char* limit, Sink& sink) {
    if (!StartsUnixLike(line))
        return; // "total" lines, banners
    Tokens tokens(line, limit);
    std::string_view permissions, linkCount, owner, group, sizeText, month, day, timeOrYear;
    if (!tokens.Next(permissions) || !tokens.Next(linkCount) || !tokens.Next(owner) ||
        !tokens.Next(group) || !tokens.Next(sizeText))
        return;
    if (sizeText.size() == 3 && !AllDigits(sizeText)) {
        // No group column: what was read as the size is the month.
        month = sizeText;
        sizeText = group;
        group = {};
    } else if (!tokens.Next(month)) {
        return;
    }
    if (!tokens.Next(day) || !tokens.Next(timeOrYear))
        return;
    // Only the one blank after the time goes: names may start with blanks.
    const std::string_view name = tokens.AfterBlank();
    if (name.empty())
        return;
    Fields f = UnixLikeFields(line, permissions, linkCount, owner, group, sizeText, month, day,
                              timeOrYear, name);
    if (FinishUnixLike(f))
        sink(f);
}

template <typename Sink> void ParseMacLine(std::string_view line, const char* limit, Sink& sink) {
    if (!StartsUnixLike(line))
        return;
    Tokens tokens(line, limit);
    std::string_view permissions, linkCount, sizeText, month, day, timeOrYear;
    if (!tokens.Next(permissions) || !tokens.Next(linkCount) || !tokens.Next(sizeText))
        return;
    // File lines carry two numbers after the link count; the second is the size.
    if (line[0] != 'd' && !tokens.Next(sizeText))
        return;
    if (!tokens.Next(month) || !tokens.Next(day) || !tokens.Next(timeOrYear))
        return;
    const std::string_view name = tokens.RestAfterBlanks();
    if (name.empty())
        return;
    Fields f = UnixLikeFields(line, permissions, linkCount, {}, {}, sizeText, month, day,
                              timeOrYear, name);
    if (FinishUnixLike(f))
        sink(f);
}

bool IsNTLine(std::string_view line) {
    return line.size() >= 9 && line[2] == '-' && line[5] == '-' && line[8] == ' ';
}

template <typename Sink> void ParseNTLine(std::string_view line, const char* limit, Sink& sink) {
    Tokens tokens(line, limit);
    std::string_view date, time, sizeOrDir;
    if (!tokens.Next(date) || !tokens.Next(time) || !tokens.Next(sizeOrDir))
        return;
    const std::string_view name = tokens.RestAfterBlanks();
    if (name.empty() || HoldsNul(name))
        return;
    const bool folder = sizeOrDir == "<DIR>";
    // The date is MM-DD-YY at the start of the line (checked by IsNTLine).
    const Fields f{.permissions = folder ? std::string_view("d??????") : "-??????",
                   .linkCount = folder ? std::string_view("1") : "?",
                   .owner = "?",
                   .group = "?",
                   .sizeText = folder ? std::string_view("0") : sizeOrDir,
                   .month = line.substr(0, 2),
                   .day = line.substr(3, 2),
                   .timeOrYear = line.substr(6, 2),
                   .name = name,
                   .linkTarget = {},
                   .line = line};
    sink(f);
}

// Listing dates, read as FTPDateManager::FromUnknownFormat reads them but with
// the local "now" looked up once per listing instead of twice per line.
class ListingDates {
public:
    ListingDates() {
        const std::time_t moment = std::time(nullptr);
        localtime_r(&moment, &mNow);
        FTPDateManager::LocalNow().GetDateRec(mNowRec);
        mCentury = (static_cast<int64_t>(mNow.tm_year) + 1900) / 100 * 100;
    }

    // The date of a record's three date columns; the current local date and
    // time when they hold none.
    DateTimeRec Date(std::string_view day, std::string_view month,
                     std::string_view timeOrYear) const {
        DateTimeRec date;
        if (day.size() == 2 && month.size() == 2 && timeOrYear.size() == 2) {
            // The NT form's MM-DD-YY, as FromPC reads it; FromUnix wants a
            // month name, which no two letters are.
            const int dayValue = TwoDigits(day);
            const int monthValue = TwoDigits(month);
            const int year = TwoDigits(timeOrYear);
            if (dayValue < 1 || dayValue > 31 || monthValue < 1 || monthValue > 12 || year < 0)
                return mNowRec;
            const int64_t fullYear = year + (year > 50 ? mCentury - 100 : mCentury);
            if (fullYear > std::numeric_limits<int16_t>::max())
                return mNowRec;
            date = DateTimeRec{};
            date.year = static_cast<int16_t>(fullYear);
            date.month = static_cast<int16_t>(monthValue);
            date.day = static_cast<int16_t>(dayValue);
            return date;
        }
        if (day.size() >= 4 && day.find("stat") != std::string_view::npos) {
            // Seconds since 1970: rare, left to the full parser.
            FTPDateManager parsed;
            if (parsed.FromUnknownFormat(std::string(day), std::string(month),
                                         std::string(timeOrYear))) {
                parsed.GetDateRec(date);
                return date;
            }
            return mNowRec;
        }
        // A month name (not a digit) leaves only FromUnix.
        const bool named = !month.empty() && (month[0] < '0' || month[0] > '9');
        if ((!named && FromPC(day, month, timeOrYear, date)) ||
            FromUnix(day, month, timeOrYear, date))
            return date;
        return mNowRec;
    }

private:
    // The value of two decimal digits, or -1.
    static int TwoDigits(std::string_view text) {
        const unsigned high = static_cast<unsigned char>(text[0]) - unsigned{'0'};
        const unsigned low = static_cast<unsigned char>(text[1]) - unsigned{'0'};
        return high <= 9 && low <= 9 ? static_cast<int>(high * 10 + low) : -1;
    }

    // Digit strings saturate far above any field's range.
    static int64_t DigitValue(std::string_view text) {
        int64_t value = 0;
        for (char c : text) {
            value = value * 10 + (c - '0');
            if (value > 1000000)
                return 1000000;
        }
        return value;
    }

    // 1-31, or 0 when the text is no day of the month.
    static int DayValue(std::string_view text) {
        if (!AllDigits(text))
            return 0;
        const int64_t value = DigitValue(text);
        return value >= 1 && value <= 31 ? static_cast<int>(value) : 0;
    }

    // Numeric dates: day, month, year of two or four digits.
    bool FromPC(std::string_view dayText, std::string_view monthText, std::string_view yearText,
                DateTimeRec& date) const {
        const int day = DayValue(dayText);
        if (day == 0 || !AllDigits(monthText))
            return false;
        const int64_t month = DigitValue(monthText);
        if (month < 1 || month > 12 || !AllDigits(yearText))
            return false;
        int64_t year = DigitValue(yearText);
        if (yearText.size() <= 2)
            year += year > 50 ? mCentury - 100 : mCentury;
        if (year > std::numeric_limits<int16_t>::max())
            return false;
        date = DateTimeRec{};
        date.year = static_cast<int16_t>(year);
        date.month = static_cast<int16_t>(month);
        date.day = static_cast<int16_t>(day);
        return true;
    }

    // 1-12 for "Jan" to "Dec" (exactly so), otherwise 0. All twelve are
    // compared, without a branch to mispredict on which one matches.
    static int MonthNumber(std::string_view text) {
        static constexpr char kNames[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
        constexpr auto key = [](const char* c) {
            return static_cast<uint32_t>(static_cast<unsigned char>(c[0])) |
                   static_cast<uint32_t>(static_cast<unsigned char>(c[1])) << 8 |
                   static_cast<uint32_t>(static_cast<unsigned char>(c[2])) << 16;
        };
        static constexpr auto kKeys = [&key] {
            std::array<uint32_t, 12> keys{};
            for (size_t i = 0; i < keys.size(); ++i)
                keys[i] = key(kNames + 3 * i);
            return keys;
        }();
        if (text.size() != 3)
            return 0;
        const uint32_t wanted = key(text.data());
#if defined(__SSE2__)
        const __m128i copies = _mm_set1_epi32(static_cast<int>(wanted));
        unsigned hits = 0;
        for (int i = 0; i < 3; ++i) {
            const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kKeys[4 * i]));
            hits |= static_cast<unsigned>(
                        _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(four, copies))))
                    << (4 * i);
        }
        return hits ? std::countr_zero(hits) + 1 : 0;
#else
        int month = 0;
        for (int i = 0; i < 12; ++i)
            month = kKeys[static_cast<size_t>(i)] == wanted ? i + 1 : month;
        return month;
#endif
    }

    // Month names with a year or a time of day.
    bool FromUnix(std::string_view dayText, std::string_view monthText, std::string_view thirdText,
                  DateTimeRec& date) const {
        const int day = DayValue(dayText);
        if (day == 0)
            return false;
        const int month = MonthNumber(monthText);
        if (month == 0)
            return false;
        int64_t year = 0;
        int hour = 0, minute = 0;
        if (std::find(thirdText.begin(), thirdText.end(), ':') == thirdText.end()) {
            // Like atoi, refusing what a 16-bit year cannot hold.
            const char* p = thirdText.data();
            const char* const end = p + thirdText.size();
            while (p < end && (*p == ' ' || *p == '\t'))
                ++p;
            bool negative = false;
            if (p < end && (*p == '+' || *p == '-'))
                negative = *p++ == '-';
            for (; p < end && *p >= '0' && *p <= '9'; ++p) {
                year = year * 10 + (*p - '0');
                if (year > std::numeric_limits<int16_t>::max())
                    return false;
            }
            if (negative)
                year = -year;
        } else {
            // A time of day stands for a date within the last year.
            const int currentMonth = mNow.tm_mon + 1;
            year = mNow.tm_year + 1900;
            if (month > currentMonth || (month == currentMonth && day > mNow.tm_mday))
                --year;
            if (!ReadListingTime(thirdText, hour, minute))
                hour = minute = 0;
        }
        date = DateTimeRec{};
        date.year = static_cast<int16_t>(year);
        date.month = static_cast<int16_t>(month);
        date.day = static_cast<int16_t>(day);
        date.hour = static_cast<int16_t>(hour);
        date.minute = static_cast<int16_t>(minute);
        return true;
    }

    std::tm mNow{};
    DateTimeRec mNowRec;
    int64_t mCentury = 0; // of the local date: two-digit years fall near it
};

// Leading decimal digits; 0 when there are none or they overflow.
// `readableBefore` bytes in front of the text may be read as well.
uint64_t SizeValue(std::string_view text, size_t readableBefore = 0) {
    const size_t n = text.size();
    if (n >= 1 && n <= 8 && n + readableBefore >= 8) {
        // Up to eight digits at once, without a loop whose exit depends on
        // the length: the eight bytes ending the text, those in front of it
        // replaced by '0'.
        uint64_t x;
        std::memcpy(&x, text.data() + n - 8, sizeof(x));
        const uint64_t keep = ~0ull << (8 * (8 - n));
        x = (x & keep) | (0x3030303030303030ull & ~keep);
        constexpr uint64_t kHigh = 0xF0F0F0F0F0F0F0F0ull;
        // Digits: each high half is 3, and adding 6 carries none out of it.
        if ((x & kHigh) == 0x3030303030303030ull &&
            ((x + 0x0606060606060606ull) & kHigh) == 0x3030303030303030ull) {
            x -= 0x3030303030303030ull;
            x = x * 10 + (x >> 8); // pairs
            constexpr uint64_t kPairs = 0x000000FF000000FFull;
            return ((x & kPairs) * (100 + (1000000ull << 32)) +
                    ((x >> 16) & kPairs) * (1 + (10000ull << 32))) >>
                   32;
        }
    }
    uint64_t value = 0;
    // Nineteen digits cannot overflow, so only longer texts need the check.
    const size_t safe = std::min<size_t>(text.size(), 19);
    size_t i = 0;
    for (; i < safe; ++i) {
        const unsigned digit = static_cast<unsigned char>(text[i]) - unsigned{'0'};
        if (digit > 9)
            return value;
        value = value * 10 + digit;
    }
    for (char c : text.substr(i)) {
        if (c < '0' || c > '9')
            break;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10)
            return 0;
        value = value * 10 + digit;
    }
    return value;
}

// One item from a record's fields, or from the fields of a line straight
// away when no record is wanted.
void AppendItem(std::vector<sFileInfo>& out, const ListingDates& dates,
                std::string_view permissions, std::string_view owner, std::string_view group,
                std::string_view sizeText, std::string_view month, std::string_view day,
                std::string_view timeOrYear, std::string_view name, uint32_t flags,
                size_t sizeReadableBefore = 0) {
    if (IsDotName(name))
        return;
    // Built from its members at once: value-initialising an item first
    // would zero all of it before its members are set up anyway.
    const bool hasType = !permissions.empty();
    out.push_back({.name = name,
                   .size = SizeValue(sizeText, sizeReadableBefore),
                   .modDate = dates.Date(day, month, timeOrYear),
                   .permissions = hasType ? permissions.substr(1) : std::string_view(),
                   .owner = owner,
                   .group = group,
                   .isFolder = hasType && permissions[0] == 'd',
                   .isLink = (flags & kFileDataLink) != 0,
                   .resumeOffset = {}});
}

// Fresh item storage is faulted in a page at a time as the parser first
// writes it: per 4 KB a trap into the kernel, which allocates, charges and
// zeroes the page; for a long listing most of the parse, and more still in a
// virtual machine, where each trap also goes through the hypervisor. Storage
// of a few megabytes is asked to come in huge pages (one fault per 2 MB where
// the system allows them), and any storage worth it is populated in one call
// before the parse. Neither changes a byte of it; where the kernel refuses,
// pages fault in as ever.
void PrepareStorage([[maybe_unused]] void* start, [[maybe_unused]] size_t size) {
#if defined(__linux__)
    constexpr size_t kWorthACall = size_t{64} << 10;
    constexpr size_t kWorthHugePages = size_t{2} << 20;
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    if (size < kWorthACall || pageSize <= 0)
        return;
    const auto page = static_cast<uintptr_t>(pageSize);
    const auto at = reinterpret_cast<uintptr_t>(start);
#if defined(MADV_HUGEPAGE)
    if (size >= kWorthHugePages) {
        // Every page the storage touches, so that where the allocator's
        // mapping is aligned its first and last huge pages qualify too; the
        // advice is a hint and harms no neighbour in those pages.
        const uintptr_t from = at & ~(page - 1);
        const uintptr_t to = (at + size + page - 1) & ~(page - 1);
        ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    }
#endif
#if defined(MADV_POPULATE_WRITE)
    // Only the pages wholly inside the storage.
    const uintptr_t first = (at + page - 1) & ~(page - 1);
    const uintptr_t last = (at + size) & ~(page - 1);
    if (last > first)
        ::madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
#endif
#endif
}

// Sinks for the line parsers: records, or items without records between.
struct RecordSink {
    std::vector<sFileData>& out;
    void operator()(const Fields& f) { AppendRecord(out, f); }
};

struct ItemSink {
    std::vector<sFileInfo>& out;
    const ListingDates& dates;
    void operator()(const Fields& f) {
        AppendItem(out, dates, f.permissions, f.owner, f.group, f.sizeText, f.month, f.day,
                   f.timeOrYear, f.name, f.flags, ReadableBefore(f.sizeText, f.line));
    }

    // How far in front of `text` its line goes; 0 when it lies elsewhere.
    static size_t ReadableBefore(std::string_view text, std::string_view line) {
        const auto at = reinterpret_cast<uintptr_t>(text.data());
        const auto start = reinterpret_cast<uintptr_t>(line.data());
        return at >= start && at < start + line.size() ? at - start : 0;
    }
};

template <typename Sink> void ParseUnix(std::string_view listing, Sink& sink) {
    const char* const limit = listing.data() + listing.size();
    ForEachLine(listing, [&](std::string_view line) {
        ParseUnixLine(line, limit, sink);
        return true;
    });
}

template <typename Sink> void ParseMac(std::string_view listing, Sink& sink) {
    const char* const limit = listing.data() + listing.size();
    ForEachLine(listing, [&](std::string_view line) {
        ParseMacLine(line, limit, sink);
        return true;
    });
}

template <typename Sink> void ParseNT(std::string_view listing, Sink& sink, int32_t& serverType) {
    const char* const limit = listing.data() + listing.size();
    bool switched = false;
    ForEachLine(listing, [&](std::string_view line) {
        if (!IsNTLine(line)) {
            switched = true;
            return false;
        }
        ParseNTLine(line, limit, sink);
        return true;
    });
    if (switched) {
        // Not an NT server after all (or an error text): read it all as Unix,
        // and keep doing so on this connection.
        serverType = kServerUnix;
        ParseUnix(listing, sink);
    }
}

} // namespace

void ParseDirUnix(std::string_view listing, std::vector<sFileData>& out) {
    RecordSink sink{out};
    ParseUnix(listing, sink);
}

void ParseDirMACOS(std::string_view listing, std::vector<sFileData>& out) {
    RecordSink sink{out};
    ParseMac(listing, sink);
}

void ParseDirNT(std::string_view listing, std::vector<sFileData>& out, int32_t& serverType) {
    RecordSink sink{out};
    ParseNT(listing, sink, serverType);
}

// Parses and converts in one pass: the same items as ParseDir* followed by
// FileDataToFileList, without a record per line in between.
void BuildFileList(std::string_view listing, std::vector<sFileInfo>& items, int32_t& serverType) {
    items.clear();
    if (listing.empty())
        return;
    // Only what this listing needs: storage kept from a longer one is there already.
    const size_t lines = CountLineFeeds(listing) + 1;
    items.reserve(lines);
    PrepareStorage(items.data(), lines * sizeof(sFileInfo));
    const ListingDates dates;
    ItemSink sink{items, dates};
    if (serverType == kServerMacOS)
        ParseMac(listing, sink);
    else if (serverType == kServerWindowsNT)
        ParseNT(listing, sink, serverType);
    else
        ParseUnix(listing, sink);
}

void FileDataToFileList(const std::vector<sFileData>& records, std::vector<sFileInfo>& out) {
    out.clear();
    out.reserve(records.size());
    const ListingDates dates;
    for (const sFileData& r : records)
        AppendItem(out, dates, r.permissions, r.owner, r.group, r.sizeText, r.month, r.day,
                   r.timeOrYear, r.name, r.flags);
}
