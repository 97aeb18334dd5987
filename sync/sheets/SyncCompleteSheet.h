#pragma once
// The summary at the end of a synchronisation run: what was uploaded,
// downloaded and deleted, and what failed.
#include "app/NibWindow.h"

#include <cstdint>
#include <string>

class SyncCompleteSheet : public NibSheetWindow, public PPx::CommandProcessDoer {
public:
    SyncCompleteSheet(int uploaded, int downloaded, int deleted, int failed = 0);

    void FinishInit() override;
    const char* ClassName() const override { return "SyncCompleteSheet"; }

    // 'ok  ' once the user has read it.
    virtual uint32_t DoModal(PPx::Window* parent);
    PPx::OSStatus DoCommandProcess(uint32_t command) override;

    // The text for these counts; failures are told only when there are any.
    static std::string Summary(int uploaded, int downloaded, int deleted, int failed);

private:
    NibStaticText* mText = nullptr;
    NibPushButton* mOK = nullptr;
    uint32_t mResult = 'ok  ';
    int32_t mUploaded = 0;
    int32_t mDownloaded = 0;
    int32_t mDeleted = 0;
    int32_t mFailed = 0;
};

// Shows the summary on PARENT and returns once the user has read it.
void ShowSyncSummary(PPx::Window* parent, int uploaded, int downloaded, int deleted, int failed);
