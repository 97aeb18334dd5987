#pragma once
// One SFTP session: login over libssh with host-key check, then the commands
// typed at the "sftp> " prompt, carried by our own SFTP packets over the
// session's "sftp" channel.
#include "tools/sftp/cmdline.h"
#include "tools/sftp/protocol.h"
#include "tools/sftp/terminal.h"

#include <libssh/libssh.h>

#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace sftptool {

class FileWriter;

class Client {
public:
    Client(Terminal& term, Destination dest) : mTerm(term), mDest(std::move(dest)) {}

    void connect();          // TCP, SSH handshake, host key, password, SFTP channel
    [[noreturn]] void run(); // the prompt loop
    // Says "Connection closed" and ends the tool.
    [[noreturn]] void connectionClosed();
    // At the prompt: takes in what the server sent and drops the replies to
    // requests not waited for. False when nothing came or none are awaited.
    bool takeLateReplies();

private:
    void checkHostKey();
    // The line number (from 1) of PATH whose entry for LABEL holds another
    // key of KEY's type; 0 when none does.
    static int storedKeyLine(const std::string& path, const std::string& label, ssh_key key);
    void authenticate();
    void startSftp();
    void execute(const std::string& command);

    // The channel: whole packets out, bytes in.
    void send(const char* data, size_t size);
    void send(const std::string& bytes) { send(bytes.data(), bytes.size()); }
    // Waits at most timeoutMs for bytes from the server; false when none came.
    bool receive(int timeoutMs);
    // The next whole packet received (from its type byte on), valid until the
    // next receive(); false when none is complete.
    bool nextPacket(std::string_view& body);
    // Sends a request and waits for its reply. True when the reply has the
    // type `want` (or is an OK status when `want` is a status); `reply` then
    // holds its fields after the id. Otherwise `error` says why. After an
    // interrupt the server has a short while to answer; then the request is
    // given up ("Interrupted").
    bool request(sftp::Packet& p, uint8_t want, std::string& reply, std::string& error);
    // Several requests sent at once, each waited for as by request().
    struct Asked {
        sftp::Packet* packet;
        uint8_t want;
        std::string reply, error;
        bool ok = false;
    };
    void requests(Asked* asked, size_t count);
    uint32_t nextId() { return mNextId++; }
    // The upload buffer, at least `size` bytes: made once and never cleared,
    // as every byte sent is written first.
    char* writeBuffer(size_t size);

    bool realPath(const std::string& path, std::string& out, std::string& error);
    bool stat(const std::string& path, sftp::Attributes& attrs, sftp::Type how, std::string& error);
    bool open(const std::string& path, sftp::Type how, uint32_t flags,
              const sftp::Attributes& attrs, std::string& handle, std::string& error);
    bool simple(sftp::Packet& p, std::string& error);
    void closeHandle(const std::string& handle, std::string* error = nullptr);
    // Puts the pump (pump.h) in place before a download of `bytes`, when it
    // is large enough to gain from it; takes it out before a large upload.
    void pumpForLargeTransfer(uint64_t bytes);
    void noPumpForLargeUpload(uint64_t bytes);
    // Closes `handle` without waiting for the answer, which changes nothing
    // and is dropped when it comes.
    void closeUnanswered(const std::string& handle);

    void doCd(const std::vector<Word>& w);
    void doLs(const std::vector<Word>& w);
    void doGet(const std::vector<Word>& w);
    void doPut(const std::vector<Word>& w);
    void doModTime(const std::vector<Word>& w);
    void doSimple(const std::string& verb, const std::vector<Word>& w);
    // After a plain rename of `from` onto the file at `to` was refused: sets
    // that file aside, renames again, and removes it or puts it back. False
    // when it was not set aside (no file there, a folder, nothing at `from`,
    // or the server refused); otherwise `ok` and `error` are the outcome.
    bool renameSettingAside(const std::string& from, const std::string& to, bool& ok,
                            std::string& error);

    // Progress of the running transfer.
    void startProgress();
    void progress(uint64_t done, bool force);
    // Between steps of a transfer: takes signals that arrived while the tool
    // was busy; true once the user asked to stop it.
    bool interruptRequested();
    // After the replies at hand were taken (`any`): when there were none,
    // waits for more, at most until the next progress line is due; then
    // shows progress unless the transfer stopped.
    void awaitReplies(bool any, bool stopped, uint64_t done);
    // A reply to a request that was given up is dropped: true for those.
    bool abandonedReply(uint32_t id) { return mAbandoned.erase(id) > 0; }
    // Gives up waiting for the reply to `id`; its reply, should it come, is
    // dropped.
    void abandon(uint32_t id);
    // After giving up: a server that stopped in the middle of a packet can
    // never be read in step again, which ends the session.
    void checkInStep();
    // Takes the request a reply answers out of those in flight. A reply to
    // nothing asked means the session is out of step, which ends it.
    template <class Asked> typename Asked::mapped_type takeAsked(Asked& inFlight, uint32_t id) {
        const auto it = inFlight.find(id);
        if (it == inFlight.end())
            connectionClosed();
        const auto asked = it->second;
        inFlight.erase(it);
        return asked;
    }
    // Takes pending signals and ends the tool on a hangup or when its
    // terminal is gone; at most every few milliseconds.
    void lookAround();

    Terminal& mTerm;
    Destination mDest;
    int mSock = -1;
    bool mPumped = false;     // mSock is the local end of a pump
    bool mPumpFailed = false; // and one is not tried again
    ssh_session mSession = nullptr;
    ssh_channel mChannel = nullptr;
    std::vector<char> mIn;
    FileWriter* mWriter = nullptr;           // a download's, whose writes point into mIn
    std::vector<std::vector<char>> mSpareIn; // receive buffers kept for the next download
    std::unique_ptr<char[]> mWrite;
    size_t mWriteSize = 0;
    size_t mInStart = 0, mInEnd = 0;
    uint32_t mNextId = 1;
    std::string mCwd;
    bool mPosixRename = false; // the server renames over an existing file
    bool mHaveRest = false;
    uint64_t mRest = 0;
    long long mNextProgress = 0;
    long long mNextLook = 0;
    std::unordered_set<uint32_t> mAbandoned;
    long long mLastBytes = 0; // when bytes last came from the server
};

} // namespace sftptool
