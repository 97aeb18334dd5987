#include "tests/browser/browse_support.h"

#include "platform/core/EventLoop.h"
#include "platform/ui/Application.h"
#include "platform/ui/DataBrowser.h"
#include "platform/ui/Views.h"
#include "platform/ui/testing/Testing.h"
#include "tests/support/servers.h"
#include "tests/support/tempdir.h"

#include <QTimer>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <list>
#include <sys/stat.h>
#include <unistd.h>

namespace browsetest {

void SetUpApplication() {
    // A home of its own too: the sftp tool keeps the servers' host keys
    // there, and each test server start makes a new one.
    static testsupport::TempDir config, home;
    ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
    ::setenv("HOME", home.path().c_str(), 1);
    PPx::UIApplication::EnsureForTests();
}

sBookMarkData ServerBookmark(const std::string& name, const std::string& folder,
                             std::string& root) {
    const testsupport::TestServer server = testsupport::testServer(name);
    char* real = ::realpath(server.root.c_str(), nullptr);
    root = real ? real : server.root;
    std::free(real);
    sBookMarkData b;
    b.name = name;
    b.host = server.host;
    b.port = server.port;
    b.username = server.user;
    b.password = server.password;
    b.dir = folder;
    b.passive = true;
    b.secure = name == "sshd";
    return b;
}

void MakeFile(const std::string& path, size_t size) {
    testsupport::writeFile(path, std::string(size, 'z'));
    ::chmod(path.c_str(), 0644);
}

void MakeFolder(const std::string& path) {
    ::mkdir(path.c_str(), 0755);
    ::chmod(path.c_str(), 0755);
}

void MakeLink(const std::string& target, const std::string& path) {
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
}

void GiveToServer(const std::string& root, const std::string& path) {
    struct stat owner {};
    ASSERT_EQ(::stat(root.c_str(), &owner), 0);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
        (void)::lchown(entry.path().c_str(), owner.st_uid, owner.st_gid);
    (void)::lchown(path.c_str(), owner.st_uid, owner.st_gid);
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

int ModeOf(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 07777) : -1;
}

void RemoveTree(const std::string& path) {
    std::error_code ignored;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path, ignored);
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return PPx::RunEventLoopUntil(done, timeout);
}

bool WaitGone(PPx::Window* window, std::chrono::milliseconds timeout) {
    const WindowHandle<> handle(window);
    return WaitFor([&handle] { return !handle; }, timeout);
}

::testing::AssertionResult WaitIdle(BrowseWindow* window, std::chrono::milliseconds timeout) {
    const WindowHandle<BrowseWindow> handle(window);
    const bool settled = WaitFor(
        [&handle] {
            BrowseWindow* open = handle.get();
            return !open ||
                   (!open->RequestOutstanding() && open->mCanRefresh && PPx::AppModalDepth() == 0);
        },
        timeout);
    if (!handle)
        return ::testing::AssertionFailure() << "the window closed";
    if (settled)
        return ::testing::AssertionSuccess();
    // What the user would see, so that a failure says why it waited.
    auto failure = ::testing::AssertionFailure();
    failure << "not idle after " << timeout.count()
            << " ms (request out: " << window->RequestOutstanding()
            << ", modal depth: " << PPx::AppModalDepth() << ")";
    const PPx::Testing::AlertInfo alert = PPx::Testing::CurrentAlert();
    if (alert.shown)
        failure << "; alert: \"" << alert.message << "\" " << alert.explanation;
    for (PPx::Window* shown : PPx::Window::AllWindows())
        if (shown != window && shown->IsVisible())
            failure << "; showing " << shown->ClassName();
    return failure;
}

uint32_t ItemNamed(BrowseWindow* window, const std::string& name) {
    const auto& items = window->Items();
    for (size_t i = 0; i < items.size(); ++i)
        if (items[i].name == name)
            return static_cast<uint32_t>(i + 1);
    return 0;
}

void Select(BrowseWindow* window, const std::vector<std::string>& names) {
    std::vector<uint32_t> items;
    for (const std::string& name : names) {
        uint32_t item = ItemNamed(window, name);
        EXPECT_NE(item, 0u) << "no item " << name;
        items.push_back(item);
    }
    window->GetList()->SetSelection(items);
    PPx::Testing::ProcessEvents();
}

std::vector<std::string> Names(BrowseWindow* window) {
    std::vector<std::string> names;
    for (uint32_t item : window->GetList()->GetItemsInOrder())
        if (const sFileInfo* info = window->ItemForID(item))
            names.push_back(info->name);
    return names;
}

struct Responder::Impl {
    struct Handler {
        std::string className; // empty: an alert
        std::function<void(PPx::Window*)> act;
        std::string button;
        std::function<void()> then;
        std::function<void()> whileShown;
    };
    std::list<Handler> handlers;
    QTimer timer;
    Responder* owner = nullptr;

    void Tick() {
        for (auto it = handlers.begin(); it != handlers.end(); ++it) {
            if (it->className.empty()) {
                PPx::Testing::AlertInfo alert = PPx::Testing::CurrentAlert();
                if (!alert.shown)
                    continue;
                owner->alerts.push_back(alert.message);
                owner->explanations.push_back(alert.explanation);
                const std::string button = it->button;
                auto then = std::move(it->then);
                auto whileShown = std::move(it->whileShown);
                handlers.erase(it);
                if (whileShown)
                    whileShown();
                PPx::Testing::ClickAlertButton(button);
                if (then)
                    then();
                return;
            }
            for (PPx::Window* window : PPx::Window::AllWindows()) {
                if (it->className != window->ClassName() || !window->IsVisible())
                    continue;
                Handler handler = std::move(*it);
                handlers.erase(it);
                // From the event loop: the act may open a nested loop of
                // its own, in which this timer must go on answering. A sheet
                // that closed meanwhile (its close is delivered later) is
                // not acted on; the handler waits for the next one.
                QTimer::singleShot(
                    0, &timer,
                    [this, handler = std::move(handler), shown = WindowHandle<>(window)] {
                        PPx::Window* still = shown.get();
                        if (still && still->IsVisible())
                            handler.act(still);
                        else
                            handlers.push_front(handler);
                    });
                return;
            }
        }
    }
};

Responder::Responder() : mImpl(std::make_unique<Impl>()) {
    mImpl->owner = this;
    mImpl->timer.setInterval(20);
    QObject::connect(&mImpl->timer, &QTimer::timeout, [impl = mImpl.get()] { impl->Tick(); });
    mImpl->timer.start();
}

Responder::~Responder() = default;

void Responder::OnSheet(const std::string& className, std::function<void(PPx::Window*)> act) {
    mImpl->handlers.push_back({className, std::move(act), std::string(), nullptr, nullptr});
}

void Responder::OnAlert(const std::string& button, std::function<void()> then,
                        std::function<void()> whileShown) {
    mImpl->handlers.push_back(
        {std::string(), nullptr, button, std::move(then), std::move(whileShown)});
}

int Responder::Pending() const {
    return static_cast<int>(mImpl->handlers.size());
}

void TypeAndClick(PPx::Window* sheet, uint32_t field, const std::string& text, uint32_t button) {
    PPx::View* view = PPx::View::FromWidget(PPx::FindControl(sheet->GetSysWindow(), field));
    ASSERT_NE(view, nullptr);
    view->SetText(text);
    Click(sheet, button);
}

void Click(PPx::Window* sheet, uint32_t button) {
    EXPECT_TRUE(PPx::Testing::ClickControl(sheet->GetSysWindow(), button));
}

} // namespace browsetest
