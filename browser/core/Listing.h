#pragma once
// Directory listings as servers send them (Unix "ls -l", Windows NT / IIS and
// classic MacOS forms) turned into records and then into sFileInfo items. The
// browser window and the synchronisation run both call these; each passes its
// own server type, which the NT parser may switch to Unix.
//
// Names are kept byte for byte and, but for a line whose name holds a NUL
// (left out), are not checked here: callers must check a name before it
// becomes a local path or part of a command.
#include "engine/ConnectionRecords.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One parsed listing line; every text is copied out of the line unchanged.
struct sFileData {
    std::string permissions; // first token; its first character gives the kind
    std::string linkCount;
    std::string owner;
    std::string group;
    std::string sizeText; // "0" for folders
    std::string month;    // "Jan" (Unix, MacOS) or two digits (NT)
    std::string day;
    std::string timeOrYear; // "12:05" or "2005"; two-digit year in NT lines
    std::string name;       // for links without the target
    std::string linkTarget; // text after " -> " of a link line
    uint32_t flags = 0;     // kFileDataLink

    bool operator==(const sFileData&) const = default;
};

constexpr uint32_t kFileDataLink = 1; // the line describes a symbolic link

// Each appends one record per accepted line to `out`, in line order; lines that
// do not fit are skipped silently.
void ParseDirUnix(std::string_view listing, std::vector<sFileData>& out);
void ParseDirMACOS(std::string_view listing, std::vector<sFileData>& out);
// The first line that is not in NT form sets `serverType` to kServerUnix and
// the whole listing is then parsed by ParseDirUnix into the same `out`.
void ParseDirNT(std::string_view listing, std::vector<sFileData>& out, int32_t& serverType);

// Empties `items`, then parses `listing` with the parser of `serverType`
// (kServerMacOS, kServerWindowsNT, anything else Unix) and converts the records.
void BuildFileList(std::string_view listing, std::vector<sFileInfo>& items, int32_t& serverType);

// Empties `out`, then appends one item per record except "." and "..".
void FileDataToFileList(const std::vector<sFileData>& records, std::vector<sFileInfo>& out);
