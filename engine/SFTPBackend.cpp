#include "SFTPBackend.h"

#include <atomic>

namespace {
std::atomic<SFTPBackend::WorkerFactory> gFactory{nullptr};
}

void SFTPBackend::SetWorkerFactory(WorkerFactory factory) {
    gFactory.store(factory);
}

SFTPBackend::SFTPBackend() = default;

SFTPBackend::~SFTPBackend() {
    Dispose();
}

BackendWorker* SFTPBackend::StartWorker() {
    const WorkerFactory factory = gFactory.load();
    return factory ? factory() : nullptr;
}
