// The FTP engine against a scripted server: replies and data connections that
// real servers rarely produce, and the faults the engine must survive.
#include "engine/FTPEngine.h"
#include "tests/engine/ftp_scripted_server.h"
#include "tests/support/tempdir.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

bool Login(FTPEngine& engine, const ScriptedFtpServer& server, int timeout = 3) {
    return engine.Connect("127.0.0.1", server.Port(), timeout) &&
           engine.Authenticate("user", "secret", "");
}

bool Contains(const std::vector<std::string>& commands, const std::string& prefix) {
    for (const auto& c : commands)
        if (c.rfind(prefix, 0) == 0)
            return true;
    return false;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* e = readdir(dir))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        closedir(dir);
    }
    return names;
}

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7919 + i / 253) & 0xFF);
    return bytes;
}

} // namespace

TEST(FtpReplies, SplitAtEveryByteMultiLineAndBareLF) {
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Send("220-Welcome\r\n220-second line\r\n220 Ready\r\n", 1);
        s.Expect("USER");
        s.Send("331 Password\n"); // bare LF
        s.Expect("PASS");
        s.Send("230-Hello\r\n  230 indented, not the end\r\nfree text\r\n230 Done\r\n", 3);
        s.Expect("PWD");
        s.Reply("257 \"" + std::string(20000, 'd') + "/x\"\"y\" is current");
        s.Expect("NOOP");
        s.Reply("200 OK");
    });
    FTPEngine engine;
    ASSERT_TRUE(engine.Connect("127.0.0.1", server.Port(), 3)) << engine.GetLastError();
    EXPECT_EQ(std::string(engine.GetLastError()), "220-Welcome\r\n220-second line\r\n220 Ready");
    ASSERT_TRUE(engine.Authenticate("u", "p", "")) << engine.GetLastError();
    // A deep working folder: long lines work, and a doubled quote is one quote.
    std::string path;
    ASSERT_TRUE(engine.SendGetWorkingDir(path)) << engine.GetLastError();
    EXPECT_EQ(path, std::string(20000, 'd') + "/x\"y");
    // The multi-line 230 must have been read whole, or NOOP gets its tail.
    EXPECT_TRUE(engine.SendNOOP()) << engine.GetLastError();
    EXPECT_EQ(engine.GetResponseCode(), 200);
}

TEST(FtpReplies, CompletionHelpers) {
    FTPEngine engine;
    EXPECT_FALSE(engine.HaveCompleteBuffer("220-Welcome\r\n"));
    EXPECT_TRUE(engine.HaveCompleteBuffer("220-Welcome\r\n220 Ready\r\n"));
    EXPECT_FALSE(engine.HaveCompleteBuffer("220-Welcome\r\n220-x\r\nfree\r\n"));
    EXPECT_TRUE(engine.HaveCompleteBuffer("200 OK\n"));
    EXPECT_EQ(engine.PointToNextLine("ab\rcd", 0), 3u);
    EXPECT_EQ(engine.PointToNextLine("ab\r\ncd", 0), 4u);
    EXPECT_EQ(engine.PointToNextLine("abcd", 1), 4u);
}

TEST(FtpReplies, EndlessLineAndFloodAreRefusedNotStored) {
    // A reply line that never ends must not fill memory: the engine gives up
    // and drops the control connection.
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        s.Expect("NOOP");
        s.Send("200 " + std::string(FTPEngine::kMaxReplyLine + 4096, 'x'));
        s.Read(); // until the client hangs up
    });
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server));
    EXPECT_FALSE(engine.SendNOOP());
    EXPECT_FALSE(engine.IsConnected());
    server.Finish();

    ScriptedFtpServer flood([](ScriptedSession& s) {
        s.Login();
        s.Expect("NOOP");
        std::string lines;
        for (int i = 0; i < 2000; ++i)
            lines += "200-" + std::string(1000, 'y') + "\r\n";
        s.Send(lines);
        s.Read();
    });
    FTPEngine engine2;
    ASSERT_TRUE(Login(engine2, flood));
    EXPECT_FALSE(engine2.SendNOOP());
    EXPECT_FALSE(engine2.IsConnected());
}

TEST(FtpReplies, GreetingAndDisconnect) {
    ScriptedFtpServer server([](ScriptedSession& s) { s.Reply("421 Too many users"); });
    FTPEngine engine;
    EXPECT_FALSE(engine.Connect("127.0.0.1", server.Port(), 3));
    EXPECT_EQ(std::string(engine.GetLastError()), "421 Too many users");
    server.Finish();

    ScriptedFtpServer gone([](ScriptedSession& s) {
        s.Login();
        s.Close();
    });
    FTPEngine engine2;
    ASSERT_TRUE(Login(engine2, gone));
    gone.Finish();
    EXPECT_FALSE(engine2.ChangeDir("x"));
    EXPECT_FALSE(engine2.IsConnected());
    EXPECT_FALSE(engine2.SendNOOP());
    EXPECT_STREQ(engine2.GetLastError(), "Disconnected");
}

TEST(FtpCommands, LineBreakOrNulInANameIsNeverSent) {
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        s.Expect("NOOP");
        s.Reply("200 OK");
    });
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server));
    EXPECT_FALSE(engine.ChangeDir("a\r\nDELE victim"));
    EXPECT_FALSE(engine.DeleteFile(std::string("a\0b", 3)));
    EXPECT_FALSE(engine.SendRename("ok", "b\nDELE victim"));
    EXPECT_FALSE(engine.SendCreateFolder("x\ry"));
    EXPECT_STREQ(engine.GetLastError(), "A name or path holds a line break or NUL character");
    EXPECT_TRUE(engine.IsConnected());
    EXPECT_TRUE(engine.SendNOOP());
    const auto commands = server.Finish();
    EXPECT_FALSE(Contains(commands, "DELE"));
    EXPECT_FALSE(Contains(commands, "CWD"));
    EXPECT_FALSE(Contains(commands, "RNFR"));
    EXPECT_FALSE(Contains(commands, "MKD"));
}

TEST(FtpCommands, LoginWithAccountOnlyWhenAsked) {
    ScriptedFtpServer asks([](ScriptedSession& s) {
        s.Reply("220 Hi");
        s.Expect("USER bob");
        s.Reply("331 Password");
        s.Expect("PASS pw");
        s.Reply("332 Need account for login");
        s.Expect("ACCT acct");
        s.Reply("230 In");
    });
    FTPEngine engine;
    ASSERT_TRUE(engine.Connect("127.0.0.1", asks.Port(), 3));
    EXPECT_TRUE(engine.Authenticate("bob", "pw", "acct")) << engine.GetLastError();
    asks.Finish();

    ScriptedFtpServer plain([](ScriptedSession& s) {
        s.Reply("220 Hi");
        s.Expect("USER anonymous");
        s.Reply("331 Password");
        s.Expect("PASS anon@");
        s.Reply("230 In");
        s.Expect("NOOP");
        s.Reply("200 OK");
    });
    FTPEngine engine2;
    ASSERT_TRUE(engine2.Connect("127.0.0.1", plain.Port(), 3));
    EXPECT_TRUE(engine2.Authenticate("", "", "unused"));
    EXPECT_TRUE(engine2.SendNOOP());
    EXPECT_FALSE(Contains(plain.Finish(), "ACCT"));

    ScriptedFtpServer noAccount([](ScriptedSession& s) {
        s.Reply("220 Hi");
        s.Expect("USER");
        s.Reply("331 Password");
        s.Expect("PASS");
        s.Reply("332 Need account");
    });
    FTPEngine engine3;
    ASSERT_TRUE(engine3.Connect("127.0.0.1", noAccount.Port(), 3));
    EXPECT_FALSE(engine3.Authenticate("bob", "pw", ""));
    EXPECT_EQ(engine3.GetResponseCode(), 332);
}

TEST(FtpCommands, MkdirExistsIsNotDoesNotExist) {
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        s.Expect("MKD a");
        s.Reply("550 a: File exists");
        s.Expect("MKD b/c");
        s.Reply("550 b: Directory does not exist");
        s.Expect("MKD d/e");
        s.Reply("550 No such file or directory");
        s.Expect("MKD f");
        s.Reply("550 Permission denied");
        s.Expect("MKD g");
        s.Reply("257 \"g\" created");
    });
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server));
    EXPECT_TRUE(engine.SendCreateFolder("a"));
    EXPECT_FALSE(engine.SendCreateFolder("b/c"));
    EXPECT_FALSE(engine.SendCreateFolder("d/e"));
    EXPECT_FALSE(engine.SendCreateFolder("f"));
    EXPECT_STREQ(engine.GetLastError(), "550 Permission denied");
    EXPECT_TRUE(engine.SendCreateFolder("g"));
}

TEST(FtpCommands, ModTimeAndSimpleCommands) {
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        s.Expect("MDTM f");
        s.Reply("213 20050102030405");
        s.Expect("MDTM g");
        s.Reply("213 2005");
        s.Expect("SYST");
        s.Reply("215 UNIX Type: L8");
        s.Expect("SITE CHMOD 755 f");
        s.Reply("200 SITE CHMOD command successful");
        s.Expect("RNFR f");
        s.Reply("550 No such file");
        s.Expect("REST 0");
        s.Reply("350 Restarting at 0");
        s.Expect("ABOR");
        s.Reply("426 Connection closed; transfer aborted");
        s.Reply("226 ABOR command successful");
        s.Expect("NOOP");
        s.Reply("200 NOOP ok");
    });
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server));
    DateTimeRec date;
    ASSERT_TRUE(engine.GetModTime("f", date)) << engine.GetLastError();
    EXPECT_EQ(date.year, 2005);
    EXPECT_EQ(date.month, 1);
    EXPECT_EQ(date.day, 2);
    EXPECT_EQ(date.hour, 3);
    EXPECT_EQ(date.minute, 4);
    EXPECT_EQ(date.second, 5);
    EXPECT_FALSE(engine.GetModTime("g", date));
    std::string system;
    EXPECT_TRUE(engine.SendSystem(system));
    EXPECT_EQ(system, "215 UNIX Type: L8\r\n");
    EXPECT_TRUE(engine.SetPerms("f", "755"));
    EXPECT_FALSE(engine.SendRename("f", "g"));
    EXPECT_TRUE(engine.SendREST(0));
    // Both replies to ABOR are taken, so NOOP gets its own.
    EXPECT_TRUE(engine.SendAbort());
    EXPECT_TRUE(engine.SendNOOP());
    EXPECT_EQ(engine.GetResponseCode(), 200);
}

// Dates asked in groups: the server sees a whole group before it answers,
// and its replies may come in any pieces.
TEST(FtpModTimes, GroupsWithRepliesSplitAnywhereAndARefusalInTheMiddle) {
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i)
        names.push_back("f" + std::to_string(i));
    auto date = [](size_t i) { return "213 200501" + std::to_string(10 + i % 20) + "030405"; };
    ScriptedFtpServer server([&](ScriptedSession& s) {
        s.Login();
        // Every command of a group arrives before any reply is sent: the
        // client does not wait for them one by one.
        for (size_t first : {size_t{0}, size_t{32}}) {
            const size_t end = std::min(first + 32, names.size());
            for (size_t i = first; i < end; ++i)
                s.Expect("MDTM " + names[i]);
            std::string replies;
            for (size_t i = first; i < end; ++i)
                replies += date(i) + (i == first + 5 ? "\n" : "\r\n");
            s.Send(replies, 7);
        }
        // The second call: a multi-line refusal, then a date that does not
        // parse; the first decides the error, and all five are answered.
        for (int i = 0; i < 5; ++i)
            s.Expect("MDTM " + names[i]);
        s.Send(date(0) + "\r\n" + date(1) + "\r\n550-No such file\r\n550 here either\r\n", 3);
        s.Send("213 2005\r\n" + date(4) + "\r\n", 1);
        s.Expect("NOOP");
        s.Reply("200 NOOP ok");
        // A line break in a name: the names before it are asked, the rest never.
        s.Expect("MDTM f0");
        s.Reply(date(0));
        s.Expect("NOOP");
        s.Reply("200 NOOP ok");
    });
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server));
    std::vector<DateTimeRec> dates;
    ASSERT_TRUE(engine.GetModTimes(names, dates)) << engine.GetLastError();
    ASSERT_EQ(dates.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(dates[i].year, 2005);
        EXPECT_EQ(dates[i].month, 1);
        EXPECT_EQ(dates[i].day, static_cast<int16_t>(10 + i % 20));
        EXPECT_EQ(dates[i].second, 5);
    }
    const std::vector<std::string> five(names.begin(), names.begin() + 5);
    EXPECT_FALSE(engine.GetModTimes(five, dates));
    EXPECT_STREQ(engine.GetLastError(), "550-No such file\r\n550 here either");
    EXPECT_TRUE(engine.SendNOOP()) << engine.GetLastError();
    EXPECT_EQ(engine.GetResponseCode(), 200);
    EXPECT_FALSE(engine.GetModTimes({"f0", "f1\r\nDELE f2", "f3"}, dates));
    EXPECT_STREQ(engine.GetLastError(), "A name or path holds a line break or NUL character");
    EXPECT_TRUE(engine.SendNOOP()) << engine.GetLastError();
    EXPECT_EQ(engine.GetResponseCode(), 200);
    EXPECT_FALSE(Contains(server.Finish(), "DELE"));
}

TEST(FtpModTimes, ServerClosingMidGroupIsAFailureNotAHang) {
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        for (int i = 0; i < 5; ++i)
            s.Expect("MDTM f" + std::to_string(i));
        s.Send("213 20050102030405\r\n213 2005010203");
        s.Close();
    });
    FTPEngine engine;
    // A time-out far beyond the test's own: only the close may end the wait.
    ASSERT_TRUE(Login(engine, server, 600));
    std::vector<DateTimeRec> dates;
    EXPECT_FALSE(engine.GetModTimes({"f0", "f1", "f2", "f3", "f4"}, dates));
    EXPECT_STREQ(engine.GetLastError(), "The server closed the connection");
    EXPECT_FALSE(engine.IsConnected());
    server.Finish();
    // Nothing more goes out on the lost connection.
    EXPECT_FALSE(engine.GetModTimes({"f0"}, dates));
    EXPECT_STREQ(engine.GetLastError(), "Disconnected");
}

TEST(FtpPassive, RepliesMustBe227WithSixNumbersInRange) {
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        s.Expect("PASV");
        s.Reply("502 Not here mode (127,0,0,1,1,2)");
        s.Expect("PASV");
        s.Reply("227 Entering Passive Mode (127,0,0,1,19)");
        s.Expect("PASV");
        s.Reply("227 Entering Passive Mode (127,0,0,1,300,137)");
        s.Expect("PASV");
        s.Reply("227 Entering Passive Mode 192,168,1,5,19,137");
    });
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server));
    std::string host;
    uint16_t port = 0;
    EXPECT_FALSE(engine.SendPASV(host, port));
    EXPECT_EQ(engine.GetResponseCode(), 502);
    EXPECT_FALSE(engine.SendPASV(host, port));
    EXPECT_STREQ(engine.GetLastError(), "Invalid Response");
    EXPECT_FALSE(engine.SendPASV(host, port));
    EXPECT_STREQ(engine.GetLastError(), "Invalid Response");
    ASSERT_TRUE(engine.SendPASV(host, port));
    EXPECT_EQ(port, 5001);
    EXPECT_EQ(host, "127.0.0.1"); // the control connection's peer, not the reply's address
}

TEST(FtpPassive, ReplyNamingAnotherHostStillConnectsToTheServer) {
    const std::string listing = "-rw-r--r-- 1 a b 3 Jan 1 2005 x\r\n";
    ScriptedFtpServer server([&](ScriptedSession& s) {
        s.Login();
        s.AnswerPasv("227 Entering Passive Mode (10,99,99,99,%d,%d)");
        s.Expect("LIST");
        const int data = s.AcceptData();
        s.Reply("150 Here it comes");
        ScriptedSession::SendAll(data, listing);
        ScriptedSession::CloseData(data);
        s.Reply("226 Done");
    });
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server));
    std::string got;
    ASSERT_TRUE(engine.GetDirList(nullptr, got, true)) << engine.GetLastError();
    EXPECT_EQ(got, listing);
}

TEST(FtpActive, DataConnectionOnlyFromTheControlPeer) {
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        const int port = s.ConnectActive();
        s.Expect("LIST");
        s.Reply("150 Opening");
        // A stranger comes first and is turned away; then the server.
        const int stranger = s.ConnectTo(port, "127.0.0.2");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ScriptedSession::SendAll(stranger, "evil\r\n");
        const int data = s.ConnectTo(port, "127.0.0.1");
        ScriptedSession::SendAll(data, "good\r\n");
        ScriptedSession::CloseData(data);
        ScriptedSession::CloseData(stranger);
        s.Reply("226 Done");
    });
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server));
    std::string got;
    ASSERT_TRUE(engine.GetDirList(nullptr, got, false)) << engine.GetLastError();
    EXPECT_EQ(got, "good\r\n");
}

TEST(FtpListing, BoundedAndNeverAnEmptyFolderOnFailure) {
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        s.AnswerPasv();
        s.Expect("LIST");
        int data = s.AcceptData();
        s.Reply("150 Here");
        ScriptedSession::SendAll(data, std::string(300000, 'x'));
        ScriptedSession::CloseData(data);
        s.Reply("226 Done");
        // A listing cut by a reset, then 426.
        s.AnswerPasv();
        s.Expect("LIST");
        data = s.AcceptData();
        s.Reply("150 Here");
        ScriptedSession::SendAll(data, "-rw-r--r-- partial");
        ScriptedSession::CloseData(data, true);
        s.Reply("426 Connection reset");
        // A folder the server could enter but not read (vsftpd's words).
        s.AnswerPasv();
        s.Expect("LIST");
        data = s.AcceptData();
        s.Reply("150 Here comes the directory listing.");
        ScriptedSession::CloseData(data);
        s.Reply("226 Transfer done (but failed to open directory).");
        s.Expect("NOOP");
        s.Reply("200 OK");
    });
    FTPEngine engine;
    engine.SetListingLimit(100000);
    ASSERT_TRUE(Login(engine, server));
    std::string got = "stale";
    EXPECT_FALSE(engine.GetDirList(nullptr, got, true));
    EXPECT_TRUE(got.empty());
    EXPECT_FALSE(engine.GetDirList(nullptr, got, true));
    EXPECT_TRUE(got.empty());
    EXPECT_FALSE(engine.GetDirList(nullptr, got, true));
    EXPECT_EQ(std::string(engine.GetLastError()),
              "550 The server could not read the folder: Transfer done (but failed to open "
              "directory).");
    EXPECT_TRUE(engine.SendNOOP()) << engine.GetLastError();
}

TEST(FtpTransfer, RestRefusedDownloadStartsOverBesideTheFile) {
    const std::string whole = Pattern(100000);
    ScriptedFtpServer server([&](ScriptedSession& s) {
        s.Login();
        s.Expect("TYPE I");
        s.Reply("200 Binary");
        s.AnswerPasv();
        s.Expect("REST 40000");
        s.Reply("502 REST not implemented");
        s.Expect("RETR f");
        const int data = s.AcceptData();
        s.Reply("150 Opening (100000 bytes)");
        ScriptedSession::SendAll(data, whole);
        ScriptedSession::CloseData(data);
        s.Reply("226 Done");
    });
    TempDir dir;
    writeFile(dir.file("f"), whole.substr(0, 40000));
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server));
    ASSERT_TRUE(engine.GetFile("f", dir.file("f"), 40000, false, true)) << engine.GetLastError();
    EXPECT_EQ(readFile(dir.file("f")), whole);
    EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
    // REST stands right before RETR.
    const auto commands = server.Finish();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[commands.size() - 2], "REST 40000");
}

TEST(FtpTransfer, RestRefusedUploadSendsTheWholeFile) {
    const std::string whole = Pattern(70000);
    std::string received;
    ScriptedFtpServer server([&](ScriptedSession& s) {
        s.Login();
        s.Expect("TYPE I");
        s.Reply("200 Binary");
        s.ConnectActive();
        s.Expect("REST 30000");
        s.Reply("500 No");
        s.Expect("STOR up");
        s.Reply("150 Go");
        const int data = s.ConnectTo(s.PortFromLastPort(), "127.0.0.1");
        received = ScriptedSession::ReadAll(data);
        ScriptedSession::CloseData(data);
        s.Reply("226 Stored");
    });
    TempDir dir;
    writeFile(dir.file("up"), whole);
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server));
    ASSERT_TRUE(engine.PutFile("up", dir.file("up"), 30000, false, false)) << engine.GetLastError();
    server.Finish();
    EXPECT_EQ(received, whole);
}

TEST(FtpTransfer, ResumeContinuesInPlace) {
    const std::string whole = Pattern(50000);
    ScriptedFtpServer server([&](ScriptedSession& s) {
        s.Login();
        s.Expect("TYPE I");
        s.Reply("200 Binary");
        s.AnswerPasv();
        s.Expect("REST 20000");
        s.Reply("350 Restarting");
        s.Expect("RETR f");
        const int data = s.AcceptData();
        s.Reply("150 Opening");
        ScriptedSession::SendAll(data, whole.substr(20000));
        ScriptedSession::CloseData(data);
        s.Reply("226 Done");
    });
    TempDir dir;
    writeFile(dir.file("f"), whole.substr(0, 20000) + "junk past the offset");
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server));
    ASSERT_TRUE(engine.GetFile("f", dir.file("f"), 20000, false, true, 50000))
        << engine.GetLastError();
    EXPECT_EQ(readFile(dir.file("f")), whole);
}

TEST(FtpTransfer, ResetThen426IsAFailureAndTheOldFileStays) {
    ScriptedFtpServer server([&](ScriptedSession& s) {
        s.Login();
        s.Expect("TYPE I");
        s.Reply("200 Binary");
        s.AnswerPasv();
        s.Expect("RETR f");
        const int data = s.AcceptData();
        s.Reply("150 Opening");
        ScriptedSession::SendAll(data, Pattern(30000));
        ScriptedSession::CloseData(data, true);
        s.Reply("426 Connection reset by peer");
        // A new file whose first byte never came.
        s.AnswerPasv();
        s.Expect("RETR new");
        const int none = s.AcceptData();
        s.Reply("150 Opening");
        ScriptedSession::CloseData(none, true);
        s.Reply("426 Connection reset by peer");
        s.Expect("NOOP");
        s.Reply("200 OK");
    });
    TempDir dir;
    writeFile(dir.file("f"), "the old, whole file");
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server));
    EXPECT_FALSE(engine.GetFile("f", dir.file("f"), 0, false, true));
    EXPECT_EQ(readFile(dir.file("f")), "the old, whole file");
    EXPECT_FALSE(engine.GetFile("new", dir.file("new"), 0, false, true));
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"f"});
    // The 426 was read with the failure: NOOP gets its own reply.
    EXPECT_TRUE(engine.SendNOOP()) << engine.GetLastError();
}

TEST(FtpTransfer, EarlyCloseWith226IsAFailureWhenBytesAreMissing) {
    ScriptedFtpServer server([&](ScriptedSession& s) {
        s.Login();
        for (int i = 0; i < 2; ++i) {
            if (i == 0) { // the type stays set for the second file
                s.Expect("TYPE I");
                s.Reply("200 Binary");
            }
            s.AnswerPasv();
            s.Expect("RETR f");
            const int data = s.AcceptData();
            s.Reply(i == 0 ? "150 Opening" : "150 Opening BINARY mode (5000 bytes)");
            ScriptedSession::SendAll(data, Pattern(1000));
            ScriptedSession::CloseData(data);
            s.Reply("226 Done");
        }
    });
    TempDir dir;
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server));
    // The size the listing gave...
    EXPECT_FALSE(engine.GetFile("f", dir.file("f"), 0, false, true, 5000));
    EXPECT_NE(std::string(engine.GetLastError()).find("1000 of 5000"), std::string::npos);
    // ...or the one the server announced.
    EXPECT_FALSE(engine.GetFile("f", dir.file("g"), 0, false, true));
}

TEST(FtpTransfer, UploadAnswered426IsAFailure) {
    ScriptedFtpServer server([&](ScriptedSession& s) {
        s.Login();
        s.Expect("TYPE I");
        s.Reply("200 Binary");
        s.AnswerPasv();
        s.Expect("STOR f");
        const int data = s.AcceptData();
        s.Reply("150 Go");
        ScriptedSession::ReadAll(data);
        ScriptedSession::CloseData(data);
        s.Reply("426 Connection closed; transfer aborted");
    });
    TempDir dir;
    writeFile(dir.file("f"), Pattern(10000));
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server));
    EXPECT_FALSE(engine.PutFile("f", dir.file("f"), 0, false, true));
    EXPECT_EQ(engine.GetResponseCode(), 426);
}

TEST(FtpTransfer, StalledDataConnectionTimesOutAndTheLateReplyIsNotMisread) {
    ScriptedFtpServer server([&](ScriptedSession& s) {
        s.Login();
        s.Expect("TYPE I");
        s.Reply("200 Binary");
        s.AnswerPasv();
        s.Expect("RETR f");
        const int data = s.AcceptData();
        s.Reply("150 Opening");
        ScriptedSession::SendAll(data, Pattern(1000));
        // Stall: no more data, no close, no reply, until the client gives up.
        ScriptedSession::ReadAll(data);
        ScriptedSession::CloseData(data);
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        s.Reply("226 Transfer complete (late)");
        s.Read();
    });
    TempDir dir;
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server, 1));
    EXPECT_FALSE(engine.GetFile("f", dir.file("f"), 0, false, true));
    // The final reply did not come in time: the engine hung up rather than
    // leave it for the next command.
    EXPECT_FALSE(engine.IsConnected());
    EXPECT_FALSE(engine.SendNOOP());
}

TEST(FtpTransfer, AbortWakesABlockedDownloadAtOnce) {
    ScriptedFtpServer server([&](ScriptedSession& s) {
        s.Login();
        s.Expect("TYPE I");
        s.Reply("200 Binary");
        s.AnswerPasv();
        s.Expect("RETR f");
        const int data = s.AcceptData();
        s.Reply("150 Opening");
        ScriptedSession::SendAll(data, Pattern(5000));
        ScriptedSession::ReadAll(data); // stall until the client closes
        ScriptedSession::CloseData(data);
        s.Reply("426 Transfer aborted");
        s.Expect("NOOP");
        s.Reply("200 OK");
    });
    TempDir dir;
    writeFile(dir.file("f"), "previous contents");
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server, 60));
    std::thread aborter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        engine.AbortTransfer();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(engine.GetFile("f", dir.file("f"), 0, false, true));
    aborter.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_TRUE(engine.TransferAborted());
    // An aborted download never replaces the file that stood there.
    EXPECT_EQ(readFile(dir.file("f")), "previous contents");
    EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
    EXPECT_TRUE(engine.SendNOOP()) << engine.GetLastError();
}

TEST(FtpTransfer, DisconnectFromAnotherThreadWakesAnUpload) {
    ScriptedFtpServer server([&](ScriptedSession& s) {
        s.Login();
        s.Expect("TYPE I");
        s.Reply("200 Binary");
        s.AnswerPasv();
        s.Expect("STOR f");
        const int data = s.AcceptData();
        s.Reply("150 Go");
        s.Read(); // never read the data: the upload blocks once buffers fill
        ScriptedSession::CloseData(data);
    });
    TempDir dir;
    writeFile(dir.file("f"), Pattern(64 * 1024 * 1024));
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server, 60));
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        engine.Disconnect();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(engine.PutFile("f", dir.file("f"), 0, false, true));
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_FALSE(engine.IsConnected());
}

namespace {

class TickedEngine : public FTPEngine {
public:
    uint32_t ticks = 1000;

protected:
    uint32_t CurrentTicks() override { return ticks; }
};

struct Recorder : TransferProgress {
    std::vector<unsigned long long> updates;
    int starts = 0, ends = 0;
    void StartTransfer() override { ++starts; }
    void EndTransfer() override { ++ends; }
    void UpdateProgress(unsigned long long bytes) override { updates.push_back(bytes); }
};

} // namespace

TEST(FtpTransfer, ProgressIsThrottledToTenTicks) {
    TickedEngine engine;
    Recorder recorder;
    engine.SetParent(&recorder);
    engine.UpdateProgress(100); // starts the clock
    engine.ticks += 9;
    engine.UpdateProgress(200);
    engine.ticks += 1;
    engine.UpdateProgress(300);
    engine.ticks += 5;
    engine.UpdateProgress(400);
    engine.ticks += 20;
    engine.UpdateProgress(500);
    EXPECT_EQ(recorder.updates, (std::vector<unsigned long long>{300, 500}));
}

// A transfer blocked on a reply that never comes (no 150 to STOR, no 226
// after the data) wakes at once on an abort or a disconnect from another
// thread; the local file that stood there stays, and the control connection,
// now out of step, is closed.
TEST(FtpTransfer, AbortAndDisconnectWakeAWaitForAReply) {
    enum class Stop { kAbort, kDisconnect };
    for (const bool upload : {true, false}) {
        for (const Stop stop : {Stop::kAbort, Stop::kDisconnect}) {
            SCOPED_TRACE(std::string(upload ? "upload" : "download") +
                         (stop == Stop::kAbort ? ", abort" : ", disconnect"));
            ScriptedFtpServer server([&](ScriptedSession& s) {
                s.Login();
                s.Expect("TYPE I");
                s.Reply("200 Binary");
                s.AnswerPasv();
                if (upload) {
                    s.Expect("STOR f");
                } else {
                    s.Expect("RETR f");
                    const int data = s.AcceptData();
                    s.Reply("150 Opening");
                    ScriptedSession::SendAll(data, Pattern(5000));
                    ScriptedSession::CloseData(data);
                }
                ScriptedSession::ReadAll(s.Fd()); // silent until the client hangs up
            });
            TempDir dir;
            writeFile(dir.file("f"), "previous contents");
            FTPEngine engine;
            ASSERT_TRUE(Login(engine, server, 60));
            std::thread stopper([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                if (stop == Stop::kAbort)
                    engine.AbortTransfer();
                else
                    engine.Disconnect();
            });
            const auto start = std::chrono::steady_clock::now();
            const bool result = upload ? engine.PutFile("f", dir.file("f"), 0, false, true)
                                       : engine.GetFile("f", dir.file("f"), 0, false, true);
            stopper.join();
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
            if (stop == Stop::kAbort) {
                // The user's abort is reported as an abort, not as a failure.
                EXPECT_TRUE(result);
                EXPECT_TRUE(engine.TransferAborted());
                EXPECT_STREQ(engine.GetLastError(), "Transfer aborted");
            } else {
                EXPECT_FALSE(result);
            }
            EXPECT_FALSE(engine.IsConnected());
            EXPECT_EQ(readFile(dir.file("f")), "previous contents");
            EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
            engine.Disconnect();
            server.Finish();
        }
    }
}

// A reply beyond the limits drops the connection, and the reason says what
// happened rather than blaming a time-out: a greeting, a command's reply, the
// reply that opens a transfer and the one that closes it.
TEST(FtpReplies, TooLongRepliesAreRefusedAndSaySo) {
    const std::string endless = std::string(10 * 1024 * 1024, 'x') + "\r\n";
    std::string manyLines;
    while (manyLines.size() < 10 * 1024 * 1024)
        manyLines += "257-" + std::string(1000, 'y') + "\r\n";
    enum class Where { kGreeting, kPwd, kList, kRetr, kRetrEnd };
    for (const Where where :
         {Where::kGreeting, Where::kPwd, Where::kList, Where::kRetr, Where::kRetrEnd}) {
        SCOPED_TRACE(static_cast<int>(where));
        ScriptedFtpServer server([&](ScriptedSession& s) {
            if (where == Where::kGreeting) {
                s.Send("220 " + endless);
                s.Read();
                return;
            }
            s.Login();
            if (where == Where::kPwd) {
                s.Expect("PWD");
                s.Send(manyLines);
            } else if (where == Where::kList || where == Where::kRetr) {
                if (where == Where::kRetr) {
                    s.Expect("TYPE I");
                    s.Reply("200 Binary");
                }
                s.AnswerPasv();
                s.Expect(where == Where::kList ? "LIST" : "RETR");
                s.Send("150 " + endless);
            } else {
                s.Expect("TYPE I");
                s.Reply("200 Binary");
                s.AnswerPasv();
                s.Expect("RETR f");
                const int data = s.AcceptData();
                s.Reply("150 Opening");
                ScriptedSession::SendAll(data, "abc");
                ScriptedSession::CloseData(data);
                s.Send("226-" + endless);
            }
            s.Read(); // until the client hangs up
        });
        TempDir dir;
        FTPEngine engine;
        bool result = engine.Connect("127.0.0.1", server.Port(), 60);
        if (where != Where::kGreeting) {
            ASSERT_TRUE(result && engine.Authenticate("u", "p", "")) << engine.GetLastError();
            std::string text;
            if (where == Where::kPwd)
                result = engine.SendGetWorkingDir(text);
            else if (where == Where::kList)
                result = engine.GetDirList(nullptr, text, true);
            else
                result = engine.GetFile("f", dir.file("f"), 0, false, true);
        }
        EXPECT_FALSE(result);
        EXPECT_STREQ(engine.GetLastError(), "The server's reply was too long");
        EXPECT_FALSE(engine.IsConnected());
    }
}

TEST(FtpReplies, ACommandKeepsTheReasonItsReplyFailed) {
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        s.Expect("CWD");
        s.Close();
    });
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server, 60));
    EXPECT_FALSE(engine.ChangeDir("x"));
    EXPECT_STREQ(engine.GetLastError(), "The server closed the connection");
}

TEST(FtpReplies, ErrorTextsComeWithoutTheReplysLineEnd) {
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        s.Expect("DELE");
        s.Send("550-Cannot delete:\r\n550 Permission denied\r\n");
        s.Expect("NOOP");
        s.Send("500 What\n");
        s.Read(); // until the client hangs up
    });
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server, 60));
    EXPECT_FALSE(engine.DeleteFile("x"));
    // The whole reply for the window, which removes the codes itself.
    EXPECT_STREQ(engine.GetLastError(), "550-Cannot delete:\r\n550 Permission denied");
    EXPECT_EQ(engine.GetResponseCode(), 550);
    // A reply ended by a bare LF is complete too; it is not left to time out.
    EXPECT_FALSE(engine.SendNOOP());
    EXPECT_STREQ(engine.GetLastError(), "500 What");
    EXPECT_TRUE(engine.IsConnected());
    engine.Disconnect();
}

namespace {

// Serves one RETR in passive mode with `bytes`.
void ServeRetrieve(ScriptedSession& s, const std::string& bytes) {
    s.ServeData("RETR", bytes);
}

} // namespace

// TYPE costs a round trip per file: it is sent only when the wanted type
// differs from the one this connection last had accepted, and again after a
// refusal or a new connection.
TEST(FtpTransfer, TypeIsSentOnlyWhenItChanges) {
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        s.Expect("TYPE I");
        s.Reply("200 Binary");
        ServeRetrieve(s, "1");
        ServeRetrieve(s, "2");
        s.Expect("TYPE A");
        s.Reply("504 Not now");
        s.Expect("TYPE A");
        s.Reply("200 ASCII");
        ServeRetrieve(s, "3\r\n");
        ServeRetrieve(s, "4\r\n");
        s.Expect("TYPE I");
        s.Reply("200 Binary");
        ServeRetrieve(s, "5");
    });
    TempDir dir;
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server, 60));
    EXPECT_TRUE(engine.GetFile("a", dir.file("a"), 0, false, true)) << engine.GetLastError();
    EXPECT_TRUE(engine.GetFile("b", dir.file("b"), 0, false, true)) << engine.GetLastError();
    EXPECT_FALSE(engine.GetFile("c", dir.file("c"), 0, true, true));
    EXPECT_TRUE(engine.GetFile("c", dir.file("c"), 0, true, true)) << engine.GetLastError();
    EXPECT_TRUE(engine.GetFile("d", dir.file("d"), 0, true, true)) << engine.GetLastError();
    EXPECT_TRUE(engine.GetFile("e", dir.file("e"), 0, false, true)) << engine.GetLastError();
    EXPECT_EQ(readFile(dir.file("d")), "4\n");
    EXPECT_EQ(readFile(dir.file("e")), "5");
    engine.Disconnect();
    server.Finish();

    ScriptedFtpServer again([](ScriptedSession& s) {
        s.Login();
        s.Expect("TYPE I");
        s.Reply("200 Binary");
        ServeRetrieve(s, "6");
    });
    ASSERT_TRUE(Login(engine, again, 60));
    EXPECT_TRUE(engine.GetFile("f", dir.file("f"), 0, false, true)) << engine.GetLastError();
}

TEST(FtpTransfer, UploadOfAMissingSourceSaysSoAndSendsNothing) {
    ScriptedFtpServer server([](ScriptedSession& s) {
        s.Login();
        s.Read(); // until the client hangs up
    });
    TempDir dir;
    FTPEngine engine;
    ASSERT_TRUE(Login(engine, server, 60));
    EXPECT_FALSE(engine.PutFile("f", dir.file("absent"), 0, false, true));
    EXPECT_STREQ(engine.GetLastError(), "Could not open source file");
    engine.Disconnect();
    EXPECT_FALSE(Contains(server.Finish(), "STOR"));
}

namespace {

// Progress as the window sees it, readable from the server's thread.
struct StallWatch : TransferProgress {
    std::atomic<unsigned long long> last{0};
    void StartTransfer() override {}
    void EndTransfer() override {}
    void UpdateProgress(unsigned long long bytes) override { last.store(bytes); }

    // The server holds back until the window has seen `bytes` (bounded).
    unsigned long long WaitFor(unsigned long long bytes) const {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (last.load() < bytes && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return last.load();
    }
};

} // namespace

// The clock of the throttle stands still here, so only the report of a
// stalled transfer can reach the window: what arrived before a pause is
// shown while the pause lasts, not when more comes.
TEST(FtpTransfer, BytesBeforeAStallAreReportedDuringIt) {
    StallWatch watch;
    std::atomic<unsigned long long> seenDuringStall{0};
    ScriptedFtpServer server([&](ScriptedSession& s) {
        s.Login();
        s.Expect("TYPE I");
        s.Reply("200 Binary");
        s.AnswerPasv();
        s.Expect("RETR f");
        int data = s.AcceptData();
        s.Reply("150 Opening");
        ScriptedSession::SendAll(data, Pattern(64 * 1024));
        seenDuringStall.store(watch.WaitFor(64 * 1024));
        ScriptedSession::SendAll(data, Pattern(1000));
        ScriptedSession::CloseData(data);
        s.Reply("226 Done");

        s.AnswerPasv();
        s.Expect("STOR g");
        data = s.AcceptData();
        s.Reply("150 Go");
        // Read nothing until the window has heard of the bytes sent so far.
        watch.last.store(0);
        seenDuringStall.store(seenDuringStall.load() && watch.WaitFor(1) > 0);
        ScriptedSession::ReadAll(data);
        ScriptedSession::CloseData(data);
        s.Reply("226 Stored");
    });
    TempDir dir;
    TickedEngine engine;
    engine.SetParent(&watch);
    ASSERT_TRUE(Login(engine, server, 60));
    EXPECT_TRUE(engine.GetFile("f", dir.file("f"), 0, false, true)) << engine.GetLastError();
    EXPECT_EQ(seenDuringStall.load(), 64u * 1024);
    writeFile(dir.file("g"), Pattern(32 * 1024 * 1024));
    EXPECT_TRUE(engine.PutFile("g", dir.file("g"), 0, false, true)) << engine.GetLastError();
    EXPECT_EQ(seenDuringStall.load(), 1u);
}
