// bench_listing make unix|nt FILE LINES   writes a listing of LINES lines
// bench_listing parse unix|nt FILE        parses FILE into items, prints their count
#include "browser/core/Listing.h"
#include "engine/ProtocolBackend.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int Usage() {
    std::fprintf(stderr, "usage: bench_listing make unix|nt FILE LINES | parse unix|nt FILE\n");
    return 2;
}

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Names of the lengths and shapes real folders hold: mostly short, some with
// blanks, some long.
std::string Name(unsigned n) {
    static const char* const stems[] = {
        "report", "IMG_", "backup copy of ", "index", "a very long file name that goes on and on ",
        "x"};
    static const char* const ends[] = {".txt", ".jpg", ".tar.gz", "", ".html", ".c"};
    return stems[n % 6] + std::to_string(n) + ends[(n / 6) % 6];
}

int Make(bool nt, const char* path, long lines) {
    std::ofstream out(path, std::ios::binary);
    if (!out)
        return 1;
    if (!nt)
        out << "total " << lines * 4 << "\r\n";
    unsigned seed = 12345;
    for (long i = 0; i < lines; ++i) {
        seed = seed * 1103515245 + 12345;
        const unsigned r = seed >> 8;
        const unsigned kind = r % 10; // 0 folder, 1 link, else file
        const unsigned size = (r >> 4) % 50000000;
        const int month = static_cast<int>((r >> 3) % 12);
        const int day = static_cast<int>((r >> 5) % 28) + 1;
        char line[512];
        const std::string name = Name(static_cast<unsigned>(i));
        if (nt) {
            std::snprintf(line, sizeof(line), "%02d-%02d-%02d  %02d:%02d%s       %s %s\r\n",
                          month + 1, day, static_cast<int>((r >> 7) % 30), (r >> 2) % 12 + 1,
                          (r >> 9) % 60, r & 1 ? "AM" : "PM",
                          kind == 0 ? "<DIR>         " : std::to_string(size).c_str(),
                          name.c_str());
        } else {
            char date[32];
            if (r & 1)
                std::snprintf(date, sizeof(date), "%s %2d %02u:%02u", kMonths[month], day,
                              (r >> 2) % 24, (r >> 9) % 60);
            else
                std::snprintf(date, sizeof(date), "%s %2d  %u", kMonths[month], day,
                              1995 + (r >> 7) % 30);
            const char* perms = kind == 0 ? "drwxr-xr-x" : kind == 1 ? "lrwxrwxrwx" : "-rw-r--r--";
            std::snprintf(line, sizeof(line), "%s %3u %-8s %-8s %10u %s %s%s%s\r\n", perms,
                          kind == 0 ? 2 + r % 9 : 1, "ftpuser", "staff", size, date, name.c_str(),
                          kind == 1 ? " -> ../" : "", kind == 1 ? name.c_str() : "");
        }
        out << line;
    }
    return out.good() ? 0 : 1;
}

int Parse(bool nt, const char* path) {
    // Mapped, so the text is read from the page cache as awk reads it, and
    // populated in the one call: all of it is read, so faulting it in piece
    // by piece would only add traps.
    const int fd = ::open(path, O_RDONLY);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0)
        return 1;
    const size_t size = static_cast<size_t>(info.st_size);
    void* map =
        size ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0) : nullptr;
    ::close(fd);
    if (map == MAP_FAILED)
        return 1;
    const std::string_view listing(static_cast<const char*>(map), size);
    std::vector<sFileInfo> items;
    int32_t type = nt ? kServerWindowsNT : kServerUnix;
    BuildFileList(listing, items, type);
    std::printf("%zu items\n", items.size());
    return type == (nt ? kServerWindowsNT : kServerUnix) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4)
        return Usage();
    const std::string command = argv[1];
    const bool nt = std::strcmp(argv[2], "nt") == 0;
    if (command == "make" && argc == 5)
        return Make(nt, argv[3], std::atol(argv[4]));
    if (command == "parse")
        return Parse(nt, argv[3]);
    return Usage();
}
