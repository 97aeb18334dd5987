#include "browser/sheets/TransferSheet.h"

#include <cstdio>
#include <limits>

const char* const kCalculatingText = "Calculating...";

namespace {

// Sizes in reports are signed; a negative one counts as nothing.
uint64_t Bytes(int64_t value) {
    return value > 0 ? static_cast<uint64_t>(value) : 0;
}

// What is left of WHOLE after DONE, never below zero (a file may grow past
// its listed size, an offset may exceed it).
uint64_t Left(uint64_t whole, uint64_t done) {
    return done < whole ? whole - done : 0;
}

uint64_t Sum(uint64_t a, uint64_t b) {
    return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max()
                                                        : a + b;
}

// PART of WHOLE in percent, at most 100; WHOLE must not be zero.
int32_t Percent(uint64_t part, uint64_t whole) {
    if (part >= whole)
        return 100;
    if (part <= std::numeric_limits<uint64_t>::max() / 100)
        return static_cast<int32_t>(part * 100 / whole);
    return static_cast<int32_t>(part / (whole / 100));
}

// Setting a bar repaints it at once, and a batch of small files reports
// thousands of files a second: the first few reports of each tenth of a
// second show at once (so a single file or a slow batch never waits), later
// ones within it are shown together by the flush timer, and the last file's
// end always at once.
constexpr uint32_t kWindowTicks = 6;
constexpr int kShownPerWindow = 8;
constexpr double kFlushSeconds = 0.1;

// A bar's value unknown, or not to be changed.
constexpr int32_t kLeaveValue = -1;

std::string Counter(int done, int count) {
    char text[32];
    std::snprintf(text, sizeof text, "%d/%d", done, count);
    return text;
}

} // namespace

std::string TransferSheet::GetSizeForFile(unsigned long long n) {
    const char* unit;
    unsigned long long divisor;
    if (n >= (1ull << 30)) {
        unit = "GB";
        divisor = 1ull << 30;
    } else if (n >= (1ull << 20)) {
        unit = "MB";
        divisor = 1ull << 20;
    } else if (n >= 1024) {
        unit = "KB";
        divisor = 1024;
    } else {
        return std::to_string(n) + " bytes";
    }
    const long long whole = static_cast<long long>(n / divisor);
    // The remainder is below 2^30, so times 100 it cannot overflow.
    const long long hundredths = static_cast<long long>((n % divisor) * 100 / divisor);
    char text[64];
    if (hundredths != 0)
        std::snprintf(text, sizeof text, "%lld.%02lld %s", whole, hundredths, unit);
    else
        std::snprintf(text, sizeof text, "%lld %s", whole, unit);
    return text;
}

std::string TransferSheet::CreateTimeString(unsigned long long t) {
    const unsigned long long s = t % 60;
    const unsigned long long m = (t / 60) % 60;
    const unsigned long long h = (t / 3600) % 24;
    const unsigned long long d = t / 86400;
    char text[96];
    if (d > 0)
        std::snprintf(text, sizeof text, "%llud %lluh %llum %llus", d, h, m, s);
    else if (h > 0)
        std::snprintf(text, sizeof text, "%lluh %llum %llus", h, m, s);
    else if (m == 0)
        std::snprintf(text, sizeof text, "%llu secs", s);
    else if (m == 1)
        std::snprintf(text, sizeof text, "%llu min %llu secs", m, s);
    else
        std::snprintf(text, sizeof text, "%llu mins %llu secs", m, s);
    return text;
}

TransferSheet::TransferSheet(int fileCount, unsigned long long totalBytes)
    : mFileCount(fileCount), mTotalBytes(totalBytes), mFlushTimer([this] {
          if (mDirty)
              Apply();
      }) {}

TransferSheet* TransferSheet::Make(int fileCount, unsigned long long totalBytes) {
    return PPx::MakeNibWindow<TransferSheet>(PPx::SysNib(), "TransferSheet", fileCount, totalBytes);
}

void TransferSheet::SetText(NibStaticText* text, const std::string& value) {
    auto [shown, added] = mShownTexts.try_emplace(text, value);
    if (!added) {
        if (shown->second == value)
            return;
        shown->second = value;
    }
    text->SetText(value);
}

void TransferSheet::SetBar(NibProgressBar* bar, bool& busyShown, int32_t& valueShown, bool busy,
                           int32_t value) {
    if (busy != busyShown) {
        bar->SetIndeterminate(busy);
        busyShown = busy;
        // Switching the range may reset the bar's value.
        valueShown = kLeaveValue;
    }
    if (!busy && value != kLeaveValue && value != valueShown) {
        bar->SetValue(value);
        valueShown = value;
    }
}

void TransferSheet::FinishInit() {
    PPx::SysWindow window = GetSysWindow();
    mStatusText = NibStaticText::CreatePPxView(window, 'STAT');
    mNameText = NibStaticText::CreatePPxView(window, 'NAME');
    mFileBar = NibProgressBar::CreatePPxView(window, 'CFPR');
    mFileSizeText = NibStaticText::CreatePPxView(window, 'CFTS');
    mFileDoneText = NibStaticText::CreatePPxView(window, 'CFTR');
    mFileLeftText = NibStaticText::CreatePPxView(window, 'CFRM');
    mFileElapsedText = NibStaticText::CreatePPxView(window, 'CFEP');
    mFileTimeLeftText = NibStaticText::CreatePPxView(window, 'CFRT');
    mFileRateText = NibStaticText::CreatePPxView(window, 'CFSP');
    mTotalBar = NibProgressBar::CreatePPxView(window, 'AFPR');
    mTotalSizeText = NibStaticText::CreatePPxView(window, 'AFTS');
    mTotalDoneText = NibStaticText::CreatePPxView(window, 'AFTR');
    mTotalLeftText = NibStaticText::CreatePPxView(window, 'AFRM');
    mTotalElapsedText = NibStaticText::CreatePPxView(window, 'AFEP');
    mTotalTimeLeftText = NibStaticText::CreatePPxView(window, 'AFRT');
    mFileCountText = NibStaticText::CreatePPxView(window, 'AFFC');
    mTotalRateText = NibStaticText::CreatePPxView(window, 'AFSP');
    mCancelButton = NibPushButton::CreatePPxView(window, 'cncl');

    mNameText->SetMiddleTruncation();
    for (NibProgressBar* bar : {mFileBar, mTotalBar}) {
        bar->SetMinValue(0);
        bar->SetMaxValue(100);
        bar->SetIndeterminate(true);
    }
    SetText(mTotalSizeText, GetSizeForFile(mTotalBytes));
    mStartTicks = PPx::TickCount();
    for (NibStaticText* text : {mFileRateText, mFileElapsedText, mFileTimeLeftText, mTotalRateText,
                                mTotalElapsedText, mTotalTimeLeftText})
        SetText(text, kCalculatingText);
    Install(0, 1.0);
    // On the window, so that Escape and the window manager's close count as
    // the button.
    AddCommandHandler(this);
}

void TransferSheet::StartTransfer(const sFileProgress& p) {
    mStarted = true;
    mFileName = p.name;
    mFileDone = 0;
    mFileUpdated = false;
    mFileOffset = Bytes(p.offset);
    mFileSize = Bytes(p.size);
    mFileStartTicks = PPx::TickCount();
    mFileRunning = true;
    mBatchRunning = true;
    Changed(false);
}

void TransferSheet::UpdateTransfer(const sFileProgress& p) {
    mFileDone = Bytes(p.size);
    mFileUpdated = true;
    Changed(false);
}

void TransferSheet::EndTransfer(const sFileProgress& p) {
    mFileRunning = false;
    mTotalDone = Sum(mTotalDone, Bytes(p.size));
    ++mFilesDone;
    Changed(mFilesDone >= mFileCount);
}

void TransferSheet::Changed(bool final) {
    const uint32_t now = PPx::TickCount();
    if (now - mWindowStart >= kWindowTicks) {
        mWindowStart = now;
        mShownInWindow = 0;
    }
    if (final || mShownInWindow < kShownPerWindow) {
        ++mShownInWindow;
        Apply();
        return;
    }
    mDirty = true;
    if (!mFlushTimer.IsInstalled())
        mFlushTimer.Install(kFlushSeconds, 0);
}

void TransferSheet::Apply() {
    mDirty = false;
    if (mFlushTimer.IsInstalled())
        mFlushTimer.Remove();
    if (!mStarted)
        return;
    SetText(mStatusText, "Transfer in progress...");
    SetText(mNameText, mFileName);
    const uint64_t present = Sum(mFileOffset, mFileDone);
    SetBar(mFileBar, mFileBarBusy, mFileBarValue, !mFileRunning,
           mFileSize != 0 ? Percent(present, mFileSize) : kLeaveValue);
    SetText(mFileSizeText, GetSizeForFile(mFileSize));
    // Until its first update a file shows nothing done, its offset included.
    SetText(mFileDoneText, GetSizeForFile(mFileUpdated ? present : 0));
    SetText(mFileLeftText, GetSizeForFile(mFileUpdated ? Left(mFileSize, present) : mFileSize));
    SetBar(mTotalBar, mTotalBarBusy, mTotalBarValue, false,
           mTotalBytes != 0 ? Percent(mTotalDone, mTotalBytes) : kLeaveValue);
    SetText(mFileCountText, Counter(mFilesDone, mFileCount));
    SetText(mTotalLeftText, GetSizeForFile(Left(mTotalBytes, mTotalDone)));
    SetText(mTotalDoneText, GetSizeForFile(mTotalDone));
}

void TransferSheet::DoTimer() {
    if (mDirty)
        Apply();
    const uint32_t now = PPx::TickCount();
    if (mFileRunning) {
        const uint64_t e = (now - mFileStartTicks) / 60;
        if (e != 0) {
            SetText(mFileElapsedText, CreateTimeString(e));
            const uint64_t r = mFileDone / e;
            mFileRate = mFileRate == 0 ? r : (mFileRate + r) / 2;
            SetText(mFileRateText, GetSizeForFile(mFileRate) + "/sec");
            // Nothing counted yet: no time left can be told.
            if (mFileRate == 0)
                SetText(mFileTimeLeftText, kCalculatingText);
            else
                SetText(mFileTimeLeftText,
                        CreateTimeString(Left(mFileSize, Sum(mFileDone, mFileOffset)) / mFileRate));
        }
    }
    if (mBatchRunning) {
        const uint64_t elapsed = (now - mStartTicks) / 60;
        if (elapsed != 0) {
            SetText(mTotalElapsedText, CreateTimeString(elapsed));
            if (mTotalDone != 0) {
                const uint64_t rate = mTotalDone / elapsed;
                mTotalRate = mTotalRate == 0 ? rate : (mTotalRate + rate) / 2;
                SetText(mTotalRateText, GetSizeForFile(mTotalRate) + "/sec");
                if (mTotalRate == 0)
                    SetText(mTotalTimeLeftText, kCalculatingText);
                else
                    SetText(mTotalTimeLeftText,
                            CreateTimeString(Left(mTotalBytes, mTotalDone) / mTotalRate));
            }
        }
    }
}

PPx::OSStatus TransferSheet::DoCommandProcess(uint32_t command) {
    switch (command) {
    case 'not!':
        if (mWaiting) {
            // Escape or the window manager while waiting: the same as Close.
            PPx::QuitAppModalLoopForWindow(this);
            return PPx::noErr;
        }
        if (!mCancelButton->IsEnabled())
            return PPx::noErr; // asked once already
        if (PPx::Window* owner = GetParentWindow())
            PPx::PostCommand(owner->Ref(), 'ABRT');
        mCancelButton->Disable();
        return PPx::noErr;
    case 'ok  ':
        if (mWaiting)
            PPx::QuitAppModalLoopForWindow(this);
        return PPx::noErr;
    default:
        return PPx::eventNotHandledErr;
    }
}

void TransferSheet::Wait() {
    Remove();
    if (mDirty)
        Apply();
    SetText(mStatusText, "Transfer Complete!");
    mCancelButton->SetCommand('ok  ');
    mCancelButton->SetText("Close");
    SetDefaultButton(mCancelButton);
    mCancelButton->Enable();
    mWaiting = true;
    PPx::RunAppModalLoopForWindow(this);
    mWaiting = false;
}
