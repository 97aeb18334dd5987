#include "app/PreferencesWindow.h"

#include "app/ModalSheetAlert.h"
#include "app/WindowState.h"
#include "platform/core/Events.h"
#include "platform/ui/Dialogs.h"

#include <cctype>
#include <cstdlib>

namespace {

// The panes of tabs 1 to 4.
const uint32_t kTabPanes[4] = {'TOUT', 'TRAN', 'SNDS', 'MISC'};

// The option check boxes, in the order of the misc flags they edit.
struct MiscBox {
    uint32_t signature;
    int flag;
};
const MiscBox kMiscBoxes[kMiscCount] = {
    {'MMTL', kMiscMetalWindows},         {'MAHB', kMiscHideBookmarksOnConnect},
    {'MAHS', kMiscHideSyncWindowOnSync}, {'MRBW', kMiscRememberBookmarkWindow},
    {'MRSW', kMiscRememberSyncWindow},   {'MRBS', kMiscRememberBrowseWindow},
    {'MNSL', kMiscListHiddenFiles},      {'MDCT', kMiscKeepTransferSheet},
};

constexpr uint32_t kOtherItem = 'othr';
constexpr int kPreviewSeconds = 3;

std::string LastComponent(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What a sound's pop-up item says: its file name without the extension,
// words apart and the first capitalised ("dialog-warning.oga" reads
// "Dialog warning"). The stored value stays the path.
std::string SoundDisplayName(const std::string& path) {
    std::string name = LastComponent(path);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0)
        name.erase(dot);
    for (char& c : name)
        if (c == '-' || c == '_')
            c = ' ';
    if (!name.empty())
        name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    return name;
}

// A whole decimal number, blanks around it allowed; nothing else.
bool ParseWhole(const std::string& text, long long& value) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    std::string digits = text.substr(begin, end - begin);
    size_t first = !digits.empty() && (digits[0] == '-' || digits[0] == '+') ? 1 : 0;
    if (digits.size() == first || digits.size() > 12)
        return false;
    for (size_t i = first; i < digits.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(digits[i])))
            return false;
    value = std::strtoll(digits.c_str(), nullptr, 10);
    return true;
}

uint8_t ShownMode(uint8_t mode) {
    // Readers treat an unknown policy as "ask", so that is what shows.
    return mode >= kExistingAsk && mode <= kExistingReplace ? mode : uint8_t{kExistingAsk};
}

} // namespace

PreferencesWindow::PreferencesWindow(std::unique_ptr<SoundTools> sound, std::string prefsFolder)
    : mSound(sound ? std::move(sound) : std::make_unique<SoundTools>()),
      mMaster(std::move(prefsFolder)) {
    // The master knows no windows; its failures are told here, before
    // FinishInit first loads the file.
    mMaster.SetAlert([](const std::string& message, const std::string& explanation) {
        PPx::StandardAlert(PPx::kAlertCautionAlert, message, explanation);
    });
}

PreferencesWindow::~PreferencesWindow() = default;

void PreferencesWindow::FinishInit() {
    PPx::SysWindow window = GetSysWindow();
    mTabs = NibTabView::CreatePPxView(window, 'TABC', 100);
    mFTPTimeoutBox = NibCheckBoxGroupBox::CreatePPxView(window, 'FTPT', 100);
    mFTPTimeout = NibEditUnicodeText::CreatePPxView(window, 'FTPS', 100);
    mNOOPBox = NibCheckBoxGroupBox::CreatePPxView(window, 'NOPT', 100);
    mNOOP = NibEditUnicodeText::CreatePPxView(window, 'NOPS', 100);
    mRedial = NibEditUnicodeText::CreatePPxView(window, 'REDS', 100);
    mUploadMode = NibRadioGroup::CreatePPxView(window, 'UPRG', 100);
    mDownloadMode = NibRadioGroup::CreatePPxView(window, 'DNRG', 100);
    mDownloadBox = NibCheckBoxGroupBox::CreatePPxView(window, 'DNPL', 100);
    mDownloadPopup = NibPopupButton::CreatePPxView(window, 'DNSN', 100);
    mUploadBox = NibCheckBoxGroupBox::CreatePPxView(window, 'UPPL', 100);
    mUploadPopup = NibPopupButton::CreatePPxView(window, 'UPSN', 100);
    mRedialBox = NibCheckBoxGroupBox::CreatePPxView(window, 'RDPL', 100);
    mRedialPopup = NibPopupButton::CreatePPxView(window, 'RDSN', 100);
    mOK = NibPushButton::CreatePPxView(window, 'okok', 100);
    mCancel = NibPushButton::CreatePPxView(window, 'cncl', 100);
    for (int i = 0; i < kMiscCount; ++i)
        mMisc[i] = NibCheckBox::CreatePPxView(window, kMiscBoxes[i].signature, 100);

    mTabs->SetValue(1);
    OnTabChanged();
    InitSoundPopups();

    sPreferences prefs;
    GetPreferences(prefs);
    PopulateWindow(prefs);

    for (PPx::View* view : std::initializer_list<PPx::View*>{
             mTabs, mDownloadPopup, mUploadPopup, mRedialPopup, mDownloadBox, mUploadBox,
             mRedialBox, mFTPTimeoutBox, mNOOPBox, mOK, mCancel})
        view->AddCommandHandler(this);
    InstallCursorChangeHandler(this);
    SetDefaultButton(mOK);
    SetCancelButton(mCancel);
}

void PreferencesWindow::GetPreferences(sPreferences& out) {
    mMaster.GetPreferences(out);
}

PPx::OSStatus PreferencesWindow::LoadPreferences() {
    return mMaster.LoadPreferences();
}

PPx::OSStatus PreferencesWindow::SavePreferences() {
    return mMaster.SavePreferences();
}

PPx::OSStatus PreferencesWindow::DoCommandProcess(uint32_t command) {
    switch (command) {
    case 'TABC':
        OnTabChanged();
        break;
    case 'DNSN':
        OnSoundPopupChanged(1);
        break;
    case 'UPSN':
        OnSoundPopupChanged(2);
        break;
    case 'RDSN':
        OnSoundPopupChanged(3);
        break;
    case 'DNPL':
        OnSoundCheckChanged(1);
        break;
    case 'UPPL':
        OnSoundCheckChanged(2);
        break;
    case 'RDPL':
        OnSoundCheckChanged(3);
        break;
    case 'FTPT':
        OnFTPTimeoutCheckChanged();
        break;
    case 'NOPT':
        OnNOOPCheckChanged();
        break;
    case 'ok  ': {
        sPreferences prefs;
        if (!GatherPreferences(prefs))
            return PPx::noErr; // the window stays up with the field to mend
        mMaster.SetPreferences(prefs);
        SavePreferences();
        Hide();
        // Open FTP connections apply the new time-out and keep-alive.
        PPx::PostEvent(PPx::ApplicationTarget().Ref(), PPx::MakeCommandEvent('prfU'));
        break;
    }
    case 'not!':
        Hide();
        DiscardEdits();
        break;
    default:
        return PPx::eventNotHandledErr;
    }
    return PPx::noErr;
}

PPx::OSStatus PreferencesWindow::DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) {
    return StandardCursorRule(under, cursor);
}

PPx::OSStatus PreferencesWindow::DoWindowClose() {
    // The application object keeps this window for the life of the program.
    if (IsVisible()) {
        Hide();
        DiscardEdits();
    }
    return PPx::noErr;
}

void PreferencesWindow::DiscardEdits() {
    mSound->StopSound();
    sPreferences saved;
    GetPreferences(saved);
    PopulateWindow(saved);
}

void PreferencesWindow::OnTabChanged() {
    int32_t value = mTabs->GetValue();
    if (value < 1 || value > 4)
        return;
    for (int32_t i = 0; i < mTabs->GetPanelCount(); ++i) {
        PPx::Panel panel = mTabs->GetPanel(i);
        uint32_t signature = panel.GetSignature();
        if (signature == 0)
            continue;
        bool chosen = signature == kTabPanes[value - 1];
        // Hidden panes take no input; a pane the tab bar brings up by
        // keyboard must not come up disabled, so only visibility changes.
        if (chosen)
            panel.SetEnabled(true);
        panel.SetVisible(chosen);
    }
}

void PreferencesWindow::OnFTPTimeoutCheckChanged() {
    mFTPTimeout->SetEnabled(mFTPTimeoutBox->GetValue() != 0);
    ApplyCursorRule();
}

void PreferencesWindow::OnNOOPCheckChanged() {
    mNOOP->SetEnabled(mNOOPBox->GetValue() != 0);
    ApplyCursorRule();
}

NibCheckBoxGroupBox* PreferencesWindow::SoundBox(int sound) const {
    switch (sound) {
    case 1:
        return mDownloadBox;
    case 2:
        return mUploadBox;
    case 3:
        return mRedialBox;
    default:
        return nullptr;
    }
}

NibPopupButton* PreferencesWindow::SoundPopup(int sound) const {
    switch (sound) {
    case 1:
        return mDownloadPopup;
    case 2:
        return mUploadPopup;
    case 3:
        return mRedialPopup;
    default:
        return nullptr;
    }
}

std::string* PreferencesWindow::SoundPath(int sound) {
    switch (sound) {
    case 1:
        return &mEditPrefs.downloadSound;
    case 2:
        return &mEditPrefs.uploadSound;
    case 3:
        return &mEditPrefs.redialSound;
    default:
        return nullptr;
    }
}

void PreferencesWindow::OnSoundCheckChanged(int sound) {
    NibCheckBoxGroupBox* box = SoundBox(sound);
    if (!box)
        return;
    bool on = box->GetValue() != 0;
    SoundPopup(sound)->SetEnabled(on);
    std::string* path = SoundPath(sound);
    if (on && path->empty() && !mSoundList.empty()) {
        *path = mSoundList.front();
        SelectSoundFromMenu(sound, *path);
    }
}

void PreferencesWindow::InitSoundPopups() {
    mSound->GetSoundsList(mSoundList);
    if (mSoundList.empty()) {
        for (PPx::View* view : std::initializer_list<PPx::View*>{
                 mDownloadBox, mDownloadPopup, mUploadBox, mUploadPopup, mRedialBox, mRedialPopup})
            view->Disable();
        return;
    }
    for (int sound = 1; sound <= 3; ++sound) {
        NibPopupButton* popup = SoundPopup(sound);
        popup->RemoveAllItems();
        for (size_t i = 0; i < mSoundList.size(); ++i) {
            if (!LastComponent(mSoundList[i]).empty())
                popup->AppendItem(SoundDisplayName(mSoundList[i]), static_cast<uint32_t>(i));
        }
        popup->AppendSeparator();
        popup->AppendItem("Other...", kOtherItem);
        popup->SetValue(1);
    }
}

void PreferencesWindow::SelectSoundFromMenu(int sound, const std::string& path) {
    NibPopupButton* popup = SoundPopup(sound);
    if (!popup)
        return;
    std::string name = LastComponent(path);
    if (name.empty())
        return;
    int32_t count = popup->GetMaxValue();
    // Items show readable names; the file names tell them apart.
    for (int32_t item = 1; item <= count; ++item) {
        uint32_t command = popup->GetItemCommand(item);
        if (command < mSoundList.size() && LastComponent(mSoundList[command]) == name) {
            popup->SetValue(item);
            return;
        }
    }
    for (int32_t item = 1; item <= count; ++item)
        if (popup->GetItemCommand(item) == kOtherItem) {
            popup->SetValue(item);
            return;
        }
}

void PreferencesWindow::OnSoundPopupChanged(int sound) {
    NibPopupButton* popup = SoundPopup(sound);
    if (!popup)
        return;
    std::string* path = SoundPath(sound);
    uint32_t command = popup->GetItemCommand(popup->GetValue());
    if (command == kOtherItem) {
        std::string previous = *path;
        std::string picked = previous;
        if (mSound->PickSoundFile(this, picked)) {
            *path = picked;
            SelectSoundFromMenu(sound, picked);
            mSound->PlaySound(picked, kPreviewSeconds);
        } else if (!previous.empty()) {
            SelectSoundFromMenu(sound, previous);
        }
        return;
    }
    if (command < mSoundList.size()) {
        *path = mSoundList[command];
        mSound->PlaySound(*path, kPreviewSeconds);
    }
}

bool PreferencesWindow::CheckNumber(NibEditUnicodeText* field, const std::string& name, int32_t low,
                                    int32_t high, int32_t& value) {
    long long number = 0;
    if (ParseWhole(field->GetText(), number) && number >= low && number <= high) {
        value = static_cast<int32_t>(number);
        return true;
    }
    // Show the field to mend, then say what is wrong with it.
    mTabs->SetValue(1);
    OnTabChanged();
    field->SetFocus();
    field->SelectAll();
    ModalSheetAlert alert;
    uint32_t result = 0;
    alert.DoModal(this, "Invalid " + name, result, 0x14,
                  "Please enter the " + name + " as a whole number of seconds from " +
                      std::to_string(low) + " to " + std::to_string(high) + ".");
    return false;
}

bool PreferencesWindow::GatherPreferences(sPreferences& prefs) {
    int32_t timeout = -1, noop = -1, redial = 0;
    if (mFTPTimeoutBox->GetValue() != 0 &&
        !CheckNumber(mFTPTimeout, "FTP time-out", 1, kMaxSeconds, timeout))
        return false;
    if (mNOOPBox->GetValue() != 0 &&
        !CheckNumber(mNOOP, "keep-alive interval", 1, kMaxSeconds, noop))
        return false;
    if (!CheckNumber(mRedial, "redial delay", 0, kMaxSeconds, redial))
        return false;

    prefs.playDownloadSound = mDownloadBox->GetValue() != 0;
    prefs.playUploadSound = mUploadBox->GetValue() != 0;
    prefs.playRedialSound = mRedialBox->GetValue() != 0;
    prefs.downloadSound = mEditPrefs.downloadSound;
    prefs.uploadSound = mEditPrefs.uploadSound;
    prefs.redialSound = mEditPrefs.redialSound;
    prefs.playDownloadSound = prefs.playDownloadSound && !prefs.downloadSound.empty();
    prefs.playUploadSound = prefs.playUploadSound && !prefs.uploadSound.empty();
    prefs.playRedialSound = prefs.playRedialSound && !prefs.redialSound.empty();

    prefs.uploadMode = ShownMode(static_cast<uint8_t>(mUploadMode->GetValue()));
    prefs.downloadMode = ShownMode(static_cast<uint8_t>(mDownloadMode->GetValue()));

    prefs.ftpTimeoutSecs = timeout;
    prefs.noopSecs = noop;
    prefs.redialSecs = redial;

    for (int i = 0; i < kMiscCount; ++i)
        prefs.misc[kMiscBoxes[i].flag] = mMisc[i]->GetValue() != 0;
    prefs.loaded = true;
    return true;
}

void PreferencesWindow::PopulateWindow(const sPreferences& prefs) {
    mEditPrefs = prefs;

    mDownloadBox->SetValue(prefs.playDownloadSound);
    OnSoundCheckChanged(1);
    mUploadBox->SetValue(prefs.playUploadSound);
    OnSoundCheckChanged(2);
    mRedialBox->SetValue(prefs.playRedialSound);
    OnSoundCheckChanged(3);
    for (int sound = 1; sound <= 3; ++sound) {
        const std::string& path = *SoundPath(sound);
        if (!path.empty())
            SelectSoundFromMenu(sound, path);
        else if (!mSoundList.empty())
            SoundPopup(sound)->SetValue(1); // what turning the sound on chooses
    }

    mUploadMode->SetValue(ShownMode(prefs.uploadMode));
    mDownloadMode->SetValue(ShownMode(prefs.downloadMode));

    mFTPTimeoutBox->SetValue(prefs.ftpTimeoutSecs != -1);
    OnFTPTimeoutCheckChanged();
    if (prefs.ftpTimeoutSecs != -1)
        mFTPTimeout->SetText(std::to_string(prefs.ftpTimeoutSecs));
    mNOOPBox->SetValue(prefs.noopSecs != -1);
    OnNOOPCheckChanged();
    if (prefs.noopSecs != -1)
        mNOOP->SetText(std::to_string(prefs.noopSecs));
    mRedial->SetText(std::to_string(prefs.redialSecs));

    for (int i = 0; i < kMiscCount; ++i)
        mMisc[i]->SetValue(prefs.misc[kMiscBoxes[i].flag]);
}
