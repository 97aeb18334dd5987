// The sftp tool driven through a pseudo-terminal, as the program drives it,
// against the sshd test server.
#include "tests/support/servers.h"
#include "tests/support/tempdir.h"
#include "tests/tools/sftp_session.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <pwd.h>
#include <set>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using sftptest::Proxy;
using sftptest::toolQuoted;
using sftptest::ToolSession;
using testsupport::randomBytes;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

off_t sizeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_size;
}

class SftpTool : public ::testing::Test {
protected:
    void SetUp() override {
        server = testsupport::testServer("sshd");
        struct passwd* pw = getpwnam(server.user.c_str());
        ASSERT_NE(pw, nullptr);
        uid = pw->pw_uid;
        gid = pw->pw_gid;
        // Each test works in a folder of its own in the user's home, owned by
        // the user so that the tool may change everything in it.
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder = name + "-" + std::to_string(getpid());
        remote = server.root + "/" + folder;
        ASSERT_EQ(mkdir(remote.c_str(), 0755), 0);
        give(remote);
        ASSERT_EQ(mkdir(home.file("local").c_str(), 0755), 0);
        local = home.file("local");
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(remote, ec);
    }

    void give(const std::string& path) { ASSERT_EQ(lchown(path.c_str(), uid, gid), 0); }

    // A logged-in tool with the local and remote folders of the test current.
    std::unique_ptr<ToolSession> open(int port = 0) {
        port = port ? port : server.port;
        auto t = std::make_unique<ToolSession>(home.path(), port, server.user);
        // Host keys are kept per host and port, so a proxy's port is new.
        t->login(server.password, knownPorts.insert(port).second);
        EXPECT_EQ(t->command("cd " + toolQuoted(folder)), "");
        EXPECT_EQ(t->command("lcd " + toolQuoted(local)), "");
        return t;
    }

    testsupport::TestServer server;
    TempDir home;
    std::string folder, remote, local;
    uid_t uid = 0;
    gid_t gid = 0;
    std::set<int> knownPorts;
};

TEST_F(SftpTool, AsksAboutAnUnknownHostKeyOnlyOnce) {
    {
        ToolSession t(home.path(), server.port, server.user);
        const std::string question = t.expect("(yes/no)? ");
        EXPECT_NE(question.find("SHA256:"), std::string::npos) << question;
        EXPECT_EQ(question.find("password"), std::string::npos) << question;
        t.type("yes\n");
        t.expect("password: ");
        t.type(server.password + "\n");
        t.expect("sftp> ");
        t.type("quit\n");
        EXPECT_EQ(t.wait(), 0);
    }
    const std::string known = readFile(home.file(".ssh/known_hosts"));
    EXPECT_NE(known.find("[127.0.0.1]:" + std::to_string(server.port) + " ssh-ed25519 "),
              std::string::npos)
        << known;
    ToolSession again(home.path(), server.port, server.user);
    again.login(server.password, false); // throws on a second question
    EXPECT_NE(again.command("pwd").find("Remote working directory: /"), std::string::npos);
}

TEST_F(SftpTool, KnowsAHostFromAnEntryStoredEarlier) {
    // The plain "[host]:port type key" line, among lines it cannot use.
    std::string key = readFile(testsupport::serverDir("sshd") + "/ssh_host_ed25519_key.pub");
    key = key.substr(0, key.rfind(' ')); // without its comment
    ASSERT_EQ(mkdir(home.file(".ssh").c_str(), 0700), 0);
    writeFile(home.file(".ssh/known_hosts"), "@cert-authority *.example ssh-ed25519 AAAA\n"
                                             "otherhost unknown-type AAAAB3\n"
                                             "[127.0.0.1]:" +
                                                 std::to_string(server.port) + " " + key + "\n");
    ToolSession t(home.path(), server.port, server.user);
    t.login(server.password, false); // throws on a question
    EXPECT_NE(t.command("pwd").find("Remote working directory: /"), std::string::npos);
}

TEST_F(SftpTool, RefusesAChangedHostKeyBeforeAskingThePassword) {
    // A different key on record for this host and port.
    ASSERT_EQ(mkdir(home.file(".ssh").c_str(), 0700), 0);
    writeFile(
        home.file(".ssh/known_hosts"),
        "# comment and an entry for another host first\n"
        "otherhost ssh-ed25519 "
        "AAAAC3NzaC1lZDI1NTE5AAAAIBdbSDuhZjg8nmkQCKnfjM1RqaN4jvmr2SkIkm0dbJ+G\n"
        "[127.0.0.1]:" +
            std::to_string(server.port) +
            " ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIBdbSDuhZjg8nmkQCKnfjM1RqaN4jvmr2SkIkm0dbJ+G\n");
    ToolSession t(home.path(), server.port, server.user);
    const std::string out = t.rest();
    EXPECT_NE(out.find("HOST IDENTIFICATION HAS CHANGED"), std::string::npos) << out;
    // The line that holds the old key, so that the user can remove it.
    EXPECT_NE(out.find("Offending ED25519 key in " + home.file(".ssh/known_hosts") + ":3"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("password"), std::string::npos) << out;
    EXPECT_EQ(out.find("(yes/no)?"), std::string::npos) << out;
    const int status = t.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);
}

TEST_F(SftpTool, ABadPasswordIsAskedAgainAtMostThreeTimes) {
    ToolSession t(home.path(), server.port, server.user);
    t.expect("(yes/no)? ");
    t.type("yes\n");
    t.expect("password: ");
    t.type("wrong\n");
    t.expect("password: "); // the second prompt is how a refused password shows
    t.type("wrong again\n");
    t.expect("password: ");
    t.type("still wrong\n");
    const std::string out = t.rest();
    EXPECT_NE(out.find("Connection closed"), std::string::npos) << out;
    EXPECT_EQ(out.find("password:"), std::string::npos) << out;
    const int status = t.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0);

    // The right password on the second try is accepted.
    ToolSession u(home.path(), server.port, server.user);
    u.expect("password: ");
    u.type("wrong\n");
    u.expect("password: ");
    u.type(server.password + "\n");
    u.expect("sftp> ");
}

TEST_F(SftpTool, RefusesOptionsItDoesNotKnow) {
    ToolSession t(home.path(), server.port, server.user,
                  {"-oPort=" + std::to_string(server.port), "-v", server.user + "@127.0.0.1"});
    const std::string out = t.rest();
    EXPECT_NE(out.find("unsupported option: -v"), std::string::npos) << out;
    const int status = t.wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2);
}

TEST_F(SftpTool, EveryCommandTakesAwkwardNames) {
    auto t = open();
    const std::vector<std::string> names = {"a b",         "quo\"te", "back\\slash",  "star*",
                                            "what?",       "-dash",   "sftp> inside", "caf\xc3\xa9",
                                            "raw\xff\xfe", "  lead"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        writeFile(local + "/" + name, "content of " + name);
        std::string echo;
        const std::string content = "content of " + name;
        EXPECT_EQ(t->command("put " + toolQuoted(name) + " " + toolQuoted(name), &echo),
                  std::to_string(content.size()) + " bytes transferred\r\n");
        EXPECT_EQ(echo, "put " + toolQuoted(name) + " " + toolQuoted(name) + "\r\n");
        EXPECT_EQ(readFile(remote + "/" + name), "content of " + name);

        const std::string listing = t->command("ls -l");
        EXPECT_NE(listing.find(" " + name + "\r\n"), std::string::npos) << listing;

        EXPECT_EQ(t->command("chmod 600 " + toolQuoted(name)), "");
        struct stat st {};
        ASSERT_EQ(stat((remote + "/" + name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);

        const std::string date = t->command("modtime " + toolQuoted(name));
        EXPECT_EQ(std::count(date.begin(), date.end(), ' ') >= 4, true) << date;
        EXPECT_EQ(date.substr(date.size() - 2), "\r\n");

        const std::string renamed = name + " renamed";
        EXPECT_EQ(t->command("rename " + toolQuoted(name) + " " + toolQuoted(renamed)), "");
        EXPECT_TRUE(exists(remote + "/" + renamed));
        // Onto an existing name only when asked to replace it.
        writeFile(remote + "/" + name, "in the way");
        EXPECT_NE(t->command("rename " + toolQuoted(renamed) + " " + toolQuoted(name)), "");
        EXPECT_EQ(t->command("rename -f " + toolQuoted(renamed) + " " + toolQuoted(name)), "");
        EXPECT_EQ(readFile(remote + "/" + name), "content of " + name);
        EXPECT_EQ(t->command("rename " + toolQuoted(name) + " " + toolQuoted(renamed)), "");

        unlink((local + "/" + name).c_str());
        EXPECT_EQ(
            t->command("get " + toolQuoted(renamed) + " " + toolQuoted(name)).find("Couldn't"),
            std::string::npos);
        EXPECT_EQ(readFile(local + "/" + name), "content of " + name);

        EXPECT_EQ(t->command("rm " + toolQuoted(renamed)), "");
        EXPECT_FALSE(exists(remote + "/" + renamed));

        EXPECT_EQ(t->command("mkdir " + toolQuoted(name)), "");
        EXPECT_EQ(t->command("cd " + toolQuoted(name)), "");
        EXPECT_NE(t->command("pwd").find("/" + folder + "/" + name + "\r\n"), std::string::npos);
        EXPECT_EQ(t->command("cd .."), "");
        EXPECT_EQ(t->command("rmdir " + toolQuoted(name)), "");
        EXPECT_FALSE(exists(remote + "/" + name));
    }
}

TEST_F(SftpTool, SeveralNamesInOneModtimeAnswerLineByLineAsOneByOne) {
    const std::vector<std::string> names = {"a b", "quo\"te", "missing", "back\\slash", "  lead"};
    time_t when = 1104894245; // 2005-01-05 03:04:05 UTC
    for (const std::string& name : names) {
        when += 3661;
        if (name == "missing")
            continue;
        writeFile(remote + "/" + name, name);
        give(remote + "/" + name);
        const struct timespec times[2] = {{when, 0}, {when, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, (remote + "/" + name).c_str(), times, 0), 0);
    }
    auto t = open();
    std::string one, all = "modtime";
    for (const std::string& name : names) {
        one += t->command("modtime " + toolQuoted(name));
        all += " " + toolQuoted(name);
    }
    // Every line as the single-name form prints it, the error included.
    EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), 5) << one;
    EXPECT_NE(one.find("Couldn't read the modification time: No such file"), std::string::npos)
        << one;
    EXPECT_EQ(t->command(all), one);
    // The same name twice, and a missing one first and last.
    const std::string first = t->command("modtime " + toolQuoted("a b"));
    const std::string missing = t->command("modtime missing");
    EXPECT_EQ(t->command("modtime missing \"a b\" \"a b\" missing"),
              missing + first + first + missing);
    EXPECT_EQ(t->command("modtime"), "Usage: modtime remote-path\r\n");
}

TEST_F(SftpTool, NamesAreNeverGlobbedAndHiddenNamesAreNotListed) {
    for (const char* n : {"star*", "starX", "q?", "qX", ".hidden"}) {
        writeFile(remote + "/" + n, n);
        give(remote + "/" + n);
    }
    auto t = open();
    const std::string listing = t->command("ls -l");
    EXPECT_EQ(listing.find(".hidden"), std::string::npos) << listing;
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 4) << listing;
    EXPECT_NE(t->command("ls -la").find(".hidden"), std::string::npos);

    EXPECT_EQ(t->command("rm star*"), "");
    EXPECT_EQ(t->command("rm \"q?\""), "");
    EXPECT_FALSE(exists(remote + "/star*"));
    EXPECT_FALSE(exists(remote + "/q?"));
    EXPECT_TRUE(exists(remote + "/starX"));
    EXPECT_TRUE(exists(remote + "/qX"));
    EXPECT_NE(t->command("rm nothing-here").find("Couldn't delete file: No such file"),
              std::string::npos);
}

TEST_F(SftpTool, ListsAGivenPathWithItsNamesPrefixed) {
    ASSERT_EQ(mkdir((remote + "/sub dir").c_str(), 0755), 0);
    writeFile(remote + "/sub dir/inner", "12345");
    auto t = open();
    const std::string listing = t->command("ls -l \"sub dir\"");
    // Permissions, links, owner, group, size, month, day, time or year, name.
    EXPECT_NE(listing.find("-rw-r--r--"), std::string::npos) << listing;
    EXPECT_NE(listing.find(" 5 "), std::string::npos) << listing;
    EXPECT_NE(listing.find(" sub dir/inner\r\n"), std::string::npos) << listing;
    const std::string top = t->command("ls -l");
    EXPECT_EQ(top.substr(0, 1), "d") << top;
    EXPECT_NE(top.find(" sub dir\r\n"), std::string::npos) << top;
    EXPECT_NE(t->command("ls -l missing").find("Couldn't list directory"), std::string::npos);
}

// A listing asks for its folder's names two reads at a time and does not wait
// for its folder to close: every name comes once, a folder that cannot be
// read says so, and the session stays in step listing after listing.
TEST_F(SftpTool, AListingComesWholeAtAnySizeAndFailsForItsOwnReason) {
    ASSERT_EQ(mkdir((remote + "/many").c_str(), 0755), 0);
    give(remote + "/many");
    // Several of the server's answers' worth, and not a multiple of them.
    constexpr int kNames = 251;
    for (int i = 0; i < kNames; ++i)
        writeFile(remote + "/many/n" + std::to_string(1000 + i), "x");
    ASSERT_EQ(mkdir((remote + "/locked").c_str(), 0300), 0);
    give(remote + "/locked");
    writeFile(remote + "/plain", "12345");
    give(remote + "/plain");
    auto t = open();
    auto names = [](const std::string& listing) {
        std::vector<std::string> found;
        for (size_t at = 0, end; (end = listing.find("\r\n", at)) != std::string::npos;
             at = end + 2)
            found.push_back(
                listing.substr(listing.rfind(' ', end) + 1, end - listing.rfind(' ', end) - 1));
        return found;
    };
    std::vector<std::string> expected;
    for (int i = 0; i < kNames; ++i)
        expected.push_back("many/n" + std::to_string(1000 + i));
    for (int round = 0; round < 20; ++round)
        ASSERT_EQ(names(t->command("ls -l many")), expected) << round;

    EXPECT_EQ(t->command("ls -l locked"), "Couldn't list directory: Permission denied\r\n");
    EXPECT_EQ(t->command("ls -l missing"),
              "Couldn't list directory: No such file or directory\r\n");
    EXPECT_EQ(names(t->command("ls -l plain")), std::vector<std::string>{"plain"});
    EXPECT_EQ(names(t->command("ls -l")), (std::vector<std::string>{"locked", "many", "plain"}));
    EXPECT_NE(t->command("pwd").find("Remote working directory"), std::string::npos);
}

TEST_F(SftpTool, ALineEndInsideAQuotedNameNeverStartsASecondCommand) {
    writeFile(remote + "/victim", "keep me");
    give(remote + "/victim");
    auto t = open();
    std::string echo;
    const std::string out = t->command("rm \"x\nrm victim\"", &echo);
    EXPECT_EQ(echo, "rm \"x\\nrm victim\"\r\n");
    EXPECT_NE(out.find("Couldn't delete file"), std::string::npos) << out;
    EXPECT_TRUE(exists(remote + "/victim"));
    EXPECT_NE(t->command("pwd").find("Remote working directory"), std::string::npos);
    EXPECT_EQ(t->command("get \"a\"b"), "A closing quote must be followed by a blank\r\n");
}

TEST_F(SftpTool, TransfersAreByteExactWithAndWithoutRest) {
    const std::string data = randomBytes(3 * 1024 * 1024 + 17, 1);
    writeFile(remote + "/data.bin", data);
    auto t = open();

    // Whole download, replacing a longer file that was there.
    writeFile(local + "/data.bin", std::string(5 * 1024 * 1024, 'x'));
    std::string out = t->command("get data.bin");
    EXPECT_NE(out.find(std::to_string(data.size()) + " bytes transferred\r\n"), std::string::npos)
        << out;
    EXPECT_EQ(readFile(local + "/data.bin"), data);

    // Resumed download: the local file holds the first part.
    writeFile(local + "/data.bin", data.substr(0, 1000000));
    EXPECT_EQ(t->command("rest 1000000"), "");
    out = t->command("get data.bin");
    EXPECT_NE(out.find(std::to_string(data.size() - 1000000) + " bytes transferred"),
              std::string::npos)
        << out;
    EXPECT_EQ(readFile(local + "/data.bin"), data);

    // The offset served that transfer only.
    writeFile(local + "/data.bin", "short");
    t->command("get data.bin");
    EXPECT_EQ(readFile(local + "/data.bin"), data);

    // An offset beyond either file is refused, and nothing is changed.
    writeFile(local + "/data.bin", data.substr(0, 10));
    EXPECT_EQ(t->command("rest " + std::to_string(data.size() + 1)), "");
    EXPECT_NE(t->command("get data.bin").find("Couldn't resume"), std::string::npos);
    EXPECT_EQ(t->command("rest 100"), "");
    EXPECT_NE(t->command("get data.bin").find("Couldn't resume"), std::string::npos);
    EXPECT_EQ(readFile(local + "/data.bin"), data.substr(0, 10));

    // Upload, then a resumed upload over a partial remote copy with junk after
    // the offset.
    const std::string up = randomBytes(2 * 1024 * 1024 + 5, 2);
    writeFile(local + "/up.bin", up);
    out = t->command("put up.bin up.bin");
    EXPECT_NE(out.find(std::to_string(up.size()) + " bytes transferred"), std::string::npos);
    EXPECT_EQ(readFile(remote + "/up.bin"), up);
    writeFile(remote + "/up.bin", up.substr(0, 700000) + "junk junk junk");
    give(remote + "/up.bin");
    EXPECT_EQ(t->command("rest 700000"), "");
    t->command("put up.bin up.bin");
    EXPECT_EQ(readFile(remote + "/up.bin"), up);

    writeFile(remote + "/up.bin", up.substr(0, 100));
    EXPECT_EQ(t->command("rest 200"), "");
    EXPECT_NE(t->command("put up.bin up.bin").find("Couldn't resume"), std::string::npos);
    EXPECT_EQ(t->command("rest " + std::to_string(up.size() + 1)), "");
    EXPECT_NE(t->command("put up.bin up.bin").find("Couldn't resume"), std::string::npos);
    EXPECT_EQ(readFile(remote + "/up.bin"), up.substr(0, 100));

    // Empty files and errors.
    writeFile(remote + "/empty", "");
    EXPECT_EQ(t->command("get empty"), "0 bytes transferred\r\n");
    EXPECT_EQ(readFile(local + "/empty"), "");
    EXPECT_NE(t->command("get missing").find("Couldn't open remote file: No such file"),
              std::string::npos);
    EXPECT_FALSE(exists(local + "/missing"));
    EXPECT_NE(t->command("rest x").find("Usage"), std::string::npos);
}

// Small requests and uploads go to the connection straight; a large download
// puts the pump's two threads in between, in the middle of the session, and a
// large upload takes them out again, without a byte lost or reordered either
// way.
TEST_F(SftpTool, ALargeDownloadPutsThePumpInAndALargeUploadTakesItOut) {
    const std::string small = randomBytes(4096, 7);
    const std::string big = randomBytes(3 * 1024 * 1024 + 3, 8);
    writeFile(remote + "/small", small);
    writeFile(local + "/big", big);
    auto t = open();
    auto threads = [&] {
        const std::string status = readFile("/proc/" + std::to_string(t->pid()) + "/status");
        const size_t at = status.find("Threads:");
        return at == std::string::npos ? -1 : std::atoi(status.c_str() + at + 8);
    };
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(t->command("get small"), "4096 bytes transferred\r\n");
        EXPECT_EQ(t->command("put small small-" + std::to_string(i)), "4096 bytes transferred\r\n");
    }
    EXPECT_NE(t->command("ls -l").find(" small-2\r\n"), std::string::npos);
    const int before = threads();

    std::string out = t->command("put big big");
    EXPECT_NE(out.find(std::to_string(big.size()) + " bytes transferred\r\n"), std::string::npos)
        << out;
    EXPECT_EQ(readFile(remote + "/big"), big);
    EXPECT_EQ(threads(), before);
    out = t->command("get big big-back");
    EXPECT_NE(out.find(std::to_string(big.size()) + " bytes transferred\r\n"), std::string::npos)
        << out;
    EXPECT_EQ(readFile(local + "/big-back"), big);

    // Through the pump from now on, small requests as large ones.
    EXPECT_EQ(t->command("get small small-back"), "4096 bytes transferred\r\n");
    EXPECT_EQ(readFile(local + "/small-back"), small);
    EXPECT_NE(t->command("ls -l").find(" big\r\n"), std::string::npos);
    EXPECT_EQ(t->command("get big big-again").find("Couldn't"), std::string::npos);
    EXPECT_EQ(readFile(local + "/big-again"), big);
    out = t->command("put big big-up");
    EXPECT_NE(out.find(std::to_string(big.size()) + " bytes transferred\r\n"), std::string::npos)
        << out;
    EXPECT_EQ(readFile(remote + "/big-up"), big);
    EXPECT_EQ(threads(), before);
    EXPECT_EQ(t->command("get small small-again"), "4096 bytes transferred\r\n");
    EXPECT_EQ(readFile(local + "/small-again"), small);
    EXPECT_EQ(t->command("get big big-last").find("Couldn't"), std::string::npos);
    EXPECT_EQ(readFile(local + "/big-last"), big);
    EXPECT_EQ(threads(), before + 2);
    t->type("quit\n");
    EXPECT_EQ(t->wait(), 0);
}

// A local disk that fills up while the file is written on its own thread:
// the failure is told and the transfer stops, never reported done; a new file
// keeps a clean start of the data, one that was to be replaced stays as it was.
TEST_F(SftpTool, ALocalDiskThatFillsUpStopsTheDownload) {
    const std::string small = home.file("small-disk");
    ASSERT_EQ(mkdir(small.c_str(), 0755), 0);
    if (mount("zarvel-test", small.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "a small file system needs root";
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{small};
    const std::string data = randomBytes(4 * 1024 * 1024, 9);
    writeFile(remote + "/big.bin", data);
    writeFile(small + "/old.bin", "old contents");
    auto t = open();
    EXPECT_EQ(t->command("lcd " + toolQuoted(small)), "");
    for (const std::string name : {"old.bin", "new.bin"}) {
        const std::string out = t->command("get big.bin " + name);
        EXPECT_NE(out.find("Couldn't write local file: No space left on device"), std::string::npos)
            << name << ": " << out;
        EXPECT_EQ(out.find(std::to_string(data.size()) + " bytes transferred"), std::string::npos)
            << name << ": " << out;
    }
    EXPECT_EQ(readFile(small + "/old.bin"), "old contents");
    const std::string got = readFile(small + "/new.bin");
    EXPECT_LT(got.size(), data.size());
    EXPECT_TRUE(got == data.substr(0, got.size()));
    EXPECT_NE(t->command("pwd").find("Remote working directory"), std::string::npos);
}

// Waits for the first progress line of a running transfer.
void awaitProgress(ToolSession& t) {
    t.expect(" bytes transferred\r\n");
}

TEST_F(SftpTool, AnInterruptStopsTheTransferAndKeepsThePartialFile) {
    const std::string data = randomBytes(8 * 1024 * 1024, 3);
    writeFile(remote + "/big.bin", data);
    Proxy slow(server.port, 1024 * 1024); // a transfer takes seconds
    auto t = open(slow.port());

    t->type("get big.bin\n");
    awaitProgress(*t);
    kill(t->pid(), SIGINT);
    std::string out = t->expect("\nsftp> ");
    EXPECT_NE(out.find("Transfer interrupted."), std::string::npos) << out;
    // The tool is still there and answers.
    EXPECT_NE(t->command("pwd").find("Remote working directory"), std::string::npos);
    const off_t got = sizeOf(local + "/big.bin");
    EXPECT_GT(got, 0);
    EXPECT_LT(got, off_t(data.size()));
    EXPECT_EQ(readFile(local + "/big.bin"), data.substr(0, size_t(got)));

    // It resumes from there to the exact file.
    EXPECT_EQ(t->command("rest " + std::to_string(got)), "");
    t->command("get big.bin");
    EXPECT_EQ(readFile(local + "/big.bin"), data);

    // An interrupted upload leaves the remote part; a download that was to
    // replace a local file leaves the old file as it was.
    writeFile(local + "/old.bin", "old contents");
    t->type("get big.bin old.bin\n");
    awaitProgress(*t);
    kill(t->pid(), SIGINT);
    t->expect("\nsftp> ");
    EXPECT_EQ(readFile(local + "/old.bin"), "old contents");

    const std::string upData = randomBytes(32 * 1024 * 1024, 6); // more than is ever in flight
    writeFile(local + "/up-source.bin", upData);
    t->type("put up-source.bin up.bin\n");
    awaitProgress(*t);
    kill(t->pid(), SIGINT);
    out = t->expect("\nsftp> ");
    EXPECT_NE(out.find("Transfer interrupted."), std::string::npos) << out;
    const off_t sent = sizeOf(remote + "/up.bin");
    EXPECT_LT(sent, off_t(upData.size()));
    EXPECT_EQ(readFile(remote + "/up.bin"), upData.substr(0, size_t(sent)));

    // An interrupt at the prompt does nothing.
    kill(t->pid(), SIGINT);
    EXPECT_NE(t->command("pwd").find("Remote working directory"), std::string::npos);

    // No temporary file is left behind in the local folder.
    DIR* d = opendir(local.c_str());
    for (struct dirent* e = readdir(d); e; e = readdir(d))
        EXPECT_EQ(std::string(e->d_name).find(".sftp-part"), std::string::npos) << e->d_name;
    closedir(d);
}

TEST_F(SftpTool, AnInterruptStopsATransferRunningAtFullSpeed) {
    // Straight to the server, so the tool is busy sending and receiving rather
    // than waiting; the sparse files are far larger than can move in the test.
    constexpr off_t kHuge = off_t(64) << 30;
    {
        const int fd = ::open((remote + "/huge").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, kHuge), 0);
        close(fd);
        give(remote + "/huge");
        const int up = ::open((local + "/huge-up").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(up, 0);
        ASSERT_EQ(ftruncate(up, kHuge), 0);
        close(up);
    }
    auto t = open();
    for (const std::string command : {"get huge", "put huge-up"}) {
        t->type(command + "\n");
        awaitProgress(*t);
        kill(t->pid(), SIGINT);
        const std::string out = t->expect("\nsftp> ");
        EXPECT_NE(out.find("Transfer interrupted."), std::string::npos) << command << out;
    }
    const off_t got = sizeOf(local + "/huge"), sent = sizeOf(remote + "/huge-up");
    EXPECT_GT(got, 0);
    EXPECT_LT(got, kHuge);
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, kHuge);
    EXPECT_NE(t->command("pwd").find("Remote working directory"), std::string::npos);
}

TEST_F(SftpTool, ALostServerEndsTheToolWithConnectionClosed) {
    writeFile(remote + "/big.bin", randomBytes(8 * 1024 * 1024, 4));
    Proxy link(server.port, 1024 * 1024);
    auto t = open(link.port());
    t->type("get big.bin\n");
    awaitProgress(*t);
    link.drop();
    const std::string out = t->rest();
    EXPECT_NE(out.find("Connection closed"), std::string::npos) << out;
    const int status = t->wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << status;

    // A server lost while the tool waits at its prompt is reported at once,
    // also after a get whose last reply came while the prompt waited.
    writeFile(remote + "/small.bin", randomBytes(4096, 6));
    Proxy idle(server.port);
    auto u = open(idle.port());
    EXPECT_NE(u->command("get small.bin").find("4096 bytes transferred"), std::string::npos);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    idle.drop();
    const std::string said = u->rest();
    EXPECT_NE(said.find("Connection closed"), std::string::npos) << said;
    EXPECT_NE(u->wait(), -1);
}

TEST_F(SftpTool, TheEndOfTheTerminalEndsTheToolEvenMidTransfer) {
    writeFile(remote + "/big.bin", randomBytes(4 * 1024 * 1024, 5));
    Proxy slow(server.port, 512 * 1024);
    auto t = open(slow.port());
    writeFile(local + "/big.bin", "previous");
    t->type("get big.bin\n");
    awaitProgress(*t);
    t->closeTerminal();
    EXPECT_NE(t->wait(), -1);
    EXPECT_EQ(readFile(local + "/big.bin"), "previous");
}

TEST_F(SftpTool, TheEndOfTheTerminalEndsTheToolWhileTheServerIsSilent) {
    // A server that takes the connection and never says a word: the tool
    // waits inside the SSH handshake.
    const int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(silent, 0);
    struct sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(silent, 4), 0);
    ASSERT_EQ(getsockname(silent, reinterpret_cast<sockaddr*>(&a), &len), 0);
    ToolSession t(home.path(), ntohs(a.sin_port), server.user);
    usleep(300 * 1000); // let it reach the handshake
    t.closeTerminal();
    EXPECT_NE(t.wait(), -1);
    close(silent);
}

TEST_F(SftpTool, KeepsNoDescriptorsFromCommandToCommand) {
    writeFile(remote + "/f", "abc");
    auto t = open();
    auto count = [&] {
        int n = 0;
        DIR* d = opendir(("/proc/" + std::to_string(t->pid()) + "/fd").c_str());
        for (struct dirent* e = readdir(d); e; e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
        return n;
    };
    t->command("get f");
    const int before = count();
    for (int i = 0; i < 5; ++i) {
        t->command("get f");
        t->command("put f g");
        t->command("ls -l");
        t->command("get missing");
    }
    EXPECT_EQ(count(), before);
    t->type("quit\n");
    EXPECT_EQ(t->wait(), 0);
}

} // namespace
