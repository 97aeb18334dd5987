#include "engine/FTPEngine.h"

#include "engine/FTPEngineTexts.h"
#include "engine/UploadPart.h"
#include "platform/core/Timer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

using namespace ftptext;

namespace {

bool (*gHiddenFilesSource)() = nullptr;

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

// The date of a 213 reply to MDTM: YYYYMMDDhhmmss, universal time.
bool ParseModTime(const std::string& text, DateTimeRec& date) {
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
    // What the window shows: a reply's own final line end is no part of it.
    mLastError = mLastResponse;
    while (!mLastError.empty() && (mLastError.back() == '\n' || mLastError.back() == '\r'))
        mLastError.pop_back();
    return mLastError.c_str();
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

void FTPEngine::SetParent(TransferProgress* parent) {
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
    mType = 0;
    mFreeNamesOnly = Proof::Unknown;
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
    mHiddenHere = mHiddenNamed = HiddenListing::kUntried;
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
    if (HasLineBreakOrNul(command))
        return Fail(kBadCharacter);
    return SendLines(command + "\r\n");
}

bool FTPEngine::SendLines(const std::string& lines) {
    if (!mUp.load() || mControl.GetFD() < 0)
        return Fail(kDisconnected);
    if (!DrainStaleInput())
        return Fail(kDisconnected);
    // A new TYPE, a new login or a reinitialisation leaves the type open
    // until the server has accepted one again. (Groups of commands hold only
    // MDTM.)
    if (lines.rfind("TYPE ", 0) == 0 || lines.rfind("USER ", 0) == 0 || lines.rfind("REIN", 0) == 0)
        mType = 0;
    if (!mControl.SendData(lines.data(), static_cast<uint32_t>(lines.size()))) {
        CloseControl();
        return Fail(kCouldNotSend);
    }
    return true;
}

bool FTPEngine::SendCommandWithReply(const std::string& command, std::string& reply) {
    if (HasLineBreakOrNul(command))
        return Fail(kBadCharacter);
    if (!mUp.load())
        return Fail(kDisconnected);
    reply.clear();
    if (!SendCommand(command))
        return mUp.load() ? Fail(kCouldNotSend) : Fail(kDisconnected);
    // The reader's own reason (a time-out, a hang-up, a reply too long) says
    // more than a general one.
    if (!WaitResponse(reply))
        return mLastResponse.empty() ? Fail(kNoResponse) : false;
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
        if (mInput.size() - mInputStart > kMaxReplyLine) {
            mLineFailure = kReplyTooLong;
            return false;
        }
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
            return Fail(kReplyTooLong);
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

std::string FTPEngine::ForServer(const std::string& path) {
    if (!path.empty() && (path[0] == '-' || path[0] == '~'))
        return "./" + path;
    return path;
}

bool FTPEngine::ChangeDir(const std::string& folder) {
    return Expect("CWD " + ForServer(folder), {250});
}

bool FTPEngine::ChangeDirAsTyped(const std::string& folder) {
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
    if (!Expect(ascii ? "TYPE A" : "TYPE I", {200}))
        return false;
    mType = ascii ? 'A' : 'I';
    return true;
}

bool FTPEngine::UseType(bool ascii) {
    return mType == (ascii ? 'A' : 'I') || SendTYPE(ascii);
}

bool FTPEngine::SendNOOP() {
    return Expect("NOOP", {200});
}

bool FTPEngine::SendSTOR(const std::string& name) {
    return Expect("STOR " + ForServer(name), {150, 125});
}

bool FTPEngine::SendRETR(const std::string& name) {
    return Expect("RETR " + ForServer(name), {150, 125});
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

bool FTPEngine::WantsHidden() const {
    return mListHidden || (gHiddenFilesSource && gHiddenFilesSource());
}

bool FTPEngine::SendLIST(const char* path) {
    std::string command = mAskHidden ? "LIST -a" : "LIST";
    if (path && *path)
        command += " " + ForServer(path);
    return Expect(command, {150, 125});
}

bool FTPEngine::SendRename(const std::string& from, const std::string& to) {
    if (HasLineBreakOrNul(to))
        return Fail(kBadCharacter);
    if (!Expect("RNFR " + ForServer(from), {350}))
        return false;
    return Expect("RNTO " + ForServer(to), {250});
}

bool FTPEngine::ItemExists(const std::string& name, bool& exists) {
    exists = false;
    if (HasLineBreakOrNul(name))
        return Fail(kBadCharacter);
    if (IsFile(name)) {
        exists = true;
        return true;
    }
    // A folder: SIZE is refused for it as for nothing at all.
    std::string here;
    if (!IsConnected() || !SendGetWorkingDir(here))
        return false;
    if (!ChangeDir(name))
        return IsConnected();
    exists = true;
    return ChangeDir(here);
}

bool FTPEngine::ReplaceFile(const std::string& from, const std::string& to) {
    if (HasLineBreakOrNul(to))
        return Fail(kBadCharacter);
    if (!Expect("RNFR " + ForServer(from), {350}))
        return false;
    if (Expect("RNTO " + ForServer(to), {250}))
        return true;
    // Servers that rename only onto a free name give no code of their own
    // for it. The file at `to` goes aside, never away, until `from` stands
    // in its place; only a file goes, and only on a server that has shown
    // that this is why it refused. Any other refusal leaves it where it was.
    // A link dropped in between leaves both under temporary names of their
    // own, which only a connection whose listings show hidden items finds
    // again: elsewhere the target is never moved.
    if (!IsConnected())
        return false;
    const std::string refusal = mLastResponse;
    auto refused = [&] {
        mLastResponse = refusal;
        return false;
    };
    if (mHiddenHere != HiddenListing::kShown || !IsFile(to) || !RenamesOntoFreeNamesOnly(to))
        return refused();
    const std::string aside = UploadPartName(to);
    if (!SendRename(to, aside))
        return refused();
    if (SendRename(from, to)) {
        DeleteFile(aside);
        return true;
    }
    if (IsConnected() && SendRename(aside, to))
        return refused();
    // The old file stays whole, but under a name the user would not look for.
    const bool coded = ReplyCode(refusal) != 0 && refusal.size() > 4;
    mLastResponse = (coded ? refusal.substr(0, 4) : std::string()) + "Could not replace \"" + to +
                    "\": the old file, set aside to make room, could not be put back; it "
                    "is kept as \"" +
                    aside + "\".\n" + (coded ? refusal.substr(4) : refusal);
    return false;
}

bool FTPEngine::IsFile(const std::string& name) {
    // Some servers (ProFTPD, pyftpdlib) answer SIZE in binary mode only; a
    // refused TYPE leaves SIZE to answer as it will. A folder has no size.
    UseType(false);
    return Expect("SIZE " + ForServer(name), {213});
}

bool FTPEngine::RenamesOntoFreeNamesOnly(const std::string& beside) {
    if (mFreeNamesOnly == Proof::Unknown) {
        // Two files of our own: one renamed onto the other must be refused,
        // and onto a free name taken.
        const std::string first = UploadPartName(beside), second = UploadPartName(beside);
        const std::string free = UploadPartName(beside);
        const bool only = StoreEmpty(first) && StoreEmpty(second) && !SendRename(first, second) &&
                          IsConnected() && SendRename(first, free);
        if (IsConnected()) {
            DeleteFile(only ? free : first);
            DeleteFile(second);
        }
        // What a lost connection left open is asked again on the next one.
        if (IsConnected())
            mFreeNamesOnly = only ? Proof::Shown : Proof::Refuted;
    }
    return mFreeNamesOnly == Proof::Shown;
}

bool FTPEngine::SendCreateFolder(const std::string& path) {
    if (!SendCommandWithReply("MKD " + ForServer(path), mLastResponse))
        return false;
    const int code = GetResponseCode();
    if (code == 257)
        return true;
    return (code == 550 || code == 521) && SaysAlreadyExists(mLastResponse);
}

bool FTPEngine::SetPerms(const std::string& path, const std::string& mode) {
    return Expect("SITE CHMOD " + mode + " " + ForServer(path), {200, 250});
}

bool FTPEngine::DeleteFile(const std::string& path) {
    return Expect("DELE " + ForServer(path), {250});
}

bool FTPEngine::DeleteFolder(const std::string& path) {
    return Expect("RMD " + ForServer(path), {250});
}

bool FTPEngine::GetModTime(const std::string& path, DateTimeRec& date) {
    return Expect("MDTM " + ForServer(path), {213}) && ParseModTime(mLastResponse, date);
}

bool FTPEngine::GetModTimes(const std::vector<std::string>& paths,
                            std::vector<DateTimeRec>& dates) {
    dates.clear();
    dates.reserve(paths.size());
    mGroupsFailed = false;
    const size_t group = mOneByOne ? 1 : kModTimeGroup;
    size_t at = 0;
    while (at < paths.size()) {
        std::string commands;
        size_t count = 0;
        bool refused = false;
        while (at + count < paths.size() && count < group) {
            const std::string command = "MDTM " + ForServer(paths[at + count]);
            if (HasLineBreakOrNul(command)) {
                refused = true;
                break;
            }
            if (count > 0 && commands.size() + command.size() + 2 > kModTimeGroupBytes)
                break;
            commands += command;
            commands += "\r\n";
            ++count;
        }
        // The names before a refused one are asked first, as one by one they
        // would have been, and their failure comes first.
        if (count > 0 && !ModTimeGroup(commands, count, dates))
            return false;
        if (refused)
            return Fail(kBadCharacter);
        at += count;
    }
    return true;
}

bool FTPEngine::ModTimeGroup(const std::string& commands, size_t count,
                             std::vector<DateTimeRec>& dates) {
    if (!SendLines(commands))
        return mUp.load() ? Fail(kCouldNotSend) : Fail(kDisconnected);
    // Every reply of the group is read even after a refusal, so that the
    // next command gets its own reply; the first refusal is the error.
    std::string refusal;
    bool refused = false;
    for (size_t i = 0; i < count; ++i) {
        // The reader's own reason (a time-out, a hang-up) says more.
        if (!WaitResponse(mLastResponse)) {
            mGroupsFailed = count > 1;
            return mLastResponse.empty() ? Fail(kNoResponse) : false;
        }
        // A server that read the group as something else: the replies still
        // to come (if any) can no longer be told apart.
        const int code = GetResponseCode();
        if (count > 1 && (code == 421 || code == 500)) {
            mGroupsFailed = true;
            return false;
        }
        if (refused)
            continue;
        DateTimeRec date;
        if (GetResponseCode() != 213 || !ParseModTime(mLastResponse, date)) {
            refused = true;
            refusal = mLastResponse;
            continue;
        }
        dates.push_back(date);
    }
    if (refused) {
        mLastResponse = refusal;
        return false;
    }
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
