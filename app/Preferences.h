#pragma once
// The preferences record, its file "Zarvel Preferences" and the master copy
// every reader takes its copy from.
#include "platform/core/Errors.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace PPx {
class ResourceFile;
}

// Existing-file policies of uploads and downloads; readers take any other
// value as kExistingAsk.
enum : uint8_t {
    kExistingAsk = 1,
    kExistingSkip = 2,
    kExistingResume = 3,
    kExistingReplace = 4,
};

// Indexes of the option flags in sPreferences::misc.
enum {
    kMiscMetalWindows = 0,
    kMiscHideBookmarksOnConnect = 1,
    kMiscHideSyncWindowOnSync = 2,
    kMiscRememberBookmarkWindow = 3,
    kMiscRememberSyncWindow = 4,
    kMiscListHiddenFiles = 5,
    kMiscKeepTransferSheet = 6,
    kMiscRememberBrowseWindow = 7,
    kMiscCount = 8,
};

struct sPreferences {
    uint8_t loaded = false;
    bool playUploadSound = false;
    std::string uploadSound;
    bool playDownloadSound = false;
    std::string downloadSound;
    bool playRedialSound = false;
    std::string redialSound;
    uint8_t uploadMode = kExistingAsk;
    uint8_t downloadMode = kExistingAsk;
    int32_t ftpTimeoutSecs = -1;
    int32_t noopSecs = 60;
    int32_t redialSecs = 60;
    bool misc[kMiscCount] = {true, true, true, true, true, false, false, false};

    bool operator==(const sPreferences&) const = default;
};

// The file's name in the Preferences folder.
extern const char* const kPreferencesFileName; // "Zarvel Preferences"

// The five resources of the record, as the file holds them.
void WritePreferencesResources(const sPreferences& prefs, PPx::ResourceFile& file);
// Reads what the file holds over PREFS; missing or short resources leave
// their fields alone.
void ReadPreferencesResources(const PPx::ResourceFile& file, sPreferences& prefs);

// The master copy. It is loaded and written on the main thread; any thread
// may take a copy. The lock is held only while the record is copied in or
// out: files are read and written, and alerts shown, outside it.
class PreferencesMaster {
public:
    // Shows a caution alert (message, explanation). The owner installs it
    // (the preferences window does); without one nothing is shown. Called on
    // the main thread only, never under the lock.
    using AlertFunc = std::function<void(const std::string&, const std::string&)>;

    // FOLDER empty: the user's Preferences folder.
    explicit PreferencesMaster(std::string folder = std::string());

    // A copy of the master. On the main thread the first call loads it; on
    // other threads, before that, the copy holds the defaults.
    void GetPreferences(sPreferences& out);
    // Resets the master to the defaults, then reads the file over them. A
    // file that cannot be read is set aside (renamed) and the user is told;
    // the next save then writes a new one.
    PPx::OSStatus LoadPreferences();
    // Writes the master copy whole and atomically.
    PPx::OSStatus SavePreferences();
    // The preferences window's gathered values become the master.
    void SetPreferences(const sPreferences& prefs);

    void SetAlert(AlertFunc alert) { mAlert = std::move(alert); }
    // Where the file is, or empty when the folder cannot be had.
    std::string FilePath() const;
    // Where the last unreadable file was moved, or empty.
    const std::string& SetAsidePath() const { return mSetAside; }

private:
    void Alert(const std::string& message, const std::string& explanation);
    bool SetAside(const std::string& path);

    std::mutex mMutex; // guards mPrefs
    sPreferences mPrefs;
    std::string mFolder;
    std::string mSetAside;
    AlertFunc mAlert;
};
