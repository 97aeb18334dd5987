#include "client.h"

#include "pump.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
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

using namespace sftp;

namespace {

// Transfers keep many requests in flight so that the link never idles on a
// round trip: 32 KiB each (what every server accepts), 4 MiB in all. The
// receive buffer is larger than that, and asking the channel for its free
// space keeps the SSH window open wide enough for every reply in flight.
constexpr uint32_t kChunk = 32 * 1024;
constexpr size_t kInFlight = 128;
// Downloads ask for at least this many chunks at a time.
constexpr size_t kReadBatch = 16;
// Uploads hand the channel this many requests at once.
constexpr size_t kWriteBatch = 16;
constexpr size_t kReceiveBuffer = 16 * 1024 * 1024;
constexpr size_t kReceiveAsk = 8 * 1024 * 1024;
constexpr long long kProgressMs = 500;
// How long a busy wait sleeps at most before it looks at signals again.
constexpr int kPollMs = 100;
// How often a busy transfer looks at signals and the terminal: each look
// costs system calls, so not at every packet.
constexpr long long kLookMs = 10;

// AES-GCM first: with AES instructions it costs both ends least.
constexpr const char* kCiphers = "aes128-gcm@openssh.com,aes256-gcm@openssh.com,"
                                 "chacha20-poly1305@openssh.com,aes128-ctr,aes192-ctr,aes256-ctr";

long long nowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string homeDir() {
    if (const char* h = std::getenv("HOME"); h && *h)
        return h;
    if (struct passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return ".";
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

bool terminalGone(int fd) {
    struct pollfd p {
        fd, 0, 0
    };
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

// Writes all of `size` bytes at `offset`; false with errno set on failure.
bool writeAllAt(int fd, const char* data, size_t size, uint64_t offset) {
    while (size) {
        const ssize_t n = ::pwrite(fd, data, size, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
        offset += uint64_t(n);
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

void Client::connectionClosed() {
    mTerm.line("Connection closed");
    finish(1);
}

// ---- the channel ----

void Client::send(const char* data, size_t size) {
    while (size) {
        const int n = ssh_channel_write(mChannel, data, uint32_t(std::min<size_t>(size, 1u << 30)));
        // The library gives up waiting for the server's window after a while
        // and returns what it wrote; a slow server is not a lost one.
        if (n < 0 || ssh_channel_is_closed(mChannel) || !ssh_is_connected(mSession))
            connectionClosed();
        data += n;
        size -= size_t(n);
        if (size)
            lookAround();
    }
}

bool Client::receive(int timeoutMs) {
    lookAround();
    if (mInStart == mInEnd)
        mInStart = mInEnd = 0;
    if (mIn.size() - mInEnd < kReceiveAsk) {
        std::memmove(mIn.data(), mIn.data() + mInStart, mInEnd - mInStart);
        mInEnd -= mInStart;
        mInStart = 0;
    }
    const int n = ssh_channel_read_timeout(mChannel, mIn.data() + mInEnd,
                                           uint32_t(mIn.size() - mInEnd), 0, timeoutMs);
    if (n < 0)
        connectionClosed();
    if (n == 0) {
        if (ssh_channel_is_eof(mChannel) || ssh_channel_is_closed(mChannel) ||
            !ssh_is_connected(mSession))
            connectionClosed();
        return false;
    }
    mInEnd += size_t(n);
    return true;
}

bool Client::nextPacket(std::string_view& body) {
    const std::string_view have(mIn.data() + mInStart, mInEnd - mInStart);
    const size_t size = packetSize(have);
    if (size == std::string_view::npos)
        connectionClosed(); // the stream is out of step; nothing after it can be read
    if (size == 0)
        return false;
    body = have.substr(4, size - 4);
    mInStart += size;
    return true;
}

bool Client::request(Packet& p, uint8_t want, std::string& reply, std::string& error) {
    const std::string& bytes = p.finish();
    Reader head(std::string_view(bytes).substr(5, 4));
    const uint32_t id = head.u32();
    send(bytes);
    std::string_view body;
    while (!nextPacket(body))
        receive(kPollMs);
    Reader r(body);
    const uint8_t type = r.u8();
    if (r.u32() != id)
        connectionClosed(); // a reply to nothing asked: the session is out of step
    if (type == Status) {
        const uint32_t code = r.u32();
        if (code == Ok && want == Status)
            return true;
        error = statusText(code);
        return false;
    }
    if (type != want) {
        error = "Bad message";
        return false;
    }
    reply.assign(body.substr(5));
    return true;
}

void Client::startSftp() {
    mIn.resize(kReceiveBuffer);
    mChannel = ssh_channel_new(mSession);
    if (!mChannel || ssh_channel_open_session(mChannel) != SSH_OK ||
        ssh_channel_request_subsystem(mChannel, "sftp") != SSH_OK) {
        mTerm.line("The server refused to start its SFTP service");
        connectionClosed();
    }
    send(Packet::init(3).finish());
    std::string_view body;
    while (!nextPacket(body))
        receive(kPollMs);
    Reader r(body);
    if (r.u8() != Version || !r.ok()) {
        mTerm.line("The server refused to start its SFTP service");
        connectionClosed();
    }
}

bool Client::realPath(const std::string& path, std::string& out, std::string& error) {
    Packet p(Realpath, nextId());
    p.str(path);
    std::string reply;
    if (!request(p, Name, reply, error))
        return false;
    Reader r(reply);
    if (r.u32() < 1) {
        error = "Bad message";
        return false;
    }
    out = std::string(r.str());
    if (!r.ok())
        error = "Bad message";
    return r.ok();
}

bool Client::stat(const std::string& path, Attributes& attrs, Type how, std::string& error) {
    Packet p(how, nextId());
    p.str(path);
    std::string reply;
    if (!request(p, Attrs, reply, error))
        return false;
    Reader r(reply);
    attrs = r.attrs();
    if (!r.ok())
        error = "Bad message";
    return r.ok();
}

bool Client::open(const std::string& path, Type how, uint32_t flags, const Attributes& attrs,
                  std::string& handle, std::string& error) {
    Packet p(how, nextId());
    p.str(path);
    if (how == Open)
        p.u32(flags).attrs(attrs);
    std::string reply;
    if (!request(p, Handle, reply, error))
        return false;
    Reader r(reply);
    handle = std::string(r.str());
    if (!r.ok())
        error = "Bad message";
    return r.ok();
}

bool Client::simple(Packet& p, std::string& error) {
    std::string reply;
    return request(p, Status, reply, error);
}

void Client::closeHandle(const std::string& handle, std::string* error) {
    Packet p(Close, nextId());
    p.str(handle);
    std::string e;
    if (!simple(p, e) && error)
        *error = e;
}

// ---- login ----

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
    // The library gets the local end of a pump; without one, the connection.
    if (const int pumped = startPump(mSock); pumped >= 0)
        mSock = pumped;

    if (ssh_init() != SSH_OK || !(mSession = ssh_new())) {
        mTerm.line("ssh: cannot start the SSH library");
        connectionClosed();
    }
    // Only what is set here counts: no configuration files, only the user's
    // own known_hosts (whose key types also steer which host key is asked for).
    const std::string knownHosts = homeDir() + "/.ssh/known_hosts";
    const unsigned int portNumber = unsigned(mDest.port);
    const int verbosity = SSH_LOG_NOLOG;
    const int no = 0;
    socket_t fd = mSock;
    if (ssh_options_set(mSession, SSH_OPTIONS_LOG_VERBOSITY, &verbosity) != SSH_OK ||
        ssh_options_set(mSession, SSH_OPTIONS_PROCESS_CONFIG, &no) != SSH_OK ||
        ssh_options_set(mSession, SSH_OPTIONS_HOST, mDest.host.c_str()) != SSH_OK ||
        ssh_options_set(mSession, SSH_OPTIONS_PORT, &portNumber) != SSH_OK ||
        ssh_options_set(mSession, SSH_OPTIONS_USER, mDest.user.c_str()) != SSH_OK ||
        ssh_options_set(mSession, SSH_OPTIONS_KNOWNHOSTS, knownHosts.c_str()) != SSH_OK ||
        ssh_options_set(mSession, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, "/dev/null") != SSH_OK ||
        ssh_options_set(mSession, SSH_OPTIONS_CIPHERS_C_S, kCiphers) != SSH_OK ||
        ssh_options_set(mSession, SSH_OPTIONS_CIPHERS_S_C, kCiphers) != SSH_OK ||
        ssh_options_set(mSession, SSH_OPTIONS_FD, &fd) != SSH_OK) {
        mTerm.line("ssh: cannot start the SSH library");
        connectionClosed();
    }
    if (ssh_connect(mSession) != SSH_OK) {
        mTerm.line("ssh: the SSH handshake with " + mDest.host + " failed");
        connectionClosed();
    }
    checkHostKey();
    authenticate();
    startSftp();
    std::string error;
    if (!realPath(".", mCwd, error))
        mCwd = "/";
    mTerm.line("Connected to " + mDest.host + ".");
}

void Client::checkHostKey() {
    ssh_key key = nullptr;
    if (ssh_get_server_publickey(mSession, &key) != SSH_OK || !key)
        connectionClosed();
    std::unique_ptr<ssh_key_struct, void (*)(ssh_key)> keyOwner(key, ssh_key_free);
    const enum ssh_keytypes_e type = ssh_key_type(key);
    std::string typeName;
    switch (type) {
    case SSH_KEYTYPE_RSA:
        typeName = "RSA";
        break;
    case SSH_KEYTYPE_DSS:
        typeName = "DSA";
        break;
    case SSH_KEYTYPE_ECDSA_P256:
    case SSH_KEYTYPE_ECDSA_P384:
    case SSH_KEYTYPE_ECDSA_P521:
        typeName = "ECDSA";
        break;
    case SSH_KEYTYPE_ED25519:
        typeName = "ED25519";
        break;
    default:
        typeName = "unknown";
        break;
    }
    unsigned char* hash = nullptr;
    size_t hashLen = 0;
    std::string fingerprint = "unknown";
    if (ssh_get_publickey_hash(key, SSH_PUBLICKEY_HASH_SHA256, &hash, &hashLen) == 0) {
        fingerprint = "SHA256:" + base64(hash, hashLen);
        ssh_clean_pubkey_hash(&hash);
    }
    const std::string label =
        mDest.port == 22 ? mDest.host : "[" + mDest.host + "]:" + std::to_string(mDest.port);
    const std::string dir = homeDir() + "/.ssh";
    const std::string path = dir + "/known_hosts";

    // Entries the library cannot read (markers, unknown key types) are
    // skipped; only an entry of this key type with another key is a change.
    const enum ssh_known_hosts_e known = ssh_session_is_known_server(mSession);
    if (known == SSH_KNOWN_HOSTS_OK)
        return;
    if (known == SSH_KNOWN_HOSTS_CHANGED) {
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
    // One plain line, "[host]:port type key", as OpenSSH writes unhashed entries.
    bool saved = false;
    char* encoded = nullptr;
    const char* typeText = ssh_key_type_to_char(type);
    if (typeText && ssh_pki_export_pubkey_base64(key, &encoded) == SSH_OK && encoded) {
        std::string text = label + " " + typeText + " " + encoded + "\n";
        ssh_string_free_char(encoded);
        // A file that does not end with a line end gets one first.
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && st.st_size > 0) {
            char last = '\n';
            Fd in;
            in.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
            if (in.fd >= 0 && pread(in.fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
                text = "\n" + text;
        }
        mkdir(dir.c_str(), 0700);
        const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) {
            saved = ::write(fd, text.data(), text.size()) == ssize_t(text.size());
            saved = (close(fd) == 0) && saved;
        }
    }
    if (saved)
        mTerm.line("Warning: Permanently added '" + label + "' (" + typeName +
                   ") to the list of known hosts.");
    else
        mTerm.line("Failed to add the host to the list of known hosts (" + path + ").");
}

void Client::authenticate() {
    const int none = ssh_userauth_none(mSession, nullptr);
    if (none == SSH_AUTH_SUCCESS)
        return;
    if (none == SSH_AUTH_ERROR)
        connectionClosed();
    const int methods = ssh_userauth_list(mSession, nullptr);
    // The names in the order OpenSSH's server offers them.
    std::string offered;
    const std::pair<int, const char*> names[] = {
        {SSH_AUTH_METHOD_PUBLICKEY, "publickey"},
        {SSH_AUTH_METHOD_HOSTBASED, "hostbased"},
        {SSH_AUTH_METHOD_PASSWORD, "password"},
        {SSH_AUTH_METHOD_INTERACTIVE, "keyboard-interactive"}};
    for (const auto& [bit, name] : names)
        if (methods & bit)
            offered += (offered.empty() ? "" : ",") + std::string(name);
    const bool password = methods & SSH_AUTH_METHOD_PASSWORD;
    const bool keyboard = methods & SSH_AUTH_METHOD_INTERACTIVE;
    const std::string who = mDest.user + "@" + mDest.host;
    if (password || keyboard) {
        for (int attempt = 1; attempt <= 3; ++attempt) {
            mTerm.write(who + "'s password: ");
            std::string secret;
            if (!mTerm.readLine(secret, false))
                finish(1);
            mTerm.write(mTerm.eol());
            int rc = SSH_AUTH_DENIED;
            if (password) {
                rc = ssh_userauth_password(mSession, nullptr, secret.c_str());
            } else {
                rc = ssh_userauth_kbdint(mSession, nullptr, nullptr);
                while (rc == SSH_AUTH_INFO) {
                    const int prompts = ssh_userauth_kbdint_getnprompts(mSession);
                    for (int i = 0; i < prompts; ++i)
                        ssh_userauth_kbdint_setanswer(mSession, unsigned(i), secret.c_str());
                    rc = ssh_userauth_kbdint(mSession, nullptr, nullptr);
                }
            }
            std::fill(secret.begin(), secret.end(), '\0');
            if (rc == SSH_AUTH_SUCCESS)
                return;
            if (rc == SSH_AUTH_ERROR)
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

// ---- commands ----

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
        ssh_disconnect(mSession);
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
    Attributes a;
    if (!realPath(remotePath(mCwd, w[1].text), resolved, error) ||
        !stat(resolved, a, Stat, error)) {
        mTerm.line("Couldn't change directory: " + error);
        return;
    }
    if ((a.flags & HasPermissions) && !a.isDirectory()) {
        mTerm.line("Couldn't change directory: Not a directory");
        return;
    }
    mCwd = resolved;
}

namespace {

ListEntry entryFrom(const std::string& name, const Attributes& a, const std::string& longName) {
    ListEntry e;
    e.name = name;
    e.mode = (a.flags & HasPermissions) ? a.permissions : 0100000;
    e.size = (a.flags & HasSize) ? a.size : 0;
    e.mtime = (a.flags & HasTimes) ? time_t(a.mtime) : 0;
    if (!ownerFromLongName(longName, e.size, e)) {
        const bool ids = a.flags & HasIds;
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
    std::string prefix, error;
    if (target) {
        prefix = target->text;
        if (!prefix.empty() && prefix.back() != '/')
            prefix += '/';
        Attributes a;
        if (!stat(path, a, Stat, error)) {
            mTerm.line("Couldn't list directory: " + error);
            return;
        }
        if ((a.flags & HasPermissions) && !a.isDirectory()) {
            // A single file: one line under the name as given.
            Attributes l;
            std::string ignored;
            if (stat(path, l, Lstat, ignored))
                a = l;
            mTerm.line(longListingLine(entryFrom(target->text, a, ""), time(nullptr)));
            return;
        }
    }
    std::string handle;
    if (!open(path, Opendir, 0, Attributes(), handle, error)) {
        mTerm.line("Couldn't list directory: " + error);
        return;
    }
    std::vector<ListEntry> entries;
    for (bool more = true; more;) {
        Packet p(Readdir, nextId());
        p.str(handle);
        std::string reply, e;
        if (!request(p, Name, reply, e)) {
            if (e != statusText(Eof))
                error = e;
            break;
        }
        Reader r(reply);
        for (uint32_t n = r.u32(); n > 0 && r.ok(); --n) {
            const std::string name(r.str());
            const std::string longName(r.str());
            const Attributes a = r.attrs();
            if (r.ok() && !name.empty() && (all || name[0] != '.'))
                entries.push_back(entryFrom(name, a, longName));
        }
        if (!r.ok()) {
            error = "Bad message";
            more = false;
        }
    }
    closeHandle(handle);
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
    Attributes a;
    std::string error;
    if (!stat(remotePath(mCwd, w[1].text), a, Stat, error))
        mTerm.line("Couldn't read the modification time: " + error);
    else if (!(a.flags & HasTimes))
        mTerm.line("Couldn't read the modification time: the server did not send it");
    else
        mTerm.line(modTimeText(time_t(a.mtime)));
}

void Client::doSimple(const std::string& verb, const std::vector<Word>& w) {
    const size_t args = w.size() - 1;
    std::string what, error;
    bool ok = true;
    if (verb == "mkdir" || verb == "rmdir" || verb == "rm") {
        if (args != 1) {
            mTerm.line("Usage: " + verb + " remote-path");
            return;
        }
        const std::string path = remotePath(mCwd, w[1].text);
        if (verb == "mkdir") {
            what = "Couldn't create directory: ";
            Attributes a;
            a.flags = HasPermissions;
            a.permissions = 0777;
            Packet p(Mkdir, nextId());
            p.str(path).attrs(a);
            ok = simple(p, error);
        } else {
            what = verb == "rm" ? "Couldn't delete file: " : "Couldn't remove directory: ";
            Packet p(verb == "rm" ? Remove : Rmdir, nextId());
            p.str(path);
            ok = simple(p, error);
        }
    } else if (verb == "rename") {
        if (args != 2) {
            mTerm.line("Usage: rename old-path new-path");
            return;
        }
        what = "Couldn't rename file: ";
        Packet p(Rename, nextId());
        p.str(remotePath(mCwd, w[1].text)).str(remotePath(mCwd, w[2].text));
        ok = simple(p, error);
    } else { // chmod
        unsigned mode = 0;
        if (args != 2 || !parseMode(w[1].text, mode)) {
            mTerm.line("Usage: chmod octal-mode remote-path");
            return;
        }
        what = "Couldn't change mode: ";
        Attributes a;
        a.flags = HasPermissions;
        a.permissions = mode;
        Packet p(Setstat, nextId());
        p.str(remotePath(mCwd, w[2].text)).attrs(a);
        ok = simple(p, error);
    }
    if (!ok)
        mTerm.line(what + error);
}

void Client::startProgress() {
    mNextProgress = nowMs() + kProgressMs;
    mNextLook = 0;
}

void Client::progress(uint64_t done, bool force) {
    const long long now = nowMs();
    if (!force && now < mNextProgress)
        return;
    mNextProgress = now + kProgressMs;
    mTerm.line(std::to_string(done) + " bytes transferred");
}

void Client::awaitReplies(bool any, bool stopped, uint64_t done) {
    if (!any)
        receive(stopped ? kPollMs
                        : int(std::clamp(mNextProgress - nowMs(), 0LL, (long long)kPollMs)));
    if (!stopped)
        progress(done, false);
}

bool Client::interruptRequested() {
    lookAround();
    return gInterrupted;
}

void Client::lookAround() {
    const long long now = nowMs();
    if (now < mNextLook)
        return;
    mNextLook = now + kLookMs;
    takeSignals();
    if (gHangup || terminalGone(mTerm.fd()))
        finish(1);
}

// ---- transfers ----

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
    std::string handle, error;
    if (!open(remote, Open, OpenRead, Attributes(), handle, error)) {
        mTerm.line("Couldn't open remote file: " + error);
        return;
    }
    if (Attributes a; !stat(handle, a, Fstat, error))
        error = "Couldn't read remote file size: " + error;
    else if (a.isDirectory())
        error = "Couldn't get: the remote path is a folder";
    else if (resume && (a.flags & HasSize) && offset > a.size)
        error = "Couldn't resume: the offset lies beyond the end of the remote file";
    if (!error.empty()) {
        closeHandle(handle);
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
        else if ((out.fd = ::open(local.c_str(), O_WRONLY | O_CLOEXEC)) < 0 ||
                 ftruncate(out.fd, off_t(offset)) != 0)
            error = std::string("Couldn't open local file: ") + std::strerror(errno);
    } else if (!exists) {
        out.fd = ::open(local.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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
        closeHandle(handle);
        mTerm.line(error);
        return;
    }

    // Local offsets equal remote ones. Replies may come for any request in
    // flight; a short one has its rest asked for again. Everything below the
    // lowest offset still in flight has arrived, which is where a stopped
    // download is cut so the local file never holds a hole.
    struct Ask {
        uint64_t offset;
        uint32_t length;
    };
    std::map<uint32_t, Ask> inFlight;
    uint64_t next = offset, done = 0, complete = offset;
    bool eof = false, interrupted = false;
    std::string batch;
    auto ask = [&](uint64_t at, uint32_t length) {
        const uint32_t id = nextId();
        Packet p(Read, id);
        batch += p.str(handle).u64(at).u32(length).finish();
        inFlight[id] = Ask{at, length};
    };
    auto stopped = [&] { return interrupted || !error.empty(); };
    auto lowest = [&] {
        uint64_t low = next;
        for (const auto& [id, a] : inFlight)
            low = std::min(low, a.offset);
        return low;
    };
    startProgress();
    for (;;) {
        if (!interrupted && interruptRequested()) {
            interrupted = true;
            complete = lowest();
        }
        // Asked for in groups: fewer, fuller packets for both ends.
        const size_t room = inFlight.size() + kReadBatch <= kInFlight ? kInFlight : 0;
        while (!stopped() && !eof && inFlight.size() < room) {
            ask(next, kChunk);
            next += kChunk;
        }
        if (!batch.empty()) {
            send(batch);
            batch.clear();
        }
        if (inFlight.empty())
            break;
        std::string_view body;
        bool any = false;
        while (nextPacket(body)) {
            any = true;
            Reader r(body);
            const uint8_t type = r.u8();
            const Ask a = takeAsked(inFlight, r.u32());
            if (type == Data) {
                const std::string_view data = r.str();
                if (!r.ok() || data.size() > a.length) {
                    if (!stopped())
                        complete = std::min(lowest(), a.offset),
                        error = "Couldn't read remote file: Bad message";
                } else if (!stopped()) {
                    if (!writeAllAt(out.fd, data.data(), data.size(), a.offset)) {
                        error = std::string("Couldn't write local file: ") + std::strerror(errno);
                        complete = std::min(lowest(), a.offset);
                    } else {
                        done += data.size();
                        if (data.size() < a.length && !eof)
                            ask(a.offset + data.size(), a.length - uint32_t(data.size()));
                    }
                }
            } else if (type == Status && r.u32() == Eof) {
                eof = true;
            } else if (!stopped()) {
                r = Reader(body.substr(5));
                error = std::string("Couldn't read remote file: ") +
                        (type == Status ? statusText(r.u32()) : "Bad message");
                complete = std::min(lowest(), a.offset);
            }
        }
        awaitReplies(any, stopped(), done);
    }
    std::string closeError;
    closeHandle(handle, &closeError);
    if (stopped()) {
        struct stat now {};
        if (fstat(out.fd, &now) == 0 && uint64_t(now.st_size) > complete)
            (void)ftruncate(out.fd, off_t(complete));
    } else if (close(out.fd) != 0) {
        error = std::string("Couldn't write local file: ") + std::strerror(errno);
    } else {
        out.fd = -1;
    }
    if (!temporary.empty()) {
        if (!stopped() && rename(temporary.c_str(), local.c_str()) != 0)
            error = std::string("Couldn't replace local file: ") + std::strerror(errno);
        if (stopped())
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
    in.fd = ::open(local.c_str(), O_RDONLY | O_CLOEXEC);
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
    Attributes mode;
    mode.flags = HasPermissions;
    mode.permissions = st.st_mode & 0777;
    std::string handle, error;
    if (!open(remote, Open, OpenWrite | (offset > 0 ? 0 : OpenCreate | OpenTruncate), mode, handle,
              error)) {
        mTerm.line("Couldn't open remote file: " + error);
        return;
    }
    if (offset > 0) {
        // Resuming: the remote file must hold at least the offset (no hole), and
        // anything beyond it is cut off so the result is exactly the local file.
        Attributes a;
        if (!stat(handle, a, Fstat, error))
            error = "Couldn't read remote file size: " + error;
        else if (!(a.flags & HasSize) || a.size < offset)
            error = "Couldn't resume: the remote file is shorter than the offset";
        if (error.empty() && a.size > offset) {
            Attributes cut;
            cut.flags = HasSize;
            cut.size = offset;
            Packet t(Fsetstat, nextId());
            t.str(handle).attrs(cut);
            if (!simple(t, error))
                error = "Couldn't resume: " + error;
        }
        if (!error.empty()) {
            closeHandle(handle);
            mTerm.line(error);
            return;
        }
    }

    // Requests are read from the file straight behind their headers, several
    // into one buffer that goes out as one stream, so the SSH layer sends
    // full-sized packets. The server writes requests in order, so whatever it
    // acknowledged before a stop leaves the remote file a clean prefix of the
    // local one.
    const size_t header = 4 + 1 + 4 + 4 + handle.size() + 8 + 4;
    std::vector<char> batch(kWriteBatch * (header + kChunk));
    std::map<uint32_t, uint32_t> inFlight;
    uint64_t next = offset, done = 0;
    bool eof = false, interrupted = false;
    auto stopped = [&] { return interrupted || !error.empty(); };
    startProgress();
    for (;;) {
        if (!interrupted && interruptRequested())
            interrupted = true;
        for (;;) {
            // Only what the server's window takes goes out, so the tool never
            // waits inside the library and keeps showing progress on a slow
            // link. One request may always go, whatever the window.
            const size_t window = ssh_channel_window_size(mChannel);
            if (stopped() || eof || inFlight.size() >= kInFlight ||
                (window < header + kChunk && !inFlight.empty()))
                break;
            size_t used = 0;
            for (size_t k = 0; k < kWriteBatch && !eof && inFlight.size() < kInFlight &&
                               (used == 0 || used + header + kChunk <= window);
                 ++k) {
                char* at = batch.data() + used;
                const ssize_t n = pread(in.fd, at + header, kChunk, off_t(next));
                if (n < 0 && errno == EINTR) {
                    --k;
                    continue;
                }
                if (n < 0) {
                    error = std::string("Couldn't read local file: ") + std::strerror(errno);
                    break;
                }
                if (n == 0) {
                    eof = true;
                    break;
                }
                const uint32_t id = nextId();
                Packet p(Write, id);
                const std::string& head = p.str(handle).u64(next).u32(uint32_t(n)).finish();
                std::memcpy(at, head.data(), header);
                const uint32_t length = uint32_t(header - 4 + size_t(n));
                at[0] = char(length >> 24);
                at[1] = char(length >> 16);
                at[2] = char(length >> 8);
                at[3] = char(length);
                used += header + size_t(n);
                inFlight[id] = uint32_t(n);
                next += uint64_t(n);
            }
            if (used)
                send(batch.data(), used);
            if (interruptRequested())
                interrupted = true;
        }
        if (inFlight.empty())
            break;
        std::string_view body;
        bool any = false;
        while (nextPacket(body)) {
            any = true;
            Reader r(body);
            const uint8_t type = r.u8();
            const uint32_t length = takeAsked(inFlight, r.u32());
            const uint32_t code = type == Status ? r.u32() : uint32_t(Failure);
            if (code == Ok)
                done += length;
            else if (error.empty())
                error = std::string("Couldn't write remote file: ") +
                        (type == Status ? statusText(code) : "Bad message");
        }
        awaitReplies(any, stopped(), done);
    }
    std::string closeError;
    closeHandle(handle, &closeError);
    if (!closeError.empty() && !stopped())
        error = "Couldn't close remote file: " + closeError;
    if (interrupted)
        mTerm.line("Transfer interrupted.");
    else if (!error.empty())
        mTerm.line(error);
    else
        progress(done, true);
}

} // namespace sftptool
