#include "engine/SFTPEngine.h"

#include "engine/FTPDateManager.h"
#include "engine/LocalFiles.h"
#include "platform/core/Folders.h"
#include "platform/core/Timer.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

std::mutex gToolPathLock;
std::string gToolPath;

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string WithoutLineEnds(const std::string& line) {
    std::string out;
    out.reserve(line.size());
    for (char c : line)
        if (c != '\r' && c != '\n')
            out += c;
    return out;
}

// "<digits> bytes transferred", the whole line: the count, else -1.
int64_t ProgressCount(const std::string& line) {
    static const char kSuffix[] = " bytes transferred";
    const size_t digits = line.find_first_not_of("0123456789");
    if (digits == 0 || digits == std::string::npos || digits > 19 ||
        line.compare(digits, std::string::npos, kSuffix) != 0)
        return -1;
    return std::strtoll(line.c_str(), nullptr, 10);
}

// One entry of a Unix long listing, or its "total" line.
bool IsListingLine(const std::string& line) {
    if (StartsWith(line, "total "))
        return true;
    if (line.size() < 11 || std::strchr("-dlbcpsD", line[0]) == nullptr)
        return false;
    for (size_t i = 1; i < 10; ++i)
        if (std::strchr("rwxsStTl-", line[i]) == nullptr)
            return false;
    return true;
}

constexpr int kAbortGraceSeconds = 5;

const char kRefusedName[] = "Refused a name holding a line end";
const char kBadDate[] = "Bad date format from server";
// Names per "modtime" command: one round trip for the group, in a command
// line well below what the driver takes as one line.
constexpr size_t kModTimeGroup = 64;
constexpr size_t kModTimeCommandBytes = 64 * 1024;

} // namespace

SFTPEngine::SFTPEngine() = default;

SFTPEngine::~SFTPEngine() = default;

void SFTPEngine::SetToolPath(const std::string& path) {
    std::lock_guard hold(gToolPathLock);
    gToolPath = path;
}

bool SFTPEngine::GetPathToSFTP(std::string& path) {
    {
        std::lock_guard hold(gToolPathLock);
        path = gToolPath;
    }
    if (path.empty())
        if (const char* env = std::getenv("ZARVEL_SFTP_TOOL"))
            path = env;
    if (path.empty()) {
        try {
            path = PPx::LibexecFolder() + "/sftp";
        } catch (...) {
            path.clear();
        }
    }
    return !path.empty();
}

bool SFTPEngine::Initialize() {
    std::string path;
    if (!GetPathToSFTP(path))
        return false;
    mTunnel.SetSFTPPath(path.c_str());
    mTunnel.SetIdleCallback(nullptr, nullptr);
    return true;
}

// "The server's host key has changed (host, port n).", and where the old key
// is kept when the tool said so ("file:line").
std::string SFTPEngine::HostKeyChangedText(const std::string& host, int port,
                                           const std::string& place) {
    std::string text =
        std::string(kHostKeyChangedText) + " (" + host + ", port " + std::to_string(port) + ").";
    if (place.empty())
        return text;
    const size_t colon = place.rfind(':');
    const bool numbered = colon != std::string::npos && colon + 1 < place.size() &&
                          place.find_first_not_of("0123456789", colon + 1) == std::string::npos;
    if (numbered)
        return text + "\nThe old key is on line " + place.substr(colon + 1) + " of " +
               place.substr(0, colon) + ".";
    return text + "\nThe old key is kept in " + place + ".";
}

void SFTPEngine::BuildLastResponseFromError(SFTPErr error) {
    switch (error) {
    case kSFTPParamErr:
        mLastResponse = "Parameter error";
        break;
    case kSFTPNotFound:
        mLastResponse = "SSH subsystem not found";
        break;
    case kSFTPCannotStart:
        mLastResponse = "Unable to start SSH subsystem";
        break;
    case kSFTPCommErr:
        mLastResponse = "Unable to communicate with SSH subsystem";
        break;
    case kSFTPBadPassword:
        mLastResponse = kBadPasswordText;
        break;
    case kSFTPHostKeyChanged:
        mLastResponse = std::string(kHostKeyChangedText) + ".";
        break;
    case kSFTPClosed:
        mLastResponse = "Server closed connection";
        mLoggedIn.store(false);
        break;
    default:
        mLastResponse = "Unknown error";
        break;
    }
}

bool SFTPEngine::Failed(SFTPErr error) {
    BuildLastResponseFromError(error);
    // Out of step with the tool, a connection cannot be trusted further.
    if (error == kSFTPCommErr)
        mLoggedIn.store(false);
    return false;
}

bool SFTPEngine::Quote(const std::string& text, std::string& quoted) {
    if (HasLineBreakOrNul(text)) {
        mLastResponse = kRefusedName;
        return false;
    }
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    out += '"';
    quoted = std::move(out);
    return true;
}

bool SFTPEngine::Connect(const std::string& host, int port, const std::string& user,
                         const std::string& password, int) {
    if (port < 1 || port > 65535)
        return Failed(kSFTPParamErr);
    mLocalDir.clear(); // a new tool starts in the program's folder
    const SFTPErr result =
        mTunnel.Connect(host.c_str(), user.c_str(), password.c_str(), static_cast<uint16_t>(port));
    if (result == kSFTPHostKeyChanged) {
        Failed(result);
        mLastResponse = HostKeyChangedText(host, port, mTunnel.StoredKeyPlace());
        return false;
    }
    if (result != kSFTPNoErr)
        return Failed(result);
    mLoggedIn.store(true);
    return true;
}

bool SFTPEngine::Disconnect() {
    mLoggedIn.store(false);
    mTunnel.Disconnect();
    return true;
}

bool SFTPEngine::Send(const std::string& command) {
    if (!mLoggedIn.load())
        return Failed(kSFTPClosed);
    const SFTPErr result = mTunnel.SendCommand(command.c_str());
    return result == kSFTPNoErr || Failed(result);
}

bool SFTPEngine::WaitCompletion(bool skipRemoving, bool skipChanging) {
    std::string line;
    for (;;) {
        const SFTPErr result = mTunnel.ReadLine(line);
        if (result != kSFTPNoErr)
            return Failed(result);
        if (mTunnel.IsPrompt(line.c_str()))
            return true;
        line = WithoutLineEnds(line);
        if (line.empty())
            continue;
        if (skipRemoving && StartsWith(line, "Removing"))
            continue;
        if (skipChanging && StartsWith(line, "Changing"))
            continue;
        mLastResponse = line;
        const SFTPErr prompt = mTunnel.WaitForPrompt();
        if (prompt != kSFTPNoErr)
            return Failed(prompt);
        return false;
    }
}

bool SFTPEngine::SendREST(uint64_t offset) {
    if (!Send("rest " + std::to_string(offset)))
        return false;
    // The tool says nothing when it takes the offset.
    return WaitCompletion(false, false);
}

bool SFTPEngine::ChangeDir(const std::string& folder) {
    std::string quoted;
    if (!Quote(folder, quoted) || !Send("cd " + quoted))
        return false;
    return WaitCompletion(false, false);
}

bool SFTPEngine::SendGetWorkingDir(std::string& path) {
    static const char kPrefix[] = "Remote working directory: ";
    if (!Send("pwd"))
        return false;
    std::string line;
    for (;;) {
        const SFTPErr result = mTunnel.ReadLine(line);
        if (result != kSFTPNoErr)
            return Failed(result);
        if (mTunnel.IsPrompt(line.c_str())) {
            mLastResponse = "GetWorkingDirectory failed!";
            return false;
        }
        line = WithoutLineEnds(line);
        if (StartsWith(line, kPrefix))
            break;
    }
    const SFTPErr prompt = mTunnel.WaitForPrompt();
    if (prompt != kSFTPNoErr)
        return Failed(prompt);
    path = line.substr(std::strlen(kPrefix));
    return true;
}

bool SFTPEngine::GetDirList(const char* path, std::string& listing) {
    listing.clear();
    std::string command = mListHidden ? "ls -la" : "ls -l";
    if (path) {
        std::string quoted;
        if (!Quote(path, quoted))
            return false;
        command += " " + quoted;
    }
    if (!Send(command))
        return false;
    std::string line;
    for (;;) {
        const SFTPErr result = mTunnel.ReadLine(line);
        if (result != kSFTPNoErr) {
            listing.clear();
            return Failed(result);
        }
        if (mTunnel.IsPrompt(line.c_str()))
            return true;
        const std::string text = WithoutLineEnds(line);
        if (text.empty())
            continue;
        // Anything but a listing line is the tool's complaint: a listing that
        // failed is not an empty folder.
        if (!IsListingLine(text)) {
            listing.clear();
            mLastResponse = text;
            const SFTPErr prompt = mTunnel.WaitForPrompt();
            if (prompt != kSFTPNoErr)
                return Failed(prompt);
            return false;
        }
        listing += line;
    }
}

bool SFTPEngine::SendRename(const std::string& from, const std::string& to) {
    std::string a, b;
    if (!Quote(from, a) || !Quote(to, b) || !Send("rename " + a + " " + b))
        return false;
    return WaitCompletion(false, false);
}

bool SFTPEngine::ReplaceFile(const std::string& from, const std::string& to) {
    std::string a, b;
    if (!Quote(from, a) || !Quote(to, b) || !Send("rename -f " + a + " " + b))
        return false;
    return WaitCompletion(false, false);
}

bool SFTPEngine::SendCreateFolder(const std::string& path) {
    std::string quoted;
    if (!Quote(path, quoted) || !Send("mkdir " + quoted))
        return false;
    return WaitCompletion(false, false);
}

bool SFTPEngine::SetPerms(const std::string& path, const std::string& mode) {
    // The mode goes bare: it must be octal digits only.
    if (mode.empty() || mode.size() > 4 ||
        mode.find_first_not_of("01234567") != std::string::npos) {
        mLastResponse = "Invalid permissions \"" + mode + "\"";
        return false;
    }
    std::string quoted;
    if (!Quote(path, quoted) || !Send("chmod " + mode + " " + quoted))
        return false;
    return WaitCompletion(false, true);
}

bool SFTPEngine::DeleteFile(const std::string& path) {
    std::string quoted;
    if (!Quote(path, quoted) || !Send("rm " + quoted))
        return false;
    return WaitCompletion(true, false);
}

bool SFTPEngine::DeleteFolder(const std::string& path) {
    std::string quoted;
    if (!Quote(path, quoted) || !Send("rmdir " + quoted))
        return false;
    return WaitCompletion(true, false);
}

bool SFTPEngine::ChangeLocalDir(const char* folder) {
    std::string quoted;
    if (!folder || !Quote(folder, quoted) || !Send("lcd " + quoted))
        return false;
    // Any word from the tool is its failure: a transfer must not land in the
    // folder of the one before.
    return WaitCompletion(false, false);
}

bool SFTPEngine::EnterLocalDir(const std::string& folder, const struct stat& info) {
    if (!mLocalDir.empty() && folder == mLocalDir && uint64_t(info.st_dev) == mLocalDev &&
        uint64_t(info.st_ino) == mLocalIno)
        return true;
    mLocalDir.clear();
    if (!ChangeLocalDir(folder.c_str()))
        return false;
    mLocalDir = folder;
    mLocalDev = uint64_t(info.st_dev);
    mLocalIno = uint64_t(info.st_ino);
    return true;
}

void SFTPEngine::AbortTransfer() {
    mAbort.store(true);
    // Straight away rather than at the tool's next line: a stalled transfer
    // prints none. Outside a get or put the tool ignores it.
    std::lock_guard hold(mTransferLock);
    if (mInTransfer)
        mTunnel.AbortTransfer();
}

void SFTPEngine::StartTransfer() {
    // The throttle runs across files, as the FTP engine's does.
    if (mParent)
        mParent->StartTransfer();
}

void SFTPEngine::EndTransfer() {
    if (mParent)
        mParent->EndTransfer();
}

void SFTPEngine::UpdateProgress(uint64_t bytes) {
    const uint32_t now = PPx::TickCount();
    if (mLastProgressTick == 0)
        mLastProgressTick = now;
    if (now - mLastProgressTick <= 9)
        return;
    mLastProgressTick = now;
    if (mParent)
        mParent->UpdateProgress(bytes);
}

// Reads a get's or put's lines up to the prompt: progress lines, the line
// the tool may print as it starts (`ignored`), and on an abort its report.
bool SFTPEngine::ReadTransfer(const char* ignored) {
    std::string line;
    std::chrono::steady_clock::time_point abortedAt{};
    for (;;) {
        // Again at every line: an interrupt that reached the tool before its
        // transfer began is forgotten there. A tool that does not stop within
        // the grace period is ended, so that an abort always takes.
        if (mAbort.load()) {
            const auto now = std::chrono::steady_clock::now();
            if (abortedAt == std::chrono::steady_clock::time_point{})
                abortedAt = now;
            if (now - abortedAt > std::chrono::seconds(kAbortGraceSeconds))
                mTunnel.Terminate();
            else
                mTunnel.AbortTransfer();
        }
        const SFTPErr result = mTunnel.ReadLine(line);
        if (result != kSFTPNoErr)
            return Failed(result);
        if (mTunnel.IsPrompt(line.c_str()))
            return true;
        line = WithoutLineEnds(line);
        if (line.empty() || StartsWith(line, ignored))
            continue;
        const int64_t count = ProgressCount(line);
        if (count > 0) {
            UpdateProgress(static_cast<uint64_t>(count));
            continue;
        }
        if (count == 0)
            continue;
        if (mAbort.load() && line == "Transfer interrupted.")
            continue;
        mLastResponse = line;
        const SFTPErr prompt = mTunnel.WaitForPrompt();
        if (prompt != kSFTPNoErr)
            return Failed(prompt);
        return false;
    }
}

bool SFTPEngine::RunTransfer(const std::string& command, const char* ignored) {
    // The end of a transfer is told only for one that began: a command the
    // tool never took moved nothing.
    if (!Send(command))
        return false;
    const bool ok = ReadTransfer(ignored);
    EndTransfer();
    return ok;
}

namespace {
struct TransferScope {
    std::mutex& lock;
    bool& flag;
    TransferScope(std::mutex& l, bool& f) : lock(l), flag(f) { Set(true); }
    ~TransferScope() { Set(false); }
    void Set(bool running) {
        std::lock_guard hold(lock);
        flag = running;
    }
};
} // namespace

bool SFTPEngine::GetFile(const std::string& remote, const std::string& localFolder,
                         const std::string& localName, uint64_t offset) {
    mAbort.store(false);
    StartTransfer();

    struct stat folder {};
    if (::stat(localFolder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
        mLastResponse = "Could not locate source file";
        return false;
    }
    if (mAbort.load())
        return true; // stopped before it began
    if (!EnterLocalDir(localFolder, folder))
        return false;
    std::string remoteQuoted, localQuoted;
    if (!Quote(remote, remoteQuoted) || !Quote(localName, localQuoted))
        return false;

    // A file that stands there is replaced only by a complete one: the tool
    // writes beside it and the copy takes its place at the end. A new file is
    // written in place, so that what arrived can be resumed.
    const std::string destination = localFolder + "/" + localName;
    struct stat existing {};
    const bool exists = ::lstat(destination.c_str(), &existing) == 0;
    if (offset > 0 &&
        (!exists || !S_ISREG(existing.st_mode) || static_cast<uint64_t>(existing.st_size) < offset))
        offset = 0;
    // The tool fills the part file in place of the destination.
    LocalReplacement replacement(destination);
    const bool replacing = exists && offset == 0;
    if (replacing) {
        if (!replacement.Create() || !replacement.Close()) {
            mLastResponse = "Could not create local file";
            return false;
        }
        const std::string& part = replacement.PartPath();
        Quote(part.substr(part.rfind('/') + 1), localQuoted);
    }

    if (offset > 0 && !SendREST(offset))
        return false;
    bool ok;
    {
        TransferScope running(mTransferLock, mInTransfer);
        ok = RunTransfer("get " + remoteQuoted + " " + localQuoted, "Fetching");
    }
    if (!ok || mAbort.load()) {
        // A new file that received nothing is no start to resume from.
        struct stat left {};
        if (!exists && ::lstat(destination.c_str(), &left) == 0 && S_ISREG(left.st_mode) &&
            left.st_size == 0)
            ::unlink(destination.c_str());
        return ok;
    }
    if (replacing && !replacement.Commit()) {
        mLastResponse = "Could not replace the destination file";
        return false;
    }
    return true;
}

bool SFTPEngine::PutFile(const std::string& name, const std::string& localFolder, uint64_t offset,
                         const std::string& remoteName) {
    mAbort.store(false);
    StartTransfer();

    struct stat folder {};
    if (::stat(localFolder.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
        mLastResponse = "Could not find source file";
        return false;
    }
    if (mAbort.load())
        return true; // stopped before it began
    if (!EnterLocalDir(localFolder, folder))
        return false;
    std::string quoted, remoteQuoted;
    if (!Quote(name, quoted) || !Quote(remoteName.empty() ? name : remoteName, remoteQuoted))
        return false;
    if (offset > 0 && !SendREST(offset))
        return false;
    TransferScope running(mTransferLock, mInTransfer);
    return RunTransfer("put " + quoted + " " + remoteQuoted, "Uploading");
}

bool SFTPEngine::GetModTime(const std::string& path, DateTimeRec& date) {
    std::string quoted;
    if (!Quote(path, quoted) || !Send("modtime " + quoted))
        return false;
    std::string line;
    for (;;) {
        const SFTPErr result = mTunnel.ReadLine(line);
        if (result != kSFTPNoErr)
            return Failed(result);
        if (mTunnel.IsPrompt(line.c_str())) {
            mLastResponse = kBadDate;
            return false;
        }
        line = WithoutLineEnds(line);
        if (!line.empty())
            break;
    }
    const SFTPErr prompt = mTunnel.WaitForPrompt();
    if (prompt != kSFTPNoErr)
        return Failed(prompt);
    FTPDateManager parsed;
    if (!parsed.FromCompleteUnixString(line.c_str())) {
        mLastResponse = kBadDate;
        return false;
    }
    parsed.GetDateRec(date);
    return true;
}

bool SFTPEngine::GetModTimes(const std::vector<std::string>& paths,
                             std::vector<DateTimeRec>& dates) {
    dates.clear();
    dates.reserve(paths.size());
    size_t at = 0;
    while (at < paths.size()) {
        std::string command = "modtime";
        size_t count = 0;
        bool refused = false;
        while (at + count < paths.size() && count < kModTimeGroup &&
               command.size() < kModTimeCommandBytes) {
            std::string quoted;
            if (!Quote(paths[at + count], quoted)) {
                refused = true;
                break;
            }
            command += ' ';
            command += quoted;
            ++count;
        }
        // The names before a refused one are asked first, as one by one they
        // would have been, and their failure comes first.
        if (count > 0 && !ModTimeGroup(command, count, dates))
            return false;
        if (refused) {
            mLastResponse = kRefusedName;
            return false;
        }
        at += count;
    }
    return true;
}

bool SFTPEngine::ModTimeGroup(const std::string& command, size_t count,
                              std::vector<DateTimeRec>& dates) {
    if (!Send(command))
        return false;
    // Every line is read up to the prompt even after a bad one, so the tool
    // stays in step; the first name that failed decides the error.
    bool failed = false;
    size_t got = 0;
    std::string line;
    for (;;) {
        const SFTPErr result = got < count ? mTunnel.ReadLine(line) : mTunnel.WaitForPrompt();
        if (result != kSFTPNoErr) {
            Failed(result);
            if (failed)
                mLastResponse = kBadDate;
            return false;
        }
        if (got == count || mTunnel.IsPrompt(line.c_str()))
            break;
        line = WithoutLineEnds(line);
        if (line.empty())
            continue;
        ++got;
        FTPDateManager parsed;
        if (failed || !parsed.FromCompleteUnixString(line.c_str())) {
            failed = true;
            continue;
        }
        DateTimeRec date;
        parsed.GetDateRec(date);
        dates.push_back(date);
    }
    if (failed || got < count) {
        mLastResponse = kBadDate;
        return false;
    }
    return true;
}
