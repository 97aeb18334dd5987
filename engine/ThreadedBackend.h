#pragma once
// What FTPBackend and SFTPBackend share: the main-thread half of a connection
// whose requests run on a worker thread. It starts the worker, forwards each
// request into the worker's slot, and turns the worker's messages (command
// events on its own event target, delivered in order on the main thread)
// into calls on its Connection.
#include "engine/ProtocolBackend.h"
#include "engine/WorkerInterface.h"
#include "platform/core/Events.h"

#include <vector>

class ThreadedBackend : public ProtocolBackend {
public:
    ThreadedBackend();
    ~ThreadedBackend() override;
    ThreadedBackend(const ThreadedBackend&) = delete;
    ThreadedBackend& operator=(const ThreadedBackend&) = delete;

    // -108 when the worker cannot be started.
    OSStatus Initialize(Connection* connection) override;
    // Detaches the worker from the main event queue (nothing it posted
    // arrives any more), tells it to stop what it does and to end, and lets
    // go of it.
    void Dispose() override;
    OSStatus Connect(const sBookMarkData& bookmark) override;
    OSStatus Disconnect() override;
    bool IsConnected() override;
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
    void AbortTransfer() override;
    void GetModTime(const std::vector<sFileInfo>& files) override;
    void SetListHidden(bool hidden) override;

    // The target the worker's messages go to.
    PPx::EventTargetRef Target() const { return mTarget.Ref(); }

protected:
    // Starts the worker thread; none when it cannot be started.
    virtual WorkerInterface* StartWorker() = 0;
    // After the handlers are installed and the receiver set.
    virtual void DidInitialize() {}
    // On 'conn', before the Connection hears of it.
    virtual void DidConnect() {}
    // First step of Dispose, while the worker is still there.
    virtual void WillDispose() {}

    WorkerInterface* Worker() const { return mThread; }

private:
    void InstallHandlers();
    OSStatus HandleMessage(PPx::Event& event);
    void HandleProgress(PPx::Event& event);

    Connection* mConnection = nullptr;
    WorkerInterface* mThread = nullptr; // not owned: the worker ends itself
    bool mConnected = false;
    PPx::EventTarget mTarget;
    std::vector<PPx::EventHandler> mHandlers;
};
