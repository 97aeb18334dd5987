#pragma once
// Asks before an opened ".sync.zarvel" file runs: the file may come from
// anyone, and a run writes and may delete on both sides. Shows the server,
// both folders, the direction and, in bold, what the run may delete.
#include "app/NibWindow.h"
#include "engine/ConnectionRecords.h"

#include <string>

class SyncOpenSheet : public NibSheetWindow, public PPx::CommandProcessDoer {
public:
    explicit SyncOpenSheet(const sSyncBookMarkData& bookmark);

    void FinishInit() override;
    const char* ClassName() const override { return "SyncOpenSheet"; }

    // 'ok  ' to run, 'not!' otherwise.
    virtual uint32_t DoModal(PPx::Window* parent);
    PPx::OSStatus DoCommandProcess(uint32_t command) override;

    // The texts shown, for BOOKMARK (after its host URL was applied).
    static std::string DirectionText(const sSyncBookMarkData& bookmark);
    // Empty when the run deletes nothing.
    static std::string DeletionText(const sSyncBookMarkData& bookmark);
    static std::string ServerText(const sSyncBookMarkData& bookmark);

private:
    sSyncBookMarkData mBookmark;
    uint32_t mResult = 'not!';
};
