#pragma once
// The application object: owns the long-lived windows, answers the
// application's menu commands and opened documents, and is where every
// other part reaches the preferences and the bookmark windows.
#include "app/Preferences.h"
#include "platform/core/Events.h"
#include "platform/ui/Window.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

class PreferencesWindow;
class AboutWindow;
class ConnectWindow;
class SyncWindow;

class BasicApp {
public:
    BasicApp();
    virtual ~BasicApp();
    BasicApp(const BasicApp&) = delete;
    BasicApp& operator=(const BasicApp&) = delete;

    // The one application object; null before it is made and after it went.
    static std::atomic<BasicApp*> mApp;

    virtual const char* ClassName() const { return "BasicApp"; }

    // Fills OUT from the master record; leaves it alone without one.
    virtual void GetPreferences(sPreferences& out);
    virtual SyncWindow* GetSyncWindow() { return mSyncWindow; }
    virtual ConnectWindow* GetConnectWindow() { return mConnectWindow; }
    virtual void OpenBookmark(const std::string& path);
    virtual void OpenSyncBookmark(const std::string& path);
    virtual void SendQuit();
    // The last window the user could see has closed: the bookmark windows a
    // connection or run hid come back; without one the program quits, the
    // same way as Quit.
    virtual void LastWindowClosed();

    // The master preferences record, once the preferences window keeps it.
    PreferencesMaster* GetPreferencesMaster() const { return mPrefsMaster; }
    void SetPreferencesMaster(PreferencesMaster* master) { mPrefsMaster = master; }

    // Hands the opened files to the bookmark windows by their kind: names
    // ending in ".sync.zarvel" are synchronisation bookmarks, other names
    // ending in ".zarvel" connection bookmarks; others are skipped. Returns
    // the status of the last file's look-up (fnfErr when it is missing).
    static PPx::OSStatus OpenDocuments(const std::vector<std::string>& paths);

    // Any thread: a copy of the preferences through the application object,
    // safe against the object going meanwhile. Leaves OUT alone without it.
    static void CopyPreferences(sPreferences& out);

protected:
    virtual void DoSpecificCommand(uint32_t command);
    virtual bool DoSpecificCommandStatus(uint32_t command);
    virtual void InitWindows();
    // Shows and brings WINDOW to the front when it exists.
    void SelectWindow(PPx::Window* window);
    // Shows the bookmark windows hidden by a connection; false when none was.
    bool ShowWindowsHiddenByConnect();
    // InitWindows records each long-lived window it made here too, so that
    // the commands show it and the object goes with the application.
    enum WindowSlot { kPrefsSlot, kConnectSlot, kAboutSlot, kSyncSlot };
    void SetLongLivedWindow(WindowSlot slot, PPx::Window* window) { mLongLived[slot] = window; }

    PreferencesWindow* mPrefsWindow = nullptr;
    AboutWindow* mAboutWindow = nullptr;
    ConnectWindow* mConnectWindow = nullptr;
    SyncWindow* mSyncWindow = nullptr;
    // Published while the object is already reachable from worker threads.
    std::atomic<PreferencesMaster*> mPrefsMaster{nullptr};

private:
    // Window objects of the four long-lived windows, as the window layer
    // knows them (null until made).
    PPx::Window* mLongLived[4] = {nullptr, nullptr, nullptr, nullptr};
    std::vector<PPx::EventHandler> mHandlers;
};

// The synchronisation bookmark window is built above this library: the
// program says how it is made and how it opens a ".sync.zarvel" file before
// it makes the application object. Without them the window stays null.
struct SyncWindowHooks {
    // Makes the window from NIB, hidden, with its FinishInit done; also
    // gives its window object. Null when it cannot be made.
    std::function<SyncWindow*(PPx::SysNib& nib, PPx::Window*& window)> make;
    std::function<void(SyncWindow* window, const std::string& path)> open;
};
void SetSyncWindowHooks(SyncWindowHooks hooks);

// The system's version as four half-bytes (0x1039 for 10.3.9). Programs
// older than the first supported one refuse to start.
uint16_t GetSystemVersion();
void SetSystemVersionForTesting(uint16_t version); // 0 restores the real one
bool SystemVersionSupported(uint16_t version);
