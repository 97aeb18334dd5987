#pragma once
// Whole-file reads and atomic whole-file writes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace PPx {

// Replaces the file at `path` whole: writes a temporary file beside it, flushes
// it to disk and renames it over the old one. A symbolic link is written
// through. On failure the old file stays as it was, no temporary file is left,
// and OSError is thrown (status errno, message naming the file and the cause).
// A new file gets the mode a plain creation would give; an existing one keeps its mode.
void WriteFileAtomically(const std::string& path, std::string_view bytes);
void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes);

// The whole file; OSError (status errno, ENOENT when missing) on failure.
std::string ReadWholeFile(const std::string& path);

} // namespace PPx
