#include "app/WindowState.h"

#include "platform/core/Preferences.h"
#include "platform/ui/DataBrowser.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Views.h"

std::vector<uint8_t> EncodeWindowState(const PPx::Rect& bounds) {
    std::vector<uint8_t> value;
    for (int16_t v : {bounds.top, bounds.left, bounds.bottom, bounds.right}) {
        uint16_t u = static_cast<uint16_t>(v);
        value.push_back(static_cast<uint8_t>(u >> 8));
        value.push_back(static_cast<uint8_t>(u & 0xFF));
    }
    return value;
}

bool DecodeWindowState(const std::vector<uint8_t>& value, PPx::Rect& bounds) {
    if (value.size() < 8)
        return false;
    auto at = [&value](size_t i) {
        return static_cast<int16_t>(static_cast<uint16_t>((value[i] << 8) | value[i + 1]));
    };
    bounds = PPx::Rect{at(0), at(2), at(4), at(6)};
    return true;
}

void SaveWindowState(PPx::Window& window, const std::string& key) {
    if (window.IsCollapsed())
        return;
    PPx::Rect bounds;
    try {
        bounds = window.GetContentBounds();
    } catch (const PPx::OSError&) {
        return;
    }
    PPx::SetAppValue(key, PPx::PropertyList::Data(EncodeWindowState(bounds)));
    PPx::SynchronizeAppValues();
}

void LoadWindowState(PPx::Window& window, const std::string& key, bool sizeOnly) {
    std::optional<PPx::PropertyList> value = PPx::CopyAppValue(key);
    if (!value || !value->AsData())
        return;
    PPx::Rect stored;
    if (!DecodeWindowState(*value->AsData(), stored))
        return;
    if (sizeOnly) {
        PPx::Rect current;
        try {
            current = window.GetContentBounds();
        } catch (const PPx::OSError&) {
            return;
        }
        stored = PPx::Rect{current.top, current.left,
                           static_cast<int16_t>(current.top + (stored.bottom - stored.top)),
                           static_cast<int16_t>(current.left + (stored.right - stored.left))};
    }
    window.SetContentBounds(stored);
    window.ConstrainToScreen();
}

PPx::OSStatus StandardCursorRule(PPx::View* under, PPx::ThemeCursor& cursor) {
    cursor = PPx::ThemeCursor::Arrow;
    if (!under)
        return PPx::eventNotHandledErr;
    if (dynamic_cast<PPx::EditUnicodeText*>(under) && under->IsEnabled())
        cursor = PPx::ThemeCursor::IBeam;
    return PPx::noErr;
}

bool ReportUnreadableAppValues(PPx::PreferenceStore& store) {
    store.Get("");
    std::string aside = store.SetAsidePath();
    if (aside.empty())
        return false;
    PPx::StandardAlert(PPx::kAlertCautionAlert, "Error reading saved window settings",
                       "The file could not be read and was kept as \"" + aside +
                           "\". Window places and list layouts start afresh.");
    return true;
}

void LoadListState(PPx::DataBrowser::View& list, const std::string& key) {
    std::optional<PPx::PropertyList> value = PPx::CopyAppValue(key);
    if (!value || !value->AsDictionary())
        return;
    PPx::DataBrowser::UserState state;
    for (const auto& [name, entry] : *value->AsDictionary())
        if (const int64_t* number = entry.AsInteger())
            state[name] = *number;
    list.SetUserState(state);
}

void SaveListState(PPx::DataBrowser::View& list, const std::string& key) {
    PPx::PlistDict dict;
    for (const auto& [name, number] : list.GetUserState())
        dict.Set(name, PPx::PropertyList::Integer(number));
    PPx::SetAppValue(key, PPx::PropertyList::Dictionary(std::move(dict)));
    PPx::SynchronizeAppValues();
}
