#include "client.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sftptool {

namespace {

// Reads and writes go out as many requests at once: the library splits these
// buffers into protocol-sized requests that are all in flight together.
constexpr size_t kReadBuffer = 1024 * 1024;
constexpr size_t kWriteWindow = 4 * 1024 * 1024;
constexpr size_t kWriteBuffer = 4 * kWriteWindow;
constexpr long long kProgressMs = 500;

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const char* statusText(unsigned long code) {
    switch (code) {
    case LIBSSH2_FX_EOF:
        return "End of file";
    case LIBSSH2_FX_NO_SUCH_FILE:
    case LIBSSH2_FX_NO_SUCH_PATH:
        return "No such file or directory";
    case LIBSSH2_FX_PERMISSION_DENIED:
        return "Permission denied";
    case LIBSSH2_FX_BAD_MESSAGE:
        return "Bad message";
    case LIBSSH2_FX_OP_UNSUPPORTED:
        return "Operation unsupported";
    case LIBSSH2_FX_FILE_ALREADY_EXISTS:
        return "File already exists";
    case LIBSSH2_FX_WRITE_PROTECT:
        return "Write protected";
    case LIBSSH2_FX_NO_SPACE_ON_FILESYSTEM:
        return "No space left on device";
    case LIBSSH2_FX_QUOTA_EXCEEDED:
        return "Quota exceeded";
    case LIBSSH2_FX_DIR_NOT_EMPTY:
        return "Directory not empty";
    case LIBSSH2_FX_NOT_A_DIRECTORY:
        return "Not a directory";
    case LIBSSH2_FX_INVALID_FILENAME:
        return "Invalid file name";
    case LIBSSH2_FX_LINK_LOOP:
        return "Too many levels of symbolic links";
    default:
        return "Failure";
    }
}

std::string homeDir() {
    if (const char* h = std::getenv("HOME"); h && *h)
        return h;
    if (struct passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return ".";
}

const std::string* gPassword = nullptr;

void keyboardAnswer(const char*, int, const char*, int, int count,
                    const LIBSSH2_USERAUTH_KBDINT_PROMPT*,
                    LIBSSH2_USERAUTH_KBDINT_RESPONSE* responses, void**) {
    for (int i = 0; i < count; ++i) {
        responses[i].text = strdup(gPassword ? gPassword->c_str() : "");
        responses[i].length = unsigned(gPassword ? gPassword->size() : 0);
    }
}

Client* gClient = nullptr;
int gWatchedSocket = -1;

// Called while the prompt waits and the socket turns readable: a server that
// went away is reported at once rather than at the next command.
void onSocketReadable() {
    char c;
    const ssize_t n = recv(gWatchedSocket, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
        gClient->connectionClosed();
}

} // namespace

Client::Wait Client::waitSocket(int timeoutMs, bool interruptible) {
    for (;;) {
        if (gHangup)
            finish(1);
        if (interruptible && gInterrupted)
            return Wait::Interrupted;
        const int dir = libssh2_session_block_directions(mSession);
        short events = 0;
        if (dir & LIBSSH2_SESSION_BLOCK_INBOUND)
            events |= POLLIN;
        if (dir & LIBSSH2_SESSION_BLOCK_OUTBOUND)
            events |= POLLOUT;
        if (!events)
            events = POLLIN;
        // The terminal is watched only for its end (no events asked for).
        struct pollfd fds[2] = {{mSock, events, 0}, {mTerm.fd(), 0, 0}};
        struct timespec ts {
            timeoutMs / 1000, (timeoutMs % 1000) * 1000000L
        };
        const int n = ppoll(fds, 2, timeoutMs < 0 ? nullptr : &ts, waitMask());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            connectionClosed();
        }
        if (gHangup || (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)))
            finish(1);
        if (interruptible && gInterrupted)
            return Wait::Interrupted;
        return n == 0 ? Wait::Timeout : Wait::Ready;
    }
}

template <class F> int Client::retry(F f) {
    for (;;) {
        const int rc = int(f());
        if (rc != LIBSSH2_ERROR_EAGAIN)
            return rc;
        waitSocket(-1, false);
    }
}

template <class F> auto Client::retryPtr(F f) {
    for (;;) {
        auto p = f();
        if (p || libssh2_session_last_errno(mSession) != LIBSSH2_ERROR_EAGAIN)
            return p;
        waitSocket(-1, false);
    }
}

void Client::connectionClosed() {
    mTerm.line("Connection closed");
    finish(1);
}

// The text for a failed call. Failures of the SFTP layer are reported as
// such; a failure of the connection itself ends the tool.
std::string Client::failure(int rc) {
    if (rc == LIBSSH2_ERROR_SFTP_PROTOCOL)
        return statusText(libssh2_sftp_last_error(mSftp));
    if (rc == LIBSSH2_ERROR_BUFFER_TOO_SMALL)
        return "Name too long";
    if (rc == LIBSSH2_ERROR_ALLOC)
        return "Out of memory";
    connectionClosed();
}

void Client::connect() {
    gClient = this;
    struct addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* list = nullptr;
    const std::string port = std::to_string(mDest.port);
    const int gai = getaddrinfo(mDest.host.c_str(), port.c_str(), &hints, &list);
    if (gai != 0) {
        mTerm.line("ssh: Could not resolve hostname " + mDest.host + ": " + gai_strerror(gai));
        connectionClosed();
    }
    int lastErr = 0;
    for (struct addrinfo* a = list; a && mSock < 0; a = a->ai_next) {
        int s = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) {
            lastErr = errno;
            continue;
        }
        if (::connect(s, a->ai_addr, a->ai_addrlen) == 0) {
            mSock = s;
        } else {
            lastErr = errno;
            close(s);
        }
    }
    freeaddrinfo(list);
    if (mSock < 0) {
        mTerm.line("ssh: connect to host " + mDest.host + " port " + port + ": " +
                   std::strerror(lastErr));
        connectionClosed();
    }
    int one = 1;
    setsockopt(mSock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    if (libssh2_init(0) != 0 || !(mSession = libssh2_session_init())) {
        mTerm.line("ssh: cannot start the SSH library");
        connectionClosed();
    }
    libssh2_session_set_blocking(mSession, 0);
    if (retry([&] { return libssh2_session_handshake(mSession, mSock); }) != 0) {
        mTerm.line("ssh: the SSH handshake with " + mDest.host + " failed");
        connectionClosed();
    }
    checkHostKey();
    authenticate();
    mSftp = retryPtr([&] { return libssh2_sftp_init(mSession); });
    if (!mSftp) {
        mTerm.line("The server refused to start its SFTP service");
        connectionClosed();
    }
    std::string error;
    if (!realPath(".", mCwd, error))
        mCwd = "/";
    mTerm.line("Connected to " + mDest.host + ".");
}

void Client::checkHostKey() {
    size_t keyLen = 0;
    int keyType = 0;
    const char* key = libssh2_session_hostkey(mSession, &keyLen, &keyType);
    if (!key)
        connectionClosed();
    int keyBit = 0;
    std::string typeName;
    switch (keyType) {
    case LIBSSH2_HOSTKEY_TYPE_RSA:
        keyBit = LIBSSH2_KNOWNHOST_KEY_SSHRSA, typeName = "RSA";
        break;
    case LIBSSH2_HOSTKEY_TYPE_DSS:
        keyBit = LIBSSH2_KNOWNHOST_KEY_SSHDSS, typeName = "DSA";
        break;
    case LIBSSH2_HOSTKEY_TYPE_ECDSA_256:
        keyBit = LIBSSH2_KNOWNHOST_KEY_ECDSA_256, typeName = "ECDSA";
        break;
    case LIBSSH2_HOSTKEY_TYPE_ECDSA_384:
        keyBit = LIBSSH2_KNOWNHOST_KEY_ECDSA_384, typeName = "ECDSA";
        break;
    case LIBSSH2_HOSTKEY_TYPE_ECDSA_521:
        keyBit = LIBSSH2_KNOWNHOST_KEY_ECDSA_521, typeName = "ECDSA";
        break;
    case LIBSSH2_HOSTKEY_TYPE_ED25519:
        keyBit = LIBSSH2_KNOWNHOST_KEY_ED25519, typeName = "ED25519";
        break;
    default:
        keyBit = LIBSSH2_KNOWNHOST_KEY_UNKNOWN, typeName = "unknown";
        break;
    }
    const char* hash = libssh2_hostkey_hash(mSession, LIBSSH2_HOSTKEY_HASH_SHA256);
    const std::string fingerprint =
        hash ? "SHA256:" + base64(reinterpret_cast<const unsigned char*>(hash), 32) : "unknown";
    const std::string label =
        mDest.port == 22 ? mDest.host : "[" + mDest.host + "]:" + std::to_string(mDest.port);

    const std::string dir = homeDir() + "/.ssh";
    const std::string path = dir + "/known_hosts";
    LIBSSH2_KNOWNHOSTS* known = libssh2_knownhost_init(mSession);
    if (!known)
        connectionClosed();
    // Line by line, so that entries the library cannot read (markers, key
    // types it does not know) are skipped rather than spoiling the whole file.
    bool endsWithNewline = true;
    if (FILE* f = std::fopen(path.c_str(), "r")) {
        char buf[16384];
        while (std::fgets(buf, sizeof buf, f)) {
            const size_t len = std::strlen(buf);
            endsWithNewline = len > 0 && buf[len - 1] == '\n';
            libssh2_knownhost_readline(known, buf, len, LIBSSH2_KNOWNHOST_FILE_OPENSSH);
        }
        std::fclose(f);
    }
    struct libssh2_knownhost* found = nullptr;
    const int typemask = LIBSSH2_KNOWNHOST_TYPE_PLAIN | LIBSSH2_KNOWNHOST_KEYENC_RAW | keyBit;
    const int check = libssh2_knownhost_checkp(known, mDest.host.c_str(), mDest.port, key, keyLen,
                                               typemask, &found);
    if (check == LIBSSH2_KNOWNHOST_CHECK_MATCH) {
        libssh2_knownhost_free(known);
        return;
    }
    if (check == LIBSSH2_KNOWNHOST_CHECK_MISMATCH) {
        mTerm.line("WARNING: REMOTE HOST IDENTIFICATION HAS CHANGED!");
        mTerm.line("The " + typeName + " host key of " + label + " is now " + fingerprint +
                   ", which differs from the key stored in " + path + ".");
        mTerm.line("Host key verification failed.");
        finish(1);
    }
    mTerm.write("The authenticity of host '" + label + "' can't be established." + mTerm.eol() +
                typeName + " key fingerprint is " + fingerprint + "." + mTerm.eol() +
                "Are you sure you want to continue connecting (yes/no)? ");
    std::string answer;
    if (!mTerm.readLine(answer, false))
        finish(1);
    mTerm.line(answer);
    while (!answer.empty() && (answer.back() == ' ' || answer.back() == '\t'))
        answer.pop_back();
    while (!answer.empty() && (answer.front() == ' ' || answer.front() == '\t'))
        answer.erase(0, 1);
    std::transform(answer.begin(), answer.end(), answer.begin(), ::tolower);
    if (answer != "yes") {
        mTerm.line("Host key verification failed.");
        finish(1);
    }
    struct libssh2_knownhost* added = nullptr;
    char line[16384];
    size_t lineLen = 0;
    bool saved = false;
    if (libssh2_knownhost_addc(known, label.c_str(), nullptr, key, keyLen, nullptr, 0, typemask,
                               &added) == 0 &&
        libssh2_knownhost_writeline(known, added, line, sizeof line, &lineLen,
                                    LIBSSH2_KNOWNHOST_FILE_OPENSSH) == 0) {
        std::string text(line, lineLen);
        if (text.empty() || text.back() != '\n')
            text += '\n';
        if (!endsWithNewline)
            text = "\n" + text;
        mkdir(dir.c_str(), 0700);
        const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) {
            saved = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
            saved = (close(fd) == 0) && saved;
        }
    }
    libssh2_knownhost_free(known);
    if (saved)
        mTerm.line("Warning: Permanently added '" + label + "' (" + typeName +
                   ") to the list of known hosts.");
    else
        mTerm.line("Failed to add the host to the list of known hosts (" + path + ").");
}

void Client::authenticate() {
    const char* methods = retryPtr([&] {
        return libssh2_userauth_list(mSession, mDest.user.c_str(), unsigned(mDest.user.size()));
    });
    if (!methods) {
        if (libssh2_userauth_authenticated(mSession))
            return;
        connectionClosed();
    }
    const std::string offered = methods;
    const bool password = offered.find("password") != std::string::npos;
    const bool keyboard = offered.find("keyboard-interactive") != std::string::npos;
    const std::string who = mDest.user + "@" + mDest.host;
    if (password || keyboard) {
        for (int attempt = 1; attempt <= 3; ++attempt) {
            mTerm.write(who + "'s password: ");
            std::string secret;
            if (!mTerm.readLine(secret, false))
                finish(1);
            mTerm.write(mTerm.eol());
            gPassword = &secret;
            int rc = 0;
            if (password)
                rc = retry([&] {
                    return libssh2_userauth_password_ex(mSession, mDest.user.c_str(),
                                                        unsigned(mDest.user.size()), secret.c_str(),
                                                        unsigned(secret.size()), nullptr);
                });
            else
                rc = retry([&] {
                    return libssh2_userauth_keyboard_interactive_ex(
                        mSession, mDest.user.c_str(), unsigned(mDest.user.size()), keyboardAnswer);
                });
            std::fill(secret.begin(), secret.end(), '\0');
            gPassword = nullptr;
            if (rc == 0)
                return;
            if (rc != LIBSSH2_ERROR_AUTHENTICATION_FAILED && rc != LIBSSH2_ERROR_PASSWORD_EXPIRED &&
                rc != LIBSSH2_ERROR_PUBLICKEY_UNVERIFIED)
                connectionClosed();
            if (attempt < 3)
                mTerm.line("Permission denied, please try again.");
        }
    }
    mTerm.line(who + ": Permission denied (" + offered + ").");
    connectionClosed();
}

void Client::run() {
    for (;;) {
        mTerm.write("sftp> ");
        std::string command;
        gWatchedSocket = mSock;
        const bool got = mTerm.readLine(command, true, mSock, onSocketReadable);
        if (!got)
            finish(0);
        mTerm.line(echoText(command));
        execute(command);
    }
}

bool Client::realPath(const std::string& path, std::string& out, std::string& error) {
    std::vector<char> buf(8192);
    const int rc = retry([&] {
        return libssh2_sftp_symlink_ex(mSftp, path.data(), unsigned(path.size()), buf.data(),
                                       unsigned(buf.size()), LIBSSH2_SFTP_REALPATH);
    });
    if (rc < 0) {
        error = failure(rc);
        return false;
    }
    out.assign(buf.data(), size_t(rc));
    return true;
}

int Client::stat(const std::string& path, LIBSSH2_SFTP_ATTRIBUTES& attrs, int how) {
    std::memset(&attrs, 0, sizeof attrs);
    return retry([&] {
        return libssh2_sftp_stat_ex(mSftp, path.data(), unsigned(path.size()), how, &attrs);
    });
}

void Client::closeHandle(LIBSSH2_SFTP_HANDLE* h) {
    const int rc = retry([&] { return libssh2_sftp_close_handle(h); });
    if (rc < 0 && rc != LIBSSH2_ERROR_SFTP_PROTOCOL)
        failure(rc);
}

void Client::execute(const std::string& command) {
    std::vector<Word> w;
    std::string error;
    if (!splitWords(command, w, error)) {
        mTerm.line(error);
        return;
    }
    if (w.empty())
        return;
    const std::string verb = w[0].quoted ? std::string() : w[0].text;
    const size_t args = w.size() - 1;
    auto usage = [&](const char* text) { mTerm.line(std::string("Usage: ") + text); };

    if (verb == "quit" || verb == "exit" || verb == "bye") {
        if (args)
            return usage("quit");
        libssh2_session_set_blocking(mSession, 1);
        libssh2_session_set_timeout(mSession, 2000);
        libssh2_sftp_shutdown(mSftp);
        libssh2_session_disconnect(mSession, "Bye");
        finish(0);
    } else if (verb == "cd") {
        args == 1 ? doCd(w) : usage("cd remote-folder");
    } else if (verb == "pwd") {
        args == 0 ? mTerm.line("Remote working directory: " + mCwd) : usage("pwd");
    } else if (verb == "lcd") {
        if (args != 1)
            return usage("lcd local-folder");
        if (chdir(w[1].text.c_str()) != 0)
            mTerm.line(std::string("Couldn't change local directory: ") + std::strerror(errno));
    } else if (verb == "lpwd") {
        char buf[4096];
        if (args != 0)
            return usage("lpwd");
        if (getcwd(buf, sizeof buf))
            mTerm.line(std::string("Local working directory: ") + buf);
        else
            mTerm.line(std::string("Couldn't read local directory: ") + std::strerror(errno));
    } else if (verb == "ls" || verb == "dir") {
        doLs(w);
    } else if (verb == "get") {
        args == 1 || args == 2 ? doGet(w) : usage("get remote-file [local-file]");
    } else if (verb == "put") {
        args == 1 || args == 2 ? doPut(w) : usage("put local-file [remote-file]");
    } else if (verb == "rest") {
        uint64_t offset = 0;
        if (args != 1 || !parseOffset(w[1].text, offset))
            return usage("rest byte-offset");
        mRest = offset;
        mHaveRest = true;
    } else if (verb == "modtime") {
        args == 1 ? doModTime(w) : usage("modtime remote-path");
    } else if (verb == "mkdir" || verb == "rmdir" || verb == "rm" || verb == "rename" ||
               verb == "chmod") {
        doSimple(verb, w);
    } else if (verb == "help" || verb == "?") {
        static const char* const lines[] = {
            "Available commands:",
            "cd folder                 Change the remote folder",
            "chmod mode path           Change the permissions of a remote file",
            "get remote [local]        Download a file",
            "lcd folder                Change the local folder",
            "lpwd                      Show the local folder",
            "ls [-l] [-a] [path]       List a remote folder",
            "mkdir path                Create a remote folder",
            "modtime path              Show the modification time of a remote file",
            "put local [remote]        Upload a file",
            "pwd                       Show the remote folder",
            "quit                      Leave",
            "rename old new            Rename a remote file",
            "rest offset               Start the next get or put at this byte offset",
            "rm path                   Delete a remote file",
            "rmdir path                Delete a remote folder",
            "Names with blanks go in double quotes; inside them \\\" and \\\\ stand for",
            "a quote and a backslash."};
        for (const char* l : lines)
            mTerm.line(l);
    } else {
        mTerm.line("Invalid command.");
    }
}

void Client::doCd(const std::vector<Word>& w) {
    std::string resolved, error;
    if (!realPath(remotePath(mCwd, w[1].text), resolved, error)) {
        mTerm.line("Couldn't change directory: " + error);
        return;
    }
    LIBSSH2_SFTP_ATTRIBUTES a;
    const int rc = stat(resolved, a, LIBSSH2_SFTP_STAT);
    if (rc < 0) {
        mTerm.line("Couldn't change directory: " + failure(rc));
        return;
    }
    if ((a.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS) && !LIBSSH2_SFTP_S_ISDIR(a.permissions)) {
        mTerm.line("Couldn't change directory: Not a directory");
        return;
    }
    mCwd = resolved;
}

namespace {

ListEntry entryFrom(const std::string& name, const LIBSSH2_SFTP_ATTRIBUTES& a,
                    const std::string& longName) {
    ListEntry e;
    e.name = name;
    e.mode = (a.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS) ? a.permissions : 0100000;
    e.size = (a.flags & LIBSSH2_SFTP_ATTR_SIZE) ? a.filesize : 0;
    e.mtime = (a.flags & LIBSSH2_SFTP_ATTR_ACMODTIME) ? time_t(a.mtime) : 0;
    if (!ownerFromLongName(longName, e.size, e)) {
        const bool ids = a.flags & LIBSSH2_SFTP_ATTR_UIDGID;
        e.owner = ids ? std::to_string(a.uid) : "?";
        e.group = ids ? std::to_string(a.gid) : "?";
    }
    return e;
}

} // namespace

void Client::doLs(const std::vector<Word>& w) {
    bool all = false, optionsDone = false;
    const Word* target = nullptr;
    for (size_t i = 1; i < w.size(); ++i) {
        const std::string& t = w[i].text;
        if (!optionsDone && !w[i].quoted && t == "--") {
            optionsDone = true;
        } else if (!optionsDone && !w[i].quoted && t.size() > 1 && t[0] == '-' &&
                   t.find_first_not_of("la1", 1) == std::string::npos) {
            all = all || t.find('a') != std::string::npos;
        } else if (!target) {
            target = &w[i];
            optionsDone = true;
        } else {
            mTerm.line("Usage: ls [-l] [-a] [path]");
            return;
        }
    }
    const std::string path = target ? remotePath(mCwd, target->text) : mCwd;
    std::string prefix;
    if (target) {
        prefix = target->text;
        if (!prefix.empty() && prefix.back() != '/')
            prefix += '/';
        LIBSSH2_SFTP_ATTRIBUTES a;
        const int rc = stat(path, a, LIBSSH2_SFTP_STAT);
        if (rc < 0) {
            mTerm.line("Couldn't list directory: " + failure(rc));
            return;
        }
        if ((a.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS) && !LIBSSH2_SFTP_S_ISDIR(a.permissions)) {
            // A single file: one line under the name as given.
            LIBSSH2_SFTP_ATTRIBUTES l;
            if (stat(path, l, LIBSSH2_SFTP_LSTAT) == 0)
                a = l;
            mTerm.line(longListingLine(entryFrom(target->text, a, ""), time(nullptr)));
            return;
        }
    }
    LIBSSH2_SFTP_HANDLE* h = retryPtr([&] {
        return libssh2_sftp_open_ex(mSftp, path.data(), unsigned(path.size()), 0, 0,
                                    LIBSSH2_SFTP_OPENDIR);
    });
    if (!h) {
        mTerm.line("Couldn't list directory: " + failure(libssh2_session_last_errno(mSession)));
        return;
    }
    std::vector<ListEntry> entries;
    std::vector<char> name(8192), longName(8192);
    std::string error;
    for (;;) {
        LIBSSH2_SFTP_ATTRIBUTES a;
        std::memset(&a, 0, sizeof a);
        const int rc = retry([&] {
            return libssh2_sftp_readdir_ex(h, name.data(), name.size(), longName.data(),
                                           longName.size(), &a);
        });
        if (rc == 0)
            break;
        if (rc < 0) {
            error = failure(rc);
            break;
        }
        std::string n(name.data(), size_t(rc));
        if (!all && n[0] == '.')
            continue;
        entries.push_back(entryFrom(n, a, longName.data()));
    }
    closeHandle(h);
    if (!error.empty()) {
        mTerm.line("Couldn't list directory: " + error);
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const ListEntry& a, const ListEntry& b) { return a.name < b.name; });
    const time_t now = time(nullptr);
    std::string out;
    for (ListEntry& e : entries) {
        e.name = prefix + e.name;
        out += longListingLine(e, now) + mTerm.eol();
    }
    mTerm.write(out);
}

void Client::doModTime(const std::vector<Word>& w) {
    LIBSSH2_SFTP_ATTRIBUTES a;
    const int rc = stat(remotePath(mCwd, w[1].text), a, LIBSSH2_SFTP_STAT);
    if (rc < 0)
        mTerm.line("Couldn't read the modification time: " + failure(rc));
    else if (!(a.flags & LIBSSH2_SFTP_ATTR_ACMODTIME))
        mTerm.line("Couldn't read the modification time: the server did not send it");
    else
        mTerm.line(modTimeText(time_t(a.mtime)));
}

void Client::doSimple(const std::string& verb, const std::vector<Word>& w) {
    const size_t args = w.size() - 1;
    int rc = 0;
    std::string what;
    if (verb == "mkdir" || verb == "rmdir" || verb == "rm") {
        if (args != 1) {
            mTerm.line("Usage: " + verb + " remote-path");
            return;
        }
        const std::string p = remotePath(mCwd, w[1].text);
        if (verb == "mkdir") {
            what = "Couldn't create directory: ";
            rc = retry(
                [&] { return libssh2_sftp_mkdir_ex(mSftp, p.data(), unsigned(p.size()), 0777); });
        } else if (verb == "rmdir") {
            what = "Couldn't remove directory: ";
            rc = retry([&] { return libssh2_sftp_rmdir_ex(mSftp, p.data(), unsigned(p.size())); });
        } else {
            what = "Couldn't delete file: ";
            rc = retry([&] { return libssh2_sftp_unlink_ex(mSftp, p.data(), unsigned(p.size())); });
        }
    } else if (verb == "rename") {
        if (args != 2) {
            mTerm.line("Usage: rename old-path new-path");
            return;
        }
        const std::string from = remotePath(mCwd, w[1].text), to = remotePath(mCwd, w[2].text);
        what = "Couldn't rename file: ";
        rc = retry([&] {
            return libssh2_sftp_rename_ex(
                mSftp, from.data(), unsigned(from.size()), to.data(), unsigned(to.size()),
                LIBSSH2_SFTP_RENAME_OVERWRITE | LIBSSH2_SFTP_RENAME_ATOMIC |
                    LIBSSH2_SFTP_RENAME_NATIVE);
        });
    } else { // chmod
        unsigned mode = 0;
        if (args != 2 || !parseMode(w[1].text, mode)) {
            mTerm.line("Usage: chmod octal-mode remote-path");
            return;
        }
        const std::string p = remotePath(mCwd, w[2].text);
        LIBSSH2_SFTP_ATTRIBUTES a;
        std::memset(&a, 0, sizeof a);
        a.flags = LIBSSH2_SFTP_ATTR_PERMISSIONS;
        a.permissions = mode;
        what = "Couldn't change mode: ";
        rc = retry([&] {
            return libssh2_sftp_stat_ex(mSftp, p.data(), unsigned(p.size()), LIBSSH2_SFTP_SETSTAT,
                                        &a);
        });
    }
    if (rc < 0)
        mTerm.line(what + failure(rc));
}

void Client::startProgress() {
    mNextProgress = nowMs() + kProgressMs;
}

void Client::progress(uint64_t done, bool force) {
    const long long now = nowMs();
    if (!force && now < mNextProgress)
        return;
    mNextProgress = now + kProgressMs;
    mTerm.line(std::to_string(done) + " bytes transferred");
}

namespace {

// Writes all of `size` bytes; false with errno set on failure.
bool writeAll(int fd, const char* data, size_t size) {
    while (size) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            close(fd);
    }
};

} // namespace

void Client::doGet(const std::vector<Word>& w) {
    const bool resume = mHaveRest;
    const uint64_t offset = mHaveRest ? mRest : 0;
    mHaveRest = false; // a rest offset serves the next transfer only, whatever becomes of it
    mRest = 0;
    gInterrupted = 0;

    const std::string remote = remotePath(mCwd, w[1].text);
    const std::string local = w.size() > 2 ? w[2].text : lastComponent(w[1].text);
    if (local.empty()) {
        mTerm.line("Couldn't get: no local file name can be made from that path");
        return;
    }
    LIBSSH2_SFTP_HANDLE* h = retryPtr([&] {
        return libssh2_sftp_open_ex(mSftp, remote.data(), unsigned(remote.size()), LIBSSH2_FXF_READ,
                                    0, LIBSSH2_SFTP_OPENFILE);
    });
    if (!h) {
        mTerm.line("Couldn't open remote file: " + failure(libssh2_session_last_errno(mSession)));
        return;
    }
    LIBSSH2_SFTP_ATTRIBUTES a;
    std::memset(&a, 0, sizeof a);
    int rc = retry([&] { return libssh2_sftp_fstat_ex(h, &a, 0); });
    std::string error;
    if (rc < 0)
        error = "Couldn't read remote file size: " + failure(rc);
    else if ((a.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS) && LIBSSH2_SFTP_S_ISDIR(a.permissions))
        error = "Couldn't get: the remote path is a folder";
    else if (resume && (a.flags & LIBSSH2_SFTP_ATTR_SIZE) && offset > a.filesize)
        error = "Couldn't resume: the offset lies beyond the end of the remote file";
    if (!error.empty()) {
        closeHandle(h);
        mTerm.line(error);
        return;
    }

    // Where the bytes go. A new file is written in place, so that an
    // interrupted download can be resumed; an existing one is only replaced
    // once the new copy is complete; a resume continues the existing file.
    Fd out;
    std::string temporary;
    struct stat st {};
    const bool exists = ::stat(local.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        error = "Couldn't write local file: it is a folder";
    } else if (resume && offset > 0) {
        if (!exists || uint64_t(st.st_size) < offset)
            error = "Couldn't resume: the local file is shorter than the offset";
        else if ((out.fd = open(local.c_str(), O_WRONLY | O_CLOEXEC)) < 0 ||
                 ftruncate(out.fd, off_t(offset)) != 0 ||
                 lseek(out.fd, off_t(offset), SEEK_SET) < 0)
            error = std::string("Couldn't open local file: ") + std::strerror(errno);
    } else if (!exists) {
        out.fd = open(local.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (out.fd < 0)
            error = std::string("Couldn't create local file: ") + std::strerror(errno);
    } else {
        const size_t slash = local.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : local.substr(0, slash + 1);
        temporary = dir + (slash == std::string::npos ? "/" : "") + ".sftp-part-XXXXXX";
        std::vector<char> tmpl(temporary.begin(), temporary.end());
        tmpl.push_back('\0');
        out.fd = mkostemp(tmpl.data(), O_CLOEXEC);
        if (out.fd < 0) {
            error = std::string("Couldn't create local file: ") + std::strerror(errno);
            temporary.clear();
        } else {
            temporary = tmpl.data();
            setTemporaryFile(temporary);
            fchmod(out.fd, st.st_mode & 07777);
        }
    }
    if (!error.empty()) {
        closeHandle(h);
        mTerm.line(error);
        return;
    }

    libssh2_sftp_seek64(h, offset);
    std::unique_ptr<char[]> buf(new char[kReadBuffer]);
    uint64_t done = 0;
    bool interrupted = false;
    startProgress();
    for (;;) {
        const ssize_t n = libssh2_sftp_read(h, buf.get(), kReadBuffer);
        if (n > 0) {
            if (!writeAll(out.fd, buf.get(), size_t(n))) {
                error = std::string("Couldn't write local file: ") + std::strerror(errno);
                break;
            }
            done += uint64_t(n);
        } else if (n == 0) {
            break;
        } else if (n == LIBSSH2_ERROR_EAGAIN) {
            const long long left = std::max(0LL, mNextProgress - nowMs());
            if (waitSocket(int(left), true) == Wait::Interrupted) {
                interrupted = true;
                break;
            }
        } else {
            error = "Couldn't read remote file: " + failure(int(n));
            break;
        }
        if (gInterrupted) {
            interrupted = true;
            break;
        }
        progress(done, false);
    }
    closeHandle(h);
    if (error.empty() && !interrupted && close(out.fd) != 0)
        error = std::string("Couldn't write local file: ") + std::strerror(errno);
    else if (error.empty() && !interrupted)
        out.fd = -1;
    if (!temporary.empty()) {
        if (error.empty() && !interrupted && rename(temporary.c_str(), local.c_str()) != 0)
            error = std::string("Couldn't replace local file: ") + std::strerror(errno);
        if (!error.empty() || interrupted)
            unlink(temporary.c_str());
        setTemporaryFile("");
    }
    if (interrupted)
        mTerm.line("Transfer interrupted.");
    else if (!error.empty())
        mTerm.line(error);
    else
        progress(done, true);
}

void Client::doPut(const std::vector<Word>& w) {
    const bool resume = mHaveRest;
    const uint64_t offset = mHaveRest ? mRest : 0;
    mHaveRest = false;
    mRest = 0;
    gInterrupted = 0;

    const std::string& local = w[1].text;
    const std::string remoteName = w.size() > 2 ? w[2].text : lastComponent(local);
    if (remoteName.empty()) {
        mTerm.line("Couldn't put: no remote file name can be made from that path");
        return;
    }
    const std::string remote = remotePath(mCwd, remoteName);
    Fd in;
    struct stat st {};
    in.fd = open(local.c_str(), O_RDONLY | O_CLOEXEC);
    if (in.fd < 0 || fstat(in.fd, &st) != 0) {
        mTerm.line(std::string("Couldn't open local file: ") + std::strerror(errno));
        return;
    }
    if (!S_ISREG(st.st_mode)) {
        mTerm.line("Couldn't put: the local path is not a file");
        return;
    }
    if (resume && offset > uint64_t(st.st_size)) {
        mTerm.line("Couldn't resume: the offset lies beyond the end of the local file");
        return;
    }
    const unsigned long flags =
        LIBSSH2_FXF_WRITE | (offset > 0 ? 0 : LIBSSH2_FXF_CREAT | LIBSSH2_FXF_TRUNC);
    LIBSSH2_SFTP_HANDLE* h = retryPtr([&] {
        return libssh2_sftp_open_ex(mSftp, remote.data(), unsigned(remote.size()), flags,
                                    long(st.st_mode & 0777), LIBSSH2_SFTP_OPENFILE);
    });
    if (!h) {
        mTerm.line("Couldn't open remote file: " + failure(libssh2_session_last_errno(mSession)));
        return;
    }
    if (offset > 0) {
        // Resuming: the remote file must hold at least the offset (no hole), and
        // anything beyond it is cut off so the result is exactly the local file.
        LIBSSH2_SFTP_ATTRIBUTES a;
        std::memset(&a, 0, sizeof a);
        int rc = retry([&] { return libssh2_sftp_fstat_ex(h, &a, 0); });
        std::string error;
        if (rc < 0)
            error = "Couldn't read remote file size: " + failure(rc);
        else if (!(a.flags & LIBSSH2_SFTP_ATTR_SIZE) || a.filesize < offset)
            error = "Couldn't resume: the remote file is shorter than the offset";
        else if (a.filesize > offset) {
            std::memset(&a, 0, sizeof a);
            a.flags = LIBSSH2_SFTP_ATTR_SIZE;
            a.filesize = offset;
            rc = retry([&] { return libssh2_sftp_fstat_ex(h, &a, 1); });
            if (rc < 0)
                error = "Couldn't resume: " + failure(rc);
        }
        if (!error.empty()) {
            closeHandle(h);
            mTerm.line(error);
            return;
        }
        if (lseek(in.fd, off_t(offset), SEEK_SET) < 0) {
            closeHandle(h);
            mTerm.line(std::string("Couldn't read local file: ") + std::strerror(errno));
            return;
        }
    }
    libssh2_sftp_seek64(h, offset);

    // Data handed to the library stays in place until the server has
    // acknowledged it; new data is appended behind it, so that many write
    // requests are in flight at once.
    std::unique_ptr<char[]> buf(new char[kWriteBuffer]);
    size_t pos = 0, end = 0;
    bool eof = false, interrupted = false;
    uint64_t done = 0;
    std::string error;
    startProgress();
    for (;;) {
        while (!interrupted && !eof && end - pos < kWriteWindow) {
            if (end == kWriteBuffer) {
                std::memmove(buf.get(), buf.get() + pos, end - pos);
                end -= pos;
                pos = 0;
            }
            const ssize_t r =
                read(in.fd, buf.get() + end, std::min(kWriteBuffer - end, kWriteWindow));
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0) {
                error = std::string("Couldn't read local file: ") + std::strerror(errno);
                break;
            }
            if (r == 0)
                eof = true;
            end += size_t(r);
        }
        // After an interrupt no new data goes out, but what was handed over is
        // seen through, so the remote file ends where the acknowledged data
        // ends and the session stays in step.
        if (!error.empty() || (pos == end && (eof || interrupted)))
            break;
        const ssize_t n = libssh2_sftp_write(h, buf.get() + pos, end - pos);
        if (n > 0) {
            pos += size_t(n);
            done += uint64_t(n);
        } else if (n == LIBSSH2_ERROR_EAGAIN || n == 0) {
            const long long left = interrupted ? -1 : std::max(0LL, mNextProgress - nowMs());
            if (waitSocket(int(left), !interrupted) == Wait::Interrupted)
                interrupted = true;
        } else {
            error = "Couldn't write remote file: " + failure(int(n));
            break;
        }
        if (gInterrupted)
            interrupted = true;
        if (!interrupted)
            progress(done, false);
    }
    const int rc = retry([&] { return libssh2_sftp_close_handle(h); });
    if (rc < 0 && error.empty() && !interrupted)
        error = "Couldn't close remote file: " + failure(rc);
    if (interrupted)
        mTerm.line("Transfer interrupted.");
    else if (!error.empty())
        mTerm.line(error);
    else
        progress(done, true);
}

} // namespace sftptool
