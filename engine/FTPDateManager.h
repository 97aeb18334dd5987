#pragma once
// A calendar date and time of day, parsed from the date forms of directory
// listings and server replies; printable and comparable field by field.
#include "engine/ConnectionRecords.h"

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

// "HH:MM" of a Unix listing line's third date field: the time of day a
// recent file was changed. False for anything else.
bool ReadListingTime(std::string_view text, int& hour, int& minute);

class FTPDateManager {
public:
    FTPDateManager() = default;
    // Seconds since 1 January 1904 00:00 in local (wall-clock) time.
    explicit FTPDateManager(unsigned long localSeconds);
    // A file-system time stamp in universal time: low 32 bits the low seconds,
    // the next 16 bits the high seconds of a count since 1 January 1904 UTC.
    explicit FTPDateManager(unsigned long long utcStamp);
    explicit FTPDateManager(const DateTimeRec* date);
    virtual ~FTPDateManager() = default;

    FTPDateManager(const FTPDateManager&) = default;
    FTPDateManager& operator=(const FTPDateManager&) = default;

    // Numeric listing dates (day, month, year of two or four digits).
    virtual bool FromPCFormat(const std::string& day, const std::string& month,
                              const std::string& year);
    // Unix listing dates: day, month name, and a year or a time of day.
    virtual bool FromUnixFormat(const std::string& day, const std::string& month,
                                const std::string& yearOrTime);
    // "stat" followed by seconds since 1970 UTC.
    virtual bool FromStatFormat(const std::string& text);
    // "Sat Jan  5 03:04:05 2005".
    virtual bool FromCompleteUnixString(const char* text);
    // Tries the stat, PC and Unix forms in turn.
    virtual bool FromUnknownFormat(const std::string& day, const std::string& month,
                                   const std::string& yearOrTime);
    // "Jan 5, 2005"; empty for a date whose month or day is out of range.
    virtual std::string GetPrintableString() const;
    // "Jan 5 2005 03:04:05"; empty for a date whose month or day is out of range.
    virtual std::string GetFullPrintableString() const;
    // Seconds since 1 January 1904 in local time; 0 for a date that is not a
    // valid one (unset, month or day out of range, before 1904).
    virtual uint64_t GetSeconds() const;
    // 1 when `other` is later, -1 when earlier, 0 when equal (weekday ignored).
    virtual int Compare(const FTPDateManager& other) const;
    virtual void GetDateRec(DateTimeRec& date) const;

    // The current local date and time.
    static FTPDateManager LocalNow();

protected:
    // The clock the listing parsers read "now" from.
    virtual std::time_t CurrentTime() const;

    DateTimeRec mDateTime;
};

bool operator==(const FTPDateManager& a, const FTPDateManager& b);
bool operator!=(const FTPDateManager& a, const FTPDateManager& b);
bool operator<(const FTPDateManager& a, const FTPDateManager& b);
bool operator>(const FTPDateManager& a, const FTPDateManager& b);
