#pragma once
// The window in which the user edits the preferences. It also keeps the
// master preferences record that every other part of the program copies
// from, and the preferences file.
#include "app/NibWindow.h"
#include "app/Preferences.h"
#include "app/SoundTools.h"

#include <memory>
#include <string>
#include <vector>

class PreferencesWindow : public NibWindow,
                          public PPx::CommandProcessDoer,
                          public PPx::WindowCursorChangeDoer {
public:
    // SOUND null: a player of the desktop's sounds. PREFSFOLDER empty: the
    // user's Preferences folder.
    explicit PreferencesWindow(std::unique_ptr<SoundTools> sound = nullptr,
                               std::string prefsFolder = std::string());
    ~PreferencesWindow() override;

    void FinishInit() override;
    const char* ClassName() const override { return "PreferencesWindow"; }
    // A window of its own: the menu bar stays with the main windows.
    bool HasMenuBar() const override { return false; }
    // Closing while shown only hides, and drops the edits as Cancel does.
    PPx::OSStatus DoWindowClose() override;

    // A copy of the master record, loaded from the file on first use.
    virtual void GetPreferences(sPreferences& out);

    PPx::OSStatus DoCommandProcess(uint32_t command) override;
    PPx::OSStatus DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) override;

    virtual void OnTabChanged();
    // SOUND: 1 download, 2 upload, 3 redial; other numbers do nothing.
    virtual void OnSoundPopupChanged(int sound);
    virtual void OnSoundCheckChanged(int sound);
    virtual void OnFTPTimeoutCheckChanged();
    virtual void OnNOOPCheckChanged();
    virtual void SelectSoundFromMenu(int sound, const std::string& path);
    virtual void InitSoundPopups();
    // Reads the controls into PREFS. A number field that does not hold a
    // sensible number is refused with an alert naming it: then PREFS is
    // left alone and the answer is false.
    virtual bool GatherPreferences(sPreferences& prefs);
    virtual void PopulateWindow(const sPreferences& prefs);
    virtual PPx::OSStatus SavePreferences();
    virtual PPx::OSStatus LoadPreferences();

    // What the application object hands to readers on any thread.
    PreferencesMaster& GetMaster() { return mMaster; }
    // What the window shows, sound paths included (tests).
    const sPreferences& GetEditPreferences() const { return mEditPrefs; }
    SoundTools& GetSoundTools() { return *mSound; }
    const std::vector<std::string>& GetSoundList() const { return mSoundList; }

    // Limits of the number fields, in seconds.
    static constexpr int32_t kMaxSeconds = 86400;

private:
    NibCheckBoxGroupBox* SoundBox(int sound) const;
    NibPopupButton* SoundPopup(int sound) const;
    std::string* SoundPath(int sound);
    // Refuses the field's text unless it is a whole number from LOW to HIGH.
    bool CheckNumber(NibEditUnicodeText* field, const std::string& name, int32_t low, int32_t high,
                     int32_t& value);
    // Back to what was last saved: the edits are dropped.
    void DiscardEdits();

    NibTabView* mTabs = nullptr;
    NibCheckBoxGroupBox* mFTPTimeoutBox = nullptr;
    NibEditUnicodeText* mFTPTimeout = nullptr;
    NibCheckBoxGroupBox* mNOOPBox = nullptr;
    NibEditUnicodeText* mNOOP = nullptr;
    NibEditUnicodeText* mRedial = nullptr;
    NibRadioGroup* mUploadMode = nullptr;
    NibRadioGroup* mDownloadMode = nullptr;
    NibCheckBoxGroupBox* mDownloadBox = nullptr;
    NibPopupButton* mDownloadPopup = nullptr;
    NibCheckBoxGroupBox* mUploadBox = nullptr;
    NibPopupButton* mUploadPopup = nullptr;
    NibCheckBoxGroupBox* mRedialBox = nullptr;
    NibPopupButton* mRedialPopup = nullptr;
    NibPushButton* mOK = nullptr;
    NibPushButton* mCancel = nullptr;
    NibCheckBox* mMisc[kMiscCount] = {};

    std::unique_ptr<SoundTools> mSound;
    std::vector<std::string> mSoundList;
    PreferencesMaster mMaster;
    sPreferences mEditPrefs;
};
