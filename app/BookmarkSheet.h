#pragma once
// What the connection and synchronisation bookmark sheets share: the name
// field, the connection form, OK and Cancel, the name and form checks and
// the modal loop. A sheet adds its own fields through the hooks. Run it with
// DoModal; on 'ok  ' take the bookmark with GetData.
#include "app/BookmarkForm.h"
#include "app/NibWindow.h"
#include "engine/ConnectionRecords.h"

#include <cstdint>
#include <string>

template <class Record>
class BookmarkSheet : public NibSheetWindow,
                      public PPx::CommandProcessDoer,
                      public PPx::WindowCursorChangeDoer {
public:
    // DIRSIGNATURE names the form's folder field.
    BookmarkSheet(uint32_t dirSignature, const Record& bookmark, bool editing);

    void FinishInit() override;

    // Shows the sheet on PARENT until OK or Cancel; 'ok  ' or 'not!'.
    virtual uint32_t DoModal(PPx::Window* parent);
    virtual void GetData(Record& out) const { out = mBookmark; }

    PPx::OSStatus DoCommandProcess(uint32_t command) override;
    PPx::OSStatus DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) override;

    virtual void OnSecureChange();
    virtual bool CollectData();
    virtual void PopulateDialog();
    virtual void DisplayError(const char* message);
    virtual bool CheckUniqueName(const std::string& name) = 0;
    virtual void FocusControl(PPx::View* control);

protected:
    // The sheet's own controls, bound after the form.
    virtual void BindMore(PPx::SysWindow) {}
    // Run after the shared set-up has filled the controls.
    virtual void FinishMore() {}
    // Checks the sheet's own fields before the name is; false when one was
    // refused (and told).
    virtual bool CheckMore() { return true; }
    // Copies the sheet's own fields into the bookmark once all checks passed.
    virtual void CollectMore() {}
    // Fills the sheet's own fields from the bookmark.
    virtual void PopulateMore() {}

    NibEditUnicodeText* mName = nullptr;
    BookmarkForm mForm;
    Record mBookmark;

private:
    NibPushButton* mOK = nullptr;
    NibPushButton* mCancel = nullptr;
    uint32_t mResult = 'not!';
    uint32_t mDirSignature;
    bool mEditing = false;
};

extern template class BookmarkSheet<sBookMarkData>;
extern template class BookmarkSheet<sSyncBookMarkData>;

extern const char* const kCompleteNameMessage;
extern const char* const kNameInUseMessage;
