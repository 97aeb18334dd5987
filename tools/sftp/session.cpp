#include "tools/sftp/client.h"
#include "tools/sftp/client_internal.h"
#include "tools/sftp/pump.h"
#include "tools/sftp/writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sftptool {

using namespace sftp;

namespace {

// The receive buffer holds every reply of a transfer's requests in flight
// with room to spare; asking the channel for its free space keeps the SSH
// window open wide enough for them.
constexpr size_t kReceiveBuffer = 16 * 1024 * 1024;
constexpr size_t kReceiveAsk = 8 * 1024 * 1024;
// The size of a transfer from which the pump pays for the thread it adds to
// every round trip.
constexpr uint64_t kPumpFrom = 1024 * 1024;
// How often a busy transfer looks at signals and the terminal: each look
// costs system calls, so not at every packet.
constexpr long long kLookMs = 10;

// AES-GCM first: with AES instructions it costs both ends least.
constexpr const char* kCiphers = "aes128-gcm@openssh.com,aes256-gcm@openssh.com,"
                                 "chacha20-poly1305@openssh.com,aes128-ctr,aes192-ctr,aes256-ctr";

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
// went away is reported at once rather than at the next command. Late
// replies are taken in, so that the socket is watched on after them.
bool onSocketReadable() {
    char c;
    const ssize_t n = recv(gWatchedSocket, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
        gClient->connectionClosed();
    return n > 0 && gClient->takeLateReplies();
}

bool terminalGone(int fd) {
    struct pollfd p {
        fd, 0, 0
    };
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

} // namespace

void Client::connectionClosed() {
    mTerm.line("Connection closed");
    finish(1);
}

// ---- the channel ----

void Client::send(const char* data, size_t size) {
    long long giveUpAt = 0;
    while (size) {
        // No more than the server's window takes, so that the library never
        // waits for the window itself: a server that stopped reading must not
        // keep an interrupt from taking effect. A packet left half sent
        // cannot be taken back, so giving up ends the session.
        const size_t window = ssh_channel_window_size(mChannel);
        if (window == 0) {
            if (interruptRequested()) {
                const long long now = nowMs();
                if (giveUpAt == 0)
                    giveUpAt = now + kAbandonMs;
                else if (now >= giveUpAt)
                    connectionClosed();
            }
            receive(kPollMs); // takes in the server's window adjustments
            continue;
        }
        const int n =
            ssh_channel_write(mChannel, data, uint32_t(std::min({size, window, size_t(1) << 30})));
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
    // Bytes the download's writer has yet to write stay where they are.
    const bool held = mWriter && mWriter->holds(mIn);
    if (mInStart == mInEnd && !held)
        mInStart = mInEnd = 0;
    if (mIn.size() - mInEnd < kReceiveAsk) {
        if (held) {
            mWriter->exchange(mIn, mInStart, mInEnd);
        } else {
            std::memmove(mIn.data(), mIn.data() + mInStart, mInEnd - mInStart);
            mInEnd -= mInStart;
            mInStart = 0;
        }
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
    mLastBytes = nowMs();
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
    Asked asked{&p, want, {}, {}};
    requests(&asked, 1);
    reply = std::move(asked.reply);
    error = std::move(asked.error);
    return asked.ok;
}

void Client::requests(Asked* asked, size_t count) {
    // One send for all: the server answers them in one round trip.
    std::string bytes;
    std::vector<uint32_t> ids(count);
    std::vector<bool> answered(count);
    for (size_t i = 0; i < count; ++i) {
        const std::string& one = asked[i].packet->finish();
        Reader head(std::string_view(one).substr(5, 4));
        ids[i] = head.u32();
        bytes += one;
    }
    send(bytes);
    size_t open = count; // requests not yet answered
    long long giveUpAt = 0;
    while (open) {
        std::string_view body;
        while (!nextPacket(body)) {
            if (interruptRequested()) {
                const long long now = nowMs();
                if (giveUpAt == 0)
                    giveUpAt = now + kAbandonMs;
                if (now >= giveUpAt) {
                    for (size_t i = 0; i < count; ++i) {
                        if (answered[i])
                            continue;
                        abandon(ids[i]);
                        asked[i].error = "Interrupted";
                    }
                    checkInStep();
                    return;
                }
            }
            receive(kPollMs);
        }
        Reader r(body);
        const uint8_t type = r.u8();
        const uint32_t replyId = r.u32();
        size_t at = 0;
        while (at < count && (ids[at] != replyId || answered[at]))
            ++at;
        if (at == count) {
            if (abandonedReply(replyId))
                continue;
            connectionClosed(); // a reply to nothing asked: the session is out of step
        }
        Asked& a = asked[at];
        answered[at] = true;
        --open;
        if (type == Status) {
            const uint32_t code = r.u32();
            if (code == Ok && a.want == Status)
                a.ok = true;
            else
                a.error = statusText(code);
        } else if (type != a.want) {
            a.error = "Bad message";
        } else {
            a.reply.assign(body.substr(5));
            a.ok = true;
        }
    }
}

bool Client::takeLateReplies() {
    if (mAbandoned.empty())
        return false;
    const bool got = receive(0);
    for (;;) {
        const std::string_view have(mIn.data() + mInStart, mInEnd - mInStart);
        const size_t size = packetSize(have);
        if (size == 0 || size == std::string_view::npos)
            break;
        Reader r(have.substr(4, size - 4));
        r.u8();
        // Anything else is left for the next command, which judges it.
        if (!abandonedReply(r.u32()))
            break;
        mInStart += size;
    }
    return got;
}

void Client::abandon(uint32_t id) {
    mAbandoned.insert(id);
}

void Client::checkInStep() {
    // Part of a packet that is not growing any more is taken for a server
    // that broke off (on a slow link the rest is still coming and is dropped
    // when it is complete); a server that leaves ever more requests
    // unanswered is not followed any further either.
    constexpr size_t kMaxAbandoned = 64 * 1024;
    if ((mInEnd > mInStart && nowMs() - mLastBytes >= kAbandonMs) ||
        mAbandoned.size() > kMaxAbandoned)
        connectionClosed();
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
    mPosixRename = offersExtension(body, kPosixRename);
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

void Client::pumpForLargeTransfer(uint64_t bytes) {
    // One that could not be set up is not tried again.
    if (!mPumped && !mPumpFailed && bytes >= kPumpFrom) {
        mPumped = pumpInPlace(mSock);
        mPumpFailed = !mPumped;
    }
}

void Client::noPumpForLargeUpload(uint64_t bytes) {
    // An upload's bytes would take one more hop through the pump, which costs
    // more than the library's own writes to the connection. Small requests
    // leave it in place: taking it out and in again costs them more.
    if (mPumped && bytes >= kPumpFrom) {
        mPumped = false;
        pumpOut(mSock, [this](int timeoutMs) { receive(timeoutMs); });
    }
}

void Client::closeUnanswered(const std::string& handle) {
    const uint32_t id = nextId();
    Packet p(Close, id);
    send(p.str(handle).finish());
    abandon(id);
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
        mCwd.assign(1, '/'); // assign(): GCC 12 at -O3 warns falsely about = "/"
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
        // Where the old key stands, so that the user can remove it.
        if (const int line = storedKeyLine(path, label, key))
            mTerm.line("Offending " + typeName + " key in " + path + ":" + std::to_string(line));
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

int Client::storedKeyLine(const std::string& path, const std::string& label, ssh_key key) {
    std::ifstream in(path);
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
        // Lines of other hosts, comments and lines it cannot read do not parse.
        struct ssh_knownhosts_entry* entry = nullptr;
        const int parsed = ssh_known_hosts_parse_line(label.c_str(), text.c_str(), &entry);
        const bool other = parsed == SSH_OK && entry && entry->publickey &&
                           ssh_key_type(entry->publickey) == ssh_key_type(key) &&
                           ssh_key_cmp(entry->publickey, key, SSH_KEY_CMP_PUBLIC) != 0;
        ssh_knownhosts_entry_free(entry);
        if (other)
            return number;
    }
    return 0;
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
    for (const auto& [bit, name] : names) {
        if (!(methods & bit))
            continue;
        if (!offered.empty())
            offered += ',';
        offered += name;
    }
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
        // An interrupt still pending was meant for the transfer before this
        // command (the command came in before the signal was let through):
        // it must not stop this one.
        takeSignals();
        gInterrupted = 0;
        mTerm.line(echoText(command));
        execute(command);
    }
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

} // namespace sftptool
