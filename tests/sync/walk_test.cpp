#include "sync/core/LocalTree.h"
#include "sync/core/RemoteTree.h"
#include "sync/core/SyncDates.h"
#include "tests/support/tempdir.h"
#include "tests/sync/sync_helpers.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

using namespace synctest;
using testsupport::TempDir;
using testsupport::writeFile;
using S = std::vector<std::string>;

namespace {

std::set<std::string> IgnoredPaths(const std::vector<SyncIgnoredItem>& ignored) {
    std::set<std::string> paths;
    for (const SyncIgnoredItem& item : ignored)
        paths.insert(item.path);
    return paths;
}

const SyncIgnoredItem* FindIgnored(const std::vector<SyncIgnoredItem>& ignored,
                                   const std::string& path) {
    for (const SyncIgnoredItem& item : ignored)
        if (item.path == path)
            return &item;
    return nullptr;
}

// Runs `walk` where permissions count: as an unprivileged user when this
// process is root (root reads folders of mode 000). The child answers with its
// exit status: 0 the walk failed with a message naming `expect`, 1 otherwise.
int WalkUnprivileged(const std::string& root, const std::string& expect) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        const LocalTree tree = WalkLocalTree(root);
        ::_exit(!tree.ok && tree.items.empty() && tree.error.find(expect) != std::string::npos ? 0
                                                                                               : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(LocalWalk, ListsFilesAndFoldersDepthFirstAndLeavesOutWhatTheRuleRefuses) {
    TempDir dir;
    const std::string root = dir.path();
    ::mkdir((root + "/docs").c_str(), 0755);
    ::mkdir((root + "/docs/deep").c_str(), 0755);
    ::mkdir((root + "/.hidden-folder").c_str(), 0755);
    ::mkdir((root + "/a:b").c_str(), 0755);
    writeFile(root + "/a:b/inside", "x");
    writeFile(root + "/docs/deep/f.txt", "12345");
    writeFile(root + "/docs/.DS_Store", "x");
    writeFile(root + "/top", "abc");
    writeFile(root + "/zarvel.site.sync", "x");
    writeFile(root + "/back\\slash", "x");
    writeFile(root + "/bad\xFF", "x");
    ::symlink("/etc/passwd", (root + "/link-to-file").c_str());
    ::symlink("/etc", (root + "/link-to-folder").c_str());
    ::mkfifo((root + "/pipe").c_str(), 0644);
    const struct utimbuf times { 1700000000, 1700000000 };
    ::utime((root + "/top").c_str(), &times);

    const LocalTree tree = WalkLocalTree(root + "/"); // a trailing "/" is fine
    ASSERT_TRUE(tree.ok) << tree.error;
    char canonical[PATH_MAX];
    ASSERT_TRUE(::realpath(root.c_str(), canonical));
    EXPECT_EQ(tree.root, canonical);

    S names = Names(tree.items);
    EXPECT_EQ(Sorted(names), (S{"docs", "docs/deep", "docs/deep/f.txt", "top"}));
    // Every folder before its contents, each subtree whole.
    const auto at = [&](const std::string& name) {
        return std::find(names.begin(), names.end(), name) - names.begin();
    };
    EXPECT_EQ(at("docs") + 1, at("docs/deep"));
    EXPECT_EQ(at("docs/deep") + 1, at("docs/deep/f.txt"));
    for (const sFileInfo& item : tree.items) {
        EXPECT_EQ(item.owner, tree.root);
        EXPECT_FALSE(item.isLink);
        if (item.name == "top") {
            EXPECT_EQ(item.size, 3u);
            EXPECT_EQ(item.modDate, SyncLocalDate(1700000000));
            EXPECT_EQ(item.modDate.hour, 23); // 22:13:20 UTC, Berlin one hour ahead
        }
        if (item.name == "docs/deep/f.txt") {
            EXPECT_EQ(item.size, 5u);
        }
    }

    EXPECT_EQ(IgnoredPaths(tree.ignored),
              (std::set<std::string>{".hidden-folder", "a:b", "docs/.DS_Store", "zarvel.site.sync",
                                     "back\\slash", "bad\xFF", "link-to-file", "link-to-folder",
                                     "pipe"}));
    const SyncIgnoredItem* colon = FindIgnored(tree.ignored, "a:b");
    ASSERT_TRUE(colon);
    EXPECT_EQ(SyncIgnoredMessage(*colon),
              "The folder 'a:b' will be ignored because it contains a ':' on the name.");
    EXPECT_EQ(FindIgnored(tree.ignored, "link-to-folder")->reason, SyncSkip::Link);
    EXPECT_FALSE(SyncSkipIsReported(SyncSkip::Link));
    EXPECT_EQ(FindIgnored(tree.ignored, "pipe")->reason, SyncSkip::OtherKind);
    EXPECT_EQ(FindIgnored(tree.ignored, "bad\xFF")->reason, SyncSkip::NotUTF8);
    EXPECT_TRUE(SyncSkipIsReported(SyncSkip::NotUTF8));
}

TEST(LocalWalk, AMissingOrWrongRootFailsTheWalk) {
    TempDir dir;
    LocalTree tree = WalkLocalTree(dir.path() + "/missing");
    EXPECT_FALSE(tree.ok);
    EXPECT_EQ(tree.error, "The local folder \"" + dir.path() + "/missing\" does not exist.");
    writeFile(dir.file("plain"), "x");
    tree = WalkLocalTree(dir.file("plain"));
    EXPECT_FALSE(tree.ok);
    EXPECT_NE(tree.error.find("is not a folder"), std::string::npos);
    EXPECT_FALSE(WalkLocalTree("").ok);
}

TEST(LocalWalk, AFolderThatCannotBeReadFailsTheWholeWalk) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    const std::string root = dir.path() + "/root";
    ::mkdir(root.c_str(), 0755);
    ::mkdir((root + "/open").c_str(), 0755);
    writeFile(root + "/open/file", "x");
    ::mkdir((root + "/closed").c_str(), 0000);
    EXPECT_EQ(WalkUnprivileged(root, root + "/closed\": Permission denied."), 0);
    ::chmod((root + "/closed").c_str(), 0755);
    ::chmod(root.c_str(), 0000);
    EXPECT_EQ(WalkUnprivileged(root, "Permission denied"), 0);
    ::chmod(root.c_str(), 0755);
}

TEST(RemoteListing, BareNamesAndFullPathsGiveTheSamePaths) {
    const std::vector<sFileInfo> bare{File("a.txt", 1, 1), Folder("sub"), File(".htaccess", 1, 1)};
    const std::vector<sFileInfo> full{File("docs/x/a.txt", 1, 1), Folder("docs/x/sub"),
                                      File("docs/x/.htaccess", 1, 1)};
    std::vector<sFileInfo> fromBare, fromFull;
    std::vector<SyncIgnoredItem> ignoredBare, ignoredFull;
    std::string error;
    ASSERT_TRUE(TakeRemoteListing("docs/x", nullptr, bare, fromBare, ignoredBare, error));
    ASSERT_TRUE(TakeRemoteListing("docs/x", nullptr, full, fromFull, ignoredFull, error));
    EXPECT_EQ(Names(fromBare), (S{"docs/x/a.txt", "docs/x/sub"}));
    EXPECT_EQ(Names(fromFull), Names(fromBare));
    // Hidden names are left out at every depth, as the local walk does.
    EXPECT_EQ(IgnoredPaths(ignoredBare), std::set<std::string>{"docs/x/.htaccess"});
    EXPECT_EQ(IgnoredPaths(ignoredFull), IgnoredPaths(ignoredBare));
}

TEST(RemoteListing, LinksAndUnusableNamesAreLeftOutAndTold) {
    sFileInfo link = Folder("elsewhere");
    link.isLink = true;
    const std::vector<sFileInfo> entries{link,
                                         File("d/inner/x", 1, 1), // a "/" left after the folder
                                         File("ok", 1, 1),
                                         File("cr\rname", 1, 1),
                                         File("zarvel.other.sync", 1, 1),
                                         File("c:d", 1, 1),
                                         File("..", 0, 0)};
    std::vector<sFileInfo> tree;
    std::vector<SyncIgnoredItem> ignored;
    std::string error;
    ASSERT_TRUE(TakeRemoteListing("d", nullptr, entries, tree, ignored, error));
    EXPECT_EQ(Names(tree), S{"d/ok"});
    ASSERT_EQ(ignored.size(), 6u);
    EXPECT_EQ(ignored[0].reason, SyncSkip::Link);
    EXPECT_EQ(ignored[1].reason, SyncSkip::BadCharacter);
    EXPECT_EQ(SyncIgnoredMessage(ignored[1]),
              "The remote file 'inner/x' will be ignored because it contains a '/' on the name.");
    EXPECT_EQ(ignored[2].reason, SyncSkip::Unsafe);
    EXPECT_EQ(ignored[3].reason, SyncSkip::CacheFile);
    EXPECT_EQ(ignored[4].reason, SyncSkip::BadCharacter);
    EXPECT_EQ(ignored[5].reason, SyncSkip::Hidden);
}

TEST(RemoteListing, AListingOfTheFolderItselfIsAFailedListing) {
    // The parent listed "photos"; listing "photos" answers with that same line.
    sFileInfo self = Folder("photos");
    self.permissions = "rwx------";
    self.owner = "ftp";
    self.group = "ftp";
    self.size = 4096;
    self.modDate = At(0);
    std::vector<sFileInfo> tree{self};
    std::vector<SyncIgnoredItem> ignored;
    std::string error;
    EXPECT_FALSE(TakeRemoteListing("photos", &self, {self}, tree, ignored, error));
    EXPECT_EQ(error, "Could not list the remote folder \"photos\".");
    EXPECT_EQ(tree.size(), 1u) << "nothing taken";
    // Deeper down the server names it by the path it was given.
    sFileInfo deep = self;
    deep.name = "a/photos";
    EXPECT_FALSE(TakeRemoteListing("a/photos", &self, {deep}, tree, ignored, error));

    // A folder that really holds a folder of its own name is listed as usual.
    sFileInfo inner = self;
    inner.modDate = At(7);
    inner.permissions = "rwxr-xr-x";
    EXPECT_TRUE(TakeRemoteListing("photos", &self, {inner}, tree, ignored, error));
    EXPECT_EQ(Names(tree), (S{"photos", "photos/photos"}));
}

TEST(BothWalks, LeaveOutTheSameNames) {
    const S names{"plain",
                  ".dot",
                  "zarvel.x.sync",
                  "a:b",
                  "back\\slash",
                  "bad\xFE",
                  "ok \xC3\xA9",
                  "zarvel.sync",
                  "plain.zarvel-upload",
                  ".plain.0badf00d.zarvel-upload"};
    TempDir dir;
    ::mkdir(dir.file("sub").c_str(), 0755);
    std::vector<sFileInfo> listing;
    for (const std::string& name : names) {
        writeFile(dir.path() + "/sub/" + name, "x");
        listing.push_back(File(name, 1, 1));
    }
    const LocalTree local = WalkLocalTree(dir.path());
    ASSERT_TRUE(local.ok) << local.error;
    std::vector<sFileInfo> remote{Folder("sub")};
    std::vector<SyncIgnoredItem> ignored;
    std::string error;
    ASSERT_TRUE(TakeRemoteListing("sub", nullptr, listing, remote, ignored, error));
    EXPECT_EQ(Sorted(Names(local.items)), Sorted(Names(remote)));
    EXPECT_EQ(IgnoredPaths(local.ignored), IgnoredPaths(ignored));
    // A user's name that looks like ours is an ordinary file.
    EXPECT_EQ(Sorted(Names(remote)),
              (S{"sub", "sub/ok \xC3\xA9", "sub/plain", "sub/plain.zarvel-upload"}));
    // The temporary file of an upload is known for what it is, and nobody is told of it.
    const auto part = std::find_if(ignored.begin(), ignored.end(), [](const SyncIgnoredItem& i) {
        return i.path == "sub/.plain.0badf00d.zarvel-upload";
    });
    ASSERT_NE(part, ignored.end());
    EXPECT_EQ(part->reason, SyncSkip::UploadPart);
    EXPECT_FALSE(SyncSkipIsReported(part->reason));
}
