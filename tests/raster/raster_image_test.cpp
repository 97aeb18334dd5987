// The image object, its streams, depth change and reorientation.
#include "raster/raster.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

// Fills every pixel from a function of (x, y), through the accessors.
void Fill(CRaster& img, const std::function<uint8_t(long, long)>& f) {
    for (long y = 0; y < img.head.biHeight; y++)
        for (long x = 0; x < img.head.biWidth; x++) {
            if (img.head.biBitCount == 24)
                img.SetPixelColor(
                    x, y, tagRGBQUAD{f(x, y), uint8_t(f(x, y) ^ 0x55), uint8_t(x * 3 + y), 0});
            else
                img.SetPixelIndex(x, y, f(x, y));
        }
}

bool SameColour(tagRGBQUAD a, tagRGBQUAD b) {
    return a.rgbRed == b.rgbRed && a.rgbGreen == b.rgbGreen && a.rgbBlue == b.rgbBlue;
}

TEST(RasterImage, CreateRoundsDepthAndSizes) {
    CRaster img(0);
    ASSERT_NE(img.Create(5, 3, 2, 0), nullptr);
    EXPECT_EQ(img.head.biBitCount, 4);
    EXPECT_EQ(img.head.biClrUsed, 16u);
    ASSERT_NE(img.Create(3, 3, 32, 0), nullptr);
    EXPECT_EQ(img.head.biBitCount, 24);
    EXPECT_EQ(img.head.biClrUsed, 0u);
    EXPECT_EQ(img.effWidth, 12u);
    ASSERT_NE(img.Create(5, 1, 1, 0), nullptr);
    EXPECT_EQ(img.effWidth, 4u);
    ASSERT_NE(img.Create(2, 2, 8, 0), nullptr);
    EXPECT_EQ(img.GetSize(), 1072u);
    // The pixel block starts cleared.
    for (uint32_t i = 0; i < img.head.biSizeImage; i++)
        EXPECT_EQ(img.GetBits()[i], 0);

    EXPECT_EQ(img.Create(0, 5, 8, 0), nullptr);
    EXPECT_EQ(img.dib, nullptr);
    EXPECT_EQ(img.Create(5, 0, 8, 0), nullptr);
    EXPECT_EQ(img.Create(0x80000000ul, 1, 8, 0), nullptr);
    EXPECT_EQ(img.Create(static_cast<unsigned long>(-5L), 5, 8, 0), nullptr);
    // Past the cap on the pixel block: refused without allocating.
    EXPECT_EQ(img.Create(70000, 70000, 24, 0), nullptr);
    EXPECT_EQ(img.Create(1u << 30, 1, 8, 0), nullptr);
}

TEST(RasterImage, PaletteQueries) {
    CRaster none(0);
    EXPECT_FALSE(none.IsGrayScale());
    CRaster rgb(4, 4, 24);
    EXPECT_FALSE(rgb.IsGrayScale());
    CRaster bw(4, 4, 1);
    bw.SetPaletteColor(1, 255, 255, 255);
    EXPECT_FALSE(bw.IsGrayScale());
    bw.SetPaletteColor(1, 1, 1, 1);
    EXPECT_TRUE(bw.IsGrayScale());
    CRaster g(4, 4, 8);
    g.SetGrayPalette();
    EXPECT_TRUE(g.IsGrayScale());
    CRaster c16(4, 4, 4);
    c16.SetStdPalette();
    tagRGBQUAD z = c16.GetPaletteColor(200);
    EXPECT_EQ(z.rgbRed | z.rgbGreen | z.rgbBlue | z.rgbReserved, 0);
    EXPECT_EQ(c16.GetPaletteColor(7).rgbRed, 192);
    unsigned char r = 1;
    EXPECT_FALSE(c16.GetPaletteColor(200, &r, &r, &r));
    EXPECT_EQ(c16.GetNearestIndex(tagRGBQUAD{250, 250, 250, 0}), 15);
}

TEST(RasterImage, CopiesOwnTheirPixels) {
    CRaster a(6, 4, 8);
    a.SetGrayPalette();
    Fill(a, [](long x, long y) { return uint8_t(x * 10 + y); });
    CRaster b(a);
    ASSERT_NE(b.dib, nullptr);
    EXPECT_NE(b.dib, a.dib);
    EXPECT_EQ(std::memcmp(a.dib, b.dib, a.GetSize()), 0);
    b.SetPixelIndex(0, 0, 99);
    EXPECT_EQ(a.GetPixelIndex(0, 0), 0);
    CRaster c(0);
    c = a;
    EXPECT_NE(c.dib, a.dib);
    CRaster& alias = c;
    c = alias;
    EXPECT_EQ(c.GetPixelIndex(5, 3), 53);

    CRaster d(0);
    d.Transfer(b);
    EXPECT_EQ(b.dib, nullptr);
    EXPECT_EQ(d.GetPixelIndex(0, 0), 99);
}

TEST(RasterImage, MemoryStream) {
    uint8_t ten[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    {
        CMemStream s(ten, 10);
        EXPECT_FALSE(s.Seek(-1, 0));
        EXPECT_TRUE(s.Seek(20, 0));
        uint8_t b[4];
        EXPECT_EQ(s.Read(b, 1, 4), 0u);
        EXPECT_TRUE(s.Eof());
        EXPECT_TRUE(s.Seek(8, 0));
        EXPECT_EQ(s.Read(b, 1, 4), 2u);
        EXPECT_EQ(s.GetC(), -1);
        EXPECT_TRUE(s.Close());
    }
    EXPECT_EQ(ten[9], 9); // the borrowed buffer is untouched

    CMemStream none;
    EXPECT_EQ(none.Write(ten, 1, 10), 0u);
    struct Owned : CMemStream {
        int32_t Edge() const { return edge; }
    } owned;
    ASSERT_TRUE(owned.Open());
    std::vector<uint8_t> big(5000, 7);
    EXPECT_EQ(owned.Write(big.data(), 1, big.size()), big.size());
    EXPECT_EQ(owned.Edge(), 8192);
    EXPECT_EQ(owned.Size(), 5000);
}

TEST(RasterImage, IncreaseBppKeepsColours) {
    CRaster g(7, 3, 8);
    g.SetGrayPalette();
    Fill(g, [](long x, long y) { return uint8_t(x * 30 + y); });
    EXPECT_FALSE(g.IncreaseBpp(16));
    EXPECT_TRUE(g.IncreaseBpp(8));
    ASSERT_TRUE(g.IncreaseBpp(24));
    EXPECT_EQ(g.head.biBitCount, 24);
    for (long x = 0; x < 7; x++) {
        tagRGBQUAD c = g.GetPixelColor(x, 2);
        EXPECT_EQ(c.rgbBlue, x * 30 + 2);
        EXPECT_EQ(c.rgbGreen, x * 30 + 2);
        EXPECT_EQ(c.rgbRed, x * 30 + 2);
    }
    EXPECT_FALSE(g.IncreaseBpp(8));
    EXPECT_EQ(g.head.biBitCount, 24);

    for (unsigned from : {1u, 4u}) {
        for (unsigned to : {4u, 8u, 24u}) {
            if (to <= from)
                continue;
            SCOPED_TRACE(std::to_string(from) + "->" + std::to_string(to));
            CRaster p(13, 5, from);
            p.SetStdPalette();
            if (from == 1)
                p.SetPaletteColor(1, 10, 200, 30);
            Fill(p, [from](long x, long y) { return uint8_t((x * 5 + y * 3) % (1 << from)); });
            CRaster q(p);
            ASSERT_TRUE(q.IncreaseBpp(to));
            EXPECT_EQ(q.head.biBitCount, to);
            for (long y = 0; y < 5; y++)
                for (long x = 0; x < 13; x++)
                    ASSERT_TRUE(SameColour(p.GetPixelColor(x, y), q.GetPixelColor(x, y)));
        }
    }
}

TEST(RasterImage, TurnsAndFlipsAtEveryDepth) {
    for (unsigned bpp : {1u, 4u, 8u, 24u}) {
        SCOPED_TRACE(bpp);
        CRaster src(9, 5, bpp);
        src.SetStdPalette();
        if (bpp == 1)
            src.SetPaletteColor(1, 255, 255, 255);
        const int mod = bpp == 24 ? 256 : 1 << bpp;
        Fill(src, [mod](long x, long y) { return uint8_t((x * 7 + y * 13 + x * y) % mod); });
        const long w = 9, h = 5;

        CRaster left(src), right(src), other(0), flip(src), mirror(src);
        ASSERT_TRUE(left.RotateLeft());
        ASSERT_TRUE(right.RotateRight());
        ASSERT_TRUE(flip.Flip());
        ASSERT_TRUE(mirror.Mirror());
        ASSERT_EQ(left.head.biWidth, h);
        ASSERT_EQ(left.head.biHeight, w);
        for (long y = 0; y < h; y++) {
            for (long x = 0; x < w; x++) {
                tagRGBQUAD c = src.GetPixelColor(x, y);
                // Counter-clockwise: (x, y) goes to (h-1-y, x).
                ASSERT_TRUE(SameColour(left.GetPixelColor(h - 1 - y, x), c));
                ASSERT_TRUE(SameColour(right.GetPixelColor(y, w - 1 - x), c));
                ASSERT_TRUE(SameColour(flip.GetPixelColor(x, h - 1 - y), c));
                ASSERT_TRUE(SameColour(mirror.GetPixelColor(w - 1 - x, y), c));
            }
        }
        // Into another image: this one stays as it was.
        CRaster keep(src);
        ASSERT_TRUE(keep.RotateLeft(&other));
        EXPECT_EQ(keep.head.biWidth, w);
        EXPECT_EQ(other.head.biWidth, h);
        ASSERT_TRUE(flip.Flip());
        ASSERT_TRUE(mirror.Mirror());
        EXPECT_EQ(std::memcmp(flip.GetBits(), src.GetBits(), src.head.biSizeImage), 0);
        for (long y = 0; y < h; y++)
            for (long x = 0; x < w; x++)
                ASSERT_EQ(mirror.GetPixelIndex(x, y), src.GetPixelIndex(x, y));
    }
    // The top-left pixel of a 3x2 picture ends at the bottom left.
    CRaster small(3, 2, 8);
    small.SetPixelIndex(0, 1, 42);
    ASSERT_TRUE(small.RotateLeft());
    EXPECT_EQ(small.GetPixelIndex(0, 0), 42);
    CRaster empty(0);
    EXPECT_FALSE(empty.Flip());
    EXPECT_FALSE(empty.Mirror());
    EXPECT_FALSE(empty.RotateRight());
    EXPECT_FALSE(empty.IncreaseBpp(24));
}

} // namespace
