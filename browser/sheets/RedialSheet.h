#pragma once
// Shown when connecting failed: the failure, and a countdown after which the
// sheet redials by itself. DoModal answers 'ok  ' (redial) or 'not!' (give
// up); the owner then closes the sheet.
#include "app/NibWindow.h"
#include "platform/core/Timer.h"

#include <cstdint>
#include <string>

class RedialSheet : public NibSheetWindow,
                    public PPx::CommandProcessDoer,
                    public PPx::WindowCursorChangeDoer,
                    public PPx::Timer {
public:
    // The delay comes from the preferences (60 seconds without any).
    explicit RedialSheet(const std::string& message);
    RedialSheet(const std::string& message, int32_t delaySecs);
    // COUNTDOWN false: for a failure the same attempt would meet again (a
    // refused login, a changed host key) the sheet only waits for the user.
    static RedialSheet* Make(const std::string& message, bool countdown = true);

    void FinishInit() override;
    const char* ClassName() const override { return "RedialSheet"; }

    virtual uint32_t DoModal(PPx::Window* parent);
    PPx::OSStatus DoCommandProcess(uint32_t command) override;
    PPx::OSStatus DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) override;
    // Shows the count; true once it has run out.
    virtual bool UpdateStatus();
    // Once a second while the sheet is up.
    void DoTimer() override;

    int32_t GetDelaySecs() const { return mDelaySecs; }
    bool CountsDown() const { return mCountdown; }

private:
    NibStaticText* mMessageText = nullptr;
    NibEditUnicodeText* mSecondsField = nullptr;
    NibStaticText* mStatusText = nullptr;
    NibPushButton* mApplyButton = nullptr;
    NibPushButton* mOKButton = nullptr;
    NibPushButton* mCancelButton = nullptr;
    uint32_t mResult = 'not!';
    std::string mMessage;
    int32_t mDelaySecs = 60;
    uint32_t mStartTicks = 0;
    uint32_t mShownTicks = 0; // when the sheet appeared
    bool mCountdown = true;
};
