#pragma once
// The browser window's list: cells, sorting, in-place rename and the
// contextual menu, all looked up in the window's items. The list view owns
// it; the window detaches it when it goes.
#include "engine/ConnectionRecords.h"
#include "platform/ui/DataBrowser.h"

#include <cstdint>
#include <string>
#include <vector>

class BrowseWindow;

class BrowseContent : public PPx::DataBrowser::Content {
public:
    explicit BrowseContent(BrowseWindow* parent);
    const char* ClassName() const { return "BrowseContent"; }

    void SupplyItemData(PPx::DataBrowser::ItemID item, PPx::DataBrowser::PropertyID property,
                        PPx::DataBrowser::ItemData& data) override;
    bool ItemIsEditable(PPx::DataBrowser::ItemID item,
                        PPx::DataBrowser::PropertyID property) override;
    void ChangeItemData(PPx::DataBrowser::ItemID item, PPx::DataBrowser::PropertyID property,
                        const PPx::DataBrowser::ItemData& data) override;
    void SetParent(BrowseWindow* parent) { mParent = parent; }
    void NotifyAboutItem(PPx::DataBrowser::ItemID item,
                         PPx::DataBrowser::ItemMessage message) override;
    bool CompareItems(PPx::DataBrowser::ItemID a, PPx::DataBrowser::ItemID b,
                      PPx::DataBrowser::PropertyID property) override;
    bool AddItemToDrag(PPx::DataBrowser::ItemID item) override;
    std::string DirectSaveName(const std::vector<PPx::DataBrowser::ItemID>& items) override;
    void PostProcessDragFromBrowser(bool dropped, const std::string& dropFolder) override;
    void DropRefused(const std::string& message, const std::string& explanation) override;
    bool DragIsAcceptable(const std::vector<std::string>& paths) override;
    bool ReceiveDraggedItems(const std::vector<std::string>& paths) override;
    void SupplyContextualMenu(std::vector<PPx::MenuEntry>& entries) override;
    void ProcessContextualMenuSelection(uint32_t command) override;

    // True when A sorts before B in the column PROPERTY.
    static bool ItemLess(const sFileInfo& a, const sFileInfo& b,
                         PPx::DataBrowser::PropertyID property);
    PPx::Icon GetIconForFile(const std::string& name, bool isFolder, bool isLink) const;
    static std::string GetSizeForFile(uint64_t size);

private:
    BrowseWindow* mParent;
    PPx::Icon mFolderIcon;
    PPx::Icon mDocumentIcon;
    bool mDragFromList = false; // a drag started in this list has not ended yet
};
