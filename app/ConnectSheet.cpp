#include "app/ConnectSheet.h"

#include "app/BasicApp.h"
#include "app/ConnectWindow.h"

ConnectSheet::ConnectSheet() : ConnectSheet(sBookMarkData(), false) {}

ConnectSheet::ConnectSheet(const sBookMarkData& bookmark, bool editing)
    : BookmarkSheet('DIRE', bookmark, editing) {}

bool ConnectSheet::CheckUniqueName(const std::string& name) {
    BasicApp* app = BasicApp::mApp;
    ConnectWindow* window = app ? app->GetConnectWindow() : nullptr;
    return window && window->CheckUniqueName(name);
}
