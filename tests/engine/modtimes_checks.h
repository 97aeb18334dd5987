#pragma once
// The dates of many files asked at once, checked against the same names asked
// one by one: shared by the FTP and the SFTP engine's tests, whose engines
// answer alike.
#include "engine/ConnectionRecords.h"

#include <cstddef>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace testsupport {

inline DateTimeRec WithoutWeekday(DateTimeRec date) {
    date.dayOfWeek = 0;
    return date;
}

// `names` (more than 70, more than one group) have the dates `expected`;
// the server has no file `missing`, and `lineBreak` holds a line end. The
// batch gives the dates of the single calls, and fails with the error of the
// first name that fails, `missing` inserted at `missingAt`; every call after
// a failure still gets its own answers. `missingError` is that error.
template <typename Engine>
void ExpectDatesAsOneByOne(Engine& engine, const std::vector<std::string>& names,
                           const std::vector<DateTimeRec>& expected, const std::string& missing,
                           size_t missingAt, const std::string& lineBreak,
                           std::string& missingError) {
    std::vector<DateTimeRec> dates;
    ASSERT_TRUE(engine.GetModTimes(names, dates)) << engine.GetLastError();
    ASSERT_EQ(dates.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        DateTimeRec one;
        ASSERT_TRUE(engine.GetModTime(names[i], one)) << engine.GetLastError();
        EXPECT_EQ(dates[i], one);
        EXPECT_EQ(WithoutWeekday(dates[i]), expected[i]);
    }
    ASSERT_TRUE(engine.GetModTimes({}, dates)) << engine.GetLastError();
    EXPECT_TRUE(dates.empty());

    DateTimeRec one;
    ASSERT_FALSE(engine.GetModTime(missing, one));
    missingError = engine.GetLastError();
    std::vector<std::string> withMissing = names;
    withMissing.insert(withMissing.begin() + static_cast<std::ptrdiff_t>(missingAt), missing);
    EXPECT_FALSE(engine.GetModTimes(withMissing, dates));
    EXPECT_EQ(engine.GetLastError(), missingError);
    // A line end is refused before it is sent, as for one name; a missing
    // file before it still decides the error.
    ASSERT_FALSE(engine.GetModTime(lineBreak, one));
    const std::string refusedError = engine.GetLastError();
    std::vector<std::string> withLineEnd = names;
    withLineEnd.insert(withLineEnd.begin() + 70, lineBreak);
    EXPECT_FALSE(engine.GetModTimes(withLineEnd, dates));
    EXPECT_EQ(engine.GetLastError(), refusedError);
    withLineEnd.insert(withLineEnd.begin() + 69, missing);
    EXPECT_FALSE(engine.GetModTimes(withLineEnd, dates));
    EXPECT_EQ(engine.GetLastError(), missingError);
    EXPECT_TRUE(engine.IsConnected());
    ASSERT_TRUE(engine.GetModTimes(names, dates)) << engine.GetLastError();
    ASSERT_EQ(dates.size(), names.size());
    EXPECT_EQ(WithoutWeekday(dates.back()), expected.back());
}

} // namespace testsupport
