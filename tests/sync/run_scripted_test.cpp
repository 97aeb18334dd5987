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
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
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

// How a server answers RNTO.
enum class Renames { Over, OntoFreeNames, Refuse553, Refuse550, Refuse450 };

// How a server answers "LIST -a": as an option, or as the servers that take
// it for a path do.
enum class HiddenOption { Understood, ListsNothing, Refuses550, Refuses451 };

// A server's files, by path, with their permission letters; it lists hidden
// ones for "LIST -a" only. `cutAfterAside`: the session ends at the first
// command after a file was renamed from its own name to a hidden one.
// Nothing is renamed onto `filtered`, whatever stands there.
struct RemoteFiles {
    std::map<std::string, std::string> modes;
    Renames renames = Renames::Over;
    bool cutAfterAside = false;
    std::string filtered = {};
    HiddenOption hiddenOption = HiddenOption::Understood;

    // The entries right inside FOLDER ("" for the top).
    std::string Listing(bool hidden, const std::string& folder = "") const {
        std::string listing;
        for (const auto& [path, mode] : modes) {
            const size_t slash = path.rfind('/');
            const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
            if ((slash == std::string::npos ? "" : path.substr(0, slash)) == folder &&
                (hidden || name[0] != '.'))
                listing += mode + "   1 user group        3 Jan 10  2020 " + name + "\r\n";
        }
        return listing;
    }
    // The reply to RNTO, the file moved when it is a 250.
    std::string Rename(const std::string& from, const std::string& to) {
        const char* const refusals[] = {"553 File name not allowed.", "550 Operation not permitted",
                                        "450 File busy"};
        if (renames >= Renames::Refuse553)
            return refusals[static_cast<int>(renames) - static_cast<int>(Renames::Refuse553)];
        if (to == filtered)
            return "553 Rename to this name is not allowed.";
        if (!modes.contains(from))
            return "550 No such file";
        if (renames == Renames::OntoFreeNames && modes.contains(to))
            return "553 File exists.";
        modes[to] = modes[from];
        modes.erase(from);
        return "250 renamed";
    }
};

// A server listing `listing` (or `files`, kept up to date by STOR, RNFR and
// RNTO, DELE); the data connection of "cut.bin" breaks after a fifth of the
// file, either way. The command starting with `unanswered` gets its data
// connection and then nothing, as from a server that lost the session: the
// server waits until the client leaves. Commands sent together fare as
// `together` says.
void Serve(ScriptedSession& s, const std::string& listing, const std::string& unanswered = "",
           Together together = Together::Answered, RemoteFiles* files = nullptr) {
    int port = 0;
    const int listener = Listener(port);
    std::string renameFrom;
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
        if (!unanswered.empty() && line.rfind(unanswered, 0) == 0) {
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
            const bool hidden = line.rfind("LIST -a", 0) == 0;
            if (files && hidden && files->hiddenOption >= HiddenOption::Refuses550) {
                ScriptedSession::CloseData(data);
                s.Reply(files->hiddenOption == HiddenOption::Refuses550
                            ? "550 -a: No such file or directory."
                            : "451 Requested action aborted: local error in processing.");
                continue;
            }
            s.Reply("150 here it comes");
            if (verb == "LIST") {
                const std::string folder =
                    line.size() > (hidden ? 8 : 5) ? line.substr(hidden ? 8 : 5) : std::string();
                const bool nothing =
                    files && hidden && files->hiddenOption == HiddenOption::ListsNothing;
                ScriptedSession::SendAll(data, !files    ? listing
                                               : nothing ? std::string()
                                                         : files->Listing(hidden, folder));
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
            if (line.find("cut.bin") != std::string::npos) {
                char chunk[1000];
                ::recv(data, chunk, sizeof chunk, MSG_WAITALL);
                ScriptedSession::CloseData(data, true);
                s.Reply("426 Connection closed; transfer aborted.");
            } else {
                ScriptedSession::ReadAll(data);
                ScriptedSession::CloseData(data);
                if (files)
                    files->modes[line.substr(5)] = "-rw-r--r--";
                s.Reply("226 stored");
            }
        } else if (files && verb == "RNFR") {
            renameFrom = line.substr(5);
            s.Reply(files->modes.contains(renameFrom) ? "350 ready" : "550 No such file");
        } else if (files && verb == "RNTO") {
            const std::string to = line.substr(5);
            const std::string reply = files->Rename(renameFrom, to);
            s.Reply(reply);
            // npos + 1 is 0: a bare name's first character.
            if (files->cutAfterAside && reply[0] == '2' && to[to.rfind('/') + 1] == '.' &&
                renameFrom[renameFrom.rfind('/') + 1] != '.') {
                s.Read();
                break;
            }
        } else if (files && verb == "SIZE") {
            const auto found = files->modes.find(line.substr(5));
            s.Reply(found != files->modes.end() && found->second[0] == '-' ? "213 3"
                                                                           : "550 Not a file");
        } else if (files && verb == "DELE") {
            s.Reply(files->modes.erase(line.substr(5)) ? "250 deleted" : "550 No such file");
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

// A temporary name of an upload to `name`, as a pattern.
std::string Part(const std::string& name) {
    return "\\." + std::regex_replace(name, std::regex(R"(\.)"), "\\.") +
           "\\.[0-9a-f]{8}\\.zarvel-upload";
}

// Uploads go beside their target and take its place only once whole; a
// refused rename never costs the target, and leaves no temporary file.
TEST(SyncRunScripted, AnUploadNeverStandsUnderItsNameUntilItIsWhole) {
    const std::string leftover = ".old.txt.0badf00d.zarvel-upload";
    const struct Row {
        const char* what;
        std::string file;
        std::map<std::string, std::string> remote; // name -> permissions
        Renames renames;
        SyncCounts counts;
        std::vector<std::string> sent; // patterns, in this order, among the commands
        std::vector<std::string> never;
        std::string alert;
        std::string filtered = {}; // a name nothing is renamed onto
        bool keptAside = false;    // the old file ends under a temporary name the alert gives
        HiddenOption hiddenOption = HiddenOption::Understood;
    } rows[] = {
        {"a cut upload of a new file leaves no temporary file",
         "cut.bin",
         {},
         Renames::Over,
         {0, 0, 0, 1},
         {"STOR " + Part("cut.bin"), "DELE " + Part("cut.bin")},
         {"STOR cut.bin", "RNTO cut.bin"},
         "alert: "},
        {"a whole upload replaces the file, keeping its permissions, and takes the leftovers",
         "old.txt",
         {{"old.txt", "-rw-------"}, {leftover, "-rw-r--r--"}},
         Renames::Over,
         {1, 0, 0, 0},
         {"STOR " + Part("old.txt"), "SITE CHMOD 600 " + Part("old.txt"), "RNFR " + Part("old.txt"),
          "RNTO old.txt", "DELE \\" + leftover},
         {"STOR old.txt", "DELE old.txt"},
         {}},
        {"a server that renames only onto free names",
         "old.txt",
         {{"old.txt", "-rw-r--r--"}},
         Renames::OntoFreeNames,
         {1, 0, 0, 0},
         {"RNTO old.txt", "RNFR old.txt", "RNTO " + Part("old.txt"), "RNTO old.txt",
          "DELE " + Part("old.txt")},
         {"DELE old.txt"},
         {}},
        {"a name filter on a server that renames over files: the target is never moved",
         "old.txt",
         {{"old.txt", "-rw-r--r--"}},
         Renames::Over,
         {0, 0, 0, 1},
         {"RNTO old.txt", "DELE " + Part("old.txt")},
         {"RNFR old.txt", "DELE old.txt"},
         "alert: Rename to this name is not allowed.",
         "old.txt"},
        {"a name filter on a server that renames onto free names only: the alert names where the "
         "old file stays",
         "old.txt",
         {{"old.txt", "-rw-r--r--"}},
         Renames::OntoFreeNames,
         {0, 0, 0, 1},
         {"RNTO old.txt", "RNFR old.txt", "RNTO " + Part("old.txt"), "RNTO old.txt"},
         {"DELE old.txt"},
         "alert: Could not replace \"old.txt\": the old file, set aside to make room, could not be "
         "put back; it is kept as \".old.txt.",
         "old.txt",
         true},
        {"a server whose listings cannot show temporary files: the target is never moved",
         "old.txt",
         {{"old.txt", "-rw-r--r--"}},
         Renames::OntoFreeNames,
         {0, 0, 0, 1},
         {"RNTO old.txt", "DELE " + Part("old.txt")},
         {"RNFR old.txt", "DELE old.txt"},
         "alert: File exists.",
         {},
         false,
         HiddenOption::ListsNothing},
    };
    std::vector<Row> all(std::begin(rows), std::end(rows));
    for (const auto& [renames, text] : {std::pair{Renames::Refuse553, "File name not allowed."},
                                        std::pair{Renames::Refuse550, "Operation not permitted"},
                                        std::pair{Renames::Refuse450, "File busy"}})
        all.push_back({text,
                       "old.txt",
                       {{"old.txt", "-rw-r--r--"}},
                       renames,
                       {0, 0, 0, 1},
                       {"RNTO old.txt", "DELE " + Part("old.txt")},
                       {"DELE old.txt"},
                       std::string("alert: ") + text});
    for (const Row& row : all) {
        SCOPED_TRACE(row.what);
        const Places places;
        const std::string& local = places.local;
        testsupport::writeFile(local + "/" + row.file, std::string(200000, 'u'));
        const struct timespec later[2] = {{0, UTIME_OMIT}, {1900000000, 0}};
        ::utimensat(AT_FDCWD, (local + "/" + row.file).c_str(), later, 0);
        RemoteFiles files{row.remote, row.renames, false, row.filtered};
        files.hiddenOption = row.hiddenOption;
        std::string alert;
        ScriptedFtpServer server([&](ScriptedSession& s) {
            Serve(s, "", "", Together::Answered, row.file == "cut.bin" ? nullptr : &files);
        });
        const sSyncBookMarkData bookmark = Bookmark("scripted-upload", server.Port(), local, 1);
        {
            QuietRun run;
            run.StartSession(bookmark);
            ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return run.closed; }, 60s));
            ASSERT_TRUE(run.summary);
            EXPECT_EQ(*run.summary, row.counts);
            // One alert or none; what a cut says depends on the moment it
            // meets the client, so that row gives only its start.
            EXPECT_EQ(run.asked.size(), row.alert.empty() ? 0u : 1u);
            for (const std::string& said : run.asked)
                EXPECT_EQ(said.substr(0, row.alert.size()), row.alert);
            alert = run.asked.empty() ? "" : run.asked[0];
        }
        const std::vector<std::string> commands = server.Finish();
        auto at = commands.begin();
        for (const std::string& pattern : row.sent) {
            at = std::find_if(at, commands.end(), [&](const std::string& command) {
                return std::regex_match(command, std::regex(pattern));
            });
            EXPECT_NE(at, commands.end()) << pattern;
        }
        for (const std::string& command : row.never)
            EXPECT_EQ(std::find(commands.begin(), commands.end(), command), commands.end())
                << command;
        EXPECT_EQ(commands.back(), "QUIT");
        if (row.file == "cut.bin")
            continue;
        // The target as a server holds it: replaced, or as it was; no other
        // temporary file.
        if (row.keptAside) {
            ASSERT_EQ(files.modes.size(), 1u);
            const auto& [name, mode] = *files.modes.begin();
            EXPECT_TRUE(std::regex_match(name, std::regex(Part("old.txt")))) << name;
            EXPECT_EQ(mode, row.remote.at("old.txt"));
            EXPECT_NE(alert.find("\"" + name + "\""), std::string::npos) << alert;
            continue;
        }
        std::map<std::string, std::string> expected{{"old.txt", row.remote.at("old.txt")}};
        if (row.counts.uploaded)
            expected["old.txt"] = "-rw-r--r--";
        EXPECT_EQ(files.modes, expected);
    }
}

// A link cut after the target went aside: the next run finds the name gone
// but its temporary files there, and neither deletes nor fetches anything.
TEST(SyncRunScripted, ALinkCutInTheMiddleOfAReplaceCostsNoLocalFile) {
    const Places places;
    const std::string& local = places.local;
    testsupport::writeFile(local + "/old.txt", "the only copy of the new text");
    const struct timespec later[2] = {{0, UTIME_OMIT}, {1900000000, 0}};
    ::utimensat(AT_FDCWD, (local + "/old.txt").c_str(), later, 0);
    RemoteFiles files{{{"old.txt", "-rw-r--r--"}}, Renames::OntoFreeNames, true};
    ScriptedFtpServer server(
        [&](ScriptedSession& s) { Serve(s, "", "", Together::Answered, &files); }, 2);
    sSyncBookMarkData bookmark = Bookmark("scripted-cut", server.Port(), local, 3);
    {
        QuietRun run;
        run.StartSession(bookmark);
        ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return run.closed; }, 60s));
        EXPECT_FALSE(run.summary);
    }
    ASSERT_FALSE(files.modes.contains("old.txt"));
    ASSERT_EQ(files.modes.size(), 2u) << "the old file aside and the new one beside it";
    bookmark.action = 2;
    bookmark.deleteLocal = true;
    {
        QuietRun run;
        run.StartSession(bookmark);
        ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return run.closed; }, 60s));
        ASSERT_TRUE(run.summary);
        EXPECT_EQ(*run.summary, (SyncCounts{0, 0, 0, 0}));
    }
    // The second session, after its login.
    const std::vector<std::string> commands = server.Finish();
    const auto second = std::find(std::find(commands.begin(), commands.end(), "USER user") + 1,
                                  commands.end(), "USER user");
    ASSERT_NE(second, commands.end());
    for (auto command = second; command != commands.end(); ++command)
        EXPECT_TRUE(command->rfind("RETR", 0) != 0 && command->rfind("DELE", 0) != 0) << *command;
    EXPECT_EQ(readFile(local + "/old.txt"), "the only copy of the new text");
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
    ScriptedFtpServer server([](ScriptedSession& s) { Serve(s, "", "STOR .stuck.txt."); });

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
    EXPECT_TRUE(std::regex_match(commands.back(), std::regex("STOR " + Part("stuck.txt"))))
        << commands.back();
    std::vector<sFileInfo> cachedLocal, cachedRemote;
    EXPECT_EQ(LoadSyncFile(bookmark.name, cachedLocal, cachedRemote).status,
              SyncCacheLoad::Missing);
}

// A server that takes "-a" for a path (an empty listing, 550 or 451): the
// run lists plainly, so a download mirror deletes only what the server does
// not hold, and completes.
TEST(SyncRunScripted, AServerThatMisreadsTheHiddenOptionIsListedPlainly) {
    for (HiddenOption option :
         {HiddenOption::ListsNothing, HiddenOption::Refuses550, HiddenOption::Refuses451}) {
        SCOPED_TRACE(static_cast<int>(option));
        const Places places;
        const std::string& local = places.local;
        ::mkdir((local + "/sub").c_str(), 0755);
        for (const char* name : {"a.txt", "sub/b.txt", "c.txt"}) {
            testsupport::writeFile(local + "/" + name, "abc");
            // The moment every MDTM of the server answers.
            const struct timespec listed[2] = {{0, UTIME_OMIT}, {1768042800, 0}};
            ::utimensat(AT_FDCWD, (local + "/" + name).c_str(), listed, 0);
        }
        RemoteFiles files{
            {{"a.txt", "-rw-r--r--"}, {"sub", "drwxr-xr-x"}, {"sub/b.txt", "-rw-r--r--"}}};
        files.hiddenOption = option;
        ScriptedFtpServer server(
            [&](ScriptedSession& s) { Serve(s, "", "", Together::Answered, &files); });
        sSyncBookMarkData bookmark = Bookmark("scripted-hidden", server.Port(), local, 2);
        bookmark.deleteLocal = true;
        {
            QuietRun run;
            run.StartSession(bookmark);
            ASSERT_TRUE(PPx::RunEventLoopUntil([&] { return run.closed; }, 60s));
            EXPECT_EQ(run.asked, std::vector<std::string>{}) << run.asked.front();
            ASSERT_TRUE(run.summary);
            EXPECT_EQ(*run.summary, (SyncCounts{0, 0, 1, 0}));
        }
        server.Finish();
        EXPECT_EQ(readFile(local + "/a.txt"), "abc");
        EXPECT_EQ(readFile(local + "/sub/b.txt"), "abc");
        struct stat gone {};
        EXPECT_NE(::lstat((local + "/c.txt").c_str(), &gone), 0);
    }
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
