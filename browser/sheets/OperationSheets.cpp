#include "browser/sheets/OperationSheets.h"

#include "app/SheetModal.h"
#include "app/WindowState.h"
#include "engine/ConnectionRecords.h"
#include "platform/ui/Dialogs.h"

#include <cstdio>

const char* const kInvalidNameMessage = "Please specify a valid name.";
const char* const kInvalidNameExplanation =
    "A name cannot contain a line break or a null character.";

bool IsSendableName(const std::string& name) {
    return !HasLineBreakOrNul(name);
}

// ActionSheet ---------------------------------------------------------------

ActionSheet::ActionSheet(const std::string& prompt, const std::string& text)
    : mPrompt(prompt), mText(text) {}

ActionSheet* ActionSheet::Make(const std::string& prompt, const std::string& text) {
    return PPx::MakeNibWindow<ActionSheet>(PPx::SysNib(), "ActionSheet", prompt, text);
}

void ActionSheet::FinishInit() {
    PPx::SysWindow window = GetSysWindow();
    mPromptText = NibStaticText::CreatePPxView(window, 'expl');
    mEdit = NibEditUnicodeText::CreatePPxView(window, 'edit');
    mOK = NibPushButton::CreatePPxView(window, 'okok');
    mCancel = NibPushButton::CreatePPxView(window, 'cncl');
    mPromptText->SetText(mPrompt);
    mEdit->SetText(mText);
    mEdit->SetFocus();
    AddCommandHandler(this);
    InstallCursorChangeHandler(this);
}

uint32_t ActionSheet::DoModal(PPx::Window* parent) {
    return RunSheetModal(*this, parent, mResult);
}

PPx::OSStatus ActionSheet::DoCommandProcess(uint32_t command) {
    switch (command) {
    case 'ok  ': {
        std::string text = mEdit->GetText();
        // Refused here, before any owner could send it on.
        if (!IsSendableName(text)) {
            DisplayError(kInvalidNameMessage, kInvalidNameExplanation);
            mEdit->SetFocus();
            return PPx::noErr;
        }
        if (const std::optional<std::string> problem = mCheck ? mCheck(text) : std::nullopt) {
            if (!problem->empty())
                DisplayError(problem->c_str(), "");
            mEdit->SetFocus();
            return PPx::noErr;
        }
        mText = text;
        return EndSheetModal(*this, mResult, 'ok  ');
    }
    case 'not!':
        return EndSheetModal(*this, mResult, 'not!');
    default:
        return PPx::eventNotHandledErr;
    }
}

PPx::OSStatus ActionSheet::DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) {
    return StandardCursorRule(under, cursor);
}

void ActionSheet::DisplayError(const char* message, const char* explanation) {
    PPx::StandardAlert(this, PPx::kAlertStopAlert, message, explanation);
}

// CollisionSheet ------------------------------------------------------------

CollisionSheet::CollisionSheet(const std::string& name, bool canResume)
    : mName(name), mCanResume(canResume) {}

CollisionSheet* CollisionSheet::Make(const std::string& name, bool canResume) {
    return PPx::MakeNibWindow<CollisionSheet>(PPx::SysNib(), "CollisionSheet", name, canResume);
}

void CollisionSheet::FinishInit() {
    PPx::SysWindow window = GetSysWindow();
    mReplace = NibPushButton::CreatePPxView(window, 'REPL');
    mResume = NibPushButton::CreatePPxView(window, 'RESU');
    mSkip = NibPushButton::CreatePPxView(window, 'SKIP');
    mReplaceAll = NibPushButton::CreatePPxView(window, 'REPA');
    mResumeAll = NibPushButton::CreatePPxView(window, 'RESA');
    mSkipAll = NibPushButton::CreatePPxView(window, 'SKIA');
    mNameText = NibStaticText::CreatePPxView(window, 'TEXT');
    mNameText->SetText(mName);
    mResume->SetEnabled(mCanResume);
    mResumeAll->SetEnabled(mCanResume);
    AddCommandHandler(this);
}

uint32_t CollisionSheet::DoModal(PPx::Window* parent) {
    return RunSheetModal(*this, parent, mResult);
}

PPx::OSStatus CollisionSheet::DoCommandProcess(uint32_t command) {
    int choice;
    switch (command) {
    case 'REPL':
        choice = kReplace;
        break;
    case 'RESU':
        choice = kResume;
        break;
    case 'SKIP':
        choice = kSkip;
        break;
    case 'REPA':
        choice = kReplaceAll;
        break;
    case 'RESA':
        choice = kResumeAll;
        break;
    case 'SKIA':
        choice = kSkipAll;
        break;
    case 'not!':
        // Escape or the window manager's close: the answer that changes
        // nothing. The transfer that follows still has its own Cancel.
        choice = kSkip;
        break;
    default:
        return PPx::eventNotHandledErr;
    }
    // A resume the owner cannot do is never answered, even if a command
    // for it arrives some other way.
    if ((choice == kResume || choice == kResumeAll) && !mCanResume)
        return PPx::noErr;
    mChoice = choice;
    return EndSheetModal(*this, mResult, 'ok  ');
}

// DeleteConfirmSheet --------------------------------------------------------

DeleteConfirmSheet::DeleteConfirmSheet(int count) : mCount(count) {}

DeleteConfirmSheet* DeleteConfirmSheet::Make(int count) {
    return PPx::MakeNibWindow<DeleteConfirmSheet>(PPx::SysNib(), "DeleteConfirmSheet", count);
}

std::string DeleteConfirmSheet::Question(int count) {
    char text[64];
    std::snprintf(text, sizeof text, "Are you sure you want to delete %d ", count);
    return std::string(text) + (count == 1 ? "item?" : "items?");
}

void DeleteConfirmSheet::FinishInit() {
    PPx::SysWindow window = GetSysWindow();
    mText = NibStaticText::CreatePPxView(window, 'TEXT');
    mOK = NibPushButton::CreatePPxView(window, 'okok');
    mCancel = NibPushButton::CreatePPxView(window, 'cncl');
    mText->SetText(Question(mCount));
    AddCommandHandler(this);
}

uint32_t DeleteConfirmSheet::DoModal(PPx::Window* parent) {
    return RunSheetModal(*this, parent, mResult);
}

PPx::OSStatus DeleteConfirmSheet::DoCommandProcess(uint32_t command) {
    if (command != 'ok  ' && command != 'not!')
        return PPx::eventNotHandledErr;
    return EndSheetModal(*this, mResult, command);
}

// DeleteSheet ---------------------------------------------------------------

DeleteSheet::DeleteSheet(int count) : mCount(count < 0 ? 0 : count) {}

DeleteSheet* DeleteSheet::Make(int count) {
    return PPx::MakeNibWindow<DeleteSheet>(PPx::SysNib(), "DeleteSheet", count);
}

void DeleteSheet::FinishInit() {
    PPx::SysWindow window = GetSysWindow();
    mItemText = NibStaticText::CreatePPxView(window, 'ITEM');
    mBar = NibProgressBar::CreatePPxView(window, 'PROG');
    mItemText->SetMiddleTruncation();
    mBar->SetMinValue(0);
    mBar->SetMaxValue(mCount);
    mBar->SetIndeterminate(true);
}

void DeleteSheet::SetDeleteStatus(const std::string& name) {
    mItemText->SetText("Item name: " + name);
    mBar->SetIndeterminate(false);
    // More reports than announced keep the bar full rather than wrong.
    mBar->SetValue(mDone < mCount ? mDone : mCount);
    ++mDone;
}

// PermissionsSheet ----------------------------------------------------------

namespace {

constexpr uint32_t kPermBoxes[9] = {'owrd', 'owwr', 'owes', 'grrd', 'grwr',
                                    'gres', 'otrd', 'otwr', 'otes'};

} // namespace

PermissionsSheet::PermissionsSheet(const std::string& text) : mText(text) {}

PermissionsSheet* PermissionsSheet::Make(const std::string& text) {
    return PPx::MakeNibWindow<PermissionsSheet>(PPx::SysNib(), "PermSheet", text);
}

void PermissionsSheet::FinishInit() {
    PPx::SysWindow window = GetSysWindow();
    mNameText = NibStaticText::CreatePPxView(window, 'NAME');
    mNameText->SetMiddleTruncation();
    for (int i = 0; i < 9; ++i)
        mBoxes[i] = NibCheckBox::CreatePPxView(window, kPermBoxes[i]);
    mOK = NibPushButton::CreatePPxView(window, 'okok');
    mCancel = NibPushButton::CreatePPxView(window, 'cncl');
    PopulatePerms();
    AddCommandHandler(this);
}

uint32_t PermissionsSheet::DoModal(PPx::Window* parent) {
    return RunSheetModal(*this, parent, mResult);
}

PPx::OSStatus PermissionsSheet::DoCommandProcess(uint32_t command) {
    switch (command) {
    case 'ok  ':
        mText = std::to_string(GetPerms());
        return EndSheetModal(*this, mResult, 'ok  ');
    case 'not!':
        return EndSheetModal(*this, mResult, 'not!');
    default:
        return PPx::eventNotHandledErr;
    }
}

namespace {

// In the execute places a listing shows the special bits: lower case with
// execute, upper case without ('s' for the owner and the group, 't' for the
// others). The bit of place I (2, 5 or 8) when C shows it, else 0.
unsigned long SpecialBitAt(int i, char c) {
    const char special = i == 8 ? 't' : 's';
    if (c != special && c != special - 'a' + 'A')
        return 0;
    return i == 2 ? 4u : i == 5 ? 2u : 1u;
}

} // namespace

unsigned long PermissionsSheet::SpecialBitsOf(const std::string& text) {
    unsigned long bits = 0;
    for (int i = 2; i < 9 && i < static_cast<int>(text.size()); i += 3)
        bits |= SpecialBitAt(i, text[static_cast<size_t>(i)]);
    return bits;
}

void PermissionsSheet::PopulatePerms() {
    static const char kLetters[3] = {'r', 'w', 'x'};
    mSpecial = SpecialBitsOf(mText);
    for (int i = 0; i < 9; ++i) {
        const char c = i < static_cast<int>(mText.size()) ? mText[i] : '-';
        const char letter = kLetters[i % 3];
        bool set = c == letter || c == letter - 'a' + 'A';
        if (i % 3 == 2 && SpecialBitAt(i, c))
            set = c == (i == 8 ? 't' : 's');
        mBoxes[i]->SetValue(set ? 1 : 0);
    }
}

void PermissionsSheet::SetItems(const std::string& name, size_t count) {
    mNameText->SetText(count == 1 ? "Permissions of \"" + name + "\":"
                                  : "Permissions of " + std::to_string(count) + " items:");
}

unsigned long PermissionsSheet::GetPerms() {
    unsigned long digits[3] = {0, 0, 0};
    for (int i = 0; i < 9; ++i)
        if (mBoxes[i]->GetValue() != 0)
            digits[i / 3] += 4ul >> (i % 3);
    return mSpecial * 1000 + digits[0] * 100 + digits[1] * 10 + digits[2];
}
