#pragma once
// The SFTP counterpart of FTPEngine: one method per remote operation, each
// typing one command of the sftp tool through its driver and reading the
// tool's lines until the prompt returns. On failure GetLastError gives the
// reason (a line of the tool or a fixed text).
//
// Every name goes to the tool in double quotes with backslash escapes; a name
// holding CR, LF or NUL is refused. Only the tool's lines in the forms it
// prints (keywords at the start of a line) count as success or progress.
#include "SSHTunnel/SFTPTunnel.h"
#include "engine/ConnectionRecords.h"
#include "engine/TransferProgress.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <vector>

class SFTPEngine {
public:
    // The texts of a refused password, and the start of the text of a host
    // key that is not the one on record.
    static constexpr const char* kBadPasswordText = "Bad password";
    static constexpr const char* kHostKeyChangedText = "The server's host key has changed";

    SFTPEngine();
    virtual ~SFTPEngine();
    SFTPEngine(const SFTPEngine&) = delete;
    SFTPEngine& operator=(const SFTPEngine&) = delete;

    // Where the tool is looked for: the program's libexec folder plus
    // "sftp", unless a path was set here (tests, benchmarks) or in the
    // environment as ZARVEL_SFTP_TOOL.
    static void SetToolPath(const std::string& path);

    virtual void SetParent(TransferProgress* parent) { mParent = parent; }
    virtual bool Initialize();
    virtual void Dispose() {}
    virtual bool GetPathToSFTP(std::string& path);
    virtual bool Connect(const std::string& host, int port, const std::string& user,
                         const std::string& password, int timeout);
    virtual bool Disconnect();
    virtual bool SendREST(uint64_t offset);
    virtual bool ChangeDir(const std::string& folder);
    // The tool takes every path as it is.
    bool ChangeDirAsTyped(const std::string& folder) { return ChangeDir(folder); }
    virtual bool SendGetWorkingDir(std::string& path);
    virtual bool GetDirList(const char* path, std::string& listing);
    // Whether listings show hidden items too (the synchronisation's: it
    // must see its own temporary files).
    void SetListHidden(bool hidden) { mListHidden = hidden; }
    virtual bool SendRename(const std::string& from, const std::string& to);
    // Renames `from` over the file `to`, which may exist.
    virtual bool ReplaceFile(const std::string& from, const std::string& to);
    virtual bool SendCreateFolder(const std::string& path);
    virtual bool SetPerms(const std::string& path, const std::string& mode);
    virtual bool SetTimeout(int) { return true; }
    // Fetches `remote` into `localFolder` as `localName` (a single component).
    // A file that stood there is replaced only once the new one is complete;
    // from offset > 0 the file there is continued.
    virtual bool GetFile(const std::string& remote, const std::string& localFolder,
                         const std::string& localName, uint64_t offset);
    // Sends `name` (relative to `localFolder`) to the same relative remote
    // path, or to `remoteName` when one is given.
    virtual bool PutFile(const std::string& name, const std::string& localFolder, uint64_t offset,
                         const std::string& remoteName = std::string());
    virtual bool DeleteFile(const std::string& path);
    virtual bool DeleteFolder(const std::string& path);
    // Any thread: the running get or put stops at once.
    virtual void AbortTransfer();
    virtual bool GetModTime(const std::string& path, DateTimeRec& date);
    // The dates of several files, a group of names per command of the tool;
    // fails as a GetModTime per name would, at the first name that fails.
    virtual bool GetModTimes(const std::vector<std::string>& paths,
                             std::vector<DateTimeRec>& dates);
    virtual const char* GetLastError() const { return mLastResponse.c_str(); }
    virtual bool IsConnected() const { return mLoggedIn.load(); }
    virtual void BuildLastResponseFromError(SFTPErr error);
    static std::string HostKeyChangedText(const std::string& host, int port,
                                          const std::string& place);
    virtual bool ChangeLocalDir(const char* folder);
    // Any thread: ends the tool at once (the worker is being let go).
    void Terminate() { mTunnel.Terminate(); }

    // "text" with \ and " escaped; false (and the last error set) for a
    // text holding CR, LF or NUL.
    bool Quote(const std::string& text, std::string& quoted);

protected:
    virtual void StartTransfer();
    virtual void EndTransfer();
    virtual void UpdateProgress(uint64_t bytes);
    virtual bool WaitCompletion(bool skipRemoving, bool skipChanging);

private:
    bool Send(const std::string& command);
    // One "modtime" command naming `count` files; their dates are appended.
    bool ModTimeGroup(const std::string& command, size_t count, std::vector<DateTimeRec>& dates);
    bool Failed(SFTPErr error);
    bool ReadTransfer(const char* ignored);
    bool RunTransfer(const std::string& command, const char* ignored);
    // ChangeLocalDir, skipped when the tool is already in that folder: the
    // same path to the same folder (a folder that replaced it is another
    // one, as the tool's own keeps its number while the tool is in it).
    bool EnterLocalDir(const std::string& folder, const struct stat& info);

    std::string mLastResponse;
    int32_t mTimeout = 30;
    SFTPTunnel mTunnel;
    std::atomic<bool> mAbort{false};
    // Whether a get or put runs; the main thread's interrupt is sent under
    // this lock, so none can reach the tool after the transfer has ended and
    // stop the command that follows it.
    std::mutex mTransferLock;
    bool mInTransfer = false;
    TransferProgress* mParent = nullptr;
    std::atomic<bool> mLoggedIn{false};
    uint32_t mLastProgressTick = 0;
    // Where the tool of this session last changed its local folder to; empty
    // when unknown.
    std::string mLocalDir;
    uint64_t mLocalDev = 0, mLocalIno = 0;
    bool mListHidden = false;
};
