// Renaming an item, from the sheet or in place in the list, and the other
// commands that ask for a name: create folder, go to folder.
#include "browser/sheets/OperationSheets.h"
#include "browser/window/BrowseText.h"
#include "browser/window/BrowseWindow.h"

#include <algorithm>
#include <optional>

namespace {

const char* const kEmptyName = "The name cannot be empty.";
const char* const kInvalidName = "Please specify a valid name.";
const char* const kLineBreakInName = "The text cannot contain line breaks or NUL characters.";

std::string TakenText(const std::string& name) {
    return NameTakenText(DisplayableText(name));
}

} // namespace

bool BrowseWindow::IsListedName(const std::string& name) const {
    return std::any_of(mItems.begin(), mItems.end(),
                       [&](const sFileInfo& item) { return item.name == name; });
}

bool BrowseWindow::AskName(const std::string& prompt, const std::string& initial, std::string& name,
                           const std::string* differentFrom) {
    ActionSheet* sheet = ActionSheet::Make(prompt, initial);
    if (!sheet)
        return false;
    // A name that cannot be used is told over the sheet, which stays open
    // for another try.
    sheet->SetCheck([this, differentFrom](const std::string& text) -> std::optional<std::string> {
        if (text.empty())
            return std::string(kEmptyName);
        if (text == "." || text == "..")
            return std::string(kInvalidName);
        if (differentFrom && text == *differentFrom)
            return std::string(); // the old name: simply asked again
        if (differentFrom && IsListedName(text))
            return TakenText(text); // a rename onto another item
        return std::nullopt;
    });
    const bool accepted = sheet->DoModal(this) == 'ok  ';
    if (accepted)
        sheet->GetData(name);
    sheet->Close();
    return accepted;
}

void BrowseWindow::OnRename() {
    const std::vector<uint32_t> selected = SelectedItems();
    if (selected.empty())
        return;
    const std::string old = ItemForID(selected.front())->name;
    if (!CheckListedName(old))
        return;
    std::string name;
    if (!AskName("Enter the new name for this item:", old, name, &old))
        return;
    DisableControls();
    Send([&](Connection& c) { c.Rename(old, name); });
    mRevealName = name;
}

void BrowseWindow::RenameItem(uint32_t item, const std::string& newName) {
    const sFileInfo* info = ItemForID(item);
    if (!info || mOutstanding || mClosing || !mConnection)
        return;
    const std::string old = info->name;
    if (!CheckListedName(old))
        return;
    if (HasLineBreakOrNul(newName)) {
        SetError(kLineBreakInName);
        return;
    }
    // Some servers rename over an existing item without a word.
    if (IsListedName(newName)) {
        SetError(TakenText(newName));
        return;
    }
    DisableControls();
    Send([&](Connection& c) { c.Rename(old, newName); });
    mRevealName = newName;
}

void BrowseWindow::RenameComplete() {
    RequestEnded();
    Send([](Connection& c) { c.GetDirList(); });
}

void BrowseWindow::OnCreateFolder() {
    std::string name;
    if (!AskName("Enter the name of the new folder:", "", name, nullptr))
        return;
    DisableControls();
    mRevealName = name;
    Send([&name](Connection& c) { c.CreateFolder(name); });
}

void BrowseWindow::CreateFolderComplete() {
    RequestEnded();
    Send([](Connection& c) { c.GetDirList(); });
}

void BrowseWindow::OnGoToFolder() {
    ActionSheet* sheet = ActionSheet::Make("Enter the path you want to go to:", "");
    if (!sheet)
        return;
    DisableControls();
    std::string path;
    bool accepted = false;
    while (sheet->DoModal(this) == 'ok  ') {
        sheet->GetData(path);
        if (!HasLineBreakOrNul(path)) {
            accepted = true;
            break;
        }
        ShowStopAlert(kLineBreakInName, "");
    }
    sheet->Close();
    if (!accepted) {
        EnableControls();
        return;
    }
    Send([&path](Connection& c) { c.ChangeDirTo(path); });
}
