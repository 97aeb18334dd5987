// The listing parsers over listings that real servers send: pyftpdlib and
// vsftpd through the FTP engine, sshd through our sftp tool's "ls -l". The
// files are made on the server's side first, so the expected items are known.
#include "browser/core/Listing.h"
#include "engine/FTPDateManager.h"
#include "engine/FTPEngine.h"
#include "engine/ProtocolBackend.h"
#include "tests/support/servers.h"
#include "tests/support/tempdir.h"
#include "tests/tools/sftp_session.h"

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string ServerName() {
    return testsupport::serverFromEnv("ZARVEL_LISTING_SERVER");
}

// Local noon of a day, so that a server showing its dates in universal time
// still shows the same day.
time_t LocalNoon(int year, int month, int day) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

void SetTime(const std::string& path, time_t when) {
    const timeval times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::lutimes(path.c_str(), times), 0) << path;
}

class ListingServer : public ::testing::Test {
protected:
    void SetUp() override {
        server = testsupport::testServer(ServerName());
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = std::string("listing-") + info->name() + "-" + std::to_string(::getpid());
        remote = server.root + "/" + folder;
        ASSERT_EQ(::mkdir(remote.c_str(), 0755), 0) << remote;
        // The server's user owns what the test makes, as if it had uploaded it.
        if (const passwd* pw = ::getpwnam(server.user.c_str())) {
            uid = pw->pw_uid;
            gid = pw->pw_gid;
        }
        Give(remote);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(remote, ec);
    }

    void Give(const std::string& path) {
        if (uid != static_cast<uid_t>(-1)) {
            ASSERT_EQ(::lchown(path.c_str(), uid, gid), 0) << path;
        }
    }
    void MakeFile(const std::string& name, const std::string& bytes, time_t when) {
        writeFile(remote + "/" + name, bytes);
        Give(remote + "/" + name);
        SetTime(remote + "/" + name, when);
    }

    // The folder's listing as the server sends it.
    std::string Listing() {
        if (ServerName() == "sshd") {
            sftptest::ToolSession tool(home.path(), server.port, server.user);
            tool.login(server.password, true);
            std::string text = tool.command("ls -l " + sftptest::toolQuoted(folder));
            // The tool names the items with the path it was given.
            const std::string prefix = " " + folder + "/";
            for (size_t at; (at = text.find(prefix)) != std::string::npos;)
                text.erase(at + 1, prefix.size() - 1);
            return text;
        }
        FTPEngine engine;
        EXPECT_TRUE(engine.Connect(server.host, server.port, 30)) << engine.GetLastError();
        EXPECT_TRUE(engine.Authenticate(server.user, server.password, "")) << engine.GetLastError();
        EXPECT_TRUE(engine.ChangeDir(folder)) << engine.GetLastError();
        std::string listing;
        EXPECT_TRUE(engine.GetDirList(nullptr, listing, true)) << engine.GetLastError();
        engine.SendCommand("QUIT");
        engine.Disconnect();
        return listing;
    }

    testsupport::TestServer server;
    std::string folder, remote;
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
    TempDir home;
};

} // namespace

TEST_F(ListingServer, FilesFoldersLinksSizesAndDates) {
    const time_t old = LocalNoon(2005, 6, 15);
    const time_t recent = std::time(nullptr) - 3600;
    MakeFile("a b.txt", "12345", old);
    MakeFile(" lead", "x", recent);
    MakeFile("arrow -> not a link", "ab", recent);
    MakeFile("caf\xc3\xa9", "", old);
    ASSERT_EQ(::mkdir((remote + "/sub").c_str(), 0755), 0);
    Give(remote + "/sub");
    SetTime(remote + "/sub", old);
    ASSERT_EQ(::symlink("a b.txt", (remote + "/link").c_str()), 0);
    Give(remote + "/link");
    // Beyond 32 bits: a sparse file takes no room.
    {
        const std::string big = remote + "/big.bin";
        const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 5000000000LL), 0);
        ::close(fd);
        Give(big);
        SetTime(big, old);
    }

    const std::string listing = Listing();
    std::vector<sFileInfo> items;
    int32_t type = kServerUnix;
    BuildFileList(listing, items, type);
    EXPECT_EQ(type, kServerUnix);

    std::map<std::string, sFileInfo> byName;
    for (const sFileInfo& item : items)
        byName[item.name] = item;
    ASSERT_EQ(byName.size(), 7u) << listing;
    for (const char* name :
         {"a b.txt", " lead", "arrow -> not a link", "caf\xc3\xa9", "sub", "link", "big.bin"})
        EXPECT_EQ(byName.count(name), 1u) << "missing \"" << name << "\" in\n" << listing;

    const sFileInfo& file = byName["a b.txt"];
    EXPECT_EQ(file.size, 5u);
    EXPECT_FALSE(file.isFolder);
    EXPECT_FALSE(file.isLink);
    EXPECT_EQ(file.permissions.size(), 9u) << file.permissions;
    EXPECT_EQ(file.permissions.substr(0, 3), "rw-");
    EXPECT_EQ(file.modDate, (DateTimeRec{2005, 6, 15, 0, 0, 0, 0}));

    EXPECT_TRUE(byName["sub"].isFolder);
    EXPECT_EQ(byName["sub"].size, 0u);
    EXPECT_EQ(byName["sub"].modDate, (DateTimeRec{2005, 6, 15, 0, 0, 0, 0}));
    EXPECT_TRUE(byName["link"].isLink);
    EXPECT_EQ(byName["big.bin"].size, 5000000000ull);
    EXPECT_EQ(byName[" lead"].size, 1u);
    EXPECT_FALSE(byName["arrow -> not a link"].isLink);
    EXPECT_EQ(byName["caf\xc3\xa9"].size, 0u);

    // A time of day stands for a date within the last year: an hour ago is
    // today or, shown in universal time, a day next to it.
    const FTPDateManager shown(&byName[" lead"].modDate);
    const uint64_t now = FTPDateManager::LocalNow().GetSeconds();
    const uint64_t seconds = shown.GetSeconds();
    EXPECT_LE(seconds, now + 86400) << listing;
    EXPECT_GE(seconds + 2 * 86400, now) << listing;
}

TEST_F(ListingServer, EmptyFolderGivesNoItems) {
    const std::string listing = Listing();
    std::vector<sFileInfo> items(1);
    int32_t type = kServerUnix;
    BuildFileList(listing, items, type);
    EXPECT_TRUE(items.empty()) << listing;
}
