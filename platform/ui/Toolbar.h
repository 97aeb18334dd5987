#pragma once
// A window toolbar over QToolBar. Items send their commands through the
// window's command path; the only other kinds of item are the separator and
// the flexible space.
#include "platform/ui/Window.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace PPx {

struct ToolbarItem {
    std::string identifier;
    std::string label;
    // A freedesktop icon-theme name, used when the theme has that icon.
    std::string iconName;
    // Our own icon (full path), used otherwise. A missing or unreadable file
    // gives an item without an icon.
    std::string iconFile;
    uint32_t command = 0;
    std::string helpShort; // the tooltip
    std::string helpLong;  // the status-bar text
    bool removable = true;
};

class Toolbar {
public:
    static const char* const kSeparatorIdentifier;
    static const char* const kFlexibleSpaceIdentifier;

    enum : uint32_t { kDisplaySizeDefault = 0, kDisplaySizeNormal = 1, kDisplaySizeSmall = 2 };
    enum : uint32_t {
        kDisplayModeDefault = 0,
        kDisplayModeIconAndLabel = 1,
        kDisplayModeIconOnly = 2,
        kDisplayModeLabelOnly = 3
    };

    explicit Toolbar(const std::string& identifier);
    virtual ~Toolbar();
    Toolbar(const Toolbar&) = delete;
    Toolbar& operator=(const Toolbar&) = delete;

    // Fills the toolbar from the default identifiers and puts it on WINDOW.
    void Attach(Window* window);
    void Show();
    void Hide();
    bool IsShown() const;
    // Kept for a later Attach as well. Unknown values count as the default.
    void SetDisplaySize(uint32_t size);
    void SetDisplayMode(uint32_t mode);
    uint32_t GetDisplaySize() const;
    uint32_t GetDisplayMode() const;

    // Items not (yet) on the bar are left alone.
    void SetItemEnabled(const std::string& identifier, bool enabled);
    bool IsItemEnabled(const std::string& identifier) const;
    bool HasItem(const std::string& identifier) const;
    bool ItemHasIcon(const std::string& identifier) const;
    // The description the item was made from; false when the bar lacks it.
    bool GetItem(const std::string& identifier, ToolbarItem& item) const;
    // What the bar shows, in order, separators and flexible spaces included.
    std::vector<std::string> GetShownIdentifiers() const;
    // Clicks the item as the user would.
    void ClickItem(const std::string& identifier);
    const std::string& GetIdentifier() const { return mIdentifier; }

protected:
    virtual void GetDefaultIdentifiers(std::vector<std::string>& out) = 0;
    virtual void GetAllowedIdentifiers(std::vector<std::string>& out) = 0;
    // Describes the item; false for an identifier it does not know.
    virtual bool CreateItem(const std::string& identifier, ToolbarItem& item) = 0;

private:
    struct Impl;
    std::string mIdentifier;
    std::unique_ptr<Impl> mImpl;
};

} // namespace PPx
