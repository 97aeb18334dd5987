#pragma once
// The two sheets of the synchronisation-status window: the conflict sheet for
// a file changed on both sides, and the summary at the end of a run.
#include "ConnectionRecords.h"
#include "NibWindow.h"

#include <cstdint>
#include <string>
#include <vector>

// Shows a file as it is now and as the cache recorded it, locally and
// remotely. DoModal answers 'ok  ' (GetData: 1 upload, 2 download, 0 skip)
// or 'not!' (cancel the run).
class MismatchSheet : public NibSheetWindow, public PPx::CommandProcessDoer {
public:
    // The local file now, as cached, the remote file now, as cached.
    explicit MismatchSheet(const std::vector<sFileInfo>& files);
    static MismatchSheet* Make(const std::vector<sFileInfo>& files);

    void FinishInit() override;
    const char* ClassName() const override { return "MismatchSheet"; }

    virtual uint32_t DoModal(PPx::Window* parent);
    virtual int GetData() const { return mChoice; }
    PPx::OSStatus DoCommandProcess(uint32_t command) override;
    virtual void Populate();

private:
    NibStaticText* mTexts[12] = {};
    NibPushButton* mButtons[4] = {};
    uint32_t mResult = 'not!';
    int32_t mChoice = 0;
    std::vector<sFileInfo> mFiles;
};

// "%d items uploaded, %d items downloaded, %d items deleted".
class SyncCompleteSheet : public NibSheetWindow, public PPx::CommandProcessDoer {
public:
    SyncCompleteSheet(int uploaded, int downloaded, int deleted, int failed = 0);
    static SyncCompleteSheet* Make(int uploaded, int downloaded, int deleted, int failed = 0);

    void FinishInit() override;
    const char* ClassName() const override { return "SyncCompleteSheet"; }

    virtual uint32_t DoModal(PPx::Window* parent);
    PPx::OSStatus DoCommandProcess(uint32_t command) override;

    // The sheet's text for these counts; failures are told only when there are any.
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
