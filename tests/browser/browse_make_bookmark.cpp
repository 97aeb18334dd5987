// Writes an exported connection bookmark file (".zarvel") for the program
// test: NAME HOST PORT USER PASSWORD DIR FOLDER; prints the file's path.
#include "app/BookmarkStore.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr, "usage: %s NAME HOST PORT USER PASSWORD DIR FOLDER\n", argv[0]);
        return 2;
    }
    sBookMarkData bookmark;
    bookmark.name = argv[1];
    bookmark.host = argv[2];
    bookmark.port = std::atoi(argv[3]);
    bookmark.username = argv[4];
    bookmark.password = argv[5];
    bookmark.dir = argv[6];
    bookmark.passive = true;
    try {
        std::printf("%s\n", ExportBookmark(bookmark, argv[7]).c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
