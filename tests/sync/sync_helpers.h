#pragma once
// Small builders for synchronisation tests.
#include "engine/ConnectionRecords.h"

#include <algorithm>
#include <linux/capability.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>
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

// While it lives, this thread reads and writes files as their modes say, root
// or not: root's override of file modes is taken out of the effective set.
class ModesApply {
public:
    ModesApply() {
        ::syscall(SYS_capget, &mHeader, mSaved);
        __user_cap_data_struct reduced[2] = {mSaved[0], mSaved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        ::syscall(SYS_capset, &mHeader, reduced);
    }
    ~ModesApply() { ::syscall(SYS_capset, &mHeader, mSaved); }
    ModesApply(const ModesApply&) = delete;
    ModesApply& operator=(const ModesApply&) = delete;

private:
    __user_cap_header_struct mHeader{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct mSaved[2] = {};
};

} // namespace synctest
