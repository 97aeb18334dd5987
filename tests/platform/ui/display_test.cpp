// The display view: bitmaps in their stored layout, fitting, PDF pages.
#include "platform/ui/Application.h"
#include "platform/ui/DisplayView.h"
#include "platform/ui/Window.h"
#include "tests/support/pdf_file.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <QWidget>

#include <string>
#include <vector>

using namespace PPx;

namespace {

// A one-page PDF of 200 x 100 points, with a correct cross-reference table.
std::string MakePdf(int pages) {
    std::vector<std::string> objects;
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int i = 0; i < pages; ++i)
        kids += std::to_string(3 + i) + " 0 R ";
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) +
                      " >>");
    for (int i = 0; i < pages; ++i)
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] >>");
    return testsupport::pdfOf(objects);
}

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        UIApplication::EnsureForTests();
        window = MakeNibWindow<NibWindow>(SysNib(), "TestWindow");
        ASSERT_NE(window, nullptr);
        view = DisplayView::Create(window->GetSysWindow(), 'STAT');
    }
    void TearDown() override { delete window; }
    NibWindow* window = nullptr;
    DisplayView* view = nullptr;
};

} // namespace

TEST_F(DisplayTest, BitmapsAreReadBottomUpInBlueGreenRed) {
    // Two rows of two pixels, each row padded to eight bytes.
    std::vector<uint8_t> bits = {
        0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0, 0, // bottom row: blue, green
        0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, // top row: red, white
    };
    Bitmap bitmap{2, 2, 24, 8, bits.data(), nullptr, 0};
    ASSERT_TRUE(view->SetImage(bitmap));
    EXPECT_EQ(view->GetImagePixel(0, 0), 0xFF0000u); // top left: red
    EXPECT_EQ(view->GetImagePixel(1, 0), 0xFFFFFFu);
    EXPECT_EQ(view->GetImagePixel(0, 1), 0x0000FFu); // bottom left: blue
    EXPECT_EQ(view->GetImagePixel(1, 1), 0x00FF00u);

    // Depth 1 with a two-colour palette, most significant bit first.
    std::vector<uint8_t> palette = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0};
    std::vector<uint8_t> mono = {0x80, 0, 0, 0};
    ASSERT_TRUE(view->SetImage(Bitmap{3, 1, 1, 4, mono.data(), palette.data(), 2}));
    EXPECT_EQ(view->GetImagePixel(0, 0), 0xFFFFFFu);
    EXPECT_EQ(view->GetImagePixel(1, 0), 0u);

    // A palette image without a palette, or rows too short, is refused.
    EXPECT_FALSE(view->SetImage(Bitmap{3, 1, 8, 4, mono.data(), nullptr, 0}));
    EXPECT_FALSE(view->SetImage(Bitmap{300, 1, 24, 4, bits.data(), nullptr, 0}));
    EXPECT_FALSE(view->HasImage());
}

TEST_F(DisplayTest, PicturesAreScaledDownNeverUp) {
    std::vector<uint8_t> bits(400 * 3 * 100, 0x80);
    ASSERT_TRUE(view->SetImage(Bitmap{400, 100, 24, 1200, bits.data(), nullptr, 0}));
    int32_t x, y, w, h;
    view->GetDrawnRect(200, 200, x, y, w, h);
    EXPECT_EQ(w, 200);
    EXPECT_EQ(h, 50);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 75);
    view->GetDrawnRect(1000, 1000, x, y, w, h);
    EXPECT_EQ(w, 400);
    EXPECT_EQ(h, 100);
    EXPECT_EQ(x, 300);
}

TEST_F(DisplayTest, PdfPagesTurnWithinTheDocument) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("doc.pdf"), MakePdf(3));
    ASSERT_TRUE(view->SetDocument(dir.file("doc.pdf")));
    EXPECT_EQ(view->GetTotalPDFPages(), 3);
    EXPECT_EQ(view->GetCurrentPDFPage(), 1);
    view->PrevPage();
    EXPECT_EQ(view->GetCurrentPDFPage(), 1);
    view->NextPage();
    view->NextPage();
    view->NextPage();
    EXPECT_EQ(view->GetCurrentPDFPage(), 3);
    view->GetWidget()->repaint(); // draws without trouble

    testsupport::writeFile(dir.file("bad.pdf"), "%PDF-garbage");
    EXPECT_FALSE(view->SetDocument(dir.file("bad.pdf")));
    EXPECT_EQ(view->GetTotalPDFPages(), 0);

    TextView* text = CreateScrollTextView(window->GetSysWindow(), 'EDIT');
    text->SetText("plain\ntext");
    EXPECT_EQ(text->GetText(), "plain\ntext");
}
