#pragma once
// The few preference values the connection engine reads, and the seam through
// which the application hands them over. The engine never reaches into the
// application: the application installs a provider at start-up (reading its
// preferences record afresh on every call) and removes it before it goes away.
// Without a provider the engine works with the record's defaults.
#include <cstdint>
#include <functional>

struct EnginePreferences {
    int32_t ftpTimeoutSecs = -1;  // socket time-out; -1 (or any value < 1): the engine's default
    int32_t noopSecs = 60;        // keep-alive interval of an idle FTP connection; < 1: off
    bool listHiddenFiles = false; // FTP listings ask for hidden files ("LIST -a")
};

using EnginePreferencesProvider = std::function<EnginePreferences()>;

// Any thread. Installing (or removing, with an empty provider) waits until no
// call of the previous provider is running, so that once the application has
// removed its provider no worker thread calls into it any more.
void SetEnginePreferencesProvider(EnginePreferencesProvider provider);

// Any thread: the provider's answer, or the defaults when none is installed
// (or it threw).
EnginePreferences GetEnginePreferences();

// Makes the FTP engine's listing command read the hidden-files flag from
// here. Idempotent; the backends call it before their first worker starts.
void InstallEngineHiddenFilesSource();
