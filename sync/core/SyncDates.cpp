#include "sync/core/SyncDates.h"

#include <ctime>
#include <limits>

namespace {

bool FromTm(const std::tm& tm, DateTimeRec& date) {
    const int64_t year = static_cast<int64_t>(tm.tm_year) + 1900;
    if (year < std::numeric_limits<int16_t>::min() || year > std::numeric_limits<int16_t>::max())
        return false;
    date.year = static_cast<int16_t>(year);
    date.month = static_cast<int16_t>(tm.tm_mon + 1);
    date.day = static_cast<int16_t>(tm.tm_mday);
    date.hour = static_cast<int16_t>(tm.tm_hour);
    date.minute = static_cast<int16_t>(tm.tm_min);
    date.second = static_cast<int16_t>(tm.tm_sec);
    date.dayOfWeek = static_cast<int16_t>(tm.tm_wday + 1);
    return true;
}

std::tm ToTm(const DateTimeRec& date) {
    std::tm tm{};
    tm.tm_year = date.year - 1900;
    tm.tm_mon = date.month - 1;
    tm.tm_mday = date.day;
    tm.tm_hour = date.hour;
    tm.tm_min = date.minute;
    tm.tm_sec = date.second;
    tm.tm_isdst = -1;
    return tm;
}

bool IsDate(const DateTimeRec& date) {
    return date.month >= 1 && date.month <= 12 && date.day >= 1 && date.day <= 31 &&
           date.hour >= 0 && date.hour <= 23 && date.minute >= 0 && date.minute <= 59 &&
           date.second >= 0 && date.second <= 60;
}

} // namespace

DateTimeRec SyncLocalDate(int64_t unixSeconds) {
    DateTimeRec date;
    const std::time_t moment = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    if (localtime_r(&moment, &tm) == nullptr || !FromTm(tm, date))
        return DateTimeRec{};
    return date;
}

bool SyncUnixSeconds(const DateTimeRec& local, int64_t& unixSeconds) {
    if (!IsDate(local))
        return false;
    std::tm tm = ToTm(local);
    // mktime answers -1 both for failure and for the last second of 1969.
    tm.tm_wday = -1;
    const std::time_t moment = std::mktime(&tm);
    if (moment == static_cast<std::time_t>(-1) && tm.tm_wday == -1)
        return false;
    unixSeconds = static_cast<int64_t>(moment);
    return true;
}

DateTimeRec SyncUniversalToLocal(const DateTimeRec& universal) {
    if (!IsDate(universal))
        return universal;
    std::tm tm = ToTm(universal);
    tm.tm_isdst = 0;
    tm.tm_wday = -1;
    const std::time_t moment = timegm(&tm);
    if (moment == static_cast<std::time_t>(-1) && tm.tm_wday == -1)
        return universal;
    const DateTimeRec local = SyncLocalDate(static_cast<int64_t>(moment));
    return local == DateTimeRec{} ? universal : local;
}

int SyncCompareDates(const DateTimeRec& a, const DateTimeRec& b) {
    const int16_t left[6] = {a.year, a.month, a.day, a.hour, a.minute, a.second};
    const int16_t right[6] = {b.year, b.month, b.day, b.hour, b.minute, b.second};
    for (int i = 0; i < 6; ++i)
        if (left[i] != right[i])
            return left[i] < right[i] ? -1 : 1;
    return 0;
}
