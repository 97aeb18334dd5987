#pragma once
// The small sheets of the browser's remote operations: one line of text,
// what to do with a file that exists, delete confirmation and progress, and
// permissions. Each is made from the interface file of the same name
// ("PermSheet" for the permissions); Make does that, adopts and initialises
// (null when the file is missing). The modal ones run with DoModal on the
// owner window and answer 'ok  ' or 'not!'; the owner reads GetData after
// 'ok  ' and then closes the sheet with Close().
#include "app/NibWindow.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// False for a name that must never reach a server or a command line: one
// holding CR, LF or NUL.
bool IsSendableName(const std::string& name);
extern const char* const kInvalidNameMessage;
extern const char* const kInvalidNameExplanation;

// Asks for one line of text: a folder name, a path, a new name.
class ActionSheet : public NibSheetWindow,
                    public PPx::CommandProcessDoer,
                    public PPx::WindowCursorChangeDoer {
public:
    ActionSheet(const std::string& prompt, const std::string& text);
    static ActionSheet* Make(const std::string& prompt, const std::string& text);

    void FinishInit() override;
    const char* ClassName() const override { return "ActionSheet"; }

    virtual uint32_t DoModal(PPx::Window* parent);
    // The typed text (UTF-8); the initial text until OK.
    virtual void GetData(std::string& out) const { out = mText; }
    // Checks the text on OK: nothing accepts it; a message refuses it and is
    // told over the sheet, which stays open ("" refuses without a word).
    using Check = std::function<std::optional<std::string>(const std::string& text)>;
    void SetCheck(Check check) { mCheck = std::move(check); }

    PPx::OSStatus DoCommandProcess(uint32_t command) override;
    PPx::OSStatus DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) override;

protected:
    // Tells the user why a text was refused (an alert over the sheet).
    virtual void DisplayError(const char* message, const char* explanation);

private:
    NibStaticText* mPromptText = nullptr;
    NibEditUnicodeText* mEdit = nullptr;
    NibPushButton* mOK = nullptr;
    NibPushButton* mCancel = nullptr;
    uint32_t mResult = 'not!';
    std::string mPrompt;
    std::string mText;
    Check mCheck;
};

// Asks what to do with a file that already exists at the destination.
// Always ends with 'ok  '; GetData gives the choice.
class CollisionSheet : public NibSheetWindow, public PPx::CommandProcessDoer {
public:
    enum Choice : int {
        kReplace = 0,
        kResume = 1,
        kSkip = 2,
        kReplaceAll = 3,
        kResumeAll = 4,
        kSkipAll = 5
    };

    CollisionSheet(const std::string& name, bool canResume);
    static CollisionSheet* Make(const std::string& name, bool canResume);

    void FinishInit() override;
    const char* ClassName() const override { return "CollisionSheet"; }

    virtual uint32_t DoModal(PPx::Window* parent);
    virtual int GetData() const { return mChoice; }

    PPx::OSStatus DoCommandProcess(uint32_t command) override;

private:
    NibPushButton* mReplace = nullptr;
    NibPushButton* mResume = nullptr;
    NibPushButton* mSkip = nullptr;
    NibPushButton* mReplaceAll = nullptr;
    NibPushButton* mResumeAll = nullptr;
    NibPushButton* mSkipAll = nullptr;
    NibStaticText* mNameText = nullptr;
    uint32_t mResult = 'not!';
    int mChoice = kSkip;
    std::string mName;
    bool mCanResume = false;
};

// Asks whether to delete COUNT items.
class DeleteConfirmSheet : public NibSheetWindow, public PPx::CommandProcessDoer {
public:
    explicit DeleteConfirmSheet(int count);
    static DeleteConfirmSheet* Make(int count);

    void FinishInit() override;
    const char* ClassName() const override { return "DeleteConfirmSheet"; }

    virtual uint32_t DoModal(PPx::Window* parent);
    PPx::OSStatus DoCommandProcess(uint32_t command) override;

    // "Are you sure you want to delete 3 items?"
    static std::string Question(int count);

private:
    NibStaticText* mText = nullptr;
    NibPushButton* mOK = nullptr;
    NibPushButton* mCancel = nullptr;
    uint32_t mResult = 'not!';
    int mCount = 0;
};

// Shows the progress of a delete; not modal. The owner shows it with
// Show(owner), forwards each SetDeleteStatus and closes it at the end.
class DeleteSheet : public NibSheetWindow {
public:
    explicit DeleteSheet(int count);
    static DeleteSheet* Make(int count);

    void FinishInit() override;
    const char* ClassName() const override { return "DeleteSheet"; }

    // NAME is the item being deleted now; the bar shows the ones before it.
    virtual void SetDeleteStatus(const std::string& name);

private:
    NibStaticText* mItemText = nullptr;
    NibProgressBar* mBar = nullptr;
    int mCount = 0;
    int mDone = 0;
};

// Edits the nine permission bits of a remote item. The answer is the octal
// mode as text ("755"); set-user-id, set-group-id and sticky bits shown in
// the permission text are kept as a leading digit ("4755").
class PermissionsSheet : public NibSheetWindow, public PPx::CommandProcessDoer {
public:
    // TEXT: the nine permission characters of a listing ("rwxr-xr-x").
    explicit PermissionsSheet(const std::string& text);
    static PermissionsSheet* Make(const std::string& text);

    void FinishInit() override;
    const char* ClassName() const override { return "PermissionsSheet"; }

    virtual uint32_t DoModal(PPx::Window* parent);
    // The mode text after 'ok  '; the permission text given otherwise.
    virtual void GetData(std::string& out) const { out = mText; }

    PPx::OSStatus DoCommandProcess(uint32_t command) override;

    virtual void PopulatePerms();
    // The set-user-id (4), set-group-id (2) and sticky (1) bits a permission
    // text shows.
    static unsigned long SpecialBitsOf(const std::string& text);
    // The mode written in octal digits read as a decimal number: 755, 4755.
    virtual unsigned long GetPerms();
    // Names what the sheet is about: one item's name, or how many.
    void SetItems(const std::string& name, size_t count);

private:
    NibStaticText* mNameText = nullptr;
    NibCheckBox* mBoxes[9] = {};
    NibPushButton* mOK = nullptr;
    NibPushButton* mCancel = nullptr;
    uint32_t mResult = 'not!';
    std::string mText;
    unsigned long mSpecial = 0; // set-user-id 4, set-group-id 2, sticky 1
};
