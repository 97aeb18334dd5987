#pragma once
// Small builders for synchronisation tests.
#include "ConnectionRecords.h"

#include <algorithm>
#include <string>
#include <vector>

namespace synctest {

// 2026-01-10 12:00:00 plus `minutes`.
inline DateTimeRec At(int minutes) {
    DateTimeRec date;
    date.year = 2026;
    date.month = 1;
    date.day = 10;
    date.hour = static_cast<int16_t>(12 + minutes / 60);
    date.minute = static_cast<int16_t>(minutes % 60);
    return date;
}

inline sFileInfo File(const std::string& name, uint64_t size, int minutes) {
    sFileInfo file;
    file.name = name;
    file.size = size;
    file.modDate = At(minutes);
    return file;
}

inline sFileInfo Folder(const std::string& name) {
    sFileInfo folder;
    folder.name = name;
    folder.isFolder = true;
    return folder;
}

inline std::vector<std::string> Names(const std::vector<sFileInfo>& files) {
    std::vector<std::string> names;
    for (const sFileInfo& file : files)
        names.push_back(file.name);
    return names;
}

inline std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace synctest
