// A second start hands its documents to the running program; toolbars send
// their commands through the window.
#include "platform/core/EventLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/Toolbar.h"
#include "platform/ui/Window.h"
#include "platform/ui/testing/Testing.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

using namespace PPx;

TEST(SecondStart, DocumentsReachTheRunningProgram) {
    UIApplication::EnsureForTests();
    testsupport::TempDir config;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    EXPECT_FALSE(HandDocumentsToRunningProgram({"/a"})); // nobody listens yet

    std::vector<std::vector<std::string>> received;
    ListenForDocuments([&](const std::vector<std::string>& paths) { received.push_back(paths); });
    std::atomic<int> answer{-1};
    std::thread second([&] { answer = HandDocumentsToRunningProgram({"/x/one.zarvel", "/y z"}); });
    EXPECT_TRUE(RunEventLoopUntil([&] { return answer.load() != -1; }, std::chrono::seconds(10)));
    second.join();
    // The documents open from the event loop, after the answer went out.
    EXPECT_TRUE(RunEventLoopUntil([&] { return !received.empty(); }, std::chrono::seconds(10)));
    EXPECT_EQ(answer.load(), 1);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0], (std::vector<std::string>{"/x/one.zarvel", "/y z"}));
}

namespace {

class TestToolbar : public Toolbar {
public:
    TestToolbar() : Toolbar("org.zarvel.test") {}

protected:
    void GetDefaultIdentifiers(std::vector<std::string>& out) override {
        out = {"one", kSeparatorIdentifier, "two", kFlexibleSpaceIdentifier, "unknown"};
    }
    void GetAllowedIdentifiers(std::vector<std::string>& out) override {
        GetDefaultIdentifiers(out);
    }
    bool CreateItem(const std::string& identifier, ToolbarItem& item) override {
        if (identifier != "one" && identifier != "two")
            return false;
        item.label = identifier;
        item.command = identifier == "one" ? 'BTN1' : 'TWO ';
        return true;
    }
};

struct Recorder : CommandProcessDoer {
    std::vector<uint32_t> seen;
    OSStatus DoCommandProcess(uint32_t command) override {
        seen.push_back(command);
        return noErr;
    }
};

} // namespace

TEST(Toolbar, ItemsSendTheirCommandsToTheWindow) {
    UIApplication::EnsureForTests();
    auto* window = MakeNibWindow<NibWindow>(SysNib(), "TestWindow");
    ASSERT_NE(window, nullptr);
    Recorder recorder;
    window->AddCommandHandler(&recorder);
    TestToolbar toolbar;
    toolbar.Attach(window);
    toolbar.Show();
    EXPECT_TRUE(toolbar.HasItem("one"));
    EXPECT_TRUE(toolbar.HasItem("two"));
    EXPECT_FALSE(toolbar.HasItem("unknown"));
    toolbar.ClickItem("one");
    toolbar.SetItemEnabled("two", false);
    EXPECT_FALSE(toolbar.IsItemEnabled("two"));
    toolbar.ClickItem("two"); // disabled: nothing
    toolbar.SetItemEnabled("two", true);
    toolbar.ClickItem("two");
    EXPECT_EQ(recorder.seen, (std::vector<uint32_t>{'BTN1', 'TWO '}));
    window->RemoveHandlers(&recorder);
    delete window;
}
