// The viewer's sheet filled from real files made here (images by ImageMagick,
// a PDF written by hand): what it would draw, where, and at what scale; files
// it cannot decode; and the private folder, which never outlives its use.
#include "app/NibWindow.h"
#include "app/WindowState.h"
#include "browser/viewer/ItemViewer.h"
#include "browser/viewer/ViewFolder.h"
#include "browser/viewer/ViewSheet.h"
#include "platform/core/Preferences.h"
#include "platform/ui/Application.h"
#include "platform/ui/testing/Testing.h"
#include "tests/browser/viewer_samples.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        PPx::UIApplication::EnsureForTests();
        char pattern[] = "/tmp/viewer-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        // The sheet remembers its size among the preferences: kept here.
        ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        sheet = ViewSheet::Make();
        ASSERT_NE(sheet, nullptr);
    }
    void TearDown() override {
        if (sheet)
            sheet->Close();
        delete owner;
        PPx::Testing::ProcessEvents();
        ViewFolder::RemoveTree(dir);
    }
    // An image of 200 x 100 made by ImageMagick: the upper half red on the
    // left and blue on the right, the lower half green.
    std::string MakeImage(const std::string& extension) {
        const std::string path = dir + "/picture." + extension;
        const std::string command =
            "/usr/bin/convert -size 100x50 xc:red xc:blue +append \\( -size 200x50 xc:lime \\) "
            "-append " +
            path;
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return path;
    }
    NibWindow* Owner() {
        if (!owner) {
            owner = PPx::MakeNibWindow<NibWindow>(PPx::SysNib(), "ConnectWindow");
            owner->Show();
        }
        return owner;
    }

    std::string dir;
    ViewSheet* sheet = nullptr;
    NibWindow* owner = nullptr;
};

bool Near(uint32_t rgb, uint32_t expected) {
    for (int shift = 0; shift < 24; shift += 8) {
        const int a = (rgb >> shift) & 0xFF, b = (expected >> shift) & 0xFF;
        if (std::abs(a - b) > 40)
            return false;
    }
    return true;
}

} // namespace

TEST_F(ViewerTest, ShowsEveryImageFormatUprightScaledDownAndCentred) {
    for (const char* format : {"bmp", "gif", "ico", "jpg", "png", "tif"}) {
        SCOPED_TRACE(format);
        ViewSheet* each = ViewSheet::Make();
        ASSERT_NE(each, nullptr);
        const std::string path = MakeImage(format);
        ASSERT_EQ(ItemViewer::Fill(*each, path, ReadFile(path)), ItemViewer::kImage);
        PPx::DisplayView* view = each->GetDisplayView();
        EXPECT_TRUE(view->HasImage());
        EXPECT_FALSE(each->PageButtonsVisible());
        EXPECT_FALSE(each->GetTextView()->IsVisible());
        // Top row first: the picture is upright.
        EXPECT_TRUE(Near(view->GetImagePixel(5, 5), 0xFF0000))
            << std::hex << view->GetImagePixel(5, 5);
        EXPECT_TRUE(Near(view->GetImagePixel(195, 5), 0x0000FF));
        EXPECT_TRUE(Near(view->GetImagePixel(100, 95), 0x00FF00));
        int32_t x, y, w, h;
        // Too wide: scaled to the width, aspect kept, centred from top to bottom.
        view->GetDrawnRect(100, 300, x, y, w, h);
        EXPECT_EQ((std::vector<int32_t>{x, y, w, h}), (std::vector<int32_t>{0, 125, 100, 50}));
        // Too high: scaled to the height.
        view->GetDrawnRect(1000, 50, x, y, w, h);
        EXPECT_EQ((std::vector<int32_t>{x, y, w, h}), (std::vector<int32_t>{450, 0, 100, 50}));
        // Room enough: its own size, never enlarged, centred.
        view->GetDrawnRect(400, 300, x, y, w, h);
        EXPECT_EQ((std::vector<int32_t>{x, y, w, h}), (std::vector<int32_t>{100, 100, 200, 100}));
        each->Close();
    }
}

TEST_F(ViewerTest, PdfPagesTurnWithinTheDocument) {
    const std::string path = dir + "/three.pdf";
    WriteFile(path, viewersamples::ThreePagePdf());
    ASSERT_EQ(ItemViewer::Fill(*sheet, path, ReadFile(path)), ItemViewer::kDocument);
    PPx::DisplayView* view = sheet->GetDisplayView();
    EXPECT_EQ(view->GetTotalPDFPages(), 3);
    EXPECT_EQ(view->GetCurrentPDFPage(), 1);
    EXPECT_TRUE(sheet->PageButtonsVisible());
    int32_t x, y, w, h;
    view->GetDrawnRect(200, 600, x, y, w, h); // 400 x 600 into 200 x 600: halved
    EXPECT_EQ((std::vector<int32_t>{x, y, w, h}), (std::vector<int32_t>{0, 150, 200, 300}));

    Owner();
    sheet->Show(owner);
    // Page Up on the first page keeps it; the buttons work as the user clicks them.
    EXPECT_TRUE(PPx::Testing::ClickControl(sheet->GetSysWindow(), 'PGUP'));
    EXPECT_EQ(view->GetCurrentPDFPage(), 1);
    EXPECT_TRUE(PPx::Testing::ClickControl(sheet->GetSysWindow(), 'PGDN'));
    EXPECT_EQ(view->GetCurrentPDFPage(), 2);
    view->GetDrawnRect(200, 600, x, y, w, h); // 100 x 50: not enlarged, centred
    EXPECT_EQ((std::vector<int32_t>{x, y, w, h}), (std::vector<int32_t>{50, 275, 100, 50}));
    for (int i = 0; i < 3; ++i)
        PPx::Testing::ClickControl(sheet->GetSysWindow(), 'PGDN');
    EXPECT_EQ(view->GetCurrentPDFPage(), 3);
    PPx::Testing::ClickControl(sheet->GetSysWindow(), 'PGUP');
    EXPECT_EQ(view->GetCurrentPDFPage(), 2);
    sheet->Hide();
}

TEST_F(ViewerTest, WhatNoDecoderTakesIsShownAsTextOrAnEmptyDocument) {
    struct Case {
        std::string name, bytes;
        ItemViewer::Kind kind;
    };
    const std::string pngHeader("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    const std::vector<Case> cases = {
        {"empty", "", ItemViewer::kText},
        {"four bytes of pdf", "%PDF", ItemViewer::kText},
        {"pdf in name only", "%PDF-1.7 but nothing after", ItemViewer::kDocument},
        {"truncated png", pngHeader, ItemViewer::kText},
        {"gif of no pixels", std::string("GIF89a\0\0\0\0\0\0\0;", 14), ItemViewer::kText},
        {"bmp header only", std::string("BM\x36\0\0\0\0\0\0\0\x36\0\0\0", 14), ItemViewer::kText},
        {"jpeg start only", std::string("\xFF\xD8\xFF\xE0\0\x10JFIF", 10), ItemViewer::kText},
        {"tiff with bad offset", std::string("II*\0\xFF\xFF\xFF\x7F", 8), ItemViewer::kText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ViewSheet* each = ViewSheet::Make();
        ASSERT_NE(each, nullptr);
        const std::string path = dir + "/file";
        WriteFile(path, c.bytes);
        EXPECT_EQ(ItemViewer::Fill(*each, path, ReadFile(path)), c.kind);
        EXPECT_FALSE(each->GetDisplayView()->HasImage());
        if (c.kind == ItemViewer::kDocument)
            EXPECT_EQ(each->GetDisplayView()->GetTotalPDFPages(), 0); // stays white
        else
            EXPECT_TRUE(each->GetTextView()->IsVisible());
        each->Close();
    }
}

TEST_F(ViewerTest, TextIsUtf8WhenValidElseLatin1) {
    EXPECT_EQ(ViewedText("caf\xC3\xA9\n", 6), "caf\xC3\xA9\n");
    // Invalid UTF-8 (a lone byte, an overlong form, a surrogate): every byte
    // a letter of its own.
    EXPECT_EQ(ViewedText("caf\xE9", 4), "caf\xC3\xA9");
    EXPECT_EQ(ViewedText("\xC0\xAF", 2), "\xC3\x80\xC2\xAF");
    EXPECT_EQ(ViewedText("\xED\xA0\x80", 3), "\xC3\xAD\xC2\xA0\xC2\x80");
    EXPECT_EQ(ViewedText("\xF0\x9F\x98", 3), "\xC3\xB0\xC2\x9F\xC2\x98"); // cut short

    const std::string path = dir + "/notes.txt";
    WriteFile(path, "line one\nline two \xE9t\xE9\n");
    ASSERT_EQ(ItemViewer::Fill(*sheet, path, ReadFile(path)), ItemViewer::kText);
    EXPECT_TRUE(sheet->GetTextView()->IsVisible());
    EXPECT_FALSE(sheet->GetDisplayView()->IsVisible());
    EXPECT_FALSE(sheet->PageButtonsVisible());
    EXPECT_EQ(sheet->GetTextView()->GetText(), "line one\nline two \xC3\xA9t\xC3\xA9\n");
}

TEST_F(ViewerTest, DisplayDeletesTheFileOnEveryRoad) {
    sheet->Close();
    sheet = nullptr;
    Owner();
    auto shown = [&](const std::string& name, const std::string& bytes) {
        const std::string path = dir + "/" + name;
        WriteFile(path, bytes);
        bool sawSheet = false;
        PPx::Testing::Later([&] {
            for (PPx::Window* window : PPx::Window::AllWindows())
                if (auto* view = dynamic_cast<ViewSheet*>(window)) {
                    sawSheet = view->IsVisible();
                    PPx::Testing::ClickControl(view->GetSysWindow(), 'okok');
                }
        });
        ItemViewer().Display(owner, dir, name);
        EXPECT_TRUE(sawSheet) << name;
        EXPECT_FALSE(Exists(path)) << name;
    };
    shown("text.txt", "hello\n");
    shown("broken.pdf", "%PDF-not really");
    shown("broken.gif", std::string("GIF89a\x10\0\x10\0", 10));

    // Too large to read: the user is told and the file goes all the same.
    const std::string big = dir + "/huge.bin";
    {
        const int fd = ::open(big.c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(ItemViewer::kMaxViewSize + 1)), 0);
        ::close(fd);
    }
    std::string message;
    PPx::Testing::Later([&] {
        message = PPx::Testing::CurrentAlert().message;
        PPx::Testing::ClickAlertButton("OK");
    });
    ItemViewer().Display(owner, dir, "huge.bin");
    EXPECT_EQ(message, "The file \"huge.bin\" is too large to view.");
    EXPECT_FALSE(Exists(big));

    // A name that is not one plain name is never opened.
    WriteFile(dir + "/kept", "x");
    ItemViewer().Display(owner, dir, "../" + dir.substr(dir.rfind('/') + 1) + "/kept");
    EXPECT_TRUE(Exists(dir + "/kept"));
}

TEST_F(ViewerTest, PrivateFolderIsOursAloneAndNeverOutlivesItsUse) {
    std::string path;
    {
        std::unique_ptr<ViewFolder> folder = ViewFolder::Make();
        ASSERT_NE(folder, nullptr);
        path = folder->Path();
        struct stat st;
        ASSERT_EQ(::lstat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISDIR(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        EXPECT_EQ(path.compare(0, ViewFolder::Base().size(), ViewFolder::Base()), 0);
        WriteFile(path + "/viewed.txt", "x");
        ASSERT_EQ(::mkdir((path + "/sub").c_str(), 0700), 0);
        WriteFile(path + "/sub/inner", "y");
        // A link inside is removed, never followed.
        WriteFile(dir + "/outside", "keep me");
        ASSERT_EQ(::symlink(dir.c_str(), (path + "/link").c_str()), 0);
    }
    EXPECT_FALSE(Exists(path));
    EXPECT_TRUE(Exists(dir + "/outside"));

    // Left behind by a run that is gone: removed at the next start; a running
    // program's folder stays.
    const std::string base = ViewFolder::Base();
    const std::string stale = base + "/zarvel-view-999999999-abcdef";
    const std::string running = base + "/zarvel-view-" + std::to_string(::getppid()) + "-abcdef";
    ASSERT_EQ(::mkdir(stale.c_str(), 0700), 0);
    WriteFile(stale + "/left.pdf", "%PDF");
    ASSERT_EQ(::mkdir(running.c_str(), 0700), 0);
    ViewFolder::RemoveStale();
    EXPECT_FALSE(Exists(stale));
    EXPECT_TRUE(Exists(running));
    ViewFolder::RemoveTree(running);
}

TEST_F(ViewerTest, AFileMovedInWhileTheFolderGoesIsRemovedToo) {
    // A download still ending in its worker when the window closes moves its
    // part file to the file's own name once, at any moment of the removal.
    int survived = 0;
    for (int round = 0; round < 300; ++round) {
        std::string path;
        std::atomic<bool> go{false};
        std::thread mover;
        {
            std::unique_ptr<ViewFolder> folder = ViewFolder::Make();
            ASSERT_NE(folder, nullptr);
            path = folder->Path();
            for (int i = 0; i < 8; ++i)
                WriteFile(path + "/f" + std::to_string(i), "x");
            WriteFile(path + "/.zarvel-part-x", "data");
            mover = std::thread([&go, path] {
                while (!go.load())
                    std::this_thread::yield();
                ::rename((path + "/.zarvel-part-x").c_str(), (path + "/viewed.iso").c_str());
            });
            go = true;
        }
        mover.join();
        if (Exists(path)) {
            ++survived;
            ViewFolder::RemoveTree(path);
        }
    }
    EXPECT_EQ(survived, 0);
}

TEST_F(ViewerTest, RemembersItsPlaceButNotOneOffTheTopOrLeft) {
    Owner();
    const PPx::Rect start = sheet->GetContentBounds();
    const PPx::Rect off{-5, 40, 300, 500}; // top above the screen
    PPx::SetAppValue("ViewWindowState", PPx::PropertyList::Data(EncodeWindowState(off)));
    sheet->LoadWindowState();
    EXPECT_EQ(sheet->GetContentBounds().top, start.top);
    EXPECT_EQ(sheet->GetContentBounds().bottom - sheet->GetContentBounds().top,
              start.bottom - start.top);

    const PPx::Rect good{50, 60, 350, 560};
    PPx::SetAppValue("ViewWindowState", PPx::PropertyList::Data(EncodeWindowState(good)));
    sheet->LoadWindowState();
    const PPx::Rect now = sheet->GetContentBounds();
    EXPECT_EQ(now.bottom - now.top, 300);
    EXPECT_EQ(now.right - now.left, 500);
    sheet->SaveWindowState();
    std::optional<PPx::PropertyList> stored = PPx::CopyAppValue("ViewWindowState");
    ASSERT_TRUE(stored && stored->AsData());
    PPx::Rect back;
    ASSERT_TRUE(DecodeWindowState(*stored->AsData(), back));
    EXPECT_EQ(back.bottom - back.top, 300);
}
