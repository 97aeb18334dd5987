#pragma once
// The sheet in which one synchronisation bookmark is filled in or changed:
// the connection fields, the remote and local folders, the direction and
// the two delete options. Run it with DoModal; on 'ok  ' take the bookmark
// with GetData.
#include "BookmarkForm.h"
#include "ConnectionRecords.h"
#include "NibWindow.h"

#include <string>

class SyncSheet : public NibSheetWindow,
                  public PPx::CommandProcessDoer,
                  public PPx::WindowCursorChangeDoer {
public:
    SyncSheet();
    SyncSheet(const sSyncBookMarkData& bookmark, bool editing);

    void FinishInit() override;
    const char* ClassName() const override { return "SyncSheet"; }

    // Shows the sheet on PARENT until OK or Cancel; 'ok  ' or 'not!'.
    virtual uint32_t DoModal(PPx::Window* parent);
    virtual void GetData(sSyncBookMarkData& out) const { out = mBookmark; }

    PPx::OSStatus DoCommandProcess(uint32_t command) override;
    PPx::OSStatus DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) override;

    virtual void OnSecureChange();
    // A delete option is offered only on the side a one-way run writes to.
    virtual void OnActionChange();
    virtual void OnSelPath();
    virtual bool CollectData();
    virtual void PopulateDialog();
    virtual void DisplayError(const char* message);
    virtual bool CheckUniqueName(const std::string& name);
    virtual void FocusControl(PPx::View* control);

private:
    NibEditUnicodeText* mName = nullptr;
    BookmarkForm mForm; // host, port, user, password, remote folder, account, boxes
    NibStaticText* mLocalDir = nullptr;
    NibBevelButton* mChoose = nullptr;
    NibRadioGroup* mAction = nullptr;
    NibCheckBox* mDeleteLocal = nullptr;
    NibCheckBox* mDeleteRemote = nullptr;
    NibPushButton* mOK = nullptr;
    NibPushButton* mCancel = nullptr;
    uint32_t mResult = 'not!';
    sSyncBookMarkData mBookmark;
    bool mEditing = false;
};

extern const char* const kSelectLocalDirMessage;
extern const char* const kLocalDirNotFolderMessage;
