#include "FTPEngine.h"

#include "ASCIIConvert.h"
#include "platform/core/Timer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <new>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

bool (*gHiddenFilesSource)() = nullptr;

const char kDisconnected[] = "Disconnected";
const char kTimedOut[] = "Timed out waiting for data";
const char kCouldNotSend[] = "Could not send command!";
const char kNoResponse[] = "Failed to receive response!";
const char kInvalidResponse[] = "Invalid Response";
const char kNoDataConnection[] = "Could not make data connection";
const char kNoBuffer[] = "Could not allocate transfer buffer";
const char kNoDestination[] = "Could not open destination file";
const char kNoSource[] = "Could not open source file";
const char kSendFailed[] = "Could not send data";
const char kBadCharacter[] = "A name or path holds a line break or NUL character";
const char kAborted[] = "Transfer aborted";
const char kServerClosed[] = "The server closed the connection";

int ReplyCode(const std::string& text) {
    if (text.size() < 3 || !isdigit(static_cast<unsigned char>(text[0])) ||
        !isdigit(static_cast<unsigned char>(text[1])) ||
        !isdigit(static_cast<unsigned char>(text[2])))
        return 0;
    return (text[0] - '0') * 100 + (text[1] - '0') * 10 + (text[2] - '0');
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

// Reads "a,b,c,d,e,f" (blanks allowed around the commas) at `text[at]`.
bool ReadSixNumbers(const std::string& text, size_t at, unsigned (&n)[6]) {
    for (int i = 0; i < 6; ++i) {
        while (i > 0 && at < text.size() && text[at] == ' ')
            ++at;
        if (at >= text.size() || !isdigit(static_cast<unsigned char>(text[at])))
            return false;
        unsigned value = 0;
        int digits = 0;
        while (at < text.size() && isdigit(static_cast<unsigned char>(text[at]))) {
            value = value * 10 + static_cast<unsigned>(text[at] - '0');
            if (++digits > 3)
                return false;
            ++at;
        }
        if (value > 255)
            return false;
        n[i] = value;
        if (i < 5) {
            while (at < text.size() && text[at] == ' ')
                ++at;
            if (at >= text.size() || text[at] != ',')
                return false;
            ++at;
        }
    }
    return true;
}

// 550 "File exists" means the folder is there already; "does not exist" or
// "No such file" mean a parent is missing, which is a failure.
bool SaysAlreadyExists(const std::string& reply) {
    const std::string text = Lower(reply.size() > 4 ? reply.substr(4) : reply);
    for (const char* denial : {"not exist", "does not", "doesn't", "no such", "nonexist",
                               "non-exist", "not found", "cannot find"})
        if (text.find(denial) != std::string::npos)
            return false;
    return text.find("exist") != std::string::npos;
}

// The size a server announces in its 150 reply, "(12345 bytes)"; -1 when none.
int64_t AnnouncedSize(const std::string& reply) {
    const size_t end = reply.find(" bytes)");
    if (end == std::string::npos)
        return -1;
    size_t start = end;
    while (start > 0 && isdigit(static_cast<unsigned char>(reply[start - 1])))
        --start;
    if (start == end || start == 0 || reply[start - 1] != '(' || end - start > 18)
        return -1;
    return std::stoll(reply.substr(start, end - start));
}

bool WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A new, private file beside `destination` that the download goes into.
int CreateBeside(const std::string& destination, std::string& path) {
    static std::atomic<unsigned> counter{0};
    const std::string stem = FolderOf(destination) + "/." + NameOf(destination) + ".zarvel-part-" +
                             std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = stem + std::to_string(counter.fetch_add(1));
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

FTPEngine::FTPEngine() : mAbortEvent(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

FTPEngine::~FTPEngine() {
    CloseControl();
    if (mAbortEvent >= 0)
        ::close(mAbortEvent);
}

void FTPEngine::SetHiddenFilesSource(bool (*source)()) {
    gHiddenFilesSource = source;
}

bool FTPEngine::Fail(const char* text) {
    mLastResponse = text;
    return false;
}

bool FTPEngine::AbortedOrFailed() {
    if (!mAbort.load())
        return false;
    mLastResponse = kAborted;
    return true;
}

FTPEngine::AbortArming FTPEngine::ArmAbort() {
    // An abort raised before this point is seen through mAbort; the event
    // only has to wake waits that are already blocked.
    uint64_t stale;
    while (mAbortEvent >= 0 && ::read(mAbortEvent, &stale, sizeof(stale)) > 0) {
    }
    mAbortWaits = true;
    return AbortArming{this};
}

const char* FTPEngine::GetLastError() {
    return mLastResponse.c_str();
}

int FTPEngine::GetResponseCode() {
    return ReplyCode(mLastResponse);
}

uint32_t FTPEngine::CurrentTicks() {
    return PPx::TickCount();
}

int FTPEngine::TimeoutMillis() const {
    const int seconds = mTimeout.load();
    return (seconds >= 1 ? seconds : 300) * 1000;
}

// ---- control connection ----------------------------------------------------

bool FTPEngine::IsConnected() {
    if (!mUp.load())
        return false;
    std::lock_guard<std::mutex> lock(mControlLock);
    if (mWakeControl < 0)
        return false;
    // An orderly close by the server shows as an end of stream; look without
    // consuming anything.
    char probe;
    const ssize_t got = ::recv(mWakeControl, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    return got > 0 || (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
}

void FTPEngine::SetParent(FTPEngineProgress* parent) {
    mParent = parent;
}

void FTPEngine::CloseControl() {
    std::lock_guard<std::mutex> lock(mControlLock);
    mWakeControl = -1;
    if (mControl.GetFD() >= 0)
        mControl.Close();
    mUp.store(false);
    mInput.clear();
    mInputStart = 0;
}

bool FTPEngine::SetTimeout(int seconds) {
    mTimeout.store(seconds);
    timeval tv{};
    tv.tv_sec = seconds >= 1 ? seconds : 300;
    std::lock_guard<std::mutex> lock(mControlLock);
    const int fd = mWakeControl;
    return fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv)) == 0 &&
           ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) == 0;
}

bool FTPEngine::Connect(const std::string& host, int port, int timeout) {
    CloseControl();
    mOwner.store(std::this_thread::get_id());
    {
        std::lock_guard<std::mutex> lock(mControlLock);
        if (!mControl.CreateTCP()) {
            mControl.Close();
            return Fail("Could not create connection");
        }
        mWakeControl = mControl.GetFD();
    }
    if (!SetTimeout(timeout)) {
        CloseControl();
        return Fail("Could not set timeout");
    }
    if (!mControl.Connect(host.c_str(), port)) {
        CloseControl();
        return Fail("Could not connect to server");
    }
    mUp.store(true);
    return WaitForServerID();
}

bool FTPEngine::Disconnect() {
    mData.Interrupt();
    {
        std::lock_guard<std::mutex> lock(mControlLock);
        if (mOwner.load() != std::thread::id() && mOwner.load() != std::this_thread::get_id()) {
            // Down first, so that the woken worker reads our hang-up as
            // such and not as the server's.
            mUp.store(false);
            if (mWakeControl >= 0)
                ::shutdown(mWakeControl, SHUT_RDWR);
            return true;
        }
    }
    CloseControl();
    mData.Disconnect();
    mData.ClearInterrupt();
    return true;
}

bool FTPEngine::DrainStaleInput() {
    // Bytes waiting before a command is sent belong to no command of ours (a
    // late reply, an unsolicited notice): they must not be taken for the
    // reply to the next one.
    mInput.clear();
    mInputStart = 0;
    const int fd = mControl.GetFD();
    char scratch[4096];
    for (int round = 0; round < 256; ++round) {
        const ssize_t got = ::recv(fd, scratch, sizeof(scratch), MSG_DONTWAIT);
        if (got > 0)
            continue;
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
        CloseControl();
        return false;
    }
    return true;
}

bool FTPEngine::SendCommand(const std::string& command) {
    if (command.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        return Fail(kBadCharacter);
    if (!mUp.load() || mControl.GetFD() < 0)
        return Fail(kDisconnected);
    if (!DrainStaleInput())
        return Fail(kDisconnected);
    const std::string text = command + "\r\n";
    if (!mControl.SendData(text.data(), static_cast<uint32_t>(text.size()))) {
        CloseControl();
        return Fail(kCouldNotSend);
    }
    return true;
}

bool FTPEngine::SendCommandWithReply(const std::string& command, std::string& reply) {
    if (command.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        return Fail(kBadCharacter);
    if (!mUp.load())
        return Fail(kDisconnected);
    reply.clear();
    if (!SendCommand(command))
        return mUp.load() ? Fail(kCouldNotSend) : Fail(kDisconnected);
    if (!WaitResponse(reply))
        return Fail(kNoResponse);
    return true;
}

bool FTPEngine::ReceiveLine(std::string& line, int timeoutMs) {
    line.clear();
    mLineFailure = kTimedOut;
    size_t scanned = mInputStart;
    for (;;) {
        const size_t end = mInput.find('\n', scanned);
        if (end != std::string::npos) {
            line.assign(mInput, mInputStart, end + 1 - mInputStart);
            mInputStart = end + 1;
            if (mInputStart == mInput.size()) {
                mInput.clear();
                mInputStart = 0;
            }
            return true;
        }
        if (mInput.size() - mInputStart > kMaxReplyLine)
            return false;
        if (mInputStart > 0) {
            mInput.erase(0, mInputStart);
            mInputStart = 0;
        }
        scanned = mInput.size();

        const int fd = mControl.GetFD();
        if (fd < 0) {
            mLineFailure = kDisconnected;
            return false;
        }
        const bool abortable = mAbortWaits && mAbortEvent >= 0;
        if (abortable && mAbort.load()) {
            mLineFailure = kAborted;
            return false;
        }
        pollfd waiters[2] = {{fd, POLLIN, 0}, {mAbortEvent, POLLIN, 0}};
        int ready;
        do {
            ready = ::poll(waiters, abortable ? 2 : 1, timeoutMs);
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0)
            return false;
        if (waiters[0].revents == 0)
            continue; // the abort event: looked at above
        char chunk[16384];
        const ssize_t got = ::recv(fd, chunk, sizeof(chunk), MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (got <= 0) {
            mLineFailure = mUp.load() ? kServerClosed : kDisconnected;
            return false;
        }
        mInput.append(chunk, static_cast<size_t>(got));
    }
}

bool FTPEngine::ControlReadable(int timeoutMs) {
    if (mInputStart < mInput.size())
        return true;
    const int fd = mControl.GetFD();
    if (fd < 0)
        return false;
    pollfd waiter{fd, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&waiter, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    return ready == 1;
}

bool FTPEngine::WaitResponse(std::string& reply) {
    return WaitResponseWithin(reply, TimeoutMillis());
}

bool FTPEngine::WaitResponseWithin(std::string& reply, int timeoutMs) {
    reply.clear();
    if (!mUp.load())
        return Fail(kDisconnected);
    std::string text;
    std::string line;
    std::string code;
    for (;;) {
        if (!ReceiveLine(line, timeoutMs)) {
            // Whatever comes later would be taken for the next command's
            // reply: the control stream is no longer usable.
            const char* why = mLineFailure ? mLineFailure : kTimedOut;
            CloseControl();
            return Fail(why);
        }
        if (text.size() + line.size() > kMaxReply) {
            CloseControl();
            return Fail(kTimedOut);
        }
        text += line;
        if (code.empty()) {
            if (line.size() < 4 || line[3] != '-')
                break;
            code = line.substr(0, 3);
            continue;
        }
        // The last line of a multi-line reply repeats the code and a blank.
        if (line.compare(0, 3, code) == 0 &&
            (line.size() == 3 || line[3] == ' ' || line[3] == '\r' || line[3] == '\n'))
            break;
    }
    reply = text;
    if (&reply != &mLastResponse)
        mLastResponse = text;
    return true;
}

bool FTPEngine::WaitForServerID() {
    if (!WaitResponse(mLastResponse))
        return false;
    // 120: the service is coming up; the real greeting follows.
    for (int i = 0; i < 3 && GetResponseCode() == 120; ++i)
        if (!WaitResponse(mLastResponse))
            return false;
    return GetResponseCode() == 220;
}

size_t FTPEngine::PointToNextLine(const std::string& text, size_t position) {
    while (position < text.size() && text[position] != '\r' && text[position] != '\n')
        ++position;
    if (position >= text.size())
        return text.size();
    if (text[position] == '\r' && position + 1 < text.size() && text[position + 1] == '\n')
        return position + 2;
    return position + 1;
}

bool FTPEngine::HaveLastLine(const std::string& text) {
    if (text.size() < 4 || text[3] != '-')
        return true;
    const std::string code = text.substr(0, 3);
    size_t line = PointToNextLine(text, 0);
    if (line >= text.size())
        return false;
    size_t last = line;
    while (line < text.size()) {
        if (text[line] != '\r' && text[line] != '\n')
            last = line;
        line = PointToNextLine(text, line);
    }
    return text.compare(last, 3, code) == 0 && last + 3 < text.size() && text[last + 3] == ' ';
}

bool FTPEngine::HaveCompleteBuffer(const std::string& text) {
    // A bare LF ends a line as well as CR LF: some servers send it.
    return !text.empty() && text.back() == '\n' && HaveLastLine(text);
}

// ---- commands ---------------------------------------------------------------

bool FTPEngine::Expect(const std::string& command, std::initializer_list<int> codes) {
    if (!SendCommandWithReply(command, mLastResponse))
        return false;
    const int code = GetResponseCode();
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

bool FTPEngine::Authenticate(const std::string& user, const std::string& password,
                             const std::string& account) {
    if (!mUp.load())
        return Fail(kDisconnected);
    if (!SendCommandWithReply("USER " + (user.empty() ? std::string("anonymous") : user),
                              mLastResponse))
        return false;
    bool passSent = false;
    bool accountSent = false;
    for (;;) {
        const int code = GetResponseCode();
        if (code == 230 || code == 202)
            return true;
        if (code == 331 && !passSent) {
            passSent = true;
            if (!SendCommandWithReply(
                    "PASS " + (password.empty() ? std::string("anon@") : password), mLastResponse))
                return false;
            continue;
        }
        // 332: the server wants an account before it lets us in.
        if (code == 332 && !accountSent && !account.empty()) {
            accountSent = true;
            if (!SendCommandWithReply("ACCT " + account, mLastResponse))
                return false;
            continue;
        }
        return false;
    }
}

bool FTPEngine::ChangeDir(const std::string& folder) {
    return Expect("CWD " + folder, {250});
}

bool FTPEngine::SendSystem(std::string& reply) {
    if (!Expect("SYST", {215}))
        return false;
    reply = mLastResponse;
    return true;
}

bool FTPEngine::SendREST(uint64_t offset) {
    char text[40];
    std::snprintf(text, sizeof(text), "REST %llu", static_cast<unsigned long long>(offset));
    return Expect(text, {350});
}

bool FTPEngine::SendTYPE(bool ascii) {
    return Expect(ascii ? "TYPE A" : "TYPE I", {200});
}

bool FTPEngine::SendNOOP() {
    return Expect("NOOP", {200});
}

bool FTPEngine::SendSTOR(const std::string& name) {
    return Expect("STOR " + name, {150, 125});
}

bool FTPEngine::SendRETR(const std::string& name) {
    return Expect("RETR " + name, {150, 125});
}

bool FTPEngine::SendGetWorkingDir(std::string& path) {
    if (!Expect("PWD", {257}))
        return false;
    // The path stands between double quotes; a quote inside it is doubled.
    const size_t open = mLastResponse.find('"');
    if (open == std::string::npos)
        return false;
    std::string result;
    for (size_t i = open + 1; i < mLastResponse.size(); ++i) {
        if (mLastResponse[i] != '"') {
            result += mLastResponse[i];
            continue;
        }
        if (i + 1 < mLastResponse.size() && mLastResponse[i + 1] == '"') {
            result += '"';
            ++i;
            continue;
        }
        path = result;
        return true;
    }
    return false;
}

bool FTPEngine::SendLIST(const char* path) {
    std::string command = "LIST";
    if (gHiddenFilesSource && gHiddenFilesSource())
        command += " -a";
    if (path && *path)
        command += std::string(" ") + path;
    return Expect(command, {150, 125});
}

bool FTPEngine::SendPASV(std::string& host, uint16_t& port) {
    if (!SendCommandWithReply("PASV", mLastResponse))
        return false;
    if (GetResponseCode() != 227)
        return false;
    unsigned n[6];
    bool found = false;
    for (size_t at = 4; at < mLastResponse.size() && !found; ++at)
        if (isdigit(static_cast<unsigned char>(mLastResponse[at])) &&
            !isdigit(static_cast<unsigned char>(mLastResponse[at - 1])))
            found = ReadSixNumbers(mLastResponse, at, n);
    if (!found || (n[4] == 0 && n[5] == 0))
        return Fail(kInvalidResponse);
    // The data connection goes to the server we are talking to, whatever
    // address the reply names: a reply must not send us elsewhere.
    host = ControlPeer();
    if (host.empty())
        return Fail(kInvalidResponse);
    port = static_cast<uint16_t>((n[4] << 8) | n[5]);
    return true;
}

bool FTPEngine::SendPORT(uint32_t address, uint16_t port) {
    char text[64];
    std::snprintf(text, sizeof(text), "PORT %hu,%hu,%hu,%hu,%hu,%hu",
                  static_cast<unsigned short>((address >> 24) & 0xFF),
                  static_cast<unsigned short>((address >> 16) & 0xFF),
                  static_cast<unsigned short>((address >> 8) & 0xFF),
                  static_cast<unsigned short>(address & 0xFF),
                  static_cast<unsigned short>(port >> 8), static_cast<unsigned short>(port & 0xFF));
    return Expect(text, {200});
}

bool FTPEngine::SendRename(const std::string& from, const std::string& to) {
    if (to.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        return Fail(kBadCharacter);
    if (!Expect("RNFR " + from, {350}))
        return false;
    return Expect("RNTO " + to, {250});
}

bool FTPEngine::SendCreateFolder(const std::string& path) {
    if (!SendCommandWithReply("MKD " + path, mLastResponse))
        return false;
    const int code = GetResponseCode();
    if (code == 257)
        return true;
    return (code == 550 || code == 521) && SaysAlreadyExists(mLastResponse);
}

bool FTPEngine::SetPerms(const std::string& path, const std::string& mode) {
    return Expect("SITE CHMOD " + mode + " " + path, {200, 250});
}

bool FTPEngine::DeleteFile(const std::string& path) {
    return Expect("DELE " + path, {250});
}

bool FTPEngine::DeleteFolder(const std::string& path) {
    return Expect("RMD " + path, {250});
}

bool FTPEngine::GetModTime(const std::string& path, DateTimeRec& date) {
    if (!Expect("MDTM " + path, {213}))
        return false;
    const std::string& text = mLastResponse;
    if (text.size() <= 17)
        return false;
    int fields[6];
    const int widths[6] = {4, 2, 2, 2, 2, 2};
    size_t at = 4;
    for (int i = 0; i < 6; ++i) {
        int value = 0;
        for (int k = 0; k < widths[i]; ++k, ++at) {
            if (!isdigit(static_cast<unsigned char>(text[at])))
                return false;
            value = value * 10 + (text[at] - '0');
        }
        fields[i] = value;
    }
    if (fields[1] < 1 || fields[1] > 12 || fields[2] < 1 || fields[2] > 31 || fields[3] > 23 ||
        fields[4] > 59 || fields[5] > 60)
        return false;
    date.year = static_cast<int16_t>(fields[0]);
    date.month = static_cast<int16_t>(fields[1]);
    date.day = static_cast<int16_t>(fields[2]);
    date.hour = static_cast<int16_t>(fields[3]);
    date.minute = static_cast<int16_t>(fields[4]);
    date.second = static_cast<int16_t>(fields[5]);
    return true;
}

bool FTPEngine::SendAbort() {
    if (!SendCommand("ABOR"))
        return false;
    mData.Disconnect();
    if (!WaitResponse(mLastResponse))
        return false;
    int code = GetResponseCode();
    if (code == 426) {
        // Many servers follow the 426 of the cut transfer with a 226 for the
        // ABOR itself; take it now so it is not read as a later reply.
        std::string second;
        if (ControlReadable(2000) && !WaitResponse(second))
            return false;
    }
    return code == 426 || code == 225 || code == 226;
}

// ---- data connections -------------------------------------------------------

uint32_t FTPEngine::GetIPAddress() {
    std::string address;
    int port = 0;
    if (!mControl.GetSockAddress(address, port))
        return 0;
    in_addr parsed{};
    if (::inet_pton(AF_INET, address.c_str(), &parsed) != 1)
        return 0;
    return ntohl(parsed.s_addr);
}

std::string FTPEngine::ControlPeer() {
    sockaddr_in peer{};
    socklen_t size = sizeof(peer);
    if (mControl.GetFD() < 0 ||
        ::getpeername(mControl.GetFD(), reinterpret_cast<sockaddr*>(&peer), &size) != 0 ||
        peer.sin_family != AF_INET)
        return {};
    char text[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof(text)))
        return {};
    return text;
}

void FTPEngine::AbortTransfer() {
    mAbort.store(true);
    mData.Interrupt();
    const uint64_t one = 1;
    if (mAbortEvent >= 0 && ::write(mAbortEvent, &one, sizeof(one)) < 0) {
        // Full counter: the event is raised already.
    }
}

void FTPEngine::StartTransfer() {
    if (mParent)
        mParent->StartTransfer();
}

void FTPEngine::EndTransfer() {
    if (mParent)
        mParent->EndTransfer();
}

void FTPEngine::UpdateProgress(unsigned long long bytes) {
    const uint32_t now = CurrentTicks();
    if (mLastProgressTick == 0)
        mLastProgressTick = now;
    if (now - mLastProgressTick <= 9)
        return;
    mLastProgressTick = now;
    if (mParent)
        mParent->UpdateProgress(bytes);
}

bool FTPEngine::OpenDataConnection(Kind kind, const std::string& name, bool passive,
                                   uint64_t& offset,
                                   const std::function<bool(uint64_t)>& beforeCommand) {
    if (!mUp.load())
        return Fail(kDisconnected);
    const std::string peer = ControlPeer();
    uint32_t address = GetIPAddress();
    uint16_t port = 0;
    std::string host;
    if (passive && !SendPASV(host, port))
        return false;
    if (!mData.MakeDataConnection(host, address, port, passive, mTimeout.load())) {
        mData.Disconnect();
        return Fail(mAbort.load() ? kAborted : kNoDataConnection);
    }
    if (!passive && !SendPORT(address, port)) {
        mData.Disconnect();
        return false;
    }
    // REST right before the transfer command, so nothing between them can
    // reset it; a refusal means the transfer starts from the beginning.
    if (offset > 0 && !SendREST(offset)) {
        if (!mUp.load()) {
            mData.Disconnect();
            return false;
        }
        offset = 0;
    }
    if (beforeCommand && !beforeCommand(offset)) {
        mData.Disconnect();
        return false;
    }
    bool accepted = false;
    switch (kind) {
    case Kind::kList:
        accepted = SendLIST(name.empty() ? nullptr : name.c_str());
        break;
    case Kind::kRetrieve:
        accepted = SendRETR(name);
        break;
    case Kind::kStore:
        accepted = SendSTOR(name);
        break;
    }
    if (!accepted) {
        mData.Disconnect();
        return false;
    }
    if (!passive && !mData.AcceptDataConnection(peer)) {
        AbandonTransfer(mAbort.load() ? kAborted : kNoDataConnection, false);
        return false;
    }
    return true;
}

bool FTPEngine::AbandonTransfer(const std::string& reason, bool reset) {
    // The server has said 1xx: its final reply is on the way and must be
    // read here, or the next command would read it. A server that does not
    // send it within a short while loses the control connection instead.
    if (reset)
        mData.Reset();
    else
        mData.Disconnect();
    std::string reply;
    if (mUp.load())
        WaitResponseWithin(reply, std::min(TimeoutMillis(), 15000));
    mLastResponse = reason;
    return false;
}

bool FTPEngine::GetDirList(const char* path, std::string& listing, bool passive) {
    listing.clear();
    mData.ClearInterrupt();
    uint64_t offset = 0;
    if (!OpenDataConnection(Kind::kList, path ? path : "", passive, offset, nullptr))
        return false;
    if (!mData.RetrieveData(listing, mListingLimit)) {
        listing.clear();
        if (mData.LastErrno() == EFBIG)
            return AbandonTransfer("The directory listing is too large", false);
        return AbandonTransfer(mData.TimedOut() ? kTimedOut : "The directory listing was cut off",
                               false);
    }
    mData.Disconnect();
    if (!WaitResponse(mLastResponse)) {
        listing.clear();
        return false;
    }
    const int code = GetResponseCode();
    if (code == 226 || code == 250)
        return true;
    listing.clear();
    return false;
}

bool FTPEngine::FinishAbortedTransfer(bool reset) {
    // The user's abort: the server answers the cut connection (426 or 226);
    // read that answer so that the dialogue stays in step.
    DisarmAbort();
    if (reset)
        mData.Reset();
    else
        mData.Disconnect();
    std::string reply;
    if (mUp.load())
        WaitResponseWithin(reply, std::min(TimeoutMillis(), 15000));
    mLastResponse = kAborted;
    return true;
}

namespace {

// The local side of a download: a file beside the destination that replaces
// it once complete, or the destination itself when resuming.
struct DownloadTarget {
    std::string destination;
    std::string partial; // empty when writing in place
    bool destinationExisted = false;
    int fd = -1;

    ~DownloadTarget() {
        if (fd >= 0)
            ::close(fd);
        if (!partial.empty())
            ::unlink(partial.c_str());
    }

    bool Open(uint64_t offset) {
        if (offset > 0) {
            fd = ::open(destination.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0)
                return false;
            // Whatever lies past the offset is what the server sends again.
            return ::ftruncate(fd, static_cast<off_t>(offset)) == 0 &&
                   ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
        }
        fd = CreateBeside(destination, partial);
        if (fd < 0)
            partial.clear();
        return fd >= 0;
    }

    bool Close() {
        const int held = fd;
        fd = -1;
        return held < 0 || ::close(held) == 0;
    }

    // A download that did not complete: a file that stood at the destination
    // stays as it was; where none stood, what arrived is kept there so that
    // the download can be resumed later.
    void KeepPartial(uint64_t received) {
        Close();
        if (!partial.empty() && !destinationExisted && received > 0 &&
            ::rename(partial.c_str(), destination.c_str()) == 0)
            partial.clear();
    }

    bool Commit() {
        if (!Close())
            return false;
        if (partial.empty())
            return true;
        if (::rename(partial.c_str(), destination.c_str()) != 0)
            return false;
        partial.clear();
        return true;
    }
};

} // namespace

bool FTPEngine::GetFile(const std::string& remote, const std::string& destination, uint64_t offset,
                        bool ascii, bool passive, int64_t expectedSize) {
    mAbort.store(false);
    const AbortArming armed = ArmAbort();
    mData.ClearInterrupt();
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kTransferBuffer]);
    if (!buffer)
        return Fail(kNoBuffer);
    StartTransfer();
    if (!SendTYPE(ascii))
        return AbortedOrFailed();

    DownloadTarget target;
    target.destination = destination;
    struct stat existing {};
    target.destinationExisted = ::stat(destination.c_str(), &existing) == 0;
    // Resume only onto a regular file that holds at least the offset;
    // anything else would leave a hole or garbage before the new bytes.
    if (offset > 0 && (!target.destinationExisted || !S_ISREG(existing.st_mode) ||
                       static_cast<uint64_t>(existing.st_size) < offset))
        offset = 0;

    const bool opened =
        OpenDataConnection(Kind::kRetrieve, remote, passive, offset, [&](uint64_t start) {
            return target.Open(start) || Fail(kNoDestination);
        });
    if (!opened)
        return AbortedOrFailed(); // the user's abort stays an abort, not a failure
    const int64_t announced = offset == 0 ? AnnouncedSize(mLastResponse) : -1;

    uint64_t count = 0;
    bool writeFailed = false;
    for (;;) {
        uint32_t length = kTransferBuffer;
        const bool more = mData.RetrieveData(buffer.get(), length);
        if (length > 0) {
            if (!WriteAll(target.fd, buffer.get(), length)) {
                writeFailed = true;
                break;
            }
            count += length;
            UpdateProgress(count);
        }
        if (mAbort.load() || !more)
            break;
    }

    if (mAbort.load()) {
        mData.Disconnect();
        EndTransfer();
        target.KeepPartial(count);
        return FinishAbortedTransfer(false);
    }
    if (writeFailed || mData.Failed()) {
        const bool timedOut = mData.TimedOut();
        mData.Disconnect();
        EndTransfer();
        target.KeepPartial(count);
        if (writeFailed)
            return AbandonTransfer("Could not write the local file", false);
        return AbandonTransfer(timedOut ? kTimedOut : "The connection was lost during the transfer",
                               false);
    }
    mData.Disconnect();
    EndTransfer();
    if (!WaitResponse(mLastResponse)) {
        target.KeepPartial(count);
        return AbortedOrFailed();
    }
    const int code = GetResponseCode();
    if (code != 226 && code != 250) {
        target.KeepPartial(count);
        return false;
    }
    // An end of stream looks the same whether the file was complete or the
    // server gave up; the sizes tell them apart (not in ASCII mode, where
    // line ends change the count).
    const int64_t expected = expectedSize >= 0 ? expectedSize : announced;
    if (!ascii && expected >= 0 && static_cast<int64_t>(offset + count) < expected) {
        target.KeepPartial(count);
        mLastResponse = "The transfer ended early: " + std::to_string(offset + count) + " of " +
                        std::to_string(expected) + " bytes arrived";
        return false;
    }
    if (!target.Close())
        return Fail("Could not write the local file");
    if (ascii) {
        const std::string& converted = target.partial.empty() ? destination : target.partial;
        ASCIIConvert convert(NameOf(converted).c_str(), FolderOf(converted));
        convert.ConvertAfterDownload(); // unconverted text is still the file's text
    }
    if (!target.Commit())
        return Fail("Could not replace the destination file");
    return true;
}

bool FTPEngine::PutFile(const std::string& remote, const std::string& source, uint64_t offset,
                        bool ascii, bool passive) {
    mAbort.store(false);
    const AbortArming armed = ArmAbort();
    mData.ClearInterrupt();

    // In ASCII mode a copy with CR LF line ends is sent; when it cannot be
    // made, the file goes as it is.
    ASCIIConvert convert(NameOf(source).c_str(), FolderOf(source));
    std::string sendPath = source;
    std::string convertedFolder;
    if (ascii && convert.ConvertBeforeUpload(convertedFolder))
        sendPath = convertedFolder + "/" + NameOf(source);
    struct Cleanup {
        ASCIIConvert& convert;
        int fd = -1;
        ~Cleanup() {
            if (fd >= 0)
                ::close(fd);
            convert.DisposeTemporaryFile();
        }
    } cleanup{convert};

    cleanup.fd = ::open(sendPath.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (cleanup.fd < 0 || ::fstat(cleanup.fd, &info) != 0 || !S_ISREG(info.st_mode))
        return Fail(kNoSource);
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kSendChunk]);
    if (!buffer)
        return Fail(kNoBuffer);
    StartTransfer();
    if (!SendTYPE(ascii))
        return AbortedOrFailed();
    if (!OpenDataConnection(Kind::kStore, remote, passive, offset, nullptr))
        return AbortedOrFailed();

    // Read and send through a buffer that stays in the processor's cache.
    // sendfile would save our copy but hand the receiver cold page-cache
    // pages instead; against a server on the same machine that costs the
    // server more than it saves us.
    uint64_t position = std::min(offset, size);
    uint64_t remaining = size - position;
    uint64_t count = 0;
    const char* failure = nullptr;
    while (remaining > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(remaining, kSendChunk));
        ssize_t got;
        do {
            got = ::pread(cleanup.fd, buffer.get(), chunk, static_cast<off_t>(position));
        } while (got < 0 && errno == EINTR);
        if (got <= 0) {
            // The file is shorter than it was when the upload began.
            failure = "Could not read the local file";
            break;
        }
        uint32_t length = static_cast<uint32_t>(got);
        if (!mData.SendData(buffer.get(), length)) {
            failure = mData.TimedOut() ? kTimedOut : kSendFailed;
            break;
        }
        position += static_cast<uint64_t>(got);
        remaining -= static_cast<uint64_t>(got);
        count += static_cast<uint64_t>(got);
        UpdateProgress(count);
        if (mAbort.load())
            break;
    }

    // A cut-off upload is closed with a reset: an orderly close would tell
    // the server that the file is complete.
    if (mAbort.load()) {
        EndTransfer();
        return FinishAbortedTransfer(true);
    }
    if (failure) {
        EndTransfer();
        return AbandonTransfer(failure, true);
    }
    mData.Disconnect();
    EndTransfer();
    if (!WaitResponse(mLastResponse))
        return AbortedOrFailed();
    const int code = GetResponseCode();
    return code == 226 || code == 250;
}
