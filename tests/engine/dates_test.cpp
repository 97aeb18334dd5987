#include "engine/FTPDateManager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

// A date whose idea of "now" is fixed.
class FixedNowDate : public FTPDateManager {
public:
    explicit FixedNowDate(std::time_t now) : mNow(now) {}
    DateTimeRec Rec() const { return mDateTime; }

protected:
    std::time_t CurrentTime() const override { return mNow; }

private:
    std::time_t mNow;
};

DateTimeRec Rec(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int wd = 0) {
    DateTimeRec r;
    r.year = static_cast<int16_t>(y);
    r.month = static_cast<int16_t>(mo);
    r.day = static_cast<int16_t>(d);
    r.hour = static_cast<int16_t>(h);
    r.minute = static_cast<int16_t>(mi);
    r.second = static_cast<int16_t>(s);
    r.dayOfWeek = static_cast<int16_t>(wd);
    return r;
}

DateTimeRec RecOf(const FTPDateManager& date) {
    DateTimeRec r;
    date.GetDateRec(r);
    return r;
}

// Runs a test body with TZ set, restoring the old zone afterwards.
class Zone {
public:
    explicit Zone(const char* tz) {
        const char* old = std::getenv("TZ");
        mHad = old != nullptr;
        if (mHad)
            mOld = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~Zone() {
        if (mHad)
            setenv("TZ", mOld.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool mHad = false;
    std::string mOld;
};

// The moment of a UTC civil time.
std::time_t Utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return timegm(&t);
}

DateTimeRec FromStat(long long seconds) {
    FTPDateManager date;
    EXPECT_TRUE(date.FromStatFormat("stat " + std::to_string(seconds)));
    return RecOf(date);
}

} // namespace

TEST(FTPDateManager, UnixFormatWithYearAndMonthNames) {
    FixedNowDate date(Utc(2005, 3, 10, 12));
    EXPECT_TRUE(date.FromUnixFormat("5", "Jan", "2005"));
    EXPECT_EQ(date.Rec(), Rec(2005, 1, 5));
    EXPECT_FALSE(date.FromUnixFormat("5", "jan", "2005"));
    EXPECT_FALSE(date.FromUnixFormat("5", "January", "2005"));
    EXPECT_FALSE(date.FromUnixFormat("0", "Jan", "2005"));
    EXPECT_FALSE(date.FromUnixFormat("32", "Jan", "2005"));
    EXPECT_FALSE(date.FromUnixFormat("5x", "Jan", "2005"));
    EXPECT_FALSE(date.FromUnixFormat("", "Jan", "2005"));
    EXPECT_FALSE(date.FromUnixFormat("5", "Jan", "99999")); // no year the record can hold
    EXPECT_TRUE(date.FromUnixFormat("31", "Dec", "1999"));
    EXPECT_EQ(date.Rec(), Rec(1999, 12, 31));
}

TEST(FTPDateManager, UnixFormatTimeOfDayTakesYearFromLocalToday) {
    {
        Zone zone("America/New_York");
        FixedNowDate march(Utc(2005, 3, 10, 17));
        EXPECT_TRUE(march.FromUnixFormat("5", "Jan", "14:30"));
        EXPECT_EQ(march.Rec(), Rec(2005, 1, 5, 14, 30));
        FixedNowDate january(Utc(2005, 1, 3, 17));
        EXPECT_TRUE(january.FromUnixFormat("5", "Jan", "14:30"));
        EXPECT_EQ(january.Rec(), Rec(2004, 1, 5, 14, 30));
        EXPECT_TRUE(january.FromUnixFormat("3", "Jan", "14:30"));
        EXPECT_EQ(january.Rec(), Rec(2005, 1, 3, 14, 30));

        // 23:30 on New Year's Eve in New York is already 1 January in UTC:
        // the local calendar decides.
        FixedNowDate eve(Utc(2005, 1, 1, 4, 30));
        EXPECT_TRUE(eve.FromUnixFormat("1", "Jan", "12:00"));
        EXPECT_EQ(eve.Rec(), Rec(2004, 1, 1, 12));
        EXPECT_TRUE(eve.FromUnixFormat("31", "Dec", "12:00"));
        EXPECT_EQ(eve.Rec(), Rec(2004, 12, 31, 12));
    }
    {
        Zone zone("Europe/Berlin");
        // 00:30 on 1 January in Berlin is still New Year's Eve in UTC.
        FixedNowDate newYear(Utc(2004, 12, 31, 23, 30));
        EXPECT_TRUE(newYear.FromUnixFormat("1", "Jan", "00:10"));
        EXPECT_EQ(newYear.Rec(), Rec(2005, 1, 1, 0, 10));
        EXPECT_TRUE(newYear.FromUnixFormat("31", "Dec", "23:00"));
        EXPECT_EQ(newYear.Rec(), Rec(2004, 12, 31, 23));
        EXPECT_TRUE(newYear.FromUnixFormat("2", "Jan", "10:00"));
        EXPECT_EQ(newYear.Rec(), Rec(2004, 1, 2, 10));
    }
    // Only a whole time of day is read; anything else leaves midnight.
    FixedNowDate now(Utc(2005, 6, 1, 12));
    for (const char* odd : {"1:5", "24:00", "12:60", "12:3x", ":30", "123:00"}) {
        EXPECT_TRUE(now.FromUnixFormat("5", "Jan", odd)) << odd;
        EXPECT_EQ(now.Rec(), Rec(2005, 1, 5)) << odd;
    }
}

TEST(FTPDateManager, PCFormatRangesAndCentury) {
    FixedNowDate date(Utc(2005, 6, 1, 12));
    EXPECT_TRUE(date.FromPCFormat("31", "12", "99"));
    EXPECT_EQ(date.Rec(), Rec(1999, 12, 31));
    EXPECT_TRUE(date.FromPCFormat("1", "1", "50"));
    EXPECT_EQ(date.Rec().year, 2050);
    EXPECT_TRUE(date.FromPCFormat("1", "1", "05"));
    EXPECT_EQ(date.Rec().year, 2005);
    EXPECT_TRUE(date.FromPCFormat("1", "1", "51"));
    EXPECT_EQ(date.Rec().year, 1951);
    EXPECT_TRUE(date.FromPCFormat("07", "04", "2003"));
    EXPECT_EQ(date.Rec(), Rec(2003, 4, 7));

    EXPECT_FALSE(date.FromPCFormat("1", "13", "05"));
    EXPECT_FALSE(date.FromPCFormat("1", "0", "05"));
    EXPECT_FALSE(date.FromPCFormat("0", "1", "05"));
    EXPECT_FALSE(date.FromPCFormat("32", "1", "05"));
    EXPECT_FALSE(date.FromPCFormat("", "1", "05"));
    EXPECT_FALSE(date.FromPCFormat("99999999999999999999999", "1", "05"));
    EXPECT_FALSE(date.FromPCFormat("1", "99999999999999999999999", "05"));
    EXPECT_FALSE(date.FromPCFormat("1", "1", "99999999999"));
    EXPECT_FALSE(date.FromPCFormat("5", "Jan", "05"));
    EXPECT_FALSE(date.FromPCFormat("1", "-1", "05"));
    EXPECT_EQ(date.Rec(), DateTimeRec{});
}

TEST(FTPDateManager, UnknownFormatTriesStatThenPCThenUnix) {
    Zone zone("UTC");
    FixedNowDate date(Utc(2005, 6, 1));
    EXPECT_TRUE(date.FromUnknownFormat("5", "Jan", "05"));
    EXPECT_EQ(date.Rec(), Rec(5, 1, 5));
    EXPECT_TRUE(date.FromUnknownFormat("5", "1", "05"));
    EXPECT_EQ(date.Rec(), Rec(2005, 1, 5));
    EXPECT_TRUE(date.FromUnknownFormat("stat 86400", "x", "y"));
    EXPECT_EQ(date.Rec(), Rec(1970, 1, 2, 0, 0, 0, 6));
    EXPECT_FALSE(date.FromUnknownFormat("5", "Foo", "05"));
}

TEST(FTPDateManager, StatFormatAroundNewYearAndDaylightSaving) {
    {
        Zone zone("America/New_York");
        EXPECT_EQ(FromStat(0), Rec(1969, 12, 31, 19, 0, 0, 4));
        FTPDateManager none;
        EXPECT_TRUE(none.FromStatFormat("mtime stat"));
        EXPECT_EQ(RecOf(none), Rec(1969, 12, 31, 19, 0, 0, 4));
        EXPECT_FALSE(none.FromStatFormat("no marker 12345"));

        EXPECT_EQ(FromStat(Utc(2005, 1, 1)), Rec(2004, 12, 31, 19, 0, 0, 6));
        EXPECT_EQ(FromStat(Utc(2005, 1, 1, 5)), Rec(2005, 1, 1, 0, 0, 0, 7));
        // Spring forward 14 March 2021: 01:59:59 EST, then 03:00 EDT.
        EXPECT_EQ(FromStat(Utc(2021, 3, 14, 6, 59, 59)), Rec(2021, 3, 14, 1, 59, 59, 1));
        EXPECT_EQ(FromStat(Utc(2021, 3, 14, 7)), Rec(2021, 3, 14, 3, 0, 0, 1));
        // Fall back 7 November 2021: 01:30 occurs twice.
        EXPECT_EQ(FromStat(Utc(2021, 11, 7, 5, 30)), Rec(2021, 11, 7, 1, 30, 0, 1));
        EXPECT_EQ(FromStat(Utc(2021, 11, 7, 6, 30)), Rec(2021, 11, 7, 1, 30, 0, 1));
        EXPECT_EQ(FromStat(Utc(2021, 11, 7, 7)), Rec(2021, 11, 7, 2, 0, 0, 1));
    }
    {
        Zone zone("Europe/Berlin");
        EXPECT_EQ(FromStat(0), Rec(1970, 1, 1, 1, 0, 0, 5));
        EXPECT_EQ(FromStat(Utc(2004, 12, 31, 23, 30)), Rec(2005, 1, 1, 0, 30, 0, 7));
        // 28 March 2021: 01:59:59 CET, then 03:00 CEST.
        EXPECT_EQ(FromStat(Utc(2021, 3, 28, 0, 59, 59)), Rec(2021, 3, 28, 1, 59, 59, 1));
        EXPECT_EQ(FromStat(Utc(2021, 3, 28, 1)), Rec(2021, 3, 28, 3, 0, 0, 1));
        // 31 October 2021: 02:30 occurs twice.
        EXPECT_EQ(FromStat(Utc(2021, 10, 31, 0, 30)), Rec(2021, 10, 31, 2, 30, 0, 1));
        EXPECT_EQ(FromStat(Utc(2021, 10, 31, 1, 30)), Rec(2021, 10, 31, 2, 30, 0, 1));
        // Past 2040, where 32-bit 1904 seconds run out.
        EXPECT_EQ(FromStat(Utc(2041, 1, 1)), Rec(2041, 1, 1, 1, 0, 0, 3));
    }
}

TEST(FTPDateManager, UniversalStampBecomesLocalTime) {
    auto stamp = [](std::time_t utc) {
        const unsigned long long since1904 = static_cast<unsigned long long>(utc) + 2082844800ull;
        const unsigned long long high = since1904 >> 32, low = since1904 & 0xFFFFFFFFull;
        return (high << 32) | low;
    };
    Zone zone("Europe/Berlin");
    EXPECT_EQ(RecOf(FTPDateManager(stamp(Utc(2005, 1, 5, 2, 4, 5)))), Rec(2005, 1, 5, 3, 4, 5, 4));
    EXPECT_EQ(RecOf(FTPDateManager(stamp(Utc(2021, 7, 1, 10)))), Rec(2021, 7, 1, 12, 0, 0, 5));
    // High seconds set: beyond February 2040.
    EXPECT_EQ(RecOf(FTPDateManager(stamp(Utc(2041, 6, 1)))), Rec(2041, 6, 1, 2, 0, 0, 7));
}

TEST(FTPDateManager, LocalSecondsRoundTripPast2040) {
    const DateTimeRec dates[] = {Rec(1904, 1, 1),
                                 Rec(2005, 1, 5, 3, 4, 5),
                                 Rec(2008, 2, 29, 23, 59, 59),
                                 Rec(2040, 2, 6, 6, 28, 16),
                                 Rec(2041, 1, 1),
                                 Rec(2100, 3, 1, 12)};
    uint64_t previous = 0;
    for (const DateTimeRec& rec : dates) {
        const FTPDateManager date(&rec);
        const uint64_t seconds = date.GetSeconds();
        EXPECT_GE(seconds, previous);
        previous = seconds;
        DateTimeRec back = RecOf(FTPDateManager(static_cast<unsigned long>(seconds)));
        EXPECT_NE(back.dayOfWeek, 0);
        back.dayOfWeek = 0;
        EXPECT_EQ(back, rec);
    }
    EXPECT_EQ(FTPDateManager(&dates[0]).GetSeconds(), 0u);
    EXPECT_EQ(RecOf(FTPDateManager(0ul)).dayOfWeek, 6); // 1 January 1904 was a Friday
    EXPECT_GT(FTPDateManager(&dates[4]).GetSeconds(), 0xFFFFFFFFull);
    // 2005-01-05 03:04:05 is 3187739045 local seconds after 1904.
    EXPECT_EQ(FTPDateManager(&dates[1]).GetSeconds(), 3187739045u);
}

TEST(FTPDateManager, CompleteUnixString) {
    FTPDateManager date;
    EXPECT_TRUE(date.FromCompleteUnixString("Sat Jan  5 03:04:05 2005"));
    EXPECT_EQ(RecOf(date), Rec(2005, 1, 5, 3, 4, 5));
    EXPECT_TRUE(date.FromCompleteUnixString("Mon Dec 31 23:59:59 2040\n"));
    EXPECT_EQ(RecOf(date), Rec(2040, 12, 31, 23, 59, 59));
    EXPECT_TRUE(date.FromCompleteUnixString("Sat Jan 5 03:04 2005"));
    EXPECT_EQ(RecOf(date), Rec(2005, 1, 5, 3, 4, 0));

    EXPECT_FALSE(date.FromCompleteUnixString("Jan  5 03:04:05 2005"));
    EXPECT_FALSE(date.FromCompleteUnixString("Sat Jan  5 03:04:05"));
    EXPECT_FALSE(date.FromCompleteUnixString("Sat Foo  5 03:04:05 2005"));
    EXPECT_FALSE(date.FromCompleteUnixString("Sat Jan 32 03:04:05 2005"));
    EXPECT_FALSE(date.FromCompleteUnixString("Sat Jan 0 03:04:05 2005"));
    EXPECT_FALSE(date.FromCompleteUnixString("Sat Jan 5 99:04:05 2005"));
    EXPECT_FALSE(date.FromCompleteUnixString("Sat Jan 5 03:04:99999999999 2005"));
    EXPECT_FALSE(date.FromCompleteUnixString("Sat Jan 5 03:04:05 99999"));
    EXPECT_FALSE(date.FromCompleteUnixString(""));
    EXPECT_FALSE(date.FromCompleteUnixString(nullptr));
    EXPECT_EQ(RecOf(date), DateTimeRec{});
}

TEST(FTPDateManager, PrintableFormsRefuseOutOfRangeFields) {
    const DateTimeRec good = Rec(2005, 1, 5, 3, 4, 5);
    const FTPDateManager date(&good);
    EXPECT_EQ(date.GetPrintableString(), "Jan 5, 2005");
    EXPECT_EQ(date.GetFullPrintableString(), "Jan 5 2005 03:04:05");
    const DateTimeRec dec = Rec(1999, 12, 31, 23, 59, 59);
    EXPECT_EQ(FTPDateManager(&dec).GetFullPrintableString(), "Dec 31 1999 23:59:59");

    for (const DateTimeRec& bad : {DateTimeRec{}, Rec(2005, 13, 5), Rec(2005, -1, 5),
                                   Rec(2005, 1, 0), Rec(2005, 1, 32), Rec(2005, 32767, 1)}) {
        const FTPDateManager badDate(&bad);
        EXPECT_EQ(badDate.GetPrintableString(), "");
        EXPECT_EQ(badDate.GetFullPrintableString(), "");
        EXPECT_EQ(badDate.GetSeconds(), 0u);
    }
    // Each result is a value of its own, not a shared buffer.
    const std::string first = date.GetPrintableString();
    const std::string second = FTPDateManager(&dec).GetPrintableString();
    EXPECT_EQ(first, "Jan 5, 2005");
    EXPECT_EQ(second, "Dec 31, 1999");
}

TEST(FTPDateManager, CompareIgnoresWeekday) {
    const DateTimeRec a = Rec(2005, 1, 5, 3, 4, 5, 4), b = Rec(2005, 1, 5, 3, 4, 5, 1);
    const DateTimeRec later = Rec(2005, 1, 5, 3, 4, 6);
    const FTPDateManager da(&a), db(&b), dl(&later);
    EXPECT_EQ(da.Compare(db), 0);
    EXPECT_TRUE(da == db);
    EXPECT_FALSE(da != db);
    EXPECT_EQ(da.Compare(dl), 1);
    EXPECT_EQ(dl.Compare(da), -1);
    EXPECT_TRUE(da < dl);
    EXPECT_TRUE(dl > da);
    EXPECT_FALSE(dl < da);
    const DateTimeRec nextYear = Rec(2006, 1, 1);
    EXPECT_TRUE(dl < FTPDateManager(&nextYear));
}
