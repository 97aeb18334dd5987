// A whole run against the scripted FTP server, for what real servers do not
// do on demand: a download whose data connection breaks half way.
#include "engine/EnginePreferences.h"
#include "platform/core/EventLoop.h"
#include "sync/core/SyncCache.h"
#include "sync/window/SyncRun.h"
#include "tests/engine/ftp_scripted_server.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::readFile;
using testsupport::TempDir;
using namespace std::chrono_literals;

namespace {

class QuietRun : public SyncRun {
public:
    std::vector<std::string> asked;
    std::optional<SyncCounts> summary;
    bool closed = false;
    int redials = 0;

protected:
    void ShowTitle(const std::string&) override {}
    void ShowStatus(const std::string&) override {}
    void ShowStopAlert(const std::string& message, const std::string&) override {
        asked.push_back("alert: " + message);
    }
    void ShowCautionAlert(const std::string& message, const std::string& explanation) override {
        asked.push_back("alert: " + message + " / " + explanation);
    }
    void ShowNotice(const std::string& message) override { asked.push_back(message); }
    uint32_t AskFirstTime(const std::string&, const std::string&) override { return 'No  '; }
    std::optional<SyncChoice> AskConflict(const SyncConflict&) override { return std::nullopt; }
    bool AskRedial(const std::string& message, bool byItself) override {
        asked.push_back((byItself ? "redial: " : "redial (waits): ") + message);
        return redials-- > 0;
    }
    bool AskGoOn(const std::string& message, const std::string&) override {
        asked.push_back("go on: " + message);
        return true;
    }
    void ShowTransferStart(const sFileProgress&, uint32_t, uint64_t) override {}
    void ShowTransferUpdate(const sFileProgress&) override {}
    void ShowTransferEnd(const sFileProgress&) override {}
    void HideTransfer(bool) override {}
    void ShowTransferAgain() override {}
    void ShowSummary(const SyncCounts& counts) override { summary = counts; }
    void CloseRun() override { closed = true; }
};

int Listener(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::listen(fd, 4);
    socklen_t length = sizeof(address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

int Accept(int listener) {
    pollfd waiter{listener, POLLIN, 0};
    if (::poll(&waiter, 1, 10000) != 1)
        return -1;
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

// What a server does with commands that came together with another.
enum class Together { Answered, Dropped, Closed421, Refused500 };

// A server listing `listing`; the data connection of "cut.bin" breaks after
// a fifth of the file, either way. The command `unanswered` gets its data
// connection and then nothing, as from a server that lost the session: the
// server waits until the client leaves. Commands sent together fare as
// `together` says; without `renamesOverFiles` the first RNTO is refused as
// by a server that does not rename over a file.
void Serve(ScriptedSession& s, const std::string& listing, const std::string& unanswered = "",
           Together together = Together::Answered, bool renamesOverFiles = true) {
    int port = 0;
    const int listener = Listener(port);
    s.Reply("220 scripted");
    for (;;) {
        const std::string line = s.Read();
        if (line.empty())
            break;
        const std::string verb = line.substr(0, line.find(' '));
        if (s.SentTogether() > 0 && together != Together::Answered) {
            if (together == Together::Refused500)
                s.Reply("500 Command not understood.");
            if (together != Together::Closed421)
                continue;
            s.Reply("421 Too many commands at once.");
            break;
        }
        if (line == unanswered) {
            const int data = Accept(listener);
            while (!s.Read().empty()) {
            }
            if (data >= 0)
                ::close(data);
            break;
        }
        if (verb == "USER") {
            s.Reply("331 password");
        } else if (verb == "PASS") {
            s.Reply("230 in");
        } else if (verb == "SYST") {
            s.Reply("215 UNIX Type: L8");
        } else if (verb == "PWD") {
            s.Reply("257 \"/\" is current");
        } else if (verb == "PASV") {
            char reply[96];
            std::snprintf(reply, sizeof reply, "227 Entering Passive Mode (127,0,0,1,%d,%d).",
                          port >> 8, port & 0xFF);
            s.Reply(reply);
        } else if (verb == "LIST" || verb == "RETR") {
            const int data = Accept(listener);
            s.Reply("150 here it comes");
            if (verb == "LIST") {
                ScriptedSession::SendAll(data, listing);
            } else if (line == "RETR good.txt") {
                ScriptedSession::SendAll(data, "good");
            } else {
                ScriptedSession::SendAll(data, std::string(1000, 'c'));
                ScriptedSession::CloseData(data, true);
                s.Reply("426 Connection closed; transfer aborted.");
                continue;
            }
            ScriptedSession::CloseData(data);
            s.Reply("226 done");
        } else if (verb == "STOR") {
            const int data = Accept(listener);
            s.Reply("150 send it");
            if (line.rfind("STOR cut.bin", 0) == 0) {
                char chunk[1000];
                ::recv(data, chunk, sizeof chunk, MSG_WAITALL);
                ScriptedSession::CloseData(data, true);
                s.Reply("426 Connection closed; transfer aborted.");
            } else {
                ScriptedSession::ReadAll(data);
                ScriptedSession::CloseData(data);
                s.Reply("226 stored");
            }
        } else if (verb == "RNTO" && !renamesOverFiles) {
            s.Reply("553 File exists.");
            renamesOverFiles = true; // once the target is gone
        } else if (verb == "DELE" || verb == "RNTO") {
            s.Reply("250 done");
        } else if (verb == "SITE") {
            s.Reply("200 mode changed");
        } else if (verb == "RNFR") {
            s.Reply("350 ready");
        } else if (verb == "MDTM") {
            s.Reply("213 20260110110000");
        } else if (verb == "QUIT") {
            s.Reply("221 bye");
            break;
        } else if (verb == "CWD") {
            s.Reply("250 ok");
        } else if (verb == "TYPE" || verb == "NOOP") {
            s.Reply("200 ok");
        } else if (verb == "REST") {
            s.Reply("350 ok");
        } else {
            s.Reply("502 not here");
        }
    }
    ::close(listener);
}

// A test's own preferences folder (where the cache goes) and local folder.
struct Places {
    TempDir home, scratch;
    const std::string local = scratch.path() + "/local";
    Places() {
        ::setenv("XDG_CONFIG_HOME", home.path().c_str(), 1);
        ::mkdir(local.c_str(), 0755);
    }
    ~Places() { ::unsetenv("XDG_CONFIG_HOME"); }
};

sSyncBookMarkData Bookmark(const std::string& name, int port, const std::string& local,
                           int32_t action) {
    sSyncBookMarkData bookmark;
    bookmark.name = name;
    bookmark.host = "127.0.0.1";
    bookmark.port = port;
    bookmark.username = "user";
    bookmark.password = "secret";
    bookmark.passive = true;
    bookmark.localDir = local;
    bookmark.action = action;
    return bookmark;
}

} // namespace

TEST(SyncRunScripted, ADownloadCutShortLeavesNothingAndIsNotRecorded) {
    const Places places;
    const std::string& local = places.local;
    ScriptedFtpServer server([](ScriptedSession& s) {
        Serve(s, "-rw-r--r--   1 user group     5000 Jan 10 12:00 cut.bin\r\n"
                 "-rw-r--r--   1 user group        4 Jan 10 12:00 good.txt\r\n");
    });

    const sSyncBookMarkData bookmark = Bookmark("scripted", server.Port(), local, 2);
    {
        QuietRun run;
        run.StartSession(bookmark);
        ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return run.closed; }, 60s));
        ASSERT_EQ(run.asked.size(), 1u) << run.asked.back();
        EXPECT_EQ(run.asked[0].rfind("go on: ", 0), 0u) << run.asked[0];
        ASSERT_TRUE(run.summary);
        EXPECT_EQ(*run.summary, (SyncCounts{0, 1, 0, 1}));
    }
    server.Finish();

    // Only the complete file, and no folder of half-done downloads.
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(local.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (entry->d_name[0] != '.' || std::string(entry->d_name).size() > 2)
                names.push_back(entry->d_name);
        ::closedir(dir);
    }
    names.erase(std::remove(names.begin(), names.end(), ".."), names.end());
    EXPECT_EQ(names, std::vector<std::string>{"good.txt"});
    EXPECT_EQ(readFile(local + "/good.txt"), "good");

    std::vector<sFileInfo> cachedLocal, cachedRemote;
    ASSERT_EQ(LoadSyncFile(bookmark.name, cachedLocal, cachedRemote).status, SyncCacheLoad::Loaded);
    ASSERT_EQ(cachedRemote.size(), 1u);
    EXPECT_EQ(cachedRemote[0].name, "good.txt");
}

TEST(SyncRunScripted, ARefusedConnectionOffersRedialsUntilDeclined) {
    // A port nobody listens on.
    int port = 0;
    ::close(Listener(port));
    const sSyncBookMarkData bookmark = Bookmark("nobody", port, "/", 1);
    QuietRun run;
    run.redials = 1;
    run.StartSession(bookmark);
    ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return run.closed; }, 60s));
    const std::string expected =
        "redial: Make sure you typed the address and port of the remote server correctly.\n"
        "If you continue to have problems connecting, please contact the server "
        "administrator.\n";
    EXPECT_EQ(run.asked, (std::vector<std::string>{expected, expected}));
    EXPECT_FALSE(run.summary);

    // A refused login would only be refused again (and may lock the
    // account): the sheet says so and does not redial by itself.
    ScriptedFtpServer refusing([](ScriptedSession& s) {
        s.Reply("220 scripted");
        s.Read();
        s.Reply("331 password");
        s.Read();
        s.Reply("530 Login incorrect.");
        s.Read();
    });
    QuietRun refused;
    refused.StartSession(Bookmark("refused", refusing.Port(), "/", 1));
    ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return refused.closed; }, 60s));
    ASSERT_EQ(refused.asked.size(), 1u);
    EXPECT_EQ(refused.asked[0].rfind("redial (waits): The server refused the login as \"user\":\n"
                                     "Login incorrect.",
                                     0),
              0u)
        << refused.asked[0];
}

// Uploads go beside their target and take its place only once whole.
TEST(SyncRunScripted, AnUploadNeverStandsUnderItsNameUntilItIsWhole) {
    const std::string older = "-rw-------   1 user group        3 Jan 10  2020 old.txt\r\n";
    const struct Row {
        const char* what;
        std::string file, listing;
        bool renamesOverFiles;
        SyncCounts counts;
        std::vector<std::string> sent; // in this order, among the commands
        std::vector<std::string> never;
    } rows[] = {
        {"a cut upload of a new file leaves no part",
         "cut.bin",
         "",
         true,
         {0, 0, 0, 1},
         {"STOR cut.bin.zarvel-upload", "DELE cut.bin.zarvel-upload"},
         {"STOR cut.bin", "RNTO cut.bin"}},
        {"a whole upload replaces the file, keeping its permissions",
         "old.txt",
         older,
         true,
         {1, 0, 0, 0},
         {"STOR old.txt.zarvel-upload", "SITE CHMOD 600 old.txt.zarvel-upload",
          "RNFR old.txt.zarvel-upload", "RNTO old.txt"},
         {"STOR old.txt", "DELE old.txt"}},
        {"a server that does not rename over a file",
         "old.txt",
         older,
         false,
         {1, 0, 0, 0},
         {"STOR old.txt.zarvel-upload", "RNTO old.txt", "DELE old.txt",
          "RNFR old.txt.zarvel-upload", "RNTO old.txt"},
         {"STOR old.txt"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Places places;
        const std::string& local = places.local;
        testsupport::writeFile(local + "/" + row.file, std::string(200000, 'u'));
        const struct timespec later[2] = {{0, UTIME_OMIT}, {1900000000, 0}};
        ::utimensat(AT_FDCWD, (local + "/" + row.file).c_str(), later, 0);
        ScriptedFtpServer server([&](ScriptedSession& s) {
            Serve(s, row.listing, "", Together::Answered, row.renamesOverFiles);
        });
        const sSyncBookMarkData bookmark = Bookmark("scripted-upload", server.Port(), local, 1);
        {
            QuietRun run;
            run.StartSession(bookmark);
            ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return run.closed; }, 60s));
            ASSERT_TRUE(run.summary);
            EXPECT_EQ(*run.summary, row.counts);
        }
        const std::vector<std::string> commands = server.Finish();
        auto at = commands.begin();
        for (const std::string& command : row.sent) {
            at = std::find(at, commands.end(), command);
            EXPECT_NE(at, commands.end()) << command;
        }
        for (const std::string& command : row.never)
            EXPECT_EQ(std::find(commands.begin(), commands.end(), command), commands.end())
                << command;
        EXPECT_EQ(commands.back(), "QUIT");
    }
}

// A server that mishandles commands sent together costs one new session; the
// dates are then asked one at a time and the run goes on.
TEST(SyncRunScripted, DatesComeOneByOneFromAServerThatLosesCommandsSentTogether) {
    SetEnginePreferencesProvider([] {
        EnginePreferences prefs;
        prefs.ftpTimeoutSecs = 2;
        return prefs;
    });
    const std::string listing = "-rw-r--r--   1 user group        4 Jan 10 12:00 a.txt\r\n"
                                "-rw-r--r--   1 user group        4 Jan 10 12:00 b.txt\r\n"
                                "-rw-r--r--   1 user group        4 Jan 10 12:00 c.txt\r\n";
    for (Together together : {Together::Dropped, Together::Closed421, Together::Refused500}) {
        SCOPED_TRACE(static_cast<int>(together));
        const Places places;
        const std::string& local = places.local;
        ScriptedFtpServer server([&](ScriptedSession& s) { Serve(s, listing, "", together); }, 2);
        const sSyncBookMarkData bookmark = Bookmark("scripted-dates", server.Port(), local, 1);
        {
            QuietRun run;
            run.StartSession(bookmark);
            ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return run.closed; }, 60s));
            EXPECT_EQ(run.asked, std::vector<std::string>{}) << run.asked.front();
            ASSERT_TRUE(run.summary);
            EXPECT_EQ(*run.summary, (SyncCounts{0, 0, 0, 0}));
        }
        const std::vector<std::string> commands = server.Finish();
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "USER user"), 2);
        std::vector<sFileInfo> cachedLocal, cachedRemote;
        ASSERT_EQ(LoadSyncFile(bookmark.name, cachedLocal, cachedRemote).status,
                  SyncCacheLoad::Loaded);
        ASSERT_EQ(cachedRemote.size(), 3u);
        for (const sFileInfo& file : cachedRemote)
            EXPECT_EQ(file.modDate.year, 2026) << file.name;
    }
    SetEnginePreferencesProvider({});
}

TEST(SyncRunScripted, AServerThatStopsAnsweringEndsTheRunWithAnError) {
    const Places places;
    const std::string& local = places.local;
    testsupport::writeFile(local + "/stuck.txt", "never acknowledged");
    SetEnginePreferencesProvider([] {
        EnginePreferences prefs;
        prefs.ftpTimeoutSecs = 2;
        return prefs;
    });
    ScriptedFtpServer server(
        [](ScriptedSession& s) { Serve(s, "", "STOR stuck.txt.zarvel-upload"); });

    const sSyncBookMarkData bookmark = Bookmark("scripted-silent", server.Port(), local, 1);
    {
        QuietRun run;
        run.StartSession(bookmark);
        // Well past the engine's time-out, far short of any default one.
        ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return run.closed; }, 30s));
        EXPECT_FALSE(run.summary);
        // One alert: the connection is gone, and what the engine said.
        ASSERT_EQ(run.asked.size(), 1u);
        EXPECT_EQ(run.asked[0], "alert: Connection Lost / The remote server has closed the "
                                "connection.\n\nTimed out waiting for data");
    }
    SetEnginePreferencesProvider({});
    const std::vector<std::string> commands = server.Finish();
    EXPECT_EQ(commands.back(), "STOR stuck.txt.zarvel-upload");
    std::vector<sFileInfo> cachedLocal, cachedRemote;
    EXPECT_EQ(LoadSyncFile(bookmark.name, cachedLocal, cachedRemote).status,
              SyncCacheLoad::Missing);
}

TEST(SyncRunScripted, ABookmarkWithAnActionItCannotHoldIsDamagedAndNothingRuns) {
    for (int32_t action : {0, 4}) {
        const sSyncBookMarkData bookmark = Bookmark("foreign", 1, "/", action); // never dialled
        QuietRun run;
        run.StartSession(bookmark);
        EXPECT_TRUE(run.closed);
        EXPECT_EQ(run.asked, std::vector<std::string>{
                                 "alert: The synchronization bookmark \"foreign\" is damaged."});
        EXPECT_FALSE(run.summary);
    }
}
