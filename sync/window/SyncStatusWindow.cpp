#include "sync/window/SyncStatusWindow.h"

#include "app/ModalSheetAlert.h"
#include "browser/sheets/RedialSheet.h"
#include "browser/sheets/TransferSheet.h"
#include "browser/window/BrowseText.h"
#include "platform/ui/Dialogs.h"
#include "sync/sheets/MismatchSheet.h"
#include "sync/sheets/SyncCompleteSheet.h"

namespace {

constexpr uint32_t kNoticeFlags = 0x10;     // OK
constexpr uint32_t kGoOnFlags = 0x130;      // note icon, OK and Cancel
constexpr uint32_t kQuestionFlags = 0x14e0; // Yes, No and Cancel

} // namespace

SyncStatusWindow::SyncStatusWindow() = default;

SyncStatusWindow::~SyncStatusWindow() {
    // A window destroyed without its close still stops its worker.
    mConnection.reset();
}

void SyncStatusWindow::FinishInit() {
    mStatusText = NibStaticText::CreatePPxView(GetSysWindow(), 'ACTI');
    // Long paths lose their middle rather than widen the window.
    mStatusText->SetMiddleTruncation();
    AddCommandHandler(this);
}

PPx::OSStatus SyncStatusWindow::DoCommandProcess(uint32_t command) {
    if (command != 'ABRT')
        return PPx::eventNotHandledErr;
    AbortTransfer();
    return PPx::noErr;
}

PPx::OSStatus SyncStatusWindow::DoWindowClose() {
    HideTransfer(true);
    // Whatever the connection would still report is dropped with it.
    mConnection.reset();
    return NibWindow::DoWindowClose();
}

void SyncStatusWindow::ShowTitle(const std::string& title) {
    SetTitle(DisplayableText(title));
}

void SyncStatusWindow::ShowStatus(const std::string& text) {
    if (mStatusText)
        mStatusText->SetText(DisplayableText(text));
}

void SyncStatusWindow::ShowStopAlert(const std::string& message, const std::string& explanation) {
    PPx::Window::Busy busy(this);
    PPx::StandardAlert(this, PPx::kAlertStopAlert, DisplayableText(message),
                       DisplayableText(explanation, 1024));
}

void SyncStatusWindow::ShowCautionAlert(const std::string& message,
                                        const std::string& explanation) {
    PPx::Window::Busy busy(this);
    PPx::StandardAlert(this, PPx::kAlertCautionAlert, message, DisplayableText(explanation, 1024));
}

void SyncStatusWindow::ShowNotice(const std::string& message) {
    PPx::Window::Busy busy(this);
    ModalSheetAlert alert;
    uint32_t answer = 'ok  ';
    alert.DoModal(this, DisplayableText(message, 1024), answer, kNoticeFlags);
}

uint32_t SyncStatusWindow::AskFirstTime(const std::string& message,
                                        const std::string& explanation) {
    PPx::Window::Busy busy(this);
    ModalSheetAlert alert;
    uint32_t answer = 'not!';
    if (alert.DoModal(this, message, answer, kQuestionFlags, explanation) != PPx::noErr)
        return 'not!';
    return answer;
}

std::optional<SyncChoice> SyncStatusWindow::AskConflict(const SyncConflict& conflict) {
    PPx::Window::Busy busy(this);
    return AskSyncConflict(this, conflict);
}

bool SyncStatusWindow::AskRedial(const std::string& message, bool byItself) {
    PPx::Window::Busy busy(this);
    RedialSheet* sheet = RedialSheet::Make(DisplayableText(message, 1024), byItself);
    if (!sheet)
        return false;
    const uint32_t answer = sheet->DoModal(this);
    sheet->Close();
    return answer == 'ok  ';
}

bool SyncStatusWindow::AskGoOn(const std::string& message, const std::string& explanation) {
    PPx::Window::Busy busy(this);
    ModalSheetAlert alert;
    uint32_t answer = 'not!';
    return alert.DoModal(this, DisplayableText(message), answer, kGoOnFlags, explanation) ==
               PPx::noErr &&
           answer == 'ok  ';
}

void SyncStatusWindow::ShowTransferStart(const sFileProgress& progress, uint32_t files,
                                         uint64_t bytes) {
    if (!mTransferSheet) {
        mTransferSheet = TransferSheet::Make(static_cast<int>(files), bytes);
        if (!mTransferSheet)
            return;
        mTransferSheet->Show(this);
    }
    mTransferSheet->StartTransfer(progress);
}

void SyncStatusWindow::ShowTransferUpdate(const sFileProgress& progress) {
    if (mTransferSheet)
        mTransferSheet->UpdateTransfer(progress);
}

void SyncStatusWindow::ShowTransferEnd(const sFileProgress& progress) {
    if (mTransferSheet)
        mTransferSheet->EndTransfer(progress);
}

void SyncStatusWindow::HideTransfer(bool close) {
    if (!mTransferSheet)
        return;
    mTransferSheet->Hide();
    if (close) {
        mTransferSheet->Close();
        mTransferSheet = nullptr;
    }
}

void SyncStatusWindow::ShowTransferAgain() {
    if (mTransferSheet)
        mTransferSheet->Show(this);
}

void SyncStatusWindow::ShowSummary(const SyncCounts& counts) {
    PPx::Window::Busy busy(this);
    ShowSyncSummary(this, static_cast<int>(counts.uploaded), static_cast<int>(counts.downloaded),
                    static_cast<int>(counts.deleted), static_cast<int>(counts.failed));
}

void SyncStatusWindow::CloseRun() {
    Close();
}

SyncStatusWindow* OpenSyncStatusWindow(const sSyncBookMarkData& bookmark) {
    // Cascaded from the run shown last, or over the window it was started
    // from (the synchronisation bookmarks, mostly).
    PPx::Window* lastRun = PPx::Window::FrontWindow("SyncStatusWindow");
    PPx::Window* origin = PPx::Window::FrontWindow();
    SyncStatusWindow* window =
        PPx::MakeNibWindow<SyncStatusWindow>(PPx::SysNib(), "SyncStatusWindow");
    if (!window)
        return nullptr;
    if (lastRun)
        window->CascadeOn(*lastRun);
    else
        window->CenterOn(origin);
    window->Show();
    window->StartSession(bookmark);
    return window;
}
