#pragma once
// The SFTP implementation of ProtocolBackend: the same main-thread half as
// the FTP backend, over the SFTP worker thread. It has no keep-alive and
// ignores 'prfU'.
//
// The SFTP worker lives with the sftp tool's driver; it makes itself known
// here through SetWorkerFactory. Until one is installed, an SFTP connection
// cannot start (Initialize answers -108).
#include "WorkerBackend.h"

class SFTPBackend : public WorkerBackend {
public:
    // Starts an SFTP worker thread (like SFTPThread::CreateThread(0)); none
    // when it cannot be started.
    using WorkerFactory = BackendWorker* (*)();
    static void SetWorkerFactory(WorkerFactory factory);

    SFTPBackend();
    ~SFTPBackend() override;

protected:
    BackendWorker* StartWorker() override;
};
