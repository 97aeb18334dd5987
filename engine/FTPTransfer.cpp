// The data side of the FTP engine: PASV and PORT, the data connections, and
// the listing and file transfers that run over them.
#include "engine/ASCIIConvert.h"
#include "engine/FTPEngine.h"
#include "engine/FTPEngineTexts.h"
#include "engine/LocalFiles.h"

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
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

using namespace ftptext;

namespace {

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

// A listing that "succeeded" with a reply saying the folder could not be
// opened (vsftpd: "226 Transfer done (but failed to open directory).") came
// with no lines: it is no empty folder.
bool SaysFolderUnread(const std::string& reply) {
    std::string text = reply.size() > 4 ? reply.substr(4) : std::string();
    for (char& c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    for (const char* failure : {"failed to open", "could not open", "cannot open", "can't open",
                                "permission denied", "unable to read"})
        if (text.find(failure) != std::string::npos)
            return true;
    return false;
}

// The lines of a listing that name entries: without their line ends, and
// without the "total" line, whose count differs once hidden items are in.
template <typename Each> void ForEachEntryLine(const std::string& listing, Each each) {
    size_t at = 0;
    while (at < listing.size()) {
        size_t end = listing.find('\n', at);
        if (end == std::string::npos)
            end = listing.size();
        std::string_view line(listing.data() + at, end - at);
        at = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.remove_suffix(1);
        if (!line.empty() && line.rfind("total ", 0) != 0)
            each(line);
    }
}

bool HasEntryLine(const std::string& listing) {
    bool any = false;
    ForEachEntryLine(listing, [&](std::string_view) { any = true; });
    return any;
}

// Whether every entry of `plain` stands in `hidden` as well.
bool HoldsEveryLine(const std::string& hidden, const std::string& plain) {
    std::unordered_set<std::string_view> lines;
    ForEachEntryLine(hidden, [&](std::string_view line) { lines.insert(line); });
    bool all = true;
    ForEachEntryLine(plain, [&](std::string_view line) { all = all && lines.contains(line); });
    return all;
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

} // namespace

bool FTPEngine::ListingNames(const std::string& listing, const std::string& name) {
    const std::string tail = " " + name;
    bool named = false;
    ForEachEntryLine(listing, [&](std::string_view line) {
        named = named || line.ends_with(tail) || line.find(tail + " -> ") != std::string_view::npos;
    });
    return named;
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
    mProgressPending = false;
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
    if (now - mLastProgressTick <= 9) {
        mProgressPending = true;
        mPendingBytes = bytes;
        return;
    }
    ReportProgress(bytes);
}

void FTPEngine::ReportProgress(unsigned long long bytes) {
    mLastProgressTick = CurrentTicks();
    mProgressPending = false;
    if (mParent)
        mParent->UpdateProgress(bytes);
}

void FTPEngine::ReportBeforeStall(bool sending) {
    if (mProgressPending && !mData.WaitReady(sending, kStallReportMs))
        ReportProgress(mPendingBytes);
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
    case Kind::kHiddenList:
        mAskHidden = kind == Kind::kHiddenList;
        accepted = SendLIST(name.empty() ? nullptr : name.c_str());
        mAskHidden = false;
        break;
    case Kind::kMachineList:
        accepted = Expect(name.empty() ? "MLSD" : "MLSD " + ForServer(name), {150, 125});
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
    if (!ListAsAsked(path, listing, passive))
        return false;
    return HasEntryLine(listing) || ConfirmEmpty(path, passive);
}

// Some servers (ProFTPD) answer a folder they cannot read with an empty
// listing and a success. Their machine listing refuses it; a server that
// has none leaves the listing as it is.
bool FTPEngine::ConfirmEmpty(const char* path, bool passive) {
    std::string entries;
    if (ListOnce(Kind::kMachineList, path, entries, passive))
        return true;
    const int code = GetResponseCode();
    return IsConnected() && (code == 500 || code == 501 || code == 502 || code == 504);
}

bool FTPEngine::ListAsAsked(const char* path, std::string& listing, bool passive) {
    HiddenListing& state = path && *path ? mHiddenNamed : mHiddenHere;
    if (!WantsHidden() || state == HiddenListing::kRefused)
        return ListOnce(Kind::kList, path, listing, passive);
    if (state == HiddenListing::kUntried)
        return ProbeHidden(path, listing, passive, state);
    if (ListOnce(Kind::kHiddenList, path, listing, passive))
        return true;
    // A server may still turn the option down as a syntax error.
    const int code = GetResponseCode();
    if (!IsConnected() || (code != 500 && code != 501))
        return false;
    state = HiddenListing::kRefused;
    return ListOnce(Kind::kList, path, listing, passive);
}

bool FTPEngine::ProbeHidden(const char* path, std::string& listing, bool passive,
                            HiddenListing& state) {
    std::string hidden;
    const bool shown = ListOnce(Kind::kHiddenList, path, hidden, passive);
    if (!IsConnected())
        return false;
    // The plain listing decides whether the folder could be listed at all.
    if (!ListOnce(Kind::kList, path, listing, passive))
        return false;
    if (!shown || !HoldsEveryLine(hidden, listing)) {
        state = HiddenListing::kRefused;
        return true;
    }
    // Two empty answers tell nothing about the option.
    if (HasEntryLine(hidden))
        state = HiddenListing::kShown;
    listing = std::move(hidden);
    return true;
}

bool FTPEngine::ListOnce(Kind kind, const char* path, std::string& listing, bool passive) {
    listing.clear();
    mData.ClearInterrupt();
    uint64_t offset = 0;
    if (!OpenDataConnection(kind, path ? path : "", passive, offset, nullptr))
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
    if ((code == 226 || code == 250) && !SaysFolderUnread(mLastResponse))
        return true;
    // Told as the refusal it is (vsftpd answers a missing folder the same way,
    // which an upload's check of its target takes for an empty one).
    if (code == 226 || code == 250)
        mLastResponse = "550 The server could not read the folder: " + mLastResponse.substr(4);
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

// The local side of a download: a replacement written beside the
// destination, or the destination itself when resuming.
class DownloadTarget {
public:
    explicit DownloadTarget(const std::string& destination) : mReplacement(destination) {}
    ~DownloadTarget() { CloseInPlace(); }

    bool Open(uint64_t offset) {
        mResuming = offset > 0;
        if (!mResuming)
            return mReplacement.Create();
        mInPlace = ::open(mReplacement.Destination().c_str(), O_WRONLY | O_CLOEXEC);
        if (mInPlace < 0)
            return false;
        // Whatever lies past the offset is what the server sends again.
        return ::ftruncate(mInPlace, static_cast<off_t>(offset)) == 0 &&
               ::lseek(mInPlace, static_cast<off_t>(offset), SEEK_SET) >= 0;
    }
    int Descriptor() const { return mResuming ? mInPlace : mReplacement.Descriptor(); }
    const std::string& WrittenPath() const {
        return mResuming ? mReplacement.Destination() : mReplacement.PartPath();
    }
    bool Close() { return mResuming ? CloseInPlace() : mReplacement.Close(); }
    bool Commit() { return mResuming ? CloseInPlace() : mReplacement.Commit(); }
    // A download that did not complete: a file that stood at the destination
    // stays as it was; where none stood, what arrived is kept there so that
    // the download can be resumed later.
    void KeepPartial() {
        if (mResuming)
            CloseInPlace();
        else
            mReplacement.KeepPartial();
    }

private:
    bool CloseInPlace() {
        const int held = mInPlace;
        mInPlace = -1;
        return held < 0 || ::close(held) == 0;
    }

    LocalReplacement mReplacement;
    int mInPlace = -1;
    bool mResuming = false;
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
    if (!UseType(ascii))
        return AbortedOrFailed();

    DownloadTarget target(destination);
    struct stat existing {};
    const bool destinationExisted = ::stat(destination.c_str(), &existing) == 0;
    // Resume only onto a regular file that holds at least the offset;
    // anything else would leave a hole or garbage before the new bytes.
    if (offset > 0 && (!destinationExisted || !S_ISREG(existing.st_mode) ||
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
        ReportBeforeStall(false);
        uint32_t length = kTransferBuffer;
        const bool more = mData.RetrieveData(buffer.get(), length);
        if (length > 0) {
            if (!WriteAll(target.Descriptor(), buffer.get(), length)) {
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
        target.KeepPartial();
        return FinishAbortedTransfer(false);
    }
    if (writeFailed || mData.Failed()) {
        const bool timedOut = mData.TimedOut();
        mData.Disconnect();
        EndTransfer();
        target.KeepPartial();
        if (writeFailed)
            return AbandonTransfer("Could not write the local file", false);
        return AbandonTransfer(timedOut ? kTimedOut : "The connection was lost during the transfer",
                               false);
    }
    mData.Disconnect();
    EndTransfer();
    if (!WaitResponse(mLastResponse)) {
        target.KeepPartial();
        return AbortedOrFailed();
    }
    const int code = GetResponseCode();
    if (code != 226 && code != 250) {
        target.KeepPartial();
        return false;
    }
    // An end of stream looks the same whether the file was complete or the
    // server gave up; the sizes tell them apart (not in ASCII mode, where
    // line ends change the count).
    const int64_t expected = expectedSize >= 0 ? expectedSize : announced;
    if (!ascii && expected >= 0 && static_cast<int64_t>(offset + count) < expected) {
        target.KeepPartial();
        mLastResponse = "The transfer ended early: " + std::to_string(offset + count) + " of " +
                        std::to_string(expected) + " bytes arrived";
        return false;
    }
    if (!target.Close())
        return Fail("Could not write the local file");
    if (ascii) {
        const std::string& converted = target.WrittenPath();
        ASCIIConvert convert(NameOf(converted).c_str(), FolderOf(converted));
        convert.ConvertAfterDownload(); // unconverted text is still the file's text
    }
    if (!target.Commit())
        return Fail("Could not replace the destination file");
    return true;
}

bool FTPEngine::PutFile(const std::string& remote, const std::string& source, uint64_t offset,
                        bool ascii, bool passive) {
    mPassive = passive;
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
    if (!UseType(ascii))
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
        ReportBeforeStall(true);
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

bool FTPEngine::StoreEmpty(const std::string& remote) {
    mData.ClearInterrupt();
    uint64_t offset = 0;
    if (!UseType(false) || !OpenDataConnection(Kind::kStore, remote, mPassive, offset, nullptr))
        return false;
    mData.Disconnect();
    if (!WaitResponse(mLastResponse))
        return false;
    const int code = GetResponseCode();
    return code == 226 || code == 250;
}
