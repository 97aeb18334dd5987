#include "engine/SFTPBackend.h"

#include "engine/SFTPThread.h"

#include <atomic>

namespace {
WorkerInterface* StartSFTPThread() {
    return SFTPThread::CreateThread(0);
}
std::atomic<SFTPBackend::WorkerFactory> gFactory{&StartSFTPThread};
} // namespace

void SFTPBackend::SetWorkerFactory(WorkerFactory factory) {
    gFactory.store(factory);
}

SFTPBackend::SFTPBackend() = default;

SFTPBackend::~SFTPBackend() {
    Dispose();
}

WorkerInterface* SFTPBackend::StartWorker() {
    const WorkerFactory factory = gFactory.load();
    return factory ? factory() : nullptr;
}
