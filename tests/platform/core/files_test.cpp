#include "platform/core/AtomicFile.h"
#include "platform/core/Errors.h"
#include "platform/core/Folders.h"
#include "platform/core/Preferences.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace PPx;

namespace {

std::vector<std::string> List(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(AtomicFile, ReplacesWholeAndKeepsMode) {
    testsupport::TempDir dir;
    std::string path = dir.file("f");
    WriteFileAtomically(path, std::string_view("first, longer content"));
    ::chmod(path.c_str(), 0640);
    WriteFileAtomically(path, std::vector<uint8_t>{'2', 'n', 'd'});
    EXPECT_EQ(ReadWholeFile(path), "2nd");
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(List(dir.path()), std::vector<std::string>{"f"});

    // Written through a symbolic link, which stays a link.
    ASSERT_EQ(::symlink("f", dir.file("link").c_str()), 0);
    WriteFileAtomically(dir.file("link"), std::string_view("via link"));
    EXPECT_EQ(ReadWholeFile(path), "via link");
    ASSERT_EQ(::lstat(dir.file("link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// A write that fails half-way (file size limit) leaves the old file whole and
// no temporary file behind. Run in a child: the limit is process-wide.
TEST(AtomicFile, FailedWriteLeavesTheOldFile) {
    testsupport::TempDir dir;
    std::string path = dir.file("prefs");
    WriteFileAtomically(path, std::string_view("old content"));
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        try {
            WriteFileAtomically(path, std::string(100000, 'x'));
        } catch (const OSError& e) {
            bool named = std::string(e.what()).find(path) != std::string::npos;
            ::_exit(e.Status() == EFBIG && named ? 0 : 2);
        }
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadWholeFile(path), "old content");
    EXPECT_EQ(List(dir.path()), std::vector<std::string>{"prefs"});

    // A folder that does not exist: a clear error, nothing made.
    try {
        WriteFileAtomically(dir.file("no/such/file"), std::string_view("x"));
        ADD_FAILURE();
    } catch (const OSError& e) {
        EXPECT_EQ(e.Status(), ENOENT);
        EXPECT_NE(std::string(e.what()).find("no/such/file"), std::string::npos);
    }
    // A folder in the way is not replaced.
    ::mkdir(dir.file("d").c_str(), 0755);
    EXPECT_THROW(WriteFileAtomically(dir.file("d"), std::string_view("x")), OSError);
    EXPECT_THROW(ReadWholeFile(dir.file("d")), OSError);
}

TEST(Preferences, ValuesPersistAndUnreadableFilesAreKeptAside) {
    testsupport::TempDir dir;
    std::string path = dir.file("Zarvel.plist");
    {
        PreferenceStore store(path);
        EXPECT_FALSE(store.Get("ConnectWindowState"));
        store.Set("ConnectWindowState", PropertyList::Data({0, 0x2C, 0, 0x14, 1, 0xBC, 2, 8}));
        store.Set("BrowserState", PropertyList::Integer(3));
        store.Set("Gone", PropertyList::Boolean(true));
        store.Remove("Gone");
        store.Synchronize();
    }
    {
        PreferenceStore store(path);
        auto v = store.Get("ConnectWindowState");
        ASSERT_TRUE(v && v->AsData());
        EXPECT_EQ(v->AsData()->size(), 8u);
        EXPECT_EQ(*store.Get("BrowserState")->AsInteger(), 3);
        EXPECT_FALSE(store.Get("Gone"));
    }
    std::string text = ReadWholeFile(path);
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u);
    EXPECT_LT(text.find("<key>BrowserState</key>"), text.find("<key>ConnectWindowState</key>"));

    // A damaged file is moved aside untouched; the store starts empty and a
    // later save does not write over it.
    testsupport::writeFile(path, "<plist><dict><key>half");
    PreferenceStore store(path);
    EXPECT_FALSE(store.Get("BrowserState"));
    EXPECT_EQ(store.SetAsidePath(), path + ".corrupt");
    EXPECT_EQ(ReadWholeFile(path + ".corrupt"), "<plist><dict><key>half");
    store.Set("SyncState", PropertyList::String("x"));
    store.Synchronize();
    EXPECT_EQ(ReadWholeFile(path + ".corrupt"), "<plist><dict><key>half");
    EXPECT_EQ(*PreferenceStore(path).Get("SyncState")->AsString(), "x");

    // A root that is not a dictionary counts as unreadable too; the earlier
    // set-aside copy is not replaced.
    testsupport::writeFile(path, WritePropertyList(PropertyList::Array()));
    PreferenceStore other(path);
    EXPECT_FALSE(other.Get("SyncState"));
    EXPECT_EQ(other.SetAsidePath(), path + ".corrupt-1");
    EXPECT_EQ(ReadWholeFile(path + ".corrupt"), "<plist><dict><key>half");
}

TEST(Folders, FollowTheEnvironment) {
    testsupport::TempDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
    std::string prefs = PreferencesFolder();
    EXPECT_EQ(prefs, dir.file("config/Zarvel"));
    struct stat st;
    ASSERT_EQ(::stat(prefs.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));

    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", dir.file("home").c_str(), 1);
    EXPECT_EQ(PreferencesFolder(), dir.file("home/.config/Zarvel"));

    // The application's values land in Zarvel.plist there.
    SetAppValue("QuickConnectWindowState", PropertyList::Data({1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_TRUE(SynchronizeAppValues());
    EXPECT_TRUE(PreferenceStore(dir.file("home/.config/Zarvel/Zarvel.plist"))
                    .Get("QuickConnectWindowState"));
    EXPECT_TRUE(CopyAppValue("QuickConnectWindowState"));
    RemoveAppValue("QuickConnectWindowState");
    EXPECT_FALSE(CopyAppValue("QuickConnectWindowState"));

    // The Trash need not exist to be named; another name for it counts too.
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(TrashFolder(), dir.file("home/.local/share/Trash/files"));
    ::setenv("XDG_DATA_HOME", dir.file("data/").c_str(), 1);
    EXPECT_EQ(TrashFolder(), dir.file("data/Trash/files"));
    EXPECT_TRUE(IsTrashFolder(dir.file("data/Trash/files/")));
    EXPECT_TRUE(IsTrashFolder(dir.file("data/Trash")));
    EXPECT_FALSE(IsTrashFolder(dir.file("data")));
    ::mkdir(dir.file("data").c_str(), 0700);
    ::mkdir(dir.file("data/Trash").c_str(), 0700);
    ASSERT_EQ(::symlink(dir.file("data/Trash").c_str(), dir.file("bin").c_str()), 0);
    EXPECT_TRUE(IsTrashFolder(dir.file("bin")));
    ::unsetenv("XDG_DATA_HOME");

    ::setenv("TMPDIR", dir.path().c_str(), 1);
    std::string temp = TemporaryItemsFolder();
    EXPECT_EQ(temp.rfind(dir.path() + "/zarvel-", 0), 0u);
    EXPECT_EQ(TemporaryItemsFolder(), temp);
    ASSERT_EQ(::stat(temp.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    ::setenv("ZARVEL_RESOURCES", "/opt/res", 1);
    EXPECT_EQ(ResourcesFolder(), "/opt/res");
    ::unsetenv("ZARVEL_RESOURCES");
    EXPECT_EQ(ResourcesFolder(), ExecutableFolder() + "/../share/zarvel/Resources");
    EXPECT_EQ(LibexecFolder(), ExecutableFolder() + "/../libexec/zarvel");
}
