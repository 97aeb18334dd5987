#include "engine/Connection.h"

#include "engine/FTPBackend.h"
#include "engine/FTPThread.h"
#include "engine/SFTPBackend.h"
#include "engine/SFTPEngine.h"
#include "engine/SFTPThread.h"

#include <new>

LoginRefusal LoginRefusalOf(const std::string& error) {
    // FTP's "530 Not logged in" answers USER, PASS or ACCT.
    if (error.size() > 4 && error.compare(0, 3, "530") == 0 && (error[3] == ' ' || error[3] == '-'))
        return LoginRefusal::kCredentials;
    if (error == SFTPEngine::kBadPasswordText)
        return LoginRefusal::kCredentials;
    if (error.rfind(SFTPEngine::kHostKeyChangedText, 0) == 0)
        return LoginRefusal::kHostKey;
    return LoginRefusal::kNone;
}

Connection::Connection(ConnectionFrontend* frontend) : mFrontend(frontend) {}

Connection::~Connection() {
    if (mBackend) {
        mBackend->Dispose();
        mBackend.reset();
    }
}

std::unique_ptr<ProtocolBackend> Connection::MakeBackend(bool secure) {
    if (secure)
        return std::unique_ptr<ProtocolBackend>(new (std::nothrow) SFTPBackend);
    return std::unique_ptr<ProtocolBackend>(new (std::nothrow) FTPBackend);
}

OSStatus Connection::Start() {
    if (mBackend) {
        // Initialised once; a second call starts nothing new.
        return PPx::paramErr;
    }
    mBackend = MakeBackend(mBookmark.secure);
    if (!mBackend)
        return PPx::memFullErr;
    const OSStatus status = mBackend->Initialize(this);
    if (status != PPx::noErr)
        return status;
    if (mListHidden)
        mBackend->SetListHidden(true);
    return mBackend->Connect(mBookmark);
}

OSStatus Connection::Initialize(const sBookMarkData& bookmark) {
    if (!mBackend)
        mBookmark = bookmark;
    return Start();
}

OSStatus Connection::Initialize(const sSyncBookMarkData& bookmark) {
    if (!mBackend) {
        sBookMarkData copy;
        CopyServerFields(bookmark, copy);
        copy.dir = bookmark.remoteDir;
        mBookmark = copy;
    }
    return Start();
}

// ---- requests ----------------------------------------------------------------

void Connection::Disconnect() {
    if (mBackend)
        mBackend->Disconnect();
}

void Connection::GetServerInfo() {
    if (mBackend)
        mBackend->GetServerInfo();
}

void Connection::GetDirList() {
    if (mBackend)
        mBackend->GetDirList();
}

void Connection::ChangeDirTo(const std::string& path) {
    if (mBackend)
        mBackend->ChangeDirTo(path);
}

void Connection::ResolveLinks(const std::vector<std::string>& names) {
    if (mBackend)
        mBackend->ResolveLinks(names);
}

void Connection::Rename(const std::string& from, const std::string& to) {
    if (mBackend)
        mBackend->Rename(from, to);
}

void Connection::CreateFolder(const std::string& path) {
    if (mBackend)
        mBackend->CreateFolder(path);
}

void Connection::SetPerms(const std::string& path, const std::string& mode) {
    if (mBackend)
        mBackend->SetPerms(path, mode);
}

void Connection::CreateFileList(const std::string& path, int mode) {
    mFileListMode = mode;
    if (mBackend)
        mBackend->CreateFileList(path, mode);
}

void Connection::Download(const sDownloadInfo& info) {
    if (mBackend)
        mBackend->Download(info);
}

void Connection::Delete(const sDeleteInfo& info) {
    if (mBackend)
        mBackend->Delete(info);
}

void Connection::Upload(const sUploadInfo& info) {
    if (mBackend)
        mBackend->Upload(info);
}

void Connection::AbortTransfer() {
    if (mBackend)
        mBackend->AbortTransfer();
}

void Connection::GetModTime(const std::vector<sFileInfo>& files) {
    if (mBackend)
        mBackend->GetModTime(files);
}

bool Connection::IsConnected() {
    return mBackend && mBackend->IsConnected();
}

// ---- results -----------------------------------------------------------------

void Connection::SetDeleteStatus(const std::string& name) {
    if (mFrontend)
        mFrontend->SetDeleteStatus(name);
}

void Connection::SetStatus(const std::string& text) {
    if (mFrontend)
        mFrontend->SetStatus(text);
}

void Connection::SetError(const std::string& text) {
    if (mFrontend)
        mFrontend->SetError(text);
}

bool Connection::SetErrorAsk(const std::string& text) {
    return mFrontend && mFrontend->SetErrorAsk(text);
}

void Connection::StartTransfer(const sFileProgress& progress) {
    if (mFrontend)
        mFrontend->StartTransfer(progress);
}

void Connection::EndTransfer(const sFileProgress& progress) {
    if (mFrontend)
        mFrontend->EndTransfer(progress);
}

void Connection::UpdateTransfer(const sFileProgress& progress) {
    if (mFrontend)
        mFrontend->UpdateTransfer(progress);
}

void Connection::ConnectComplete() {
    if (mFrontend)
        mFrontend->ConnectComplete();
}

void Connection::DisconnectComplete() {
    if (mFrontend)
        mFrontend->DisconnectComplete();
}

void Connection::GetServerInfoComplete(bool resumeSupported, int serverType) {
    if (mFrontend)
        mFrontend->GetServerInfoComplete(resumeSupported, serverType);
}

void Connection::GetDirListComplete(const std::string& path, const std::string& listing) {
    if (mFrontend)
        mFrontend->GetDirListComplete(path, listing);
}

void Connection::ChangeDirToComplete() {
    if (mFrontend)
        mFrontend->ChangeDirToComplete();
}

void Connection::ResolveLinksComplete(const std::vector<std::string>& folderLinks) {
    if (mFrontend)
        mFrontend->ResolveLinksComplete(folderLinks);
}

void Connection::RenameComplete() {
    if (mFrontend)
        mFrontend->RenameComplete();
}

void Connection::CreateFolderComplete() {
    if (mFrontend)
        mFrontend->CreateFolderComplete();
}

void Connection::SetPermsComplete() {
    if (mFrontend)
        mFrontend->SetPermsComplete();
}

void Connection::CreateFileListComplete(const std::string& path, const std::string& listing) {
    if (mFrontend)
        mFrontend->CreateFileListComplete(path, listing, mFileListMode);
}

void Connection::DownloadComplete() {
    if (mFrontend)
        mFrontend->DownloadComplete();
}

void Connection::DeleteComplete() {
    if (mFrontend)
        mFrontend->DeleteComplete();
}

void Connection::UploadComplete() {
    if (mFrontend)
        mFrontend->UploadComplete();
}

void Connection::GetModTimeComplete(const std::vector<sFileInfo>& files) {
    if (mFrontend)
        mFrontend->GetModTimeComplete(files);
}

bool WaitForConnectionWorkers(std::chrono::milliseconds timeout) {
    const bool ftpDone = FTPThread::WaitForWorkers(timeout);
    const bool sftpDone = SFTPThread::WaitForWorkers(timeout);
    return ftpDone && sftpDone;
}
