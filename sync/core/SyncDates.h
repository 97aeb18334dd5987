#pragma once
// Dates as synchronisation keeps them: every date of a tree and of the cache
// is a local (wall-clock) date record, so that a remote date and a local date
// can be compared field by field.
#include "engine/ConnectionRecords.h"

#include <cstdint>

// The local date record of a moment (seconds since 1970 UTC).
DateTimeRec SyncLocalDate(int64_t unixSeconds);

// The moment a local date record names; false when the record is not a date.
bool SyncUnixSeconds(const DateTimeRec& local, int64_t& unixSeconds);

// A date record in universal time (an FTP MDTM reply) as the local date record
// of the same moment. A record that is not a date comes back unchanged.
DateTimeRec SyncUniversalToLocal(const DateTimeRec& universal);

// -1 when a is earlier, 1 when later, 0 when year, month, day, hour, minute
// and second are equal (the day of week does not count).
int SyncCompareDates(const DateTimeRec& a, const DateTimeRec& b);
