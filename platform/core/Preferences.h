#pragma once
// Per-application preference values (window places, list layouts): one XML
// property list whose root is a dictionary, read on first use and written
// whole and atomically by Synchronize. A file that cannot be read or parsed is
// renamed aside ("<name>.corrupt") and the store starts empty; it is never
// overwritten in place. Thread-safe.
#include "platform/core/PropertyList.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace PPx {

class PreferenceStore {
public:
    explicit PreferenceStore(std::string path);

    std::optional<PropertyList> Get(std::string_view key);
    void Set(std::string key, PropertyList value);
    void Remove(std::string_view key);
    // Writes the values when they changed since they were read or last written.
    // Throws OSError when the file cannot be written; the values stay in memory.
    void Synchronize();

    const std::string& Path() const { return mPath; }
    // Where an unreadable file was moved, or empty.
    std::string SetAsidePath();

private:
    void LoadLocked();

    std::mutex mMutex;
    std::string mPath;
    bool mLoaded = false;
    bool mDirty = false;
    PlistDict mValues;
    std::string mSetAside;
};

// "Zarvel.plist" in the Preferences folder. When that folder cannot be made,
// reads find nothing and Synchronize throws.
PreferenceStore& AppPreferences();

// The framework-style calls over AppPreferences().
std::optional<PropertyList> CopyAppValue(std::string_view key);
void SetAppValue(std::string key, PropertyList value);
void RemoveAppValue(std::string_view key);
// False when writing failed (the values stay in memory for a later try).
bool SynchronizeAppValues();

} // namespace PPx
