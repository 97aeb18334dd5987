#pragma once
// The parts of the sftp tool that need no network: its command line, the
// grammar of typed commands, and the texts it prints.
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace sftptool {

struct Destination {
    std::string user;
    std::string host;
    int port = 22;
};

// Reads the tool's arguments (argv[1..]). Returns an empty text on success,
// else the reason to print.
std::string parseArguments(const std::vector<std::string>& args, Destination& out);

// Position of the line end that ends the first command in `input`, or npos
// while the command is not complete. A line end inside a double-quoted name
// belongs to the name, so a name holding CR or LF can never become two
// commands.
size_t findCommandEnd(const std::string& input);

struct Word {
    std::string text;
    bool quoted = false; // a quoted word is always a name, never an option
};

// Splits a command into words: blanks separate words; a word that starts with
// a double quote runs to the closing quote, and inside it a backslash takes
// the next byte literally. Bare words are taken as they are. Returns false and
// sets `error` on a malformed command.
bool splitWords(const std::string& command, std::vector<Word>& words, std::string& error);

// The echo of a typed command as one line: CR and LF inside it are shown as
// \r and \n.
std::string echoText(const std::string& command);

// "drwxr-xr-x" from a st_mode-style value.
std::string modeString(unsigned long mode);

struct ListEntry {
    std::string name;
    unsigned long mode = 0;
    uint64_t size = 0;
    time_t mtime = 0;
    std::string links = "1";
    std::string owner;
    std::string group;
};

// Text from the server as it may be shown: control characters (C0, DEL and
// C1, also as bytes that are not UTF-8) become '?', so that no name can forge
// a line or a prompt of the dialogue, as ls -q does.
std::string printable(const std::string& text);

// One line of a Unix long listing (without line end); English month names,
// time of day for dates within the last six months, else the year.
std::string longListingLine(const ListEntry& e, time_t now);

// Takes link count, owner and group out of a server's long name when it has
// the usual Unix form and agrees with the size; returns false otherwise.
bool ownerFromLongName(const std::string& longName, uint64_t size, ListEntry& e);

// "Sat Jan  5 03:04:05 2005" in local time.
std::string modTimeText(time_t t);

// Decimal byte offset; false on anything else.
bool parseOffset(const std::string& text, uint64_t& out);
// Octal permission bits (at most 07777); false on anything else.
bool parseMode(const std::string& text, unsigned& out);

// The last component of a path, without trailing slashes; empty when there is
// none ("", "/", ".", "..").
std::string lastComponent(const std::string& path);

// `path` taken relative to the folder `cwd` unless it is absolute.
std::string remotePath(const std::string& cwd, const std::string& path);

// Unpadded base64, as in SHA256 fingerprints.
std::string base64(const unsigned char* data, size_t size);

} // namespace sftptool
