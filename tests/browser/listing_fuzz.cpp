// libFuzzer target: the three listing parsers and the conversion on any text.
// Besides crashes and leaks it checks what callers rely on: every record's
// name is a non-empty run of the listing's bytes, the NT parser switches only
// to Unix, and the conversion's dates agree with FTPDateManager.
#include "browser/core/Listing.h"
#include "engine/FTPDateManager.h"
#include "engine/ProtocolBackend.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

void CheckRecords(const std::string& listing, const std::vector<sFileData>& records) {
    for (const sFileData& r : records) {
        Check(!r.name.empty());
        Check(listing.find(r.name) != std::string::npos);
        Check(r.name.find_first_of("\r\n") == std::string::npos);
        Check(!r.permissions.empty());
        if (r.permissions[0] == 'd')
            Check(r.sizeText == "0");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string listing(reinterpret_cast<const char*>(data), size);

    std::vector<sFileData> unix, mac, nt;
    ParseDirUnix(listing, unix);
    ParseDirMACOS(listing, mac);
    int32_t type = kServerWindowsNT;
    ParseDirNT(listing, nt, type);
    Check(type == kServerWindowsNT || type == kServerUnix);
    CheckRecords(listing, unix);
    CheckRecords(listing, mac);
    CheckRecords(listing, nt);

    std::vector<sFileInfo> items;
    FileDataToFileList(unix, items);
    Check(items.size() <= unix.size());
    for (size_t i = 0, j = 0; i < unix.size(); ++i) {
        const sFileData& r = unix[i];
        if (r.name == "." || r.name == "..")
            continue;
        const sFileInfo& item = items[j++];
        Check(item.name == r.name);
        FTPDateManager manager;
        if (manager.FromUnknownFormat(r.day, r.month, r.timeOrYear)) {
            DateTimeRec expected;
            manager.GetDateRec(expected);
            Check(item.modDate == expected);
        }
    }

    for (int32_t server : {kServerUnknown, kServerMacOS, kServerWindowsNT}) {
        type = server;
        BuildFileList(listing, items, type);
    }
    return 0;
}
