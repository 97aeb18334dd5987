#pragma once
// The conflict sheet of a synchronisation run: one file as it is now and as
// the synchronisation cache recorded it, locally and remotely. The user
// uploads the local file, downloads the remote one, skips it or cancels the
// run.
#include "app/NibWindow.h"
#include "engine/ConnectionRecords.h"
#include "sync/core/SyncPlan.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class MismatchSheet : public NibSheetWindow, public PPx::CommandProcessDoer {
public:
    // The local file now, as cached, the remote file now, as cached. A
    // record with an empty name is one the cache does not hold.
    explicit MismatchSheet(const std::vector<sFileInfo>& files);

    void FinishInit() override;
    const char* ClassName() const override { return "MismatchSheet"; }

    // 'ok  ' for Upload, Download or Skip (GetData tells which), 'not!' for
    // Cancel.
    virtual uint32_t DoModal(PPx::Window* parent);
    // 1 upload, 2 download, 0 skip.
    virtual int GetData() const { return mChoice; }
    PPx::OSStatus DoCommandProcess(uint32_t command) override;
    virtual void Populate();

private:
    NibStaticText* mTexts[12] = {}; // name, size, date of each row
    NibPushButton* mButtons[4] = {};
    uint32_t mResult = 'not!';
    int32_t mChoice = 0;
    std::vector<sFileInfo> mFiles;
};

// The texts of one row.
std::string MismatchSizeText(uint64_t size);
// The user's abbreviated date, a blank, the time with seconds; empty for a
// record without a valid date.
std::string MismatchDateText(const DateTimeRec& date);
extern const char* const kNotCachedText;

// Puts CONFLICT to the user on PARENT; nothing when the run is to stop
// (Cancel, or no sheet could be made).
std::optional<SyncChoice> AskSyncConflict(PPx::Window* parent, const SyncConflict& conflict);
