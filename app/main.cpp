// Start-up: the interface, the application object, the event loop.
#include "BasicApp.h"
#include "WindowState.h"
#ifdef ZARVEL_HAVE_BROWSER
#include "BrowseWindow.h"
#endif

#include "platform/core/EventLoop.h"
#include "platform/core/Events.h"
#include "platform/core/Preferences.h"
#include "ppxui/Application.h"
#include "ppxui/Dialogs.h"
#include "ppxui/Window.h"

#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

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
        // A program already running for this user takes the documents.
        if (PPx::HandDocumentsToRunningProgram(documents))
            return 0;
        // Every top-level window carries the menu bar "MenuBar".
        PPx::SetMenuBar("MenuBar");

        auto app = std::make_unique<BasicApp>();
#ifdef ZARVEL_HAVE_BROWSER
        // Connecting opens browser windows from here on.
        InstallBrowserOpener();
#endif
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
        if (quitAfterStart)
            PPx::PostEvent(PPx::ApplicationTarget().Ref(), PPx::MakeCommandEvent('quit'));

        PPx::RunApplicationLoop();
        app.reset();
    } catch (...) {
        // Start-up failures end the program quietly.
    }
    return 0;
}
