#pragma once
// What a window implements to hear from its Connection: status texts, errors,
// transfer progress and one completion per request. Every call comes on the
// main thread.
#include "engine/ConnectionRecords.h"

#include <string>
#include <vector>

class ConnectionFrontend {
public:
    virtual ~ConnectionFrontend() = default;

    virtual void SetDeleteStatus(const std::string& name) = 0;
    virtual void SetStatus(const std::string& text) = 0;
    // Ends the running request (no completion follows); between requests it
    // reports a failed keep-alive and ends nothing.
    virtual void SetError(const std::string& text) = 0;
    // One file of several failed: true goes on with the next, false stops.
    // The worker waits for the answer.
    virtual bool SetErrorAsk(const std::string& text) = 0;
    virtual void StartTransfer(const sFileProgress& progress) = 0;
    virtual void EndTransfer(const sFileProgress& progress) = 0;
    virtual void UpdateTransfer(const sFileProgress& progress) = 0;
    virtual void ConnectComplete() = 0;
    virtual void DisconnectComplete() = 0;
    virtual void GetServerInfoComplete(bool resumeSupported, int serverType) = 0;
    virtual void GetDirListComplete(const std::string& path, const std::string& listing) = 0;
    virtual void ChangeDirToComplete() = 0;
    virtual void ResolveLinksComplete(const std::vector<std::string>& folderLinks) = 0;
    virtual void RenameComplete() = 0;
    virtual void CreateFolderComplete() = 0;
    virtual void SetPermsComplete() = 0;
    virtual void CreateFileListComplete(const std::string& path, const std::string& listing,
                                        int mode) = 0;
    virtual void DownloadComplete() = 0;
    virtual void DeleteComplete() = 0;
    virtual void UploadComplete() = 0;
    virtual void GetModTimeComplete(const std::vector<sFileInfo>& files) = 0;
};
