#pragma once
// The worker thread of one SFTP connection: the twin of FTPThread over an
// SFTPEngine, which drives the sftp tool. Same request slot, messages, ask
// handshake and life; no keep-alive, nothing timed while idle.
//
// Quit also ends the tool at once, so that a worker let go in the middle of
// a transfer or a hung command never stays behind.
#include "CUnixThread.h"
#include "SFTPEngine.h"
#include "WorkerChannel.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class SFTPThread : public CUnixThread, public WorkerChannel, private TransferProgress {
public:
    enum : uint32_t {
        kRequestConnect = 100,
        kRequestDisconnect = 101,
        kRequestGetServerInfo = 102,
        kRequestGetDirList = 103,
        kRequestChangeDirTo = 104,
        kRequestResolveLinks = 105,
        kRequestRename = 106,
        kRequestCreateFolder = 107,
        kRequestSetPerms = 108,
        kRequestCreateFileList = 109,
        kRequestDownload = 110,
        kRequestDelete = 111,
        kRequestUpload = 112,
        kRequestGetModTime = 113,
    };

    struct sSFTPEvent {
        bool pending = false;
        uint32_t request = 0;
        sBookMarkData bookmark;
        std::string path;
        std::vector<std::string> args;
        sDownloadInfo download;
        sDeleteInfo remove;
        sUploadInfo upload;
        std::vector<sFileInfo> modTimeList;
        int32_t fileListMode = 0;
    };

    // Starts a worker; none when its thread cannot be started.
    static SFTPThread* CreateThread(int arg);
    static size_t LiveWorkers();
    static bool WaitForWorkers(std::chrono::milliseconds timeout);

    bool InitInstance(int arg) override;
    void ExitInstance() override;
    int Run() override;

    void Connect(const sBookMarkData& bookmark) override;
    void Disconnect() override;
    void GetServerInfo() override;
    void GetDirList() override;
    void ChangeDirTo(const std::string& path) override;
    void ResolveLinks(const std::vector<std::string>& names) override;
    void Rename(const std::string& from, const std::string& to) override;
    void CreateFolder(const std::string& path) override;
    void SetPerms(const std::string& path, const std::string& mode) override;
    void CreateFileList(const std::string& path, int mode) override;
    void Download(const sDownloadInfo& info) override;
    void Delete(const sDeleteInfo& info) override;
    void Upload(const sUploadInfo& info) override;
    void GetModTime(const std::vector<sFileInfo>& files) override;

    void AbortTransfer() override;
    void Quit() override;
    bool IsConnected() override;

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
    void StartTransfer() override;
    void EndTransfer() override;
    void UpdateProgress(unsigned long long bytes) override;

    template <typename Fill> void Request(uint32_t code, Fill fill);
    void ProcessEvent();
    void Block();
    bool Stopping() const { return mAbort.load() || mQuit.load(); }

    void ReportEngineError() { SetError(mEngine.GetLastError()); }

    void OnConnect(const sSFTPEvent& request);
    void OnDisconnect(const sSFTPEvent& request);
    void OnGetServerInfo(const sSFTPEvent& request);
    void OnGetDirList(const sSFTPEvent& request);
    void OnChangeDirTo(const sSFTPEvent& request);
    void OnResolveLinks(const sSFTPEvent& request);
    void OnRename(const sSFTPEvent& request);
    void OnCreateFolder(const sSFTPEvent& request);
    void OnSetPerms(const sSFTPEvent& request);
    void OnCreateFileList(const sSFTPEvent& request);
    void OnDownload(const sSFTPEvent& request);
    void OnDelete(const sSFTPEvent& request);
    void OnUpload(const sSFTPEvent& request);
    void OnGetModTime(const sSFTPEvent& request);

    sSFTPEvent mSlot;

    std::atomic<bool> mAbort{false};

    SFTPEngine mEngine;
    sFileInfo mCurrentFile;
};
