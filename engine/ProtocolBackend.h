#pragma once
// The protocol side of a Connection: FTPBackend or SFTPBackend. A backend
// lives on the main thread, runs the requests on its worker thread and calls
// its Connection back (on the main thread) with the results.
#include "engine/ConnectionRecords.h"
#include "platform/core/Errors.h"

#include <string>
#include <vector>

class Connection;
using PPx::OSStatus;

// Server types of GetServerInfoComplete.
constexpr int kServerUnknown = 0;
constexpr int kServerUnix = 1;
constexpr int kServerMacOS = 2;
constexpr int kServerWindowsNT = 3;

// Modes of CreateFileList, handed back with its listing.
constexpr int kFileListDownload = 0;
constexpr int kFileListDelete = 1;
constexpr int kFileListUploadCheck = 2; // a missing target folder lists as empty

class ProtocolBackend {
public:
    virtual ~ProtocolBackend() = default;

    virtual OSStatus Initialize(Connection* connection) = 0;
    virtual void Dispose() = 0;
    virtual OSStatus Connect(const sBookMarkData& bookmark) = 0;
    virtual OSStatus Disconnect() = 0;
    virtual bool IsConnected() = 0;
    virtual void GetServerInfo() = 0;
    virtual void GetDirList() = 0;
    virtual void ChangeDirTo(const std::string& path) = 0;
    virtual void ResolveLinks(const std::vector<std::string>& names) = 0;
    virtual void Rename(const std::string& from, const std::string& to) = 0;
    virtual void CreateFolder(const std::string& path) = 0;
    virtual void SetPerms(const std::string& path, const std::string& mode) = 0;
    virtual void CreateFileList(const std::string& path, int mode) = 0;
    virtual void Download(const sDownloadInfo& info) = 0;
    virtual void Delete(const sDeleteInfo& info) = 0;
    virtual void Upload(const sUploadInfo& info) = 0;
    virtual void AbortTransfer() = 0;
    virtual void GetModTime(const std::vector<sFileInfo>& files) = 0;
    // Listings show hidden items too, whatever the preferences say.
    virtual void SetListHidden(bool) {}
};
