#pragma once
// A scripted FTP server for the engine's tests: each test writes the server's
// side of the dialogue as a function, so it can send what real servers won't
// (replies split at any byte, bare LF, odd PASV replies, stalls, resets).
// It listens on 127.0.0.1 and a free port and serves one connection.
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class ScriptedSession {
public:
    explicit ScriptedSession(int fd) : mFD(fd) {}
    ~ScriptedSession();

    // Raw bytes on the control connection; `piece` > 0 sends them in pieces
    // of that many bytes with a short pause between, to split them anywhere.
    void Send(const std::string& bytes, size_t piece = 0);
    void Reply(const std::string& line) { Send(line + "\r\n"); }
    // The next command line without its line end; "" once the client left.
    std::string Read();
    // How many command lines came in the same receive as the last one read,
    // before it (0: it came alone or first). A server that takes one command
    // per receive loses the rest.
    size_t SentTogether() const { return mTogether; }
    // Reads the next command, checks that it starts with `prefix`, and gives it.
    std::string Expect(const std::string& prefix);
    // 220, USER, 331, PASS, 230.
    void Login();
    // Closes the control connection at once.
    void Close();

    // Passive mode: answers the next PASV (expected) with the standard 227 for
    // a fresh listener, or with `reply` when given (%d%d for the port bytes).
    void AnswerPasv(const std::string& reply = "");
    // Passive mode: PASV, then COMMAND (expected as a prefix), answered with
    // BYTES over the data connection and a 226.
    void ServeData(const std::string& command, const std::string& bytes);
    // Accepts the client's data connection on the passive listener.
    int AcceptData(int timeoutMs = 5000);
    // Active mode: reads PORT and connects to it (from `fromAddress`).
    int ConnectActive(const std::string& fromAddress = "127.0.0.1");
    int ConnectTo(int port, const std::string& fromAddress);
    int PortFromLastPort() const { return mActivePort; }

    static void SendAll(int fd, const std::string& bytes);
    // Reads the data connection to its end.
    static std::string ReadAll(int fd);
    static void CloseData(int fd, bool reset = false);

    const std::vector<std::string>& Commands() const { return mCommands; }
    int Fd() const { return mFD; }
    int ListenerPort() const { return mPasvPort; }

private:
    int mFD;
    std::string mBuffer;
    size_t mTogether = 0;
    int mPasvListener = -1;
    int mPasvPort = 0;
    int mActivePort = 0;
    std::vector<std::string> mCommands;
};

class ScriptedFtpServer {
public:
    using Script = std::function<void(ScriptedSession&)>;
    // Serves `sessions` connections one after the other, each with `script`.
    explicit ScriptedFtpServer(Script script, int sessions = 1);
    ~ScriptedFtpServer();
    int Port() const { return mPort; }
    // Waits for the script to finish; gives every command it read.
    std::vector<std::string> Finish();

private:
    int mListener = -1;
    int mPort = 0;
    std::thread mThread;
    std::vector<std::string> mCommands;
};
