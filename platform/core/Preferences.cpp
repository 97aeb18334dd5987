#include "platform/core/Preferences.h"

#include "platform/core/AtomicFile.h"
#include "platform/core/Errors.h"
#include "platform/core/Folders.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace PPx {

PreferenceStore::PreferenceStore(std::string path) : mPath(std::move(path)) {}

void PreferenceStore::LoadLocked() {
    if (mLoaded)
        return;
    mLoaded = true;
    if (mPath.empty())
        return;
    std::string reason;
    try {
        std::string text = ReadWholeFile(mPath);
        PropertyList root;
        if (TryReadPropertyList(text, root, &reason)) {
            if (PlistDict* dict = root.AsDictionary()) {
                mValues = std::move(*dict);
                return;
            }
            reason = "the root is not a dictionary";
        }
    } catch (const OSError& e) {
        if (e.Status() == ENOENT)
            return;
        reason = e.what();
    }
    // Keep the unreadable file for the user; never write over it.
    std::string aside = mPath + ".corrupt";
    struct stat st;
    for (int n = 1; ::lstat(aside.c_str(), &st) == 0 && n < 1000; ++n)
        aside = mPath + ".corrupt-" + std::to_string(n);
    if (::rename(mPath.c_str(), aside.c_str()) == 0) {
        mSetAside = aside;
        std::fprintf(stderr, "zarvel: %s could not be read (%s); kept as %s\n", mPath.c_str(),
                     reason.c_str(), aside.c_str());
    } else {
        // It could be neither read nor moved: leave it alone and do not save over it.
        std::fprintf(stderr, "zarvel: %s could not be read (%s)\n", mPath.c_str(), reason.c_str());
        mPath.clear();
    }
}

std::optional<PropertyList> PreferenceStore::Get(std::string_view key) {
    std::lock_guard lock(mMutex);
    LoadLocked();
    if (const PropertyList* value = mValues.Find(key))
        return *value;
    return std::nullopt;
}

void PreferenceStore::Set(std::string key, PropertyList value) {
    std::lock_guard lock(mMutex);
    LoadLocked();
    mValues.Set(std::move(key), std::move(value));
    mDirty = true;
}

void PreferenceStore::Remove(std::string_view key) {
    std::lock_guard lock(mMutex);
    LoadLocked();
    if (mValues.Remove(key))
        mDirty = true;
}

void PreferenceStore::Synchronize() {
    std::lock_guard lock(mMutex);
    LoadLocked();
    if (!mDirty)
        return;
    if (mPath.empty())
        throw OSError(EIO, "The preference values cannot be saved");
    WriteFileAtomically(mPath, WritePropertyList(PropertyList::Dictionary(mValues)));
    mDirty = false;
}

std::string PreferenceStore::SetAsidePath() {
    std::lock_guard lock(mMutex);
    return mSetAside;
}

PreferenceStore& AppPreferences() {
    static PreferenceStore* store = [] {
        std::string path;
        try {
            path = PreferencesFolder() + "/Zarvel.plist";
        } catch (const OSError& e) {
            std::fprintf(stderr, "zarvel: %s\n", e.what());
        }
        return new PreferenceStore(path);
    }();
    return *store;
}

std::optional<PropertyList> CopyAppValue(std::string_view key) {
    return AppPreferences().Get(key);
}

void SetAppValue(std::string key, PropertyList value) {
    AppPreferences().Set(std::move(key), std::move(value));
}

void RemoveAppValue(std::string_view key) {
    AppPreferences().Remove(key);
}

bool SynchronizeAppValues() {
    try {
        AppPreferences().Synchronize();
        return true;
    } catch (const OSError& e) {
        std::fprintf(stderr, "zarvel: %s\n", e.what());
        return false;
    }
}

} // namespace PPx
