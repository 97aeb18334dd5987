#pragma once
// Driving windows and sheets offscreen as the user does, and what the
// bookmark list window fixtures have in common.
#include "platform/ui/DataBrowser.h"
#include "platform/ui/Views.h"
#include "platform/ui/Window.h"
#include "platform/ui/testing/Testing.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

inline PPx::View* Control(PPx::Window* window, uint32_t signature) {
    return PPx::View::FromWidget(PPx::FindControl(window->GetSysWindow(), signature));
}

inline void SetField(PPx::Window* window, uint32_t signature, const std::string& text) {
    PPx::View* view = Control(window, signature);
    ASSERT_NE(view, nullptr);
    view->SetText(text);
}

// Clicks the control and answers the alert it brings up with BUTTON.
inline PPx::Testing::AlertInfo ClickForAlert(PPx::Window* window, uint32_t signature,
                                             const std::string& button = "OK") {
    auto info = std::make_shared<PPx::Testing::AlertInfo>();
    PPx::Testing::Later([info, button] {
        *info = PPx::Testing::CurrentAlert();
        PPx::Testing::ClickAlertButton(button);
    });
    PPx::Testing::ClickControl(window->GetSysWindow(), signature);
    PPx::Testing::ProcessEvents();
    return *info;
}

template <class T> std::vector<T*> WindowsOf() {
    std::vector<T*> found;
    for (PPx::Window* window : PPx::Window::AllWindows())
        if (T* typed = dynamic_cast<T*>(window))
            found.push_back(typed);
    return found;
}

// One configuration folder for the process (the preference values are read
// from it once).
inline TempDir& ConfigDir() {
    static TempDir dir;
    return dir;
}

// A window listing bookmarks (WINDOW) whose editing sheet is SHEET; the
// derived fixture makes the window.
template <class Window, class Sheet> class BookmarkListTest : public ::testing::Test {
protected:
    // The list item of the bookmark named NAME.
    uint32_t Item(const std::string& name) {
        const auto& list = window->GetBookmarks();
        for (size_t i = 0; i < list.size(); ++i)
            if (list[i].name == name)
                return static_cast<uint32_t>(i + 1);
        ADD_FAILURE() << "no bookmark " << name;
        return 0;
    }
    void Select(const std::vector<std::string>& names) {
        std::vector<uint32_t> items;
        for (const std::string& name : names)
            items.push_back(Item(name));
        window->GetList()->SetSelection(items);
        PPx::Testing::ProcessEvents();
    }
    // The selection dragged out of the list and dropped on FOLDER, as the
    // list's drag tells the content.
    void DropSelectionOn(const std::string& folder) {
        PPx::DataBrowser::Content* content = window->GetList()->GetContent();
        for (uint32_t item : window->GetList()->GetSelectedItems())
            content->AddItemToDrag(item);
        content->PostProcessDragFromBrowser(true, folder);
    }
    // Runs ACTION inside the sheet that clicking SIGNATURE brings up.
    void WithSheet(uint32_t signature, std::function<void(Sheet*)> action) {
        bool ran = false;
        PPx::Testing::Later([&] {
            auto sheets = WindowsOf<Sheet>();
            ASSERT_EQ(sheets.size(), 1u);
            ran = true;
            action(sheets[0]);
        });
        PPx::Testing::ClickControl(window->GetSysWindow(), signature);
        PPx::Testing::ProcessEvents();
        EXPECT_TRUE(ran);
    }

    TempDir& config = ConfigDir();
    Window* window = nullptr;
};

} // namespace testsupport
