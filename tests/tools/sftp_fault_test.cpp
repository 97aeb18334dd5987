// The sftp tool against a server that misbehaves on purpose (the
// "sftpfault" fixture: sshd whose SFTP service is fault_sftp_server.py; the
// name of a file or folder picks the fault).
#include "tests/support/servers.h"
#include "tests/support/tempdir.h"
#include "tests/tools/sftp_session.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <pwd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using sftptest::toolQuoted;
using sftptest::ToolSession;
using testsupport::randomBytes;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

using Clock = std::chrono::steady_clock;

// Far beyond the few seconds the tool grants a silent server after an
// interrupt, and far below "never".
constexpr auto kBackWithin = std::chrono::seconds(30);

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Interrupts the tool every half second until stopped, as the program's
// driver does: an interrupt that comes before the command has begun is
// forgotten by the tool.
class Interrupter {
public:
    explicit Interrupter(pid_t pid)
        : mThread([this, pid] {
              while (!mStop) {
                  kill(pid, SIGINT);
                  for (int i = 0; i < 10 && !mStop; ++i)
                      std::this_thread::sleep_for(std::chrono::milliseconds(50));
              }
          }) {}
    ~Interrupter() {
        mStop = true;
        mThread.join();
    }

private:
    std::atomic<bool> mStop{false};
    std::thread mThread;
};

// The peak memory of a process, in KiB.
long peakKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = 0;
    while (in >> key) {
        if (key == "VmHWM:" && in >> value)
            return value;
        in.ignore(1 << 20, '\n');
    }
    return -1;
}

class SftpFault : public ::testing::Test {
protected:
    void SetUp() override {
        server = testsupport::testServer("sftpfault");
        struct passwd* pw = getpwnam(server.user.c_str());
        ASSERT_NE(pw, nullptr);
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        folder = name + "-" + std::to_string(getpid());
        remote = server.root + "/" + folder;
        ASSERT_EQ(mkdir(remote.c_str(), 0777), 0);
        ASSERT_EQ(lchown(remote.c_str(), pw->pw_uid, pw->pw_gid), 0);
        local = home.file("local");
        ASSERT_EQ(mkdir(local.c_str(), 0755), 0);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(remote, ec);
    }

    std::unique_ptr<ToolSession> open() {
        auto t = std::make_unique<ToolSession>(home.path(), server.port, server.user);
        t->login(server.password, !exists(home.file(".ssh/known_hosts")));
        EXPECT_EQ(t->command("cd " + toolQuoted(folder)), "");
        EXPECT_EQ(t->command("lcd " + toolQuoted(local)), "");
        return t;
    }

    // Types `command`, interrupts the tool until its prompt is back (or it
    // ended), and returns what it printed meanwhile; fails when that takes
    // too long.
    // A transfer is interrupted once it shows progress, so that the server
    // is surely silent by then; other commands a moment after they began.
    std::string interrupted(ToolSession& t, const std::string& command) {
        t.type(command + "\n");
        t.expect("\n"); // the echo
        if (command.compare(0, 3, "ls ") == 0)
            std::this_thread::sleep_for(std::chrono::seconds(1));
        else
            t.expect(" bytes transferred");
        const auto start = Clock::now();
        std::string out;
        {
            Interrupter stop(t.pid());
            try {
                out = t.expect("sftp> ");
            } catch (const std::exception& e) {
                out = e.what(); // the tool ended; its last words tell why
            }
        }
        EXPECT_LT(Clock::now() - start, kBackWithin) << command;
        return out;
    }

    testsupport::TestServer server;
    TempDir home;
    std::string folder, remote, local;
};

TEST_F(SftpFault, ShortReadsOfAnySizeGiveTheWholeFile) {
    const std::pair<const char*, size_t> cases[] = {{"cap-1-a", 5000},
                                                    {"cap-8192-b", 1024 * 1024},
                                                    {"cap-16384-c", 1024 * 1024 + 5},
                                                    {"cap-random-d", 3 * 1024 * 1024 + 77}};
    auto t = open();
    unsigned seed = 1;
    for (const auto& [name, size] : cases) {
        const std::string data = randomBytes(size, seed++);
        writeFile(remote + "/" + name, data);
        const std::string out = t->command(std::string("get ") + name);
        EXPECT_NE(out.find(std::to_string(size) + " bytes transferred"), std::string::npos)
            << name << ": " << out;
        EXPECT_TRUE(readFile(local + "/" + name) == data) << name << " differs";
    }
}

// The size the server gives is no more than where reading stops at first:
// bytes beyond it are read on, and an end before it is the end.
TEST_F(SftpFault, AFileThatGrewOrShrankSinceItsSizeArrivesWhole) {
    const std::pair<const char*, size_t> cases[] = {
        {"small-1-a", 1},  {"small-4096-b", 4096}, {"small-5-c", 100000}, {"small-70000-d", 300000},
        {"big-1-e", 4096}, {"big-100000-f", 5000}, {"big-9-g", 0}};
    auto t = open();
    unsigned seed = 11;
    for (const auto& [name, size] : cases) {
        const std::string data = randomBytes(size, seed++);
        writeFile(remote + "/" + name, data);
        const std::string out = t->command(std::string("get ") + name);
        EXPECT_NE(out.find(std::to_string(size) + " bytes transferred"), std::string::npos)
            << name << ": " << out;
        EXPECT_TRUE(readFile(local + "/" + name) == data) << name << " differs";
    }
}

TEST_F(SftpFault, EmptyDataIsAFailureNotTheEndOfTheFile) {
    writeFile(remote + "/empty-new", "twelve bytes");
    writeFile(remote + "/empty-old", "twelve bytes");
    writeFile(local + "/empty-old", "what stood here");
    auto t = open();
    std::string out = t->command("get empty-new");
    EXPECT_NE(out.find("Couldn't read remote file: the server sends no data"), std::string::npos)
        << out;
    EXPECT_EQ(out.find("bytes transferred"), std::string::npos) << out;
    EXPECT_TRUE(!exists(local + "/empty-new") || readFile(local + "/empty-new").empty());
    out = t->command("get empty-old");
    EXPECT_NE(out.find("Couldn't read remote file"), std::string::npos) << out;
    EXPECT_EQ(readFile(local + "/empty-old"), "what stood here");
}

TEST_F(SftpFault, AnInterruptBringsThePromptBackFromAStalledServer) {
    writeFile(remote + "/stall-get", randomBytes(1024 * 1024, 3));
    ASSERT_EQ(mkdir((remote + "/stalldir-x").c_str(), 0777), 0);
    writeFile(local + "/up", randomBytes(8 * 1024 * 1024, 4));
    writeFile(local + "/stall-get", "kept");
    auto t = open();

    std::string out = interrupted(*t, "get stall-get");
    EXPECT_NE(out.find("Transfer interrupted."), std::string::npos) << out;
    EXPECT_EQ(readFile(local + "/stall-get"), "kept");
    EXPECT_NE(t->command("pwd").find("Remote working directory"), std::string::npos);

    // A fresh session: the server above stays silent for good.
    t = open();
    out = interrupted(*t, "ls -l stalldir-x");
    EXPECT_NE(out.find("Couldn't list directory: Interrupted"), std::string::npos) << out;

    // The server stops reading altogether: the tool is back at its prompt,
    // or, when a request could not be sent whole, ends the session.
    t = open();
    out = interrupted(*t, "put up stall-put");
    EXPECT_TRUE(out.find("Transfer interrupted.") != std::string::npos ||
                out.find("Connection closed") != std::string::npos)
        << out;
}

TEST_F(SftpFault, APacketCutShortThenSilenceEndsTheSessionOnInterrupt) {
    writeFile(remote + "/truncated-f", randomBytes(100000, 5));
    auto t = open();
    t->type("get truncated-f\n");
    t->expect(" bytes transferred");
    const auto start = Clock::now();
    std::string out;
    {
        Interrupter stop(t->pid());
        out = t->expect("Connection closed");
        EXPECT_NE(t->wait(), -1);
    }
    EXPECT_LT(Clock::now() - start, kBackWithin);
}

TEST_F(SftpFault, AListingThatNeverEndsIsCutWithAClearError) {
    ASSERT_EQ(mkdir((remote + "/endless-d").c_str(), 0777), 0);
    auto t = open();
    const std::string out = t->command("ls -l endless-d");
    EXPECT_NE(out.find("Couldn't list directory: the folder holds more than 200000 names"),
              std::string::npos)
        << out.substr(0, 500);
    // Bounded (without the cap it grows for as long as the server sends);
    // roomy enough for a sanitizer build.
    EXPECT_LT(peakKiB(t->pid()), 512 * 1024);
    EXPECT_NE(t->command("pwd").find("Remote working directory"), std::string::npos);
}

TEST_F(SftpFault, AListingThatFailsHalfWayShowsNoneOfIt) {
    // More names than one answer holds: the failure comes with the second
    // read, asked together with the first.
    ASSERT_EQ(mkdir((remote + "/faildir-d").c_str(), 0777), 0);
    for (int i = 0; i < 150; ++i)
        writeFile(remote + "/faildir-d/f" + std::to_string(i), "x");
    auto t = open();
    EXPECT_EQ(t->command("ls -l faildir-d"), "Couldn't list directory: Failure\r\n");
    EXPECT_NE(t->command("pwd").find("Remote working directory"), std::string::npos);
}

TEST_F(SftpFault, ServerTextsCannotForgeLinesAndLongOwnersKeepTheLineWhole) {
    ASSERT_EQ(mkdir((remote + "/longowner-d").c_str(), 0777), 0);
    writeFile(remote + "/longowner-d/the-file", "x");
    auto t = open();
    const std::string listing = t->command("ls -l longowner-d");
    EXPECT_NE(listing.find(std::string(300, 'o') + " group"), std::string::npos) << listing;
    EXPECT_NE(listing.find(" longowner-d/the-file\r\n"), std::string::npos) << listing;

    EXPECT_EQ(t->command("cd hostile-realpath"), "");
    const std::string pwd = t->command("pwd");
    EXPECT_EQ(pwd, "Remote working directory: /?[2J??sftp> evil???\r\n");
}

} // namespace

// Without posix-rename, rename -f sets the file at the new name aside: it
// replaces it when only that name was in the way, and keeps it otherwise.
TEST_F(SftpFault, RenameOverAFileWithoutTheServersHelpReplacesItOrKeepsIt) {
    ASSERT_EQ(mkdir((remote + "/ro").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((remote + "/dir").c_str(), 0755), 0);
    for (const char* name : {"ro/src", "ro/kept", "a", "src", "b", "dir/in", "new"})
        writeFile(remote + "/" + name, name);
    // Read-only to the server's user (the test runs as root, whom
    // permissions do not stop).
    struct passwd* pw = getpwnam(server.user.c_str());
    ASSERT_NE(pw, nullptr);
    ASSERT_EQ(lchown((remote + "/ro").c_str(), pw->pw_uid, pw->pw_gid), 0);
    ASSERT_EQ(chmod((remote + "/ro").c_str(), 0555), 0);
    const std::pair<const char*, const char*> rows[] = {
        {"rename a b", "Couldn't rename file: \"b\" already exists\r\n"}, // no -f: refused
        {"rename -f ro/src a", "Couldn't rename file: Permission denied\r\n"},
        {"rename -f src dir", "Couldn't rename file: \"dir\" already exists\r\n"},
        {"rename -f new ro/kept", "Couldn't rename file: \"ro/kept\" already exists\r\n"},
        {"rename -f src b", ""}, // only the existing name stands in the way
        // Nothing at src: the file at b is not set aside.
        {"rename -f src b", "Couldn't rename file: \"b\" already exists\r\n"},
    };
    auto t = open();
    for (const auto& [command, said] : rows)
        EXPECT_EQ(t->command(command), said) << command;
    std::map<std::string, std::string> files; // every file left, by its content
    for (const auto& e : std::filesystem::recursive_directory_iterator(remote))
        if (e.is_regular_file())
            files[e.path().lexically_relative(remote).string()] = readFile(e.path().string());
    const std::map<std::string, std::string> expected = {
        {"a", "a"},     {"b", "src"},           {"dir/in", "dir/in"},
        {"new", "new"}, {"ro/kept", "ro/kept"}, {"ro/src", "ro/src"}};
    EXPECT_EQ(files, expected);
}
