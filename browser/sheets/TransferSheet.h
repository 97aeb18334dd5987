#pragma once
// The progress of one batch of file transfers: the current file and the
// whole batch, with sizes, times and rates. The owner shows it with
// Show(owner), feeds it the progress reports, and closes it (after Wait when
// the user is to see the end). Cancel posts 'ABRT' to the owner window.
#include "app/NibWindow.h"
#include "engine/ConnectionRecords.h"
#include "platform/core/Timer.h"

#include <cstdint>
#include <map>
#include <string>

class TransferSheet : public NibSheetWindow, public PPx::CommandProcessDoer, public PPx::Timer {
public:
    // FILECOUNT files will be reported, their end reports adding up to TOTALBYTES.
    TransferSheet(int fileCount, unsigned long long totalBytes);
    static TransferSheet* Make(int fileCount, unsigned long long totalBytes);

    void FinishInit() override;
    const char* ClassName() const override { return "TransferSheet"; }

    // Per file: one start (full size, resume offset), updates (bytes of this
    // run, offset not counted), one end (full size).
    virtual void StartTransfer(const sFileProgress& progress);
    virtual void EndTransfer(const sFileProgress& progress);
    virtual void UpdateTransfer(const sFileProgress& progress);
    // Cancel becomes Close; returns once the user has clicked it.
    virtual void Wait();

    PPx::OSStatus DoCommandProcess(uint32_t command) override;
    // Once a second: the times and rates.
    void DoTimer() override;

    // "0 bytes", "1.50 KB", "1 MB".
    static std::string GetSizeForFile(unsigned long long bytes);
    // "5 secs", "1 min 5 secs", "2 mins 5 secs", "1h 2m 5s", "1d 1h 1m 1s".
    static std::string CreateTimeString(unsigned long long seconds);

private:
    // Sets TEXT only when it differs from what the control shows.
    void SetText(NibStaticText* text, const std::string& value);
    void SetBar(NibProgressBar* bar, bool& busyShown, int32_t& valueShown, bool busy,
                int32_t value);
    // After a report: shows it at once, or when reports come faster than
    // anyone can read, marks the sheet dirty for the flush timer.
    void Changed(bool final);
    // Puts the current file and batch onto the controls.
    void Apply();

    NibStaticText* mStatusText = nullptr;
    NibStaticText* mNameText = nullptr;
    NibProgressBar* mFileBar = nullptr;
    NibStaticText* mFileSizeText = nullptr;
    NibStaticText* mFileDoneText = nullptr;
    NibStaticText* mFileLeftText = nullptr;
    NibStaticText* mFileElapsedText = nullptr;
    NibStaticText* mFileTimeLeftText = nullptr;
    NibStaticText* mFileRateText = nullptr;
    NibProgressBar* mTotalBar = nullptr;
    NibStaticText* mTotalSizeText = nullptr;
    NibStaticText* mTotalDoneText = nullptr;
    NibStaticText* mTotalLeftText = nullptr;
    NibStaticText* mTotalElapsedText = nullptr;
    NibStaticText* mTotalTimeLeftText = nullptr;
    NibStaticText* mFileCountText = nullptr;
    NibStaticText* mTotalRateText = nullptr;
    NibPushButton* mCancelButton = nullptr;

    uint32_t mStartTicks = 0;
    uint32_t mFileStartTicks = 0;
    uint64_t mFileOffset = 0;
    uint64_t mFileDone = 0;
    uint64_t mFileSize = 0;
    int mFileCount = 0;
    uint64_t mTotalBytes = 0;
    int mFilesDone = 0;
    uint64_t mTotalDone = 0;
    uint64_t mFileRate = 0;
    uint64_t mTotalRate = 0;
    bool mFileRunning = false;  // the file bar is determinate
    bool mBatchRunning = false; // the batch bar is determinate
    bool mWaiting = false;
    bool mStarted = false;     // a file has been started
    bool mFileUpdated = false; // the current file has had an update report
    std::string mFileName;

    // What the controls show, so that unchanged figures cost nothing.
    std::map<NibStaticText*, std::string> mShownTexts;
    bool mFileBarBusy = true;
    int32_t mFileBarValue = -1;
    bool mTotalBarBusy = true;
    int32_t mTotalBarValue = -1;

    // Reports shown at once within the current window of ticks.
    uint32_t mWindowStart = 0;
    int mShownInWindow = 0;
    bool mDirty = false;
    // Last, so that it is removed before anything it shows goes away.
    PPx::Timer mFlushTimer;
};

extern const char* const kCalculatingText;
