#include "engine/FTPDateManager.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

const char* const kRFC822Months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Seconds from 1 January 1904 to 1 January 1970.
constexpr int64_t k1904To1970 = 2082844800;

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int64_t& m, int64_t& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = yoe + era * 400 + (m <= 2);
}

bool AllDigits(const std::string& text) {
    for (unsigned char c : text)
        if (!std::isdigit(c))
            return false;
    return true;
}

// The value of a digit string, saturating far above any field's range.
int64_t DigitValue(const std::string& text) {
    int64_t value = 0;
    for (unsigned char c : text) {
        value = value * 10 + (c - '0');
        if (value > 1000000)
            return 1000000;
    }
    return value;
}

// Like atoi: leading blanks, an optional sign, then digits; 0 when none.
// False when the number cannot be a year of the date record.
bool LeadingYear(const char* text, int16_t& year) {
    while (*text == ' ' || *text == '\t')
        ++text;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';
    int64_t value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)); ++text) {
        value = value * 10 + (*text - '0');
        if (value > std::numeric_limits<int16_t>::max())
            return false;
    }
    year = static_cast<int16_t>(negative ? -value : value);
    return true;
}

// Like "%d:%d:%d": reads up to three numbers joined by ':'; parts that cannot
// be read are 0. Numbers saturate instead of overflowing.
void ReadTimeOfDay(const char* text, int parts[3]) {
    parts[0] = parts[1] = parts[2] = 0;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (*text != ':')
                return;
            ++text;
        }
        while (*text == ' ' || *text == '\t')
            ++text;
        bool negative = false;
        if (*text == '+' || *text == '-')
            negative = *text++ == '-';
        if (!std::isdigit(static_cast<unsigned char>(*text)))
            return;
        int value = 0;
        for (; std::isdigit(static_cast<unsigned char>(*text)); ++text)
            value = value > 100000 ? value : value * 10 + (*text - '0');
        parts[i] = negative ? -value : value;
    }
}

int MonthIndex(const std::string& name) {
    for (int i = 0; i < 12; ++i)
        if (name == kRFC822Months[i])
            return i + 1;
    return 0;
}

bool ValidMonthDay(const DateTimeRec& date) {
    return date.month >= 1 && date.month <= 12 && date.day >= 1 && date.day <= 31;
}

// Fills every field from a moment in universal time, as local time.
bool FromUnixTime(int64_t seconds, DateTimeRec& date) {
    const std::time_t moment = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (localtime_r(&moment, &local) == nullptr)
        return false;
    const int64_t year = static_cast<int64_t>(local.tm_year) + 1900;
    if (year < 0 || year > std::numeric_limits<int16_t>::max())
        return false;
    date.year = static_cast<int16_t>(year);
    date.month = static_cast<int16_t>(local.tm_mon + 1);
    date.day = static_cast<int16_t>(local.tm_mday);
    date.hour = static_cast<int16_t>(local.tm_hour);
    date.minute = static_cast<int16_t>(local.tm_min);
    date.second = static_cast<int16_t>(local.tm_sec);
    date.dayOfWeek = static_cast<int16_t>(local.tm_wday + 1);
    return true;
}

std::tm LocalTm(std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

} // namespace

bool ReadListingTime(std::string_view text, int& hour, int& minute) {
    const size_t colon = text.find(':');
    if (colon == 0 || colon > 2 || text.size() != colon + 3)
        return false;
    int values[2] = {0, 0};
    for (size_t i = 0; i < text.size(); ++i) {
        if (i == colon)
            continue;
        if (text[i] < '0' || text[i] > '9')
            return false;
        int& v = values[i < colon ? 0 : 1];
        v = v * 10 + (text[i] - '0');
    }
    if (values[0] > 23 || values[1] > 59)
        return false;
    hour = values[0];
    minute = values[1];
    return true;
}

FTPDateManager::FTPDateManager(unsigned long localSeconds) {
    static_assert(sizeof(unsigned long) >= 8, "local seconds need 64 bits");
    const uint64_t seconds = localSeconds;
    const int64_t days = static_cast<int64_t>(seconds / 86400);
    const int64_t rest = static_cast<int64_t>(seconds % 86400);
    int64_t y, m, d;
    CivilFromDays(days + DaysFromCivil(1904, 1, 1), y, m, d);
    if (y > std::numeric_limits<int16_t>::max())
        return; // beyond what the record holds: stays unset
    mDateTime.year = static_cast<int16_t>(y);
    mDateTime.month = static_cast<int16_t>(m);
    mDateTime.day = static_cast<int16_t>(d);
    mDateTime.hour = static_cast<int16_t>(rest / 3600);
    mDateTime.minute = static_cast<int16_t>(rest / 60 % 60);
    mDateTime.second = static_cast<int16_t>(rest % 60);
    // 1 January 1904 was a Friday (6).
    mDateTime.dayOfWeek = static_cast<int16_t>((days + 5) % 7 + 1);
}

FTPDateManager::FTPDateManager(unsigned long long utcStamp) {
    const uint64_t low = utcStamp & 0xFFFFFFFFull;
    const uint64_t high = (utcStamp >> 32) & 0xFFFFull;
    const int64_t since1904 = static_cast<int64_t>((high << 32) | low);
    DateTimeRec date;
    if (FromUnixTime(since1904 - k1904To1970, date))
        mDateTime = date;
}

FTPDateManager::FTPDateManager(const DateTimeRec* date) {
    if (date)
        mDateTime = *date;
}

std::time_t FTPDateManager::CurrentTime() const {
    return std::time(nullptr);
}

FTPDateManager FTPDateManager::LocalNow() {
    FTPDateManager now;
    FromUnixTime(std::time(nullptr), now.mDateTime);
    return now;
}

bool FTPDateManager::FromPCFormat(const std::string& day, const std::string& month,
                                  const std::string& year) {
    mDateTime = DateTimeRec{};
    const std::tm now = LocalTm(CurrentTime());

    if (!AllDigits(day))
        return false;
    const int64_t dayValue = DigitValue(day);
    if (dayValue < 1 || dayValue > 31)
        return false;
    if (!AllDigits(month))
        return false;
    const int64_t monthValue = DigitValue(month);
    if (monthValue < 1 || monthValue > 12)
        return false;
    if (!AllDigits(year))
        return false;
    int64_t yearValue = DigitValue(year);
    if (year.size() <= 2) {
        // Two-digit years: 51-99 in the previous century, 00-50 in this one.
        const int64_t century = (static_cast<int64_t>(now.tm_year) + 1900) / 100 * 100;
        yearValue += yearValue > 50 ? century - 100 : century;
    }
    if (yearValue > std::numeric_limits<int16_t>::max())
        return false;

    mDateTime.day = static_cast<int16_t>(dayValue);
    mDateTime.month = static_cast<int16_t>(monthValue);
    mDateTime.year = static_cast<int16_t>(yearValue);
    return true;
}

bool FTPDateManager::FromUnixFormat(const std::string& day, const std::string& month,
                                    const std::string& yearOrTime) {
    mDateTime = DateTimeRec{};
    const std::tm now = LocalTm(CurrentTime());

    if (!AllDigits(day))
        return false;
    const int64_t dayValue = DigitValue(day);
    if (dayValue < 1 || dayValue > 31)
        return false;
    const int monthValue = MonthIndex(month);
    if (monthValue == 0)
        return false;

    int16_t yearValue = 0;
    if (yearOrTime.find(':') == std::string::npos) {
        if (!LeadingYear(yearOrTime.c_str(), yearValue))
            return false;
    } else {
        // A time of day stands for a date within the last year: a date still
        // ahead of today belongs to last year.
        int hour = 0, minute = 0;
        if (ReadListingTime(yearOrTime, hour, minute)) {
            mDateTime.hour = static_cast<int16_t>(hour);
            mDateTime.minute = static_cast<int16_t>(minute);
        }
        const int currentMonth = now.tm_mon + 1;
        yearValue = static_cast<int16_t>(now.tm_year + 1900);
        if (monthValue > currentMonth || (monthValue == currentMonth && dayValue > now.tm_mday))
            --yearValue;
    }
    mDateTime.day = static_cast<int16_t>(dayValue);
    mDateTime.month = static_cast<int16_t>(monthValue);
    mDateTime.year = yearValue;
    return true;
}

bool FTPDateManager::FromStatFormat(const std::string& text) {
    const size_t at = text.find("stat");
    if (at == std::string::npos)
        return false;
    size_t i = at + 4;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    int64_t seconds = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        seconds = seconds * 10 + (text[i] - '0');
        if (seconds > (int64_t{1} << 40))
            return false; // far beyond any year the record can hold
    }
    DateTimeRec date;
    if (!FromUnixTime(seconds, date))
        return false;
    mDateTime = date;
    return true;
}

bool FTPDateManager::FromCompleteUnixString(const char* text) {
    mDateTime = DateTimeRec{};
    if (text == nullptr)
        return false;

    // Four blank-terminated fields, then the rest of the text.
    std::string fields[5];
    const char* p = text;
    for (int f = 0; f < 4; ++f) {
        const char* blank = std::strchr(p, ' ');
        if (blank == nullptr)
            return false;
        fields[f].assign(p, blank);
        p = blank;
        while (*p == ' ')
            ++p;
    }
    fields[4] = p;

    const int monthValue = MonthIndex(fields[1]);
    if (monthValue == 0)
        return false;
    if (!AllDigits(fields[2]))
        return false;
    const int64_t dayValue = DigitValue(fields[2]);
    if (dayValue < 1 || dayValue > 31)
        return false;
    int parts[3];
    ReadTimeOfDay(fields[3].c_str(), parts);
    const int hour = parts[0], minute = parts[1], second = parts[2];
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60)
        return false;
    int16_t yearValue = 0;
    if (!LeadingYear(fields[4].c_str(), yearValue))
        return false;

    mDateTime.year = yearValue;
    mDateTime.month = static_cast<int16_t>(monthValue);
    mDateTime.day = static_cast<int16_t>(dayValue);
    mDateTime.hour = static_cast<int16_t>(hour);
    mDateTime.minute = static_cast<int16_t>(minute);
    mDateTime.second = static_cast<int16_t>(second);
    return true;
}

bool FTPDateManager::FromUnknownFormat(const std::string& day, const std::string& month,
                                       const std::string& yearOrTime) {
    if (FromStatFormat(day))
        return true;
    if (FromPCFormat(day, month, yearOrTime))
        return true;
    return FromUnixFormat(day, month, yearOrTime);
}

std::string FTPDateManager::GetPrintableString() const {
    if (!ValidMonthDay(mDateTime))
        return {};
    char text[64];
    std::snprintf(text, sizeof(text), "%s %d, %d", kRFC822Months[mDateTime.month - 1],
                  mDateTime.day, mDateTime.year);
    return text;
}

std::string FTPDateManager::GetFullPrintableString() const {
    if (!ValidMonthDay(mDateTime))
        return {};
    char text[96];
    std::snprintf(text, sizeof(text), "%s %d %d %02d:%02d:%02d", kRFC822Months[mDateTime.month - 1],
                  mDateTime.day, mDateTime.year, mDateTime.hour, mDateTime.minute,
                  mDateTime.second);
    return text;
}

uint64_t FTPDateManager::GetSeconds() const {
    if (!ValidMonthDay(mDateTime) || mDateTime.year < 1904)
        return 0;
    const int64_t days =
        DaysFromCivil(mDateTime.year, mDateTime.month, mDateTime.day) - DaysFromCivil(1904, 1, 1);
    const int64_t seconds = days * 86400 + int64_t{mDateTime.hour} * 3600 +
                            int64_t{mDateTime.minute} * 60 + mDateTime.second;
    return seconds < 0 ? 0 : static_cast<uint64_t>(seconds);
}

int FTPDateManager::Compare(const FTPDateManager& other) const {
    const DateTimeRec& a = mDateTime;
    const DateTimeRec& b = other.mDateTime;
    const int16_t mine[6] = {a.year, a.month, a.day, a.hour, a.minute, a.second};
    const int16_t theirs[6] = {b.year, b.month, b.day, b.hour, b.minute, b.second};
    for (int i = 0; i < 6; ++i) {
        if (theirs[i] > mine[i])
            return 1;
        if (theirs[i] < mine[i])
            return -1;
    }
    return 0;
}

void FTPDateManager::GetDateRec(DateTimeRec& date) const {
    date = mDateTime;
}

bool operator==(const FTPDateManager& a, const FTPDateManager& b) {
    return a.Compare(b) == 0;
}

bool operator!=(const FTPDateManager& a, const FTPDateManager& b) {
    return !(a == b);
}

bool operator<(const FTPDateManager& a, const FTPDateManager& b) {
    return a.Compare(b) == 1;
}

bool operator>(const FTPDateManager& a, const FTPDateManager& b) {
    return a.Compare(b) == -1;
}
