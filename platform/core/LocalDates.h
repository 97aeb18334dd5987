#pragma once
// Dates and times as the user's locale writes them (the locale settings of
// the environment, read through Qt).
#include <string>

namespace PPx {

// A local calendar date and time in the locale's short date form and its
// time form, with the seconds when SECONDS is set ("09.12.26 15:04",
// "09.12.26 15:04:05"); empty for a date that does not exist.
std::string FormatLocalDateTime(int year, int month, int day, int hour, int minute, int second,
                                bool seconds);
// The date alone, in the locale's short date form; empty for a date that does
// not exist.
std::string FormatLocalDate(int year, int month, int day);

} // namespace PPx
