#pragma once
// The small window of one synchronisation run: a status line, the transfer
// sheet while files move, the conflict, redial and summary sheets and the
// alerts of the run. Made per run and destroyed when it closes; it owns the
// run's connection.
#include "app/NibWindow.h"
#include "sync/window/SyncRun.h"

class TransferSheet;

class SyncStatusWindow : public NibWindow, public PPx::CommandProcessDoer, public SyncRun {
public:
    SyncStatusWindow();
    ~SyncStatusWindow() override;

    void FinishInit() override;
    const char* ClassName() const override { return "SyncStatusWindow"; }
    // A small window of its own, no main window: no menu bar, but listed in
    // the Window menu.
    bool HasMenuBar() const override { return false; }
    bool IsListedInWindowMenu() const override { return true; }
    PPx::OSStatus DoWindowClose() override;
    // 'ABRT', from the transfer sheet's Cancel.
    PPx::OSStatus DoCommandProcess(uint32_t command) override;

    NibStaticText* StatusText() const { return mStatusText; }
    TransferSheet* GetTransferSheet() const { return mTransferSheet; }

protected:
    void ShowTitle(const std::string& title) override;
    void ShowStatus(const std::string& text) override;
    void ShowStopAlert(const std::string& message, const std::string& explanation) override;
    void ShowCautionAlert(const std::string& message, const std::string& explanation) override;
    void ShowNotice(const std::string& message) override;
    uint32_t AskFirstTime(const std::string& message, const std::string& explanation) override;
    std::optional<SyncChoice> AskConflict(const SyncConflict& conflict) override;
    bool AskRedial(const std::string& message, bool byItself) override;
    bool AskGoOn(const std::string& message, const std::string& explanation) override;
    void ShowTransferStart(const sFileProgress& progress, uint32_t files, uint64_t bytes) override;
    void ShowTransferUpdate(const sFileProgress& progress) override;
    void ShowTransferEnd(const sFileProgress& progress) override;
    void HideTransfer(bool close) override;
    void ShowTransferAgain() override;
    void ShowSummary(const SyncCounts& counts) override;
    void CloseRun() override;

private:
    NibStaticText* mStatusText = nullptr;
    TransferSheet* mTransferSheet = nullptr;
};

// Makes, shows and starts the window of a run; null when the window could
// not be made.
SyncStatusWindow* OpenSyncStatusWindow(const sSyncBookMarkData& bookmark);
