#pragma once
// Receives the progress of file transfers from either protocol engine; the
// workers implement it.
class TransferProgress {
public:
    virtual ~TransferProgress() = default;
    virtual void StartTransfer() = 0;
    virtual void EndTransfer() = 0;
    virtual void UpdateProgress(unsigned long long bytes) = 0;
};
