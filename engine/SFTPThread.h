#pragma once
// The worker thread of one SFTP connection: the twin of FTPThread over an
// SFTPEngine, which drives the sftp tool. Same request slot, messages, ask
// handshake and life; no keep-alive, nothing timed while idle.
//
// Quit also ends the tool at once, so that a worker let go in the middle of
// a transfer or a hung command never stays behind.
#include "engine/EngineWorker.h"
#include "engine/SFTPEngine.h"

#include <cstdint>
#include <string>

class SFTPThread : public EngineWorker<SFTPEngine> {
public:
    // Starts a worker; none when its thread cannot be started.
    static SFTPThread* CreateThread(int arg);

    using sSFTPEvent = sWorkerEvent;
    // This kind's own request code, after the shared ones: no keep-alive here.
    enum : uint32_t { kRequestGetModTime = 113 };

    void Quit() override;

    // The folder that receives download item `name` below `destination`
    // (created by the front end), and the item's last component; false for a
    // name that could reach outside the destination.
    static bool GetRefForDest(const std::string& destination, const std::string& name,
                              std::string& folder, std::string& leaf);
    // True when `path` names an existing folder.
    static bool GetRefForUpload(const std::string& path);

protected:
    SFTPThread();
    ~SFTPThread() override;

private:
    RequestResult OnConnect(const sWorkerEvent& request) override;
    RequestResult OnDisconnect(const sWorkerEvent& request) override;
    RequestResult OnGetServerInfo(const sWorkerEvent& request) override;
    RequestResult OnCreateFileList(const sWorkerEvent& request) override;
    bool ListFolder(const char* path, std::string& listing) override;
    bool FetchFile(const sFileInfo& item, const sDownloadInfo& info, std::string& refusal) override;
    bool SendFile(const sFileInfo& item, const sUploadInfo& info, const std::string& remoteName,
                  std::string& refusal) override;
    const char* NoDestinationText() const override {
        return "Could not create destination directory";
    }
};
