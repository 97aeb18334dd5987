#pragma once
// The synchronous FTP client of one connection: the control dialogue, and the
// data connections that carry listings and files. The connection's worker
// thread owns it and calls it; every call blocks until the server's reply or
// a time-out. Failures leave a text for GetLastError: the server's reply or a
// fixed English text.
//
// From another thread only AbortTransfer, Disconnect (to wake a running
// transfer), SetTimeout and IsConnected may be called.
#include "engine/CUnixSocket.h"
#include "engine/ConnectionRecords.h"
#include "engine/FTPDataConnection.h"
#include "engine/TransferProgress.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FTPEngine {
public:
    // A reply line may be long (deep paths, banners) but not endless.
    static constexpr size_t kMaxReplyLine = 64 * 1024;
    static constexpr size_t kMaxReply = 1024 * 1024;
    static constexpr size_t kMaxListing = 256 * 1024 * 1024;
    static constexpr size_t kTransferBuffer = 256 * 1024;
    // Uploads: few system calls, yet the chunk stays in the cache between
    // the read and the send, and it matches the receive size of common
    // servers (larger chunks measured slower against them).
    static constexpr size_t kSendChunk = 64 * 1024;
    // How long a transfer may wait for data before what it has moved so far
    // is reported, whatever the throttle says.
    static constexpr int kStallReportMs = 500;

    FTPEngine();
    virtual ~FTPEngine();
    FTPEngine(const FTPEngine&) = delete;
    FTPEngine& operator=(const FTPEngine&) = delete;

    virtual bool IsConnected();
    virtual void SetParent(TransferProgress* parent);
    virtual bool Connect(const std::string& host, int port, int timeout);
    virtual bool Disconnect();
    virtual bool Authenticate(const std::string& user, const std::string& password,
                              const std::string& account);
    // Paths the program made from listed names go to the server as what
    // they are: one that starts with "-" or "~" would be read as options or
    // as another user's home, so it is sent as "./PATH". Every command that
    // takes a path does this; the bookmark's start folder, typed by the
    // user, goes as typed.
    static std::string ForServer(const std::string& path);
    // Whether a line of LISTING ends in NAME after a blank, or names it as a
    // link. A longer name that ends the same way counts too.
    static bool ListingNames(const std::string& listing, const std::string& name);
    virtual bool ChangeDir(const std::string& folder);
    bool ChangeDirAsTyped(const std::string& folder);
    virtual bool SendSystem(std::string& reply);
    virtual bool SendREST(uint64_t offset);
    virtual bool SendTYPE(bool ascii);
    // TYPE only when the wanted type is not the one this connection last
    // accepted: one round trip less per file.
    bool UseType(bool ascii);
    virtual bool SendNOOP();
    virtual bool SendSTOR(const std::string& name);
    virtual bool SendRETR(const std::string& name);
    virtual bool SendGetWorkingDir(std::string& path);
    virtual bool SendLIST(const char* path);
    virtual bool GetDirList(const char* path, std::string& listing, bool passive);
    virtual bool SendPASV(std::string& host, uint16_t& port);
    virtual bool SendPORT(uint32_t address, uint16_t port);
    virtual bool SendRename(const std::string& from, const std::string& to);
    // Whether an item of that name is on the server now: a file (its size is
    // answered) or a folder (it can be entered; it is left again). False when
    // the server could not be asked.
    virtual bool ItemExists(const std::string& name, bool& exists);
    // Renames `from` over the file `to`, which may exist. When the server
    // refuses, the file at `to` is set aside for the rename only when it is
    // a file and the server renames onto free names only; should it then not
    // go back, the text names where it is.
    virtual bool ReplaceFile(const std::string& from, const std::string& to);
    virtual bool SendCreateFolder(const std::string& path);
    virtual bool SetPerms(const std::string& path, const std::string& mode);
    virtual bool SendCommand(const std::string& command);
    virtual bool SendCommandWithReply(const std::string& command, std::string& reply);
    virtual bool SetTimeout(int seconds);
    // Downloads into the local file `destination` (a path). The file is
    // written beside the destination and renamed over it only when complete;
    // with an offset the existing file is continued in place. `expectedSize`
    // is the size the listing gave (-1: unknown); fewer bytes is a failure.
    virtual bool GetFile(const std::string& remote, const std::string& destination, uint64_t offset,
                         bool ascii, bool passive, int64_t expectedSize = -1);
    virtual bool PutFile(const std::string& remote, const std::string& source, uint64_t offset,
                         bool ascii, bool passive);
    virtual bool DeleteFile(const std::string& path);
    virtual bool DeleteFolder(const std::string& path);
    virtual void AbortTransfer();
    virtual bool GetModTime(const std::string& path, DateTimeRec& date);
    // The dates of several files. The MDTM commands go out in groups and the
    // group's replies are read after: a round trip per group, not per file.
    // Fails as a GetModTime per name would, at the first name that fails.
    virtual bool GetModTimes(const std::vector<std::string>& paths,
                             std::vector<DateTimeRec>& dates);
    // Whether the last GetModTimes failed as a server that mishandles commands
    // sent together fails: no reply in time, or a 421 or 500 inside a group.
    // The control connection is then out of step and cannot be used further.
    bool ModTimeGroupsFailed() const { return mGroupsFailed; }
    // From now on GetModTimes asks one name at a time.
    void AskModTimesOneByOne() { mOneByOne = true; }
    bool ModTimesOneByOne() const { return mOneByOne; }
    // The last reply or failure text, without the reply's final line end.
    virtual const char* GetLastError();

    // Reply text helpers.
    virtual size_t PointToNextLine(const std::string& text, size_t position);
    virtual bool HaveLastLine(const std::string& text);
    virtual bool HaveCompleteBuffer(const std::string& text);

    virtual bool WaitResponse(std::string& reply);
    virtual bool WaitForServerID();
    virtual int GetResponseCode();
    virtual void StartTransfer();
    virtual void EndTransfer();
    virtual void UpdateProgress(unsigned long long bytes);
    virtual bool SendAbort();
    virtual uint32_t GetIPAddress();

    // Listings ask for hidden items (" -a") when this says so; the
    // application installs a source that reads its preferences afresh on
    // every call.
    static void SetHiddenFilesSource(bool (*source)());
    // Whether this engine's listings ask for hidden items whatever the
    // preferences say (the synchronisation's: it must see its own
    // temporary files).
    void SetListHidden(bool hidden) { mListHidden = hidden; }
    // Many servers take "-a" for a path and answer with an empty listing or
    // a refusal, so the option is not trusted until it has shown itself:
    // the first listings of a connection are asked both ways, and "-a" is
    // kept only when it holds every line the plain one holds. Listings of
    // the current folder and of a named one are told apart, as servers
    // treat them differently.
    enum class HiddenListing { kUntried, kShown, kRefused };
    HiddenListing HiddenListingOf(bool named) const { return named ? mHiddenNamed : mHiddenHere; }
    // Whether the listings of this connection ask for hidden items.
    bool WantsHidden() const;

    // The most a listing may hold before it is refused (default kMaxListing).
    void SetListingLimit(size_t bytes) { mListingLimit = bytes; }

    // The aborted flag of the last transfer (the user's own abort).
    bool TransferAborted() const { return mAbort.load(); }

protected:
    // Ticks of 1/60 s; tests replace it.
    virtual uint32_t CurrentTicks();

    // One line with its line end, from the buffered control stream.
    virtual bool ReceiveLine(std::string& line, int timeoutMs);
    bool WaitResponseWithin(std::string& reply, int timeoutMs);
    // Whether reply bytes arrive within `timeoutMs`, without reading them.
    bool ControlReadable(int timeoutMs);

private:
    enum class Kind { kList, kHiddenList, kMachineList, kRetrieve, kStore };

    // MDTM commands sent before their replies are read. The bytes bound
    // matters more than the count: the server may stop reading commands while
    // its replies wait for us, so a group and its replies must fit in the
    // sockets' buffers.
    static constexpr size_t kModTimeGroup = 32;
    static constexpr size_t kModTimeGroupBytes = 8 * 1024;

    bool Fail(const char* text);
    // Whether `name` answers SIZE, which a folder does not.
    bool IsFile(const std::string& name);
    // Whether the server renames onto a free name but refuses a rename onto
    // an existing one: asked once a connection, with files of our own beside
    // `beside`.
    bool RenamesOntoFreeNamesOnly(const std::string& beside);
    // An empty file `remote`, without progress (no item of the user's).
    bool StoreEmpty(const std::string& remote);
    // One listing of KIND over its own data connection.
    bool ListOnce(Kind kind, const char* path, std::string& listing, bool passive);
    bool ListAsAsked(const char* path, std::string& listing, bool passive);
    bool ConfirmEmpty(const char* path, bool passive);
    // A listing asked both ways, and what that shows of "-a".
    bool ProbeHidden(const char* path, std::string& listing, bool passive, HiddenListing& state);
    // A transfer that could not go on: an abort when the user asked for one
    // (true, with the abort's text), else a failure (false).
    bool AbortedOrFailed();
    // While the returned guard lives (one transfer) or until DisarmAbort,
    // waits for a reply give up at once when the user aborts.
    struct AbortArming {
        FTPEngine* engine;
        ~AbortArming() { engine->DisarmAbort(); }
    };
    AbortArming ArmAbort();
    void DisarmAbort() { mAbortWaits = false; }
    bool Expect(const std::string& command, std::initializer_list<int> codes);
    void CloseControl();
    int TimeoutMillis() const;
    std::string ControlPeer();
    bool DrainStaleInput();
    // Sends `lines` (one or more commands, each with its CR LF) after
    // dropping stale input. A failed send closes the connection.
    bool SendLines(const std::string& lines);
    // Sends one group of MDTM commands and reads every reply of it.
    bool ModTimeGroup(const std::string& commands, size_t count, std::vector<DateTimeRec>& dates);
    bool OpenDataConnection(Kind kind, const std::string& name, bool passive, uint64_t& offset,
                            const std::function<bool(uint64_t)>& beforeCommand);
    bool AbandonTransfer(const std::string& reason, bool reset);
    // Before a read or send that may block: when it would block for longer
    // than a moment, the count held back is reported first.
    void ReportBeforeStall(bool sending);
    void ReportProgress(unsigned long long bytes);
    bool FinishAbortedTransfer(bool reset);

    CUnixSocket mControl;
    std::string mLastResponse;
    std::string mLastError; // what GetLastError gave out last
    std::atomic<int> mTimeout{-1};
    std::atomic<bool> mAbort{false};
    // Raised by AbortTransfer so that a wait for a reply wakes; the waits of
    // a transfer watch it while mAbortWaits is set (worker thread only).
    int mAbortEvent = -1;
    bool mAbortWaits = false;
    // The transfer type the server last accepted on this control connection
    // ('A' or 'I'); 0 when unknown (new connection, new login, TYPE refused).
    char mType = 0;
    // What RenamesOntoFreeNamesOnly found on this control connection.
    enum class Proof { Unknown, Shown, Refuted };
    Proof mFreeNamesOnly = Proof::Unknown;
    bool mPassive = true; // the mode of the last upload
    // Why the last ReceiveLine failed.
    const char* mLineFailure = nullptr;
    FTPDataConnection mData;
    TransferProgress* mParent = nullptr;
    uint32_t mLastProgressTick = 0;
    // A count the throttle held back; reported when the data stalls, so the
    // window does not wait for the next chunk to see what has arrived.
    bool mProgressPending = false;
    unsigned long long mPendingBytes = 0;
    size_t mListingLimit = kMaxListing;
    bool mGroupsFailed = false;
    bool mOneByOne = false;
    bool mListHidden = false;
    bool mAskHidden = false; // the next LIST adds " -a"
    HiddenListing mHiddenHere = HiddenListing::kUntried;
    HiddenListing mHiddenNamed = HiddenListing::kUntried;

    // Bytes read from the control connection beyond the reply in hand.
    std::string mInput;
    size_t mInputStart = 0;

    // Guards the control descriptor against a shut-down from another thread.
    std::mutex mControlLock;
    int mWakeControl = -1;
    std::atomic<bool> mUp{false};
    // The thread that connected: the worker. A Disconnect from any other
    // thread only shuts the sockets down, waking whatever the worker waits
    // for; the worker closes them.
    std::atomic<std::thread::id> mOwner{};
};
