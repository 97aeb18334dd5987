// Connecting: a failed attempt's redial sheet, the new attempt it asks for,
// and the redial sound once that attempt has connected.
#include "app/BasicApp.h"
#include "app/Preferences.h"
#include "app/SoundTools.h"
#include "browser/sheets/RedialSheet.h"
#include "browser/window/BrowseText.h"
#include "browser/window/BrowseWindow.h"
#include "platform/ui/Dialogs.h"

void BrowseWindow::ConnectFailed(const std::string& text) {
    if (mRedialAsked)
        return;
    mRedialAsked = true;
    const ConnectFailure failure = DescribeConnectFailure(text, mBookmark.username);
    RedialSheet* sheet =
        RedialSheet::Make(DisplayableText(failure.message, 1024), failure.redialByItself);
    uint32_t answer = 'not!';
    if (sheet) {
        answer = sheet->DoModal(this);
        sheet->Close();
    }
    if (answer == 'ok  ') {
        mRedialing = true;
        Redial();
    } else {
        Close();
    }
}

// Deleting a connection inside one of its own callbacks would pull its backend
// from under the running call: the new attempt starts from the event loop.
void BrowseWindow::Redial() {
    std::weak_ptr<bool> alive = mAlive;
    PPx::PostToMainThread([this, alive] {
        if (alive.expired() || IsClosePending())
            return;
        // Gone with its connection, the failed attempt reports nothing more.
        delete mConnection;
        mConnection = nullptr;
        mOutstanding = false;
        mRedialAsked = false;
        StartSession(mBookmark);
    });
}

void BrowseWindow::ConnectComplete() {
    RequestEnded();
    mConnecting = false;
    if (mRedialing) {
        sPreferences prefs;
        BasicApp::CopyPreferences(prefs);
        if (prefs.playRedialSound && !prefs.redialSound.empty()) {
            if (!mSound)
                mSound = std::make_unique<SoundTools>();
            mSound->PlaySound(prefs.redialSound, -1);
        }
        mRedialing = false;
    }
    Send([](Connection& c) { c.GetServerInfo(); });
}
