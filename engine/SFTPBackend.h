#pragma once
// The SFTP implementation of ProtocolBackend: the same main-thread half as
// the FTP backend, over the SFTP worker thread. It has no keep-alive and
// ignores 'prfU'.
//
// The worker is an SFTPThread unless another factory is installed through
// SetWorkerFactory; with none (null), an SFTP connection cannot start
// (Initialize answers -108).
#include "engine/ThreadedBackend.h"

class SFTPBackend : public ThreadedBackend {
public:
    // Starts an SFTP worker thread (like SFTPThread::CreateThread(0)); none
    // when it cannot be started.
    using WorkerFactory = WorkerInterface* (*)();
    static void SetWorkerFactory(WorkerFactory factory);

    SFTPBackend();
    ~SFTPBackend() override;

protected:
    WorkerInterface* StartWorker() override;
};
