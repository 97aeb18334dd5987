// What a direct-save drop target hands back is read before anything is
// written: only a local folder the user can write in, or the Trash.
#include "platform/core/Folders.h"
#include "platform/ui/DropLocation.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using PPx::DropLocation;

TEST(DropLocation, OnlyWritableLocalFoldersAndTheTrash) {
    testsupport::TempDir dir;
    const std::string d = dir.path();
    ::setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);
    ::mkdir(dir.file("a b").c_str(), 0700);
    testsupport::writeFile(dir.file("file"), "x");
    char host[HOST_NAME_MAX + 1] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);

    struct Case {
        std::string uri;
        DropLocation::Kind kind;
        std::string folder;
    };
    const std::vector<Case> cases = {
        {"file://" + d + "/a%20b/x.txt", DropLocation::kFolder, d + "/a b"},
        {"file://localhost" + d + "/x", DropLocation::kFolder, d},
        {"file://" + std::string(host) + d + "/x", DropLocation::kFolder, d},
        {"FILE:" + d + "/x", DropLocation::kFolder, d},
        {"trash:///x.txt", DropLocation::kTrash, d + "/data/Trash/files"},
        // The target left the proposed name: it named no place.
        {"x.txt", DropLocation::kNothing, ""},
        // Not here, not plain, not a folder that can take files.
        {"sftp://host" + d + "/x", DropLocation::kRefused, ""},
        {"file://elsewhere.example.org" + d + "/x", DropLocation::kRefused, ""},
        {"file:relative/x", DropLocation::kRefused, ""},
        {"file://" + d + "/../x", DropLocation::kRefused, ""},
        {"file://" + d + "//x", DropLocation::kRefused, ""},
        {"file://" + d + "/", DropLocation::kRefused, ""},
        {"file://" + d + "/x%00y", DropLocation::kRefused, ""},
        {"file://" + d + "/x%0Ay", DropLocation::kRefused, ""},
        {"file://" + d + "/x%2", DropLocation::kRefused, ""},
        {"file://" + d + "/x?y", DropLocation::kRefused, ""},
        {"file://" + d + "/missing/x", DropLocation::kRefused, ""},
        {"file://" + d + "/file/x", DropLocation::kRefused, ""},
    };
    for (const Case& c : cases) {
        const DropLocation got = PPx::ReadDropLocation(c.uri);
        EXPECT_EQ(got.kind, c.kind) << c.uri;
        if (c.kind == DropLocation::kRefused)
            EXPECT_FALSE(got.message.empty() || got.explanation.empty()) << c.uri;
        else
            EXPECT_EQ(got.folder, c.folder) << c.uri;
    }
    EXPECT_EQ(PPx::ReadDropLocation("file://" + d + "/missing/x").explanation,
              "The folder \"" + d + "/missing\" cannot be written: No such file or directory.");
    // The Trash as the windows see it.
    EXPECT_TRUE(PPx::IsTrashFolder(PPx::ReadDropLocation("trash:///x").folder));

    // Root may write anywhere; others are refused a folder they cannot write.
    if (::geteuid() != 0) {
        ::mkdir(dir.file("locked").c_str(), 0500);
        EXPECT_EQ(PPx::ReadDropLocation("file://" + d + "/locked/x").kind, DropLocation::kRefused);
        ::chmod(dir.file("locked").c_str(), 0700);
    }
    ::unsetenv("XDG_DATA_HOME");
}
