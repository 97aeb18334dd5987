#include "app/BookmarkSheet.h"

#include "app/SheetModal.h"
#include "app/WindowState.h"
#include "platform/ui/Dialogs.h"

const char* const kCompleteNameMessage = "Please complete the Name field.";
const char* const kNameInUseMessage =
    "Please select a different name.\nThe one you selected is already in use.";

template <class Record>
BookmarkSheet<Record>::BookmarkSheet(uint32_t dirSignature, const Record& bookmark, bool editing)
    : mBookmark(bookmark), mDirSignature(dirSignature), mEditing(editing) {}

template <class Record> void BookmarkSheet<Record>::FinishInit() {
    PPx::SysWindow window = GetSysWindow();
    mName = NibEditUnicodeText::CreatePPxView(window, 'NAME');
    mForm.Bind(window, mDirSignature, false);
    BindMore(window);
    mOK = NibPushButton::CreatePPxView(window, 'okok');
    mCancel = NibPushButton::CreatePPxView(window, 'cncl');

    // A new bookmark starts from what the interface file sets.
    if (!mBookmark.name.empty())
        PopulateDialog();
    FinishMore();

    AddCommandHandler(this);
    InstallCursorChangeHandler(this);
    FocusControl(mName);
}

template <class Record> uint32_t BookmarkSheet<Record>::DoModal(PPx::Window* parent) {
    return RunSheetModal(*this, parent, mResult);
}

template <class Record> PPx::OSStatus BookmarkSheet<Record>::DoCommandProcess(uint32_t command) {
    switch (command) {
    case 'SECR':
        OnSecureChange();
        return PPx::noErr;
    case 'ok  ':
        if (CollectData())
            return EndSheetModal(*this, mResult, 'ok  ');
        return PPx::noErr;
    case 'not!':
        return EndSheetModal(*this, mResult, 'not!');
    default:
        return PPx::eventNotHandledErr;
    }
}

template <class Record>
PPx::OSStatus BookmarkSheet<Record>::DoWindowCursorChange(PPx::View* under,
                                                          PPx::ThemeCursor& cursor) {
    return StandardCursorRule(under, cursor);
}

template <class Record> void BookmarkSheet<Record>::OnSecureChange() {
    mForm.OnSecureChange();
    ApplyCursorRule();
}

template <class Record> bool BookmarkSheet<Record>::CollectData() {
    const std::string name = mName->GetText();
    if (name.empty()) {
        DisplayError(kCompleteNameMessage);
        FocusControl(mName);
        return false;
    }
    BookmarkFormData data;
    std::string error;
    PPx::View* field = nullptr;
    if (!mForm.Read(data, error, field)) {
        DisplayError(error.c_str());
        FocusControl(field);
        return false;
    }
    if (!CheckMore())
        return false;
    mBookmark.host = data.host;
    if (!(mEditing && name == mBookmark.name) && !CheckUniqueName(name)) {
        DisplayError(kNameInUseMessage);
        FocusControl(mName);
        return false;
    }
    mBookmark.name = name;
    ApplyFormData(data, mBookmark);
    CollectMore();
    return true;
}

template <class Record> void BookmarkSheet<Record>::PopulateDialog() {
    mName->SetText(mBookmark.name);
    mForm.Fill(FormDataOf(mBookmark));
    PopulateMore();
    ApplyCursorRule();
}

template <class Record> void BookmarkSheet<Record>::DisplayError(const char* message) {
    // Over the sheet it is about.
    PPx::StandardAlert(this, PPx::kAlertStopAlert, message, "");
}

template <class Record> void BookmarkSheet<Record>::FocusControl(PPx::View* control) {
    if (control && !control->HasFocus())
        control->SetFocus();
}

template class BookmarkSheet<sBookMarkData>;
template class BookmarkSheet<sSyncBookMarkData>;
