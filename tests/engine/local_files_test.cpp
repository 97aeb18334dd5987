#include "engine/LocalFiles.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <dirent.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::set<std::string> Entries(const std::string& folder) {
    std::set<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir))
        if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
            names.insert(entry->d_name);
    ::closedir(dir);
    return names;
}

void Write(int fd, const std::string& bytes) {
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

} // namespace

TEST(LocalReplacement, CommitRenamesOverTheFileAndLeavesNothingBeside) {
    TempDir dir;
    const std::string target = dir.file("report.txt");
    writeFile(target, "old contents");
    {
        LocalReplacement next(target);
        EXPECT_TRUE(next.DestinationExisted());
        ASSERT_TRUE(next.Create());
        EXPECT_EQ(next.PartPath().rfind(dir.path() + "/", 0), 0u) << "beside the destination";
        Write(next.Descriptor(), "new");
        // Until the commit the old file stands whole.
        EXPECT_EQ(readFile(target), "old contents");
        ASSERT_TRUE(next.Commit());
    }
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"report.txt"});
}

TEST(LocalReplacement, FailuresKeepTheOriginalAndRemoveThePart) {
    TempDir dir;
    const std::string target = dir.file("a.bin");
    writeFile(target, "original");
    {
        LocalReplacement next(target);
        ASSERT_TRUE(next.Create());
        Write(next.Descriptor(), "half");
        // Going out of scope without a commit is a failure.
    }
    EXPECT_EQ(readFile(target), "original");
    EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"a.bin"});

    {
        LocalReplacement next(target);
        ASSERT_TRUE(next.Create());
        Write(next.Descriptor(), "half");
        EXPECT_FALSE(next.KeepPartial()) << "a file stood there: it stays";
    }
    EXPECT_EQ(readFile(target), "original");
    EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"a.bin"});

    // A rename that cannot happen (a folder with contents in the way).
    const std::string folder = dir.file("folder");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    writeFile(folder + "/inside", "x");
    {
        LocalReplacement next(folder);
        ASSERT_TRUE(next.Create());
        Write(next.Descriptor(), "file");
        EXPECT_FALSE(next.Commit());
        EXPECT_TRUE(next.PartPath().empty());
    }
    EXPECT_EQ(readFile(folder + "/inside"), "x");
    EXPECT_EQ(Entries(dir.path()), (std::set<std::string>{"a.bin", "folder"}));
}

TEST(LocalReplacement, PartialKeptOnlyWhereNoFileStood) {
    TempDir dir;
    const std::string target = dir.file("new.iso");
    {
        LocalReplacement next(target);
        EXPECT_FALSE(next.DestinationExisted());
        ASSERT_TRUE(next.Create());
        Write(next.Descriptor(), "first bytes");
        EXPECT_TRUE(next.KeepPartial());
    }
    EXPECT_EQ(readFile(target), "first bytes");
    EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"new.iso"});

    // Nothing arrived: nothing is left behind.
    const std::string empty = dir.file("empty.iso");
    {
        LocalReplacement next(empty);
        ASSERT_TRUE(next.Create());
        EXPECT_FALSE(next.KeepPartial());
    }
    EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"new.iso"});
}

TEST(LocalReplacement, LongNamesAndMissingFolders) {
    TempDir dir;
    // The longest name the file system takes still gets a part beside it.
    const std::string target = dir.file(std::string(255, 'n'));
    writeFile(target, "old");
    {
        LocalReplacement next(target);
        ASSERT_TRUE(next.Create()) << errno;
        Write(next.Descriptor(), "new");
        ASSERT_TRUE(next.Commit());
    }
    EXPECT_EQ(readFile(target), "new");

    LocalReplacement nowhere(dir.file("missing/file"));
    errno = 0;
    EXPECT_FALSE(nowhere.Create());
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(nowhere.Commit());
}

TEST(LocalNames, PlainNamesStayInTheirFolder) {
    for (const char* good : {"a.txt", "..hidden", ".profile", "name with blanks", "x..y"})
        EXPECT_TRUE(IsPlainName(good)) << good;
    for (const std::string& bad :
         {std::string(), std::string("."), std::string(".."), std::string("a/b"),
          std::string("/etc"), std::string("a\rb"), std::string("a\nb"), std::string("a\0b", 3)})
        EXPECT_FALSE(IsPlainName(bad)) << bad;
}
