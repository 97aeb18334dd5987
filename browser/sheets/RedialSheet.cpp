#include "browser/sheets/RedialSheet.h"

#include "app/BasicApp.h"
#include "app/WindowState.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

// Ticks the sheet stays up at least before it redials by itself, so that the
// user can always reach Cancel however short the delay.
constexpr uint32_t kMinimumShownTicks = 60;

int32_t StoredDelay() {
    sPreferences prefs;
    BasicApp::CopyPreferences(prefs);
    return prefs.redialSecs;
}

// The typed delay: a text that is not a number counts as 0; numbers beyond
// the range are held at its ends.
int32_t ReadDelay(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str())
        return 0;
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

} // namespace

RedialSheet::RedialSheet(const std::string& message) : RedialSheet(message, StoredDelay()) {}

RedialSheet::RedialSheet(const std::string& message, int32_t delaySecs)
    : mMessage(message), mDelaySecs(delaySecs) {}

RedialSheet* RedialSheet::Make(const std::string& message, bool countdown) {
    RedialSheet* sheet = PPx::MakeNibWindow<RedialSheet>(PPx::SysNib(), "RedialSheet", message);
    if (sheet && !countdown) {
        sheet->mCountdown = false;
        sheet->mSecondsField->Disable();
        sheet->mApplyButton->Disable();
        sheet->mStatusText->SetText("Not redialling by itself: press Redial to try again.");
    }
    return sheet;
}

void RedialSheet::FinishInit() {
    PPx::SysWindow window = GetSysWindow();
    mMessageText = NibStaticText::CreatePPxView(window, 'TEXT');
    mSecondsField = NibEditUnicodeText::CreatePPxView(window, 'SECS');
    mStatusText = NibStaticText::CreatePPxView(window, 'STAT');
    mApplyButton = NibPushButton::CreatePPxView(window, 'APLY');
    mOKButton = NibPushButton::CreatePPxView(window, 'okok');
    mCancelButton = NibPushButton::CreatePPxView(window, 'cncl');
    mMessageText->SetText(mMessage);
    mSecondsField->SetText(std::to_string(mDelaySecs));
    AddCommandHandler(this);
    InstallCursorChangeHandler(this);
    mSecondsField->SetFocus();
}

uint32_t RedialSheet::DoModal(PPx::Window* parent) {
    mStartTicks = PPx::TickCount();
    mShownTicks = mStartTicks;
    if (mCountdown) {
        UpdateStatus();
        Install(0, 1.0);
    }
    Show(parent);
    PPx::RunAppModalLoopForWindow(this);
    Remove();
    Hide();
    return mResult;
}

bool RedialSheet::UpdateStatus() {
    const uint32_t elapsed = (PPx::TickCount() - mStartTicks) / 60;
    const int64_t remaining = static_cast<int64_t>(mDelaySecs) - elapsed;
    if (remaining >= 0) {
        char text[64];
        std::snprintf(text, sizeof text, "Retrying in %lu secs",
                      static_cast<unsigned long>(remaining));
        mStatusText->SetText(text);
    }
    return remaining <= 0;
}

void RedialSheet::DoTimer() {
    if (!UpdateStatus())
        return;
    if (PPx::TickCount() - mShownTicks < kMinimumShownTicks)
        return;
    mOKButton->SimulateClick();
}

PPx::OSStatus RedialSheet::DoCommandProcess(uint32_t command) {
    switch (command) {
    case 'APLY':
        mDelaySecs = ReadDelay(mSecondsField->GetText());
        mStartTicks = PPx::TickCount();
        return PPx::noErr;
    case 'ok  ':
    case 'not!':
        mResult = command;
        PPx::QuitAppModalLoopForWindow(this);
        return PPx::noErr;
    default:
        return PPx::eventNotHandledErr;
    }
}

PPx::OSStatus RedialSheet::DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) {
    return StandardCursorRule(under, cursor);
}
