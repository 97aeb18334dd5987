#pragma once
// A one-off connection without a bookmark: host, port and the rest typed
// in, OK opens the browser window and this window goes away.
#include "app/BookmarkForm.h"
#include "app/NibWindow.h"
#include "engine/ConnectionRecords.h"

class QuickConnectWindow : public NibWindow,
                           public PPx::CommandProcessDoer,
                           public PPx::WindowCursorChangeDoer,
                           public PPx::WindowBoundsChangedDoer {
public:
    void FinishInit() override;
    const char* ClassName() const override { return "QuickConnectWindow"; }
    // A window of its own: the menu bar stays with the main windows.
    bool HasMenuBar() const override { return false; }

    PPx::OSStatus DoCommandProcess(uint32_t command) override;
    PPx::OSStatus DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) override;
    PPx::OSStatus DoWindowBoundsChanged() override;

    virtual void OnSecureChange();
    virtual void OnConnect(const sBookMarkData& bookmark);
    virtual bool CollectData(sBookMarkData& bookmark);
    virtual void LoadWindowState();
    virtual void SaveWindowState();

private:
    void ShowMessage(const std::string& message);

    BookmarkForm mForm; // host, port, user, password, folder, account, boxes
    NibPushButton* mOK = nullptr;
    NibPushButton* mCancel = nullptr;
};
