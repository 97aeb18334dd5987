#include "engine/EnginePreferences.h"

#include "engine/FTPEngine.h"

#include <mutex>
#include <shared_mutex>

namespace {

struct ProviderSlot {
    std::shared_mutex lock;
    EnginePreferencesProvider provider;
};

// Never destroyed: a worker thread that ends during the program's exit may
// still ask for the hidden-files flag.
ProviderSlot& Slot() {
    static ProviderSlot* slot = new ProviderSlot;
    return *slot;
}

bool ListHiddenFiles() {
    return GetEnginePreferences().listHiddenFiles;
}

} // namespace

void SetEnginePreferencesProvider(EnginePreferencesProvider provider) {
    InstallEngineHiddenFilesSource();
    ProviderSlot& slot = Slot();
    EnginePreferencesProvider old;
    {
        std::unique_lock hold(slot.lock);
        old = std::move(slot.provider);
        slot.provider = std::move(provider);
    }
    // `old` (and whatever it captured) goes here, outside the lock.
}

EnginePreferences GetEnginePreferences() {
    ProviderSlot& slot = Slot();
    std::shared_lock hold(slot.lock);
    if (!slot.provider)
        return {};
    try {
        return slot.provider();
    } catch (...) {
        return {};
    }
}

void InstallEngineHiddenFilesSource() {
    static std::once_flag once;
    std::call_once(once, [] { FTPEngine::SetHiddenFilesSource(&ListHiddenFiles); });
}
