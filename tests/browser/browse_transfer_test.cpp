// Viewing, downloads and uploads through the real browser window against a
// real server (ZARVEL_BROWSE_SERVER: vsftpd or sshd), answered as a user
// would; both sides are checked on disk, byte for byte.
#include "BrowseWindow.h"
#include "ViewSheet.h"
#include "browse_support.h"

#include "ppxui/DisplayView.h"
#include "ppxui/Testing.h"

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace browsetest;

namespace {

std::string ServerName() {
    const char* name = std::getenv("ZARVEL_BROWSE_SERVER");
    return name ? name : "vsftpd";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (struct dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    return names;
}

class BrowseTransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetUpApplication();
        // The viewer's private folders go here, so that none may be missed.
        char pattern[] = "/tmp/browse-runtime-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        runtime = pattern;
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        char local_pattern[] = "/tmp/browse-local-XXXXXX";
        ASSERT_NE(::mkdtemp(local_pattern), nullptr);
        local = local_pattern;

        folder = "transfer-" + std::to_string(::getpid());
        bookmark = ServerBookmark(ServerName(), folder, root);
        here = root + "/" + folder;
        RemoveTree(here);
        MakeFolder(here);
    }
    void TearDown() override {
        for (PPx::Window* window : PPx::Window::AllWindows())
            if (dynamic_cast<BrowseWindow*>(window))
                delete window;
        PPx::Testing::ProcessEvents();
        RemoveTree(here);
        RemoveTree(local);
        RemoveTree(runtime);
        ::unsetenv("XDG_RUNTIME_DIR");
    }
    void Open() {
        GiveToServer(root, here);
        window = OpenBrowseWindow(bookmark, nullptr);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(WaitIdle(window)) << "no listing";
    }
    void Command(uint32_t command) {
        ASSERT_EQ(window->ProcessCommand(command), PPx::noErr);
        ASSERT_TRUE(WaitIdle(window)) << "command did not finish";
    }

    std::string folder, root, here, local, runtime;
    sBookMarkData bookmark;
    BrowseWindow* window = nullptr;
};

} // namespace

TEST_F(BrowseTransferTest, ViewShowsTheRemoteFileAndLeavesNothingBehind) {
    const std::string command = "/usr/bin/convert -size 120x80 xc:red " + here + "/picture.png";
    ASSERT_EQ(std::system(command.c_str()), 0);
    WriteFile(here + "/notes.txt", "first line\nsecond line\n");
    MakeFile(here + "/gone.txt", 10);
    Open();

    // An image: the sheet shows it at its own size; no transfer sheet.
    int32_t width = 0, height = 0;
    bool transferSheet = false;
    {
        Responder responder;
        responder.OnSheet("TransferSheet", [&](PPx::Window*) { transferSheet = true; });
        responder.OnSheet("ViewSheet", [&](PPx::Window* sheet) {
            auto* view = static_cast<ViewSheet*>(sheet)->GetDisplayView();
            int32_t x, y;
            view->GetDrawnRect(1000, 1000, x, y, width, height);
            Click(sheet, 'okok');
        });
        Select(window, {"picture.png"});
        Command('mVIW');
        EXPECT_EQ(responder.Pending(), 1); // the transfer sheet never came
    }
    EXPECT_FALSE(transferSheet);
    EXPECT_EQ(width, 120);
    EXPECT_EQ(height, 80);
    EXPECT_TRUE(Entries(runtime).empty());

    // A text.
    std::string text;
    {
        Responder responder;
        responder.OnSheet("ViewSheet", [&](PPx::Window* sheet) {
            text = static_cast<ViewSheet*>(sheet)->GetTextView()->GetText();
            Click(sheet, 'okok');
        });
        Select(window, {"notes.txt"});
        Command('mVIW');
    }
    EXPECT_EQ(text, "first line\nsecond line\n");
    EXPECT_TRUE(Entries(runtime).empty());
    EXPECT_EQ(ReadFile(here + "/notes.txt"), "first line\nsecond line\n");

    // A file gone from the server: the failure is told, no viewer opens and
    // the private folder goes.
    ::unlink((here + "/gone.txt").c_str());
    bool viewed = false;
    {
        Responder responder;
        responder.OnAlert();
        responder.OnSheet("ViewSheet", [&](PPx::Window* sheet) {
            viewed = true;
            Click(sheet, 'okok');
        });
        Select(window, {"gone.txt"});
        Command('mVIW');
        EXPECT_EQ(responder.alerts.size(), 1u);
    }
    EXPECT_FALSE(viewed);
    EXPECT_TRUE(Entries(runtime).empty());
}
