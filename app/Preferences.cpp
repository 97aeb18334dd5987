#include "app/Preferences.h"

#include "platform/core/AtomicFile.h"
#include "platform/core/EventLoop.h"
#include "platform/core/Folders.h"
#include "platform/core/ResourceFile.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <vector>

const char* const kPreferencesFileName = "Zarvel Preferences";

namespace {

const char* const kOpenErrorMessage = "Error opening preferences file";
const char* const kLoadErrorExplanation =
    "The preferences file might have become corrupt. Please contact technical support to "
    "solve this problem. Using default settings.";
const char* const kSaveErrorExplanation =
    "The preferences file might have become corrupt. Please contact technical support to "
    "solve this problem.";

using Bytes = std::vector<uint8_t>;

void AppendText(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
}

// The text from AT up to its NUL or the end; AT moves past the NUL.
std::string TakeText(const Bytes& data, size_t& at) {
    std::string text;
    while (at < data.size() && data[at] != 0)
        text.push_back(static_cast<char>(data[at++]));
    if (at < data.size())
        ++at;
    return text;
}

void PutInt32(Bytes& out, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

int32_t GetInt32(const Bytes& data, size_t at) {
    uint32_t v = 0;
    for (size_t i = 0; i < 4; ++i)
        v = (v << 8) | data[at + i];
    return static_cast<int32_t>(v);
}

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

} // namespace

void WritePreferencesResources(const sPreferences& prefs, PPx::ResourceFile& file) {
    Bytes sounds;
    AppendText(sounds, prefs.playDownloadSound ? prefs.downloadSound : std::string());
    AppendText(sounds, prefs.playUploadSound ? prefs.uploadSound : std::string());
    file.Set('snds', 0, std::string("Sounds"), sounds);

    Bytes extra;
    AppendText(extra, prefs.playRedialSound ? prefs.redialSound : std::string());
    file.Set('snds', 1, std::string("Extra Sounds"), extra);

    file.Set('xfer', 0, std::string("Transfer Settings"),
             Bytes{prefs.uploadMode, prefs.downloadMode});

    Bytes timeouts;
    PutInt32(timeouts, prefs.ftpTimeoutSecs);
    PutInt32(timeouts, prefs.noopSecs);
    PutInt32(timeouts, prefs.redialSecs);
    file.Set('tout', 0, std::string("Timeouts"), timeouts);

    Bytes misc;
    for (bool flag : prefs.misc)
        misc.push_back(flag ? 1 : 0);
    file.Set('misc', 0, std::string("Misc"), misc);
}

void ReadPreferencesResources(const PPx::ResourceFile& file, sPreferences& prefs) {
    if (const PPx::Resource* res = file.Get('snds', 0)) {
        size_t at = 0;
        prefs.downloadSound = TakeText(res->data, at);
        prefs.uploadSound = TakeText(res->data, at);
        prefs.playDownloadSound = !prefs.downloadSound.empty();
        prefs.playUploadSound = !prefs.uploadSound.empty();
    }
    if (const PPx::Resource* res = file.Get('snds', 1)) {
        size_t at = 0;
        prefs.redialSound = TakeText(res->data, at);
        prefs.playRedialSound = !prefs.redialSound.empty();
    }
    if (const PPx::Resource* res = file.Get('xfer', 0); res && res->data.size() >= 2) {
        prefs.uploadMode = res->data[0];
        prefs.downloadMode = res->data[1];
    }
    if (const PPx::Resource* res = file.Get('tout', 0); res && res->data.size() >= 12) {
        prefs.ftpTimeoutSecs = GetInt32(res->data, 0);
        prefs.noopSecs = GetInt32(res->data, 4);
        prefs.redialSecs = GetInt32(res->data, 8);
    }
    if (const PPx::Resource* res = file.Get('misc', 0); res && res->data.size() >= 6) {
        for (size_t i = 0; i < kMiscCount && i < res->data.size(); ++i)
            prefs.misc[i] = res->data[i] != 0;
    }
}

PreferencesMaster::PreferencesMaster(std::string folder) : mFolder(std::move(folder)) {}

std::string PreferencesMaster::FilePath() const {
    std::string folder = mFolder;
    if (folder.empty()) {
        try {
            folder = PPx::PreferencesFolder();
        } catch (const PPx::OSError&) {
            return {};
        }
    }
    return folder + "/" + kPreferencesFileName;
}

void PreferencesMaster::Alert(const std::string& message, const std::string& explanation) {
    // Only the main thread may show anything; a worker never gets here,
    // since only the main thread loads and saves.
    if (mAlert && PPx::IsMainThread())
        mAlert(message, explanation);
}

bool PreferencesMaster::SetAside(const std::string& path) {
    std::string aside = path + ".corrupt";
    for (int n = 2; FileExists(aside) && n < 1000; ++n)
        aside = path + ".corrupt-" + std::to_string(n);
    if (::rename(path.c_str(), aside.c_str()) != 0)
        return false;
    mSetAside = aside;
    return true;
}

void PreferencesMaster::GetPreferences(sPreferences& out) {
    bool load = false;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        if (mPrefs.loaded || !PPx::IsMainThread()) {
            out = mPrefs;
            return;
        }
        load = true;
    }
    if (load)
        LoadPreferences(); // reads the file without the lock held
    std::lock_guard<std::mutex> lock(mMutex);
    out = mPrefs;
}

PPx::OSStatus PreferencesMaster::LoadPreferences() {
    sPreferences loaded;
    loaded.loaded = true;
    std::string path;
    PPx::OSStatus status = PPx::noErr;
    bool unreadable = false;
    try {
        path = mFolder.empty() ? PPx::PreferencesFolder() + "/" + kPreferencesFileName
                               : mFolder + "/" + kPreferencesFileName;
    } catch (const PPx::OSError& e) {
        status = e.Status() ? e.Status() : PPx::fnfErr;
    }
    if (status == PPx::noErr && FileExists(path)) {
        try {
            ReadPreferencesResources(PPx::ResourceFile::Read(path), loaded);
        } catch (const PPx::OSError&) {
            unreadable = true;
            loaded = sPreferences();
            loaded.loaded = true;
        }
    }
    {
        std::lock_guard<std::mutex> lock(mMutex);
        mPrefs = loaded;
    }
    if (unreadable) {
        // Kept aside, so that the next save does not replace it unseen.
        std::string explanation = kLoadErrorExplanation;
        if (SetAside(path))
            explanation += " The unreadable file was kept as \"" + mSetAside + "\".";
        Alert(kOpenErrorMessage, explanation);
    }
    return status;
}

PPx::OSStatus PreferencesMaster::SavePreferences() {
    std::string path;
    try {
        path = mFolder.empty() ? PPx::PreferencesFolder() + "/" + kPreferencesFileName
                               : mFolder + "/" + kPreferencesFileName;
    } catch (const PPx::OSError& e) {
        return e.Status() ? e.Status() : PPx::fnfErr;
    }
    sPreferences snapshot;
    {
        std::lock_guard<std::mutex> lock(mMutex);
        snapshot = mPrefs;
    }
    // Other resources a file may hold are kept.
    PPx::ResourceFile file;
    std::string notice;
    if (FileExists(path)) {
        try {
            file = PPx::ResourceFile::Read(path);
        } catch (const PPx::OSError&) {
            if (!SetAside(path)) {
                Alert(kOpenErrorMessage, kSaveErrorExplanation);
                return PPx::noErr; // nothing is written over a file we cannot read
            }
            notice = std::string(kSaveErrorExplanation) + " The unreadable file was kept as \"" +
                     mSetAside + "\".";
        }
    }
    WritePreferencesResources(snapshot, file);
    try {
        file.Write(path);
    } catch (const PPx::OSError& e) {
        Alert("Error saving preferences file", e.what());
        return PPx::noErr;
    }
    if (!notice.empty())
        Alert(kOpenErrorMessage, notice);
    return PPx::noErr;
}

void PreferencesMaster::SetPreferences(const sPreferences& prefs) {
    std::lock_guard<std::mutex> lock(mMutex);
    mPrefs = prefs;
    mPrefs.loaded = true;
    // A play flag is never set without its path.
    mPrefs.playUploadSound = mPrefs.playUploadSound && !mPrefs.uploadSound.empty();
    mPrefs.playDownloadSound = mPrefs.playDownloadSound && !mPrefs.downloadSound.empty();
    mPrefs.playRedialSound = mPrefs.playRedialSound && !mPrefs.redialSound.empty();
}
