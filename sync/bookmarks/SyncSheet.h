#pragma once
// The sheet in which one synchronisation bookmark is filled in or changed:
// the connection fields, the remote and local folders, the direction and
// the two delete options. Run it with DoModal; on 'ok  ' take the bookmark
// with GetData.
#include "app/BookmarkSheet.h"

#include <string>

class SyncSheet : public BookmarkSheet<sSyncBookMarkData> {
public:
    SyncSheet();
    SyncSheet(const sSyncBookMarkData& bookmark, bool editing);

    const char* ClassName() const override { return "SyncSheet"; }

    PPx::OSStatus DoCommandProcess(uint32_t command) override;

    // A delete option is offered only on the side a one-way run writes to.
    virtual void OnActionChange();
    virtual void OnSelPath();
    bool CheckUniqueName(const std::string& name) override;

protected:
    void BindMore(PPx::SysWindow window) override;
    void FinishMore() override;
    bool CheckMore() override;
    void CollectMore() override;
    void PopulateMore() override;

private:
    NibStaticText* mLocalDir = nullptr;
    NibBevelButton* mChoose = nullptr;
    NibRadioGroup* mAction = nullptr;
    NibCheckBox* mDeleteLocal = nullptr;
    NibCheckBox* mDeleteRemote = nullptr;
};

extern const char* const kSelectLocalDirMessage;
extern const char* const kLocalDirNotFolderMessage;
