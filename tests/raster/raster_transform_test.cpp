// Transformations, against PIL's results of the same operations where PIL
// has them and against small hand-computed pictures where it has not.
#include "tests/raster/raster_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

std::string RefPath(const std::string& name) {
    const char* d = std::getenv("RASTER_TRANSFORMS");
    return std::string(d ? d : ".") + "/" + name;
}

// A picture from the reference files, as a 24-bit image.
CRaster Load(const std::string& name) {
    CRaster img(0);
    EXPECT_TRUE(FromReference(img, ReadReference(RefPath(name)))) << name;
    return img;
}

std::string Against(const CRaster& img, const std::string& name, int tolerance = 0) {
    return Compare(img, ReadReference(RefPath(name)), tolerance);
}

// An 8-bit image with the grey ramp and the given indexes, bottom row first.
CRaster Grey(long w, long h, std::initializer_list<int> values) {
    CRaster img(unsigned(w), unsigned(h), 8, 0);
    img.SetGrayPalette();
    long i = 0;
    for (int v : values) {
        img.SetPixelIndex(i % w, i / w, uint8_t(v));
        i++;
    }
    return img;
}

TEST(Transform, TurnsMatchPIL) {
    CRaster src = Load("src.ref");
    CRaster r(src);
    ASSERT_TRUE(r.Rotate180());
    EXPECT_EQ(Against(r, "rot180.ref"), "");
    ASSERT_TRUE(r.Rotate180());
    EXPECT_EQ(CompareImages(r, src), "");

    // Free rotation by quarter and half turns maps pixels one to one:
    // positive angles turn clockwise.
    CRaster out(0);
    ASSERT_TRUE(src.Rotate(90, &out));
    EXPECT_EQ(out.head.biWidth, src.head.biHeight);
    EXPECT_EQ(Against(out, "rot90cw.ref"), "");
    CRaster right(0);
    ASSERT_TRUE(src.RotateRight(&right));
    EXPECT_EQ(CompareImages(out, right), "");
    ASSERT_TRUE(src.Rotate(-90, &out));
    EXPECT_EQ(Against(out, "rot90ccw.ref"), "");
    ASSERT_TRUE(src.Rotate(180, &out));
    EXPECT_EQ(Against(out, "rot180.ref"), "");
    ASSERT_TRUE(src.Rotate(360 + 180, &out));
    EXPECT_EQ(Against(out, "rot180.ref"), "");
    EXPECT_EQ(Against(src, "src.ref"), "");

    // Palette images turn by index.
    CRaster pal(5, 3, 4, 0);
    pal.SetStdPalette();
    for (int i = 0; i < 15; i++)
        pal.SetPixelIndex(i % 5, i / 5, uint8_t(i));
    CRaster turned(0), byQuarter(0);
    ASSERT_TRUE(pal.Rotate(-90, &turned));
    ASSERT_TRUE(pal.RotateLeft(&byQuarter));
    ASSERT_EQ(turned.head.biBitCount, 4);
    EXPECT_EQ(CompareImages(turned, byQuarter), "");
}

TEST(Transform, FreeRotationMatchesPIL) {
    CRaster smooth = Load("smooth.ref");
    // Outside the picture: black, as PIL fills.
    smooth.info.backgroundIndex = 0;
    smooth.info.backgroundColor = tagRGBQUAD{0, 0, 0, 0};
    ASSERT_TRUE(smooth.Rotate(30));
    Reference ref = ReadReference(RefPath("smooth_rot30.ref"));
    ASSERT_TRUE(ref.ok());
    EXPECT_NEAR(smooth.head.biWidth, ref.width, 1);
    EXPECT_NEAR(smooth.head.biHeight, ref.height, 1);
    // Sampling at pixel centres as PIL does: all but edge pixels agree
    // within the step between neighbours.
    long same = 0, total = 0;
    for (int y = 0; y < std::min<int>(ref.height, smooth.head.biHeight); y++) {
        for (int x = 0; x < std::min<int>(ref.width, smooth.head.biWidth); x++) {
            const uint8_t* p = &ref.pixels[size_t(y * ref.width + x) * 3];
            tagRGBQUAD c = smooth.GetPixelColor(x, smooth.head.biHeight - 1 - y);
            total++;
            if (std::abs(c.rgbRed - p[0]) <= 12 && std::abs(c.rgbGreen - p[1]) <= 12 &&
                std::abs(c.rgbBlue - p[2]) <= 12)
                same++;
        }
    }
    EXPECT_GT(double(same) / double(total), 0.97) << same << " of " << total;
}

TEST(Transform, CropNegativeMatchPIL) {
    CRaster src = Load("src.ref");
    CRaster out(0);
    ASSERT_TRUE(src.Crop(5, 3, 30, 20, &out));
    EXPECT_EQ(Against(out, "crop.ref"), "");
    ASSERT_TRUE(src.Crop(30, 20, 5, 3, &out));
    EXPECT_EQ(Against(out, "crop.ref"), "");
    EXPECT_FALSE(src.Crop(7, 3, 7, 20, &out));
    // Outside the picture everything clamps: the whole image.
    ASSERT_TRUE(src.Crop(-100, -100, 1000, 1000, &out));
    EXPECT_EQ(Against(out, "src.ref"), "");

    CRaster neg(src);
    ASSERT_TRUE(neg.Negative());
    EXPECT_EQ(Against(neg, "invert.ref"), "");

    // Palette images keep palette and transparency; 1-bit rows by pixel.
    CRaster bw(19, 4, 1, 0);
    bw.SetGrayPalette();
    for (long x = 0; x < 19; x++)
        bw.SetPixelIndex(x, 1, uint8_t(x % 3 == 0));
    bw.info.backgroundIndex = 1;
    ASSERT_TRUE(bw.Crop(2, 1, 17, 3, &out));
    ASSERT_EQ(out.head.biWidth, 15);
    EXPECT_EQ(out.info.backgroundIndex, 1);
    for (long x = 0; x < 15; x++)
        EXPECT_EQ(out.GetPixelIndex(x, 0), (x + 2) % 3 == 0) << x;
    // A grey palette inverts its indexes, a colour one its entries.
    CRaster g = Grey(2, 1, {10, 200});
    ASSERT_TRUE(g.Negative());
    EXPECT_EQ(g.GetPixelIndex(0, 0), 245);
    EXPECT_EQ(g.GetPixelIndex(1, 0), 55);
    CRaster c(2, 1, 4, 0);
    c.SetStdPalette();
    c.SetPixelIndex(1, 0, 9);
    ASSERT_TRUE(c.Negative());
    EXPECT_EQ(c.GetPixelIndex(1, 0), 9);
    EXPECT_EQ(c.GetPixelColor(1, 0).rgbRed, 0);
    EXPECT_EQ(c.GetPixelColor(1, 0).rgbBlue, 255);
}

TEST(Transform, ResampleMatchesPIL) {
    CRaster src = Load("src.ref");
    CRaster out(0);
    ASSERT_TRUE(src.Resample(37 * 3, 24 * 3, 1, &out));
    EXPECT_EQ(Against(out, "up3.ref"), "");

    // Shrinking a 24-bit image averages the area each pixel covers.
    CRaster part(0);
    ASSERT_TRUE(src.Crop(0, 0, 36, 24, &part));
    ASSERT_TRUE(part.Resample(9, 8, 0, &out));
    EXPECT_EQ(Against(out, "reduce4x3.ref", 1), "");

    // The same size copies; this image stays as it was.
    ASSERT_TRUE(src.Resample(37, 24, 1, &out));
    EXPECT_EQ(CompareImages(out, src), "");
    EXPECT_EQ(Against(src, "src.ref"), "");

    // Bilinear, by hand: 0 and 200 stretched to four pixels.
    CRaster g = Grey(2, 1, {0, 200});
    ASSERT_TRUE(g.Resample(4, 1, 0));
    EXPECT_EQ(g.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(g.GetPixelIndex(1, 0), 100);
    EXPECT_EQ(g.GetPixelIndex(2, 0), 200);
    EXPECT_EQ(g.GetPixelIndex(3, 0), 200);

    // The B-spline weights: 2/3 at the centre, 1/6 one step off, nothing
    // from two steps; a flat picture stays flat.
    EXPECT_NEAR(CRaster::b3spline(0), 2.0 / 3, 1e-6);
    EXPECT_NEAR(CRaster::b3spline(1), 1.0 / 6, 1e-6);
    EXPECT_NEAR(CRaster::b3spline(-1), 1.0 / 6, 1e-6);
    EXPECT_NEAR(CRaster::b3spline(2), 0, 1e-6);
    CRaster flat(0);
    ASSERT_TRUE(part.Crop(0, 0, 36, 24, &flat));
    for (long y = 0; y < 24; y++)
        for (long x = 0; x < 36; x++)
            flat.SetPixelColor(x, y, tagRGBQUAD{40, 90, 160, 0});
    ASSERT_TRUE(flat.Resample(50, 7, 2));
    for (long y = 0; y < 7; y++)
        for (long x = 0; x < 50; x++)
            ASSERT_NEAR(flat.GetPixelColor(x, y).rgbRed, 160, 1) << x << "," << y;
}

TEST(Transform, BadSizesAndNumbersAreRefused) {
    CRaster src = Load("src.ref");
    CRaster keep(src);
    CRaster out(0);
    EXPECT_FALSE(src.Resample(0, 10, 1));
    EXPECT_FALSE(src.Resample(10, -3, 2));
    EXPECT_FALSE(src.Resample(1L << 20, 1L << 20, 0));
    EXPECT_FALSE(src.Resample(1L << 40, 1, 1));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_FALSE(src.Rotate(nan));
    EXPECT_FALSE(src.Rotate(inf));
    EXPECT_FALSE(src.Skew(nan, 0));
    EXPECT_FALSE(src.Skew(0, -inf));
    EXPECT_EQ(CompareImages(src, keep), "");
    // Enormous but finite numbers are clamped, never undefined.
    ASSERT_TRUE(src.Skew(1e30f, -1e30f, LONG_MAX, LONG_MIN));
    ASSERT_TRUE(keep.Crop(LONG_MIN, LONG_MIN, LONG_MAX, LONG_MAX, &out));
    EXPECT_TRUE(out.Rotate(1e30f));
    CRaster empty(0);
    EXPECT_FALSE(empty.Crop(0, 0, 1, 1));
    EXPECT_FALSE(empty.Resample(2, 2));
    EXPECT_FALSE(empty.Rotate(3));
    EXPECT_EQ(empty.Deskew(), 0);
}

TEST(Transform, SkewByHand) {
    // Target (x, y) takes source (x + y * xgain, y): row 1 shifts by one.
    CRaster g = Grey(4, 2, {1, 2, 3, 4, 5, 6, 7, 8});
    g.info.backgroundIndex = 99;
    ASSERT_TRUE(g.Skew(1, 0, 0, 0));
    const int want[2][4] = {{1, 2, 3, 4}, {6, 7, 8, 99}};
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 4; x++)
            EXPECT_EQ(g.GetPixelIndex(x, y), want[y][x]) << x << "," << y;
    // Pivot on row 1: row 0 shifts the other way.
    CRaster h = Grey(4, 2, {1, 2, 3, 4, 5, 6, 7, 8});
    h.info.backgroundIndex = 99;
    ASSERT_TRUE(h.Skew(1, 0, 0, 1));
    EXPECT_EQ(h.GetPixelIndex(0, 0), 99);
    EXPECT_EQ(h.GetPixelIndex(1, 0), 1);
    EXPECT_EQ(h.GetPixelIndex(0, 1), 5);
}

TEST(Transform, GreyDitherAndDepthByHand) {
    CRaster rgb(3, 1, 24, 0);
    rgb.SetPixelColor(0, 0, tagRGBQUAD{0, 0, 255, 0});
    rgb.SetPixelColor(1, 0, tagRGBQUAD{0, 255, 0, 0});
    rgb.SetPixelColor(2, 0, tagRGBQUAD{255, 0, 0, 0});
    ASSERT_TRUE(rgb.GrayScale());
    ASSERT_EQ(rgb.head.biBitCount, 8);
    EXPECT_TRUE(rgb.IsGrayScale());
    EXPECT_EQ(rgb.GetPixelIndex(0, 0), 76); // (255 * 306) >> 10
    EXPECT_EQ(rgb.GetPixelIndex(1, 0), 149);
    EXPECT_EQ(rgb.GetPixelIndex(2, 0), 29);

    CRaster pal(2, 1, 4, 0);
    pal.SetStdPalette();
    pal.SetPixelIndex(0, 0, 12); // blue
    pal.SetPixelIndex(1, 0, 15); // white
    pal.info.backgroundIndex = 12;
    ASSERT_TRUE(pal.GrayScale());
    ASSERT_EQ(pal.head.biBitCount, 8);
    EXPECT_EQ(pal.GetPixelIndex(0, 0), 29);
    EXPECT_EQ(pal.GetPixelIndex(1, 0), 255);
    EXPECT_EQ(pal.info.backgroundIndex, 29);

    // Ordered dither of mid grey: level 8 of 16, half the matrix white.
    CRaster mid(4, 4, 8, 0);
    mid.SetGrayPalette();
    mid.Clear(128);
    ASSERT_TRUE(mid.Dither(1));
    ASSERT_EQ(mid.head.biBitCount, 1);
    int white = 0;
    for (long y = 0; y < 4; y++)
        for (long x = 0; x < 4; x++)
            white += mid.GetPixelIndex(x, y);
    EXPECT_EQ(white, 8);
    EXPECT_EQ(mid.GetPixelColor(0, 0).rgbRed + mid.GetPixelColor(1, 0).rgbRed, 255);

    // Floyd-Steinberg: 100 is black and pushes 7/16 of 100 onto its right
    // neighbour, which then passes 128.
    CRaster fs = Grey(3, 1, {100, 100, 0});
    ASSERT_TRUE(fs.Dither(0));
    EXPECT_EQ(fs.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(fs.GetPixelIndex(1, 0), 1);
    EXPECT_EQ(fs.GetPixelIndex(2, 0), 0);

    // Depth reduction of a grey ramp to black and white: the nearer colour.
    CRaster ramp(256, 1, 8, 0);
    ramp.SetGrayPalette();
    for (long x = 0; x < 256; x++)
        ramp.SetPixelIndex(x, 0, uint8_t(x));
    CRaster r1(ramp);
    ASSERT_TRUE(r1.DecreaseBpp(1, false));
    for (long x = 0; x < 256; x++)
        ASSERT_EQ(r1.GetPixelIndex(x, 0), x >= 128 ? 1 : 0) << x;
    EXPECT_FALSE(r1.DecreaseBpp(4, false));
    EXPECT_TRUE(r1.DecreaseBpp(1, false));
    // With error diffusion a flat grey comes out about as bright on average.
    CRaster flat(64, 64, 24, 0);
    for (long y = 0; y < 64; y++)
        for (long x = 0; x < 64; x++)
            flat.SetPixelColor(x, y, tagRGBQUAD{100, 100, 100, 0});
    ASSERT_TRUE(flat.DecreaseBpp(1, true));
    int ones = 0;
    for (long y = 0; y < 64; y++)
        for (long x = 0; x < 64; x++)
            ones += flat.GetPixelIndex(x, y);
    EXPECT_NEAR(ones / 4096.0, 100 / 255.0, 0.12);
    // Colours of the standard palette land on their own entries.
    CRaster std4(16, 1, 24, 0);
    CRaster ref16(1, 1, 4, 0);
    ref16.SetStdPalette();
    for (int i = 0; i < 16; i++)
        std4.SetPixelColor(i, 0, ref16.GetPaletteColor(uint8_t(i)));
    ASSERT_TRUE(std4.DecreaseBpp(4, false));
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(std4.GetPixelIndex(i, 0), i);
}

// Depth reduction must pick exactly what GetNearestIndex picks, ties to
// the earlier entry included, for any palette.
TEST(Transform, DepthReductionPicksTheNearestEntry) {
    std::srand(5);
    tagRGBQUAD pal[256];
    for (int i = 0; i < 256; i++)
        pal[i] = tagRGBQUAD{uint8_t(std::rand() & 0xF8), uint8_t(std::rand() & 0xF0),
                            uint8_t(std::rand() & 0xE0), 0};
    pal[200] = pal[3]; // a duplicate: the earlier entry wins
    CRaster img(160, 100, 24, 0);
    for (long y = 0; y < 100; y++)
        for (long x = 0; x < 160; x++)
            img.SetPixelColor(
                x, y,
                tagRGBQUAD{uint8_t(std::rand()), uint8_t(std::rand()), uint8_t(std::rand()), 0});
    img.SetPixelColor(0, 0, pal[3]);
    CRaster reduced(img);
    ASSERT_TRUE(reduced.DecreaseBpp(8, false, pal));
    CRaster probe(1, 1, 8, 0);
    probe.SetPalette(pal, 256);
    for (long y = 0; y < 100; y++)
        for (long x = 0; x < 160; x++)
            ASSERT_EQ(reduced.GetPixelIndex(x, y), probe.GetNearestIndex(img.GetPixelColor(x, y)))
                << x << "," << y;
    EXPECT_EQ(reduced.GetPixelIndex(0, 0), 3);
}

TEST(Transform, DeskewFindsTheTurn) {
    CRaster page = Load("page.ref");
    EXPECT_NEAR(page.Deskew(), 0, 0.11);
    // Turned 2 degrees counter-clockwise: Rotate(2), clockwise, undoes it.
    CRaster ccw = Load("page_ccw2.ref");
    EXPECT_NEAR(ccw.Deskew(), 2, 0.11);
    CRaster cw = Load("page_cw2.ref");
    EXPECT_NEAR(cw.Deskew(), -2, 0.11);
    // Narrow pictures still work.
    CRaster narrow(0);
    ASSERT_TRUE(page.Crop(0, 0, 60, 300, &narrow));
    EXPECT_NEAR(narrow.Deskew(), 0, 1.0);
}

} // namespace
