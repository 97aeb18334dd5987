#pragma once
// A list of items shown in columns. The list holds only item IDs; a Content
// object supplies each cell, compares items for sorting and hears about
// what the user does with them.
#include "platform/ui/Views.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace PPx {

// An icon for a list cell: a file, or one of the standard kinds.
class Icon {
public:
    enum Kind { None, Folder, Document, FromFile, FileType };
    Icon() = default;
    static Icon Standard(Kind kind);
    static Icon File(const std::string& path); // None when the file is no image
    // The desktop icon theme's icon for files with the name extension
    // EXTENSION (no dot); the generic document icon when it has none.
    static Icon ForExtension(const std::string& extension);
    Icon WithLinkBadge() const;

    bool IsNull() const { return mKind == None; }
    Kind GetKind() const { return mKind; }
    const std::string& GetPath() const { return mPath; }
    bool HasLinkBadge() const { return mBadge; }

private:
    Kind mKind = None;
    std::string mPath;
    bool mBadge = false;
};

// A contextual menu built by the content: entries with their commands.
struct MenuEntry {
    std::string text; // empty with separator
    uint32_t command = 0;
    bool enabled = true;
    bool separator = false;
};

namespace DataBrowser {

using ItemID = uint32_t;                          // 0 is no item
using PropertyID = uint32_t;                      // the column's four-character code
using UserState = std::map<std::string, int64_t>; // column widths, order, sort

// What the list tells its content about.
enum ItemMessage : uint32_t {
    kItemDoubleClicked = 7,
    kUserStateChanged = 13,
    kSelectionSetChanged = 14,
};

// One cell being read or edited.
class ItemData {
public:
    void SetText(const std::string& text) { mText = text; }
    const std::string& GetText() const { return mText; }
    void SetIcon(const Icon& icon) { mIcon = icon; }
    const Icon& GetIcon() const { return mIcon; }
    void SetCheckBox(bool checked) {
        mHasCheck = true;
        mChecked = checked;
    }
    bool HasCheckBox() const { return mHasCheck; }
    bool IsChecked() const { return mChecked; }

private:
    std::string mText;
    Icon mIcon;
    bool mHasCheck = false;
    bool mChecked = false;
};

class View;

class Content {
public:
    virtual ~Content();

    // Cells and editing.
    virtual void SupplyItemData(ItemID item, PropertyID property, ItemData& data) = 0;
    virtual bool ItemIsEditable(ItemID, PropertyID) { return false; }
    virtual void ChangeItemData(ItemID, PropertyID, const ItemData&) {}

    // True when A sorts before B in the column.
    virtual bool CompareItems(ItemID, ItemID, PropertyID) { return false; }

    virtual void NotifyAboutItem(ItemID, ItemMessage) {}

    // Drags out of the list: true to let ITEM take part. Called for each
    // item as the drag starts; every drag that took items ends with one
    // PostProcessDragFromBrowser before the next drag takes any, so a content
    // may keep its own copy of the items from one to the other.
    virtual bool AddItemToDrag(ItemID) { return false; }
    // The file name proposed to a drop target that saves the dragged items
    // itself (a file manager's folder or Trash, on X11), which then says
    // where they go; empty when they cannot be saved that way.
    virtual std::string DirectSaveName(const std::vector<ItemID>&) { return {}; }
    // Otherwise: files standing for the dragged items, written before the
    // drag starts and offered to the drop target as file URLs; none by default.
    virtual std::vector<std::string> FilesForDrag(const std::vector<ItemID>&) { return {}; }
    // After a drag out ended; DROPFOLDER is the local folder a direct-save
    // target named (the Trash is TrashFolder()), or empty when the drop was
    // refused or went elsewhere. Called once per drag, back in the event loop.
    virtual void PostProcessDragFromBrowser(bool, const std::string&) {}
    // A direct-save target named a place nothing may be written to (the
    // texts say why); nothing was written. Comes just before the above.
    virtual void DropRefused(const std::string&, const std::string&) {}
    // Drags of local files into the list.
    virtual bool DragIsAcceptable(const std::vector<std::string>&) { return false; }
    virtual bool ReceiveDraggedItems(const std::vector<std::string>&) { return false; }

    // Contextual menu; an empty menu shows nothing.
    virtual void SupplyContextualMenu(std::vector<MenuEntry>&) {}
    virtual void ProcessContextualMenuSelection(uint32_t) {}

    // Installs this content on the list.
    void Install(View* view) { mView = view; }
    View* GetView() const { return mView; }

private:
    View* mView = nullptr;
};

class Model;

// The list control ('LIST' in the interface files: a QTreeView whose
// dynamic properties "properties" and "titles" name its columns,
// separated by "|").
class View : public PPx::View {
public:
    View();
    ~View() override;

    void SetContent(Content* content); // takes ownership; the same one is kept
    Content* GetContent() const { return mContent.get(); }

    void AddItems(const std::vector<ItemID>& items);
    void RemoveAllItems();
    void RemoveItems(const std::vector<ItemID>& items);
    void UpdateItems(const std::vector<ItemID>& items); // redraw their cells
    size_t GetItemCount() const;
    std::vector<ItemID> GetItemsInOrder() const;

    void SetSortProperty(PropertyID property);
    PropertyID GetSortProperty() const;
    void SetSortOrderAscending(bool ascending);
    bool GetSortOrderAscending() const;
    // Items already in order are left as they are.
    void Sort();
    // Sizes every column to its content (the rows in view and some around
    // them); the first one takes at most what the others leave of the view's
    // width.
    void AutoSizeColumns();

    void SetSelection(const std::vector<ItemID>& items);
    std::vector<ItemID> GetSelectedItems() const; // in the list's order
    void OpenEditor(ItemID item, PropertyID property);
    void RevealItem(ItemID item);

    UserState GetUserState() const;
    void SetUserState(const UserState& state);

    std::vector<PropertyID> GetProperties() const;

protected:
    bool Accepts(const QWidget* widget) const override;
    void Connect() override;

private:
    friend class Model;
    std::unique_ptr<Content> mContent;
    Model* mModel = nullptr; // owned by the widget
    bool mAutoSizing = false;
};

} // namespace DataBrowser

class NibDataBrowserView : public DataBrowser::View {
public:
    // Binds the list and installs CONTENT on it (ownership passes to the view).
    static NibDataBrowserView* CreatePPxView(SysWindow window, uint32_t signature, int32_t id,
                                             DataBrowser::Content* content);
    virtual void Initialize(SysWindow window, const ControlID& id, DataBrowser::Content* content);
    using DataBrowser::View::Initialize;

    uint32_t GetSelectedCount() const;
    DataBrowser::ItemID GetFirstSelectedItem() const;
    DataBrowser::ItemID GetNextSelectedItem(DataBrowser::ItemID item) const;
};

} // namespace PPx
