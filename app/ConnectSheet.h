#pragma once
// The sheet in which one connection bookmark is filled in or changed. Run
// it with DoModal; on 'ok  ' take the bookmark with GetData.
#include "BookmarkForm.h"
#include "ConnectionRecords.h"
#include "NibWindow.h"

#include <string>

class ConnectSheet : public NibSheetWindow,
                     public PPx::CommandProcessDoer,
                     public PPx::WindowCursorChangeDoer {
public:
    ConnectSheet();
    ConnectSheet(const sBookMarkData& bookmark, bool editing);

    void FinishInit() override;
    const char* ClassName() const override { return "ConnectSheet"; }

    // Shows the sheet on PARENT until OK or Cancel; 'ok  ' or 'not!'.
    virtual uint32_t DoModal(PPx::Window* parent);
    virtual void GetData(sBookMarkData& out) const { out = mBookmark; }

    PPx::OSStatus DoCommandProcess(uint32_t command) override;
    PPx::OSStatus DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) override;

    virtual void OnSecureChange();
    virtual bool CollectData();
    virtual void PopulateDialog();
    virtual void DisplayError(const char* message);
    virtual bool CheckUniqueName(const std::string& name);
    virtual void FocusControl(PPx::View* control);

private:
    NibEditUnicodeText* mName = nullptr;
    BookmarkForm mForm; // host, port, user, password, folder, account, boxes
    NibPushButton* mOK = nullptr;
    NibPushButton* mCancel = nullptr;
    uint32_t mResult = 'not!';
    sBookMarkData mBookmark;
    bool mEditing = false;
};

extern const char* const kCompleteNameMessage;
extern const char* const kNameInUseMessage;
