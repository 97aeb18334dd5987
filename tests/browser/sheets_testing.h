#pragma once
// What the sheet and toolbar tests share: the application, an owner window,
// the controls of a sheet by signature and a clock the tests move.
#include "app/NibWindow.h"
#include "platform/core/Timer.h"
#include "platform/ui/Application.h"
#include "platform/ui/Views.h"
#include "platform/ui/testing/Testing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace sheetstest {

inline std::atomic<uint32_t> gTicks{1000};
inline uint32_t FakeTicks() {
    return gTicks.load();
}

// Seconds in whole ticks.
inline void Advance(double seconds) {
    gTicks += static_cast<uint32_t>(seconds * 60);
}

inline PPx::View* Control(PPx::Window* window, uint32_t signature) {
    return PPx::View::FromWidget(PPx::FindControl(window->GetSysWindow(), signature));
}

inline std::string Text(PPx::Window* window, uint32_t signature) {
    PPx::View* view = Control(window, signature);
    return view ? view->GetText() : "<no control>";
}

inline bool Enabled(PPx::Window* window, uint32_t signature) {
    PPx::View* view = Control(window, signature);
    return view && view->IsEnabled();
}

// An owner window on screen and the fake clock, for every test.
class SheetTest : public ::testing::Test {
protected:
    void SetUp() override {
        PPx::UIApplication::EnsureForTests();
        gTicks = 1000;
        PPx::SetTickSource(&FakeTicks);
        mOwner = PPx::MakeNibWindow<NibWindow>(PPx::SysNib(), "ConnectWindow");
        ASSERT_NE(mOwner, nullptr);
        mOwner->Show();
    }
    void TearDown() override {
        delete mOwner;
        PPx::Testing::ProcessEvents();
        PPx::SetTickSource(nullptr);
    }

    NibWindow* mOwner = nullptr;
};

} // namespace sheetstest
