// Start-up: the interface, the application object, the event loop.
#include "app/BasicApp.h"
#include "app/WindowState.h"
#include "browser/window/BrowseWindow.h"
#include "platform/core/EventLoop.h"
#include "platform/core/Events.h"
#include "platform/core/Preferences.h"
#include "platform/ui/Application.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Window.h"
#include "sync/bookmarks/SyncRunFactory.h"
#include "sync/bookmarks/SyncWindow.h"
#include "sync/window/SyncStatusWindow.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const kNotAnsweringMessage = "Zarvel is already running but does not answer.";
const char* const kNotAnsweringExplanation =
    "It may be busy. Try again in a moment; if it still does not answer, quit it first.";

} // namespace

int main(int argc, char** argv) {
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    // Files named on the command line are opened as documents; the one
    // option quits once start-up is through (for scripted checks).
    bool quitAfterStart = false;
    std::vector<std::string> documents;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--quit-after-start")
            quitAfterStart = true;
        else if (!arg.empty() && arg[0] != '-')
            documents.push_back(arg);
    }

    try {
        PPx::UIApplication application(argc, argv);
        // A program already running for this user takes the documents; one
        // that does not answer is never joined by a second writer of the
        // same bookmark stores.
        switch (PPx::ClaimOrHandOver(documents)) {
        case PPx::StartClaim::HandedOver:
            return 0;
        case PPx::StartClaim::NotAnswering:
            std::fprintf(stderr, "zarvel: %s\n", kNotAnsweringMessage);
            if (!quitAfterStart)
                PPx::StandardAlert(PPx::kAlertStopAlert, kNotAnsweringMessage,
                                   kNotAnsweringExplanation);
            return 1;
        case PPx::StartClaim::First:
            break;
        }
        // The main windows carry the menu bar "MenuBar".
        PPx::SetMenuBar("MenuBar");

        // The synchronisation bookmark window is made with the others.
        InstallSyncWindow();
        auto app = std::make_unique<BasicApp>();
        // Without its interface files the program would run with no window
        // at all: say what is missing and end.
        if (!app->GetConnectWindow()) {
            const std::string missing = "The interface file \"" + PPx::SysNib().GetFolder() +
                                        "/ConnectWindow.ui\" is missing or cannot be read.";
            std::fprintf(stderr, "zarvel: %s\n", missing.c_str());
            if (!quitAfterStart)
                PPx::StandardAlert(PPx::kAlertStopAlert, "Zarvel cannot start.",
                                   missing + " Please reinstall the program.");
            return 1;
        }
        // Connecting opens browser windows from here on.
        InstallBrowserOpener();
        // Its "Create Synchronize Bookmark..." goes to the synchronisation.
        SetSyncBookmarkCreator(CreateSyncBookmark);
        // And synchronising opens the window of a run.
        SetSyncRunOpener([](const sSyncBookMarkData& bookmark) {
            SyncStatusWindow* window = OpenSyncStatusWindow(bookmark);
            if (!window)
                return false;
            sPreferences prefs;
            BasicApp::CopyPreferences(prefs);
            if (!prefs.misc[kMiscMetalWindows])
                window->ClearTexturedLook();
            return true;
        });
        if (!SystemVersionSupported(GetSystemVersion())) {
            PPx::StandardAlert(PPx::kAlertStopAlert,
                               "This program requires MacOS X version 10.3.9 or newer", "");
            return 0;
        }

        ReportUnreadableAppValues(PPx::AppPreferences());

        // The connection bookmark window is the first thing the user sees.
        PPx::PostEvent(PPx::ApplicationTarget().Ref(), PPx::MakeCommandEvent('CNBK'));
        if (!documents.empty())
            PPx::PostToMainThread([documents] { BasicApp::OpenDocuments(documents); });
        // Later starts hand their documents here; a start without any
        // brings the bookmark window forward.
        PPx::ListenForDocuments([](const std::vector<std::string>& paths) {
            if (paths.empty())
                PPx::PostEvent(PPx::ApplicationTarget().Ref(), PPx::MakeCommandEvent('CNBK'));
            else
                BasicApp::OpenDocuments(paths);
        });
        // Without a window the program cannot be reached: closing the last
        // one quits, the same way as Quit, unless a connection had hidden a
        // bookmark window, which then comes back.
        PPx::SetLastWindowClosedHandler([] {
            if (BasicApp* app = BasicApp::mApp)
                app->LastWindowClosed();
        });
        // Ended by the session or kill: the same way too.
        PPx::OnTerminationSignal(
            [] { PPx::PostEvent(PPx::ApplicationTarget().Ref(), PPx::MakeCommandEvent('quit')); });
        if (quitAfterStart)
            PPx::PostEvent(PPx::ApplicationTarget().Ref(), PPx::MakeCommandEvent('quit'));

        PPx::RunApplicationLoop();
        PPx::SetLastWindowClosedHandler({});
        app.reset();
    } catch (...) {
        // Start-up failures end the program quietly.
    }
    return 0;
}
