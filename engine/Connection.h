#pragma once
// The one object through which a window talks to a remote server. The window
// makes it with itself as the front end, initialises it from a bookmark and
// sends requests, one outstanding at a time, the next from the callback of
// the previous. Every request ends in exactly one completion callback or one
// SetError. All calls, both ways, are made on the main thread.
#include "engine/ConnectionFrontend.h"
#include "engine/ConnectionRecords.h"
#include "engine/ProtocolBackend.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// Waits until the worker threads of every closed connection have ended, at
// most `timeout` for each kind of worker; true when none is left. The program
// calls it on its way out, so that no worker is cut off while it closes.
bool WaitForConnectionWorkers(std::chrono::milliseconds timeout);

// Failures of connecting that the same attempt would meet again: the server
// refused the user name or password, or an SFTP server's host key is not the
// one on record. ERROR is the text the connection reported.
enum class LoginRefusal { kNone, kCredentials, kHostKey };
LoginRefusal LoginRefusalOf(const std::string& error);

class Connection {
public:
    explicit Connection(ConnectionFrontend* frontend);
    virtual ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Starts connecting: 0 once the connect request is on its way (success
    // then arrives as ConnectComplete, failure as SetError); -108 when no
    // backend or worker could be made; -50 when the backend has no worker.
    virtual OSStatus Initialize(const sBookMarkData& bookmark);
    virtual OSStatus Initialize(const sSyncBookMarkData& bookmark);

    // Requests: passed to the backend; the work happens on the worker.
    virtual void Disconnect();
    virtual void GetServerInfo();
    virtual void GetDirList();
    virtual void ChangeDirTo(const std::string& path);
    virtual void ResolveLinks(const std::vector<std::string>& names);
    virtual void Rename(const std::string& from, const std::string& to);
    virtual void CreateFolder(const std::string& path);
    virtual void SetPerms(const std::string& path, const std::string& mode);
    virtual void CreateFileList(const std::string& path, int mode);
    virtual void Download(const sDownloadInfo& info);
    virtual void Delete(const sDeleteInfo& info);
    virtual void Upload(const sUploadInfo& info);
    // Not a request: stops the running transfer at once.
    virtual void AbortTransfer();
    virtual void GetModTime(const std::vector<sFileInfo>& files);

    // Results, from the backend: passed on to the front end (dropped without one).
    virtual void SetDeleteStatus(const std::string& name);
    virtual void SetStatus(const std::string& text);
    virtual void SetError(const std::string& text);
    virtual bool SetErrorAsk(const std::string& text);
    virtual void StartTransfer(const sFileProgress& progress);
    virtual void EndTransfer(const sFileProgress& progress);
    virtual void UpdateTransfer(const sFileProgress& progress);
    virtual void ConnectComplete();
    virtual void DisconnectComplete();
    virtual void GetServerInfoComplete(bool resumeSupported, int serverType);
    virtual void GetDirListComplete(const std::string& path, const std::string& listing);
    virtual void ChangeDirToComplete();
    virtual void ResolveLinksComplete(const std::vector<std::string>& folderLinks);
    virtual void RenameComplete();
    virtual void CreateFolderComplete();
    virtual void SetPermsComplete();
    virtual void CreateFileListComplete(const std::string& path, const std::string& listing);
    virtual void DownloadComplete();
    virtual void DeleteComplete();
    virtual void UploadComplete();
    virtual void GetModTimeComplete(const std::vector<sFileInfo>& files);

    virtual bool IsConnected();

    const sBookMarkData& Bookmark() const { return mBookmark; }
    // Before Initialize: every listing shows hidden items too, whatever the
    // preferences say (a synchronisation must see its own temporary files).
    void SetListHidden(bool hidden) { mListHidden = hidden; }
    // The backend, for tests and diagnostics; none before Initialize.
    ProtocolBackend* Backend() const { return mBackend.get(); }

protected:
    // Makes the backend the bookmark asks for; tests replace it.
    virtual std::unique_ptr<ProtocolBackend> MakeBackend(bool secure);

private:
    OSStatus Start();

    sBookMarkData mBookmark;
    std::unique_ptr<ProtocolBackend> mBackend;
    ConnectionFrontend* mFrontend;
    int mFileListMode = 0;
    bool mListHidden = false;
};
