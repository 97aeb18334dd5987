#include "app/BasicApp.h"
#include "app/AboutWindow.h"
#include "app/ConnectWindow.h"
#include "app/PreferencesWindow.h"
#include "app/QuickConnectWindow.h"
#include "platform/core/EventLoop.h"
#include "platform/ui/Dialogs.h"

#include <shared_mutex>

#include "engine/Connection.h"
#include "engine/EnginePreferences.h"
#include <sys/stat.h>

std::atomic<BasicApp*> BasicApp::mApp{nullptr};

namespace {

// Held shared while a caller uses the application object from any thread,
// exclusively while the object goes.
std::shared_mutex& AppLock() {
    static std::shared_mutex lock;
    return lock;
}

const uint32_t kAppCommands[] = {'quit', 'abou', 'new ', 'pref', 'CNBK', 'SYBK', 'clos'};

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

uint16_t gTestVersion = 0;

SyncWindowHooks& SyncHooks() {
    static SyncWindowHooks hooks;
    return hooks;
}

} // namespace

void SetSyncWindowHooks(SyncWindowHooks hooks) {
    SyncHooks() = std::move(hooks);
}

BasicApp::BasicApp() {
    {
        std::unique_lock lock(AppLock());
        mApp = this;
    }
    PPx::EventTarget& target = PPx::ApplicationTarget();
    for (uint32_t command : kAppCommands) {
        if (command != 'quit')
            mHandlers.push_back(target.InstallCommandHandler(command, [this](PPx::Event& event) {
                DoSpecificCommand(event.Command());
                return PPx::noErr;
            }));
        mHandlers.push_back(target.InstallHandler(
            PPx::kEventClassCommandStatus, command, [this](PPx::Event& event) {
                event.SetInteger(PPx::kEventParamEnabled, DoSpecificCommandStatus(event.Kind()));
                return PPx::noErr;
            }));
    }
    // The standard quit ends the event loop.
    mHandlers.push_back(target.InstallCommandHandler('quit', [this](PPx::Event&) {
        SendQuit();
        return PPx::noErr;
    }));
    InitWindows();
    // Worker threads read the engine's values through the application, afresh
    // on every call.
    SetEnginePreferencesProvider([] {
        sPreferences prefs;
        CopyPreferences(prefs);
        EnginePreferences values;
        values.ftpTimeoutSecs = prefs.ftpTimeoutSecs;
        values.noopSecs = prefs.noopSecs;
        values.listHiddenFiles = prefs.misc[kMiscListHiddenFiles];
        return values;
    });
}

BasicApp::~BasicApp() {
    // Returns once no worker is inside the provider any more.
    SetEnginePreferencesProvider({});
    mHandlers.clear();
    // Windows that own connections go first, while the application object
    // is still there for their workers; then the long-lived ones.
    // (A window may take others with it, so the list is read again each time.)
    for (;;) {
        PPx::Window* victim = nullptr;
        for (PPx::Window* window : PPx::Window::AllWindows()) {
            bool longLived = false;
            for (PPx::Window* kept : mLongLived)
                longLived = longLived || kept == window;
            if (!longLived) {
                victim = window;
                break;
            }
        }
        if (!victim)
            break;
        delete victim;
    }
    // Their workers were told to stop; give them a moment to end, so none is
    // cut off in the middle of closing its connection when the program ends.
    WaitForConnectionWorkers(std::chrono::seconds(5));
    {
        std::unique_lock lock(AppLock());
        mApp = nullptr;
    }
    for (PPx::Window*& window : mLongLived) {
        delete window;
        window = nullptr;
    }
}

void BasicApp::CopyPreferences(sPreferences& out) {
    std::shared_lock lock(AppLock());
    if (BasicApp* app = mApp)
        app->GetPreferences(out);
}

void BasicApp::GetPreferences(sPreferences& out) {
    if (PreferencesMaster* master = mPrefsMaster)
        master->GetPreferences(out);
}

void BasicApp::InitWindows() {
    // "PreferencesWindow", "ConnectWindow", "AboutWindow" and
    // "SynchronizeWindow" are made here, hidden; one that cannot be made
    // stays null and its commands do nothing.
    // The preferences window comes first: the others read the preferences.
    PPx::SysNib nib;
    mPrefsWindow = PPx::MakeNibWindow<PreferencesWindow>(nib, "PreferencesWindow");
    if (mPrefsWindow) {
        SetLongLivedWindow(kPrefsSlot, mPrefsWindow);
        SetPreferencesMaster(&mPrefsWindow->GetMaster());
    }
    mConnectWindow = PPx::MakeNibWindow<ConnectWindow>(nib, "ConnectWindow");
    SetLongLivedWindow(kConnectSlot, mConnectWindow);
    mAboutWindow = PPx::MakeNibWindow<AboutWindow>(nib, "AboutWindow");
    if (mAboutWindow)
        SetLongLivedWindow(kAboutSlot, mAboutWindow);
    if (SyncHooks().make) {
        PPx::Window* window = nullptr;
        mSyncWindow = SyncHooks().make(nib, window);
        if (mSyncWindow)
            SetLongLivedWindow(kSyncSlot, window);
    }

    // Without the textured look where the user turned it off; the About
    // window keeps its look.
    sPreferences prefs;
    GetPreferences(prefs);
    if (!prefs.misc[kMiscMetalWindows])
        for (WindowSlot slot : {kSyncSlot, kConnectSlot, kPrefsSlot})
            if (mLongLived[slot])
                mLongLived[slot]->ClearTexturedLook();
}

void BasicApp::SelectWindow(PPx::Window* window) {
    if (!window)
        return;
    // Shown the first time without a stored place: over the window the user
    // works in, or in the middle of the screen; after that where left.
    if (!window->WasPlaced() && !window->IsVisible())
        window->CenterOn(PPx::Window::FrontWindow());
    window->Select();
}

void BasicApp::DoSpecificCommand(uint32_t command) {
    switch (command) {
    case 'pref':
        SelectWindow(mLongLived[kPrefsSlot]);
        break;
    case 'CNBK':
        SelectWindow(mLongLived[kConnectSlot]);
        break;
    case 'abou':
        SelectWindow(mLongLived[kAboutSlot]);
        break;
    case 'SYBK':
        SelectWindow(mLongLived[kSyncSlot]);
        break;
    case 'new ': {
        // A new quick-connect window per command, once its class exists:
        // without the nib window nothing is made.
        sPreferences prefs;
        GetPreferences(prefs);
        if (QuickConnectWindow* window =
                PPx::MakeNibWindow<QuickConnectWindow>(PPx::SysNib(), "QuickConnectWindow")) {
            if (!prefs.misc[kMiscMetalWindows])
                window->ClearTexturedLook();
            if (!window->WasPlaced())
                window->CenterOn(PPx::Window::FrontWindow());
            window->Show();
        }
        break;
    }
    case 'clos':
        if (PPx::Window* front = PPx::Window::FrontWindow())
            front->Close();
        break;
    default:
        break;
    }
}

bool BasicApp::DoSpecificCommandStatus(uint32_t command) {
    if (command == 'clos')
        return PPx::Window::FrontWindow() != nullptr;
    return true;
}

void BasicApp::OpenBookmark(const std::string& path) {
    if (mConnectWindow)
        mConnectWindow->OpenBookmark(path);
}

void BasicApp::OpenSyncBookmark(const std::string& path) {
    if (mSyncWindow && SyncHooks().open)
        SyncHooks().open(mSyncWindow, path);
}

void BasicApp::LastWindowClosed() {
    if (!ShowWindowsHiddenByConnect())
        PPx::PostEvent(PPx::ApplicationTarget().Ref(), PPx::MakeCommandEvent('quit'));
}

bool BasicApp::ShowWindowsHiddenByConnect() {
    bool shown = false;
    for (WindowSlot slot : {kConnectSlot, kSyncSlot}) {
        auto* hidden = dynamic_cast<HidesForConnect*>(mLongLived[slot]);
        if (!hidden || !hidden->HiddenByConnect())
            continue;
        hidden->ForgetHiddenByConnect();
        if (!mLongLived[slot]->IsVisible()) {
            SelectWindow(mLongLived[slot]);
            shown = true;
        }
    }
    return shown;
}

void BasicApp::SendQuit() {
    PPx::QuitApplicationLoop(0);
}

PPx::OSStatus BasicApp::OpenDocuments(const std::vector<std::string>& paths) {
    BasicApp* app = mApp;
    if (!app)
        return PPx::paramErr;
    PPx::OSStatus status = PPx::noErr;
    for (const std::string& path : paths) {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            status = PPx::fnfErr;
            continue;
        }
        status = PPx::noErr;
        if (EndsWith(path, ".sync.zarvel"))
            app->OpenSyncBookmark(path);
        else if (EndsWith(path, ".zarvel"))
            app->OpenBookmark(path);
    }
    return status;
}

uint16_t GetSystemVersion() {
    // Every system this program builds on is new enough.
    return gTestVersion ? gTestVersion : 0x1039;
}

void SetSystemVersionForTesting(uint16_t version) {
    gTestVersion = version;
}

bool SystemVersionSupported(uint16_t version) {
    return static_cast<int16_t>(version) > 0x1038;
}
