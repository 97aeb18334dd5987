#pragma once
// A private folder for one test, removed with everything in it at the end.
#include <cstddef>
#include <string>

namespace testsupport {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return mPath; }
    std::string file(const std::string& name) const { return mPath + "/" + name; }

private:
    std::string mPath;
};

// Whole-file helpers for tests.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
// SIZE bytes of a seeded generator: the same seed gives the same bytes.
std::string randomBytes(size_t size, unsigned seed);

} // namespace testsupport
