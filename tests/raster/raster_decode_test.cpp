// Decoders against pictures made at test time by Debian's tools, compared
// with independent decoders, and against files written byte by byte.
#include "raster/raster_codecs.h"
#include "tests/raster/raster_test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include <unistd.h>

namespace {

std::string Img(const std::string& name) {
    return ImagesDir() + "/images/" + name;
}

std::vector<uint8_t> WithSection(const std::vector<uint8_t>& jpeg,
                                 const std::vector<uint8_t>& section);

bool DecodeBytes(CRaster& img, std::vector<uint8_t>& data, unsigned long type) {
    return img.Decode(data.data(), data.size(), type);
}

TEST(RasterDecode, EveryManifestCaseMatchesItsReference) {
    ASSERT_FALSE(ImagesDir().empty()) << "RASTER_IMAGES not set";
    std::ifstream manifest(ImagesDir() + "/manifest.txt");
    ASSERT_TRUE(manifest.good());
    std::string line;
    int cases = 0;
    while (std::getline(manifest, line)) {
        std::istringstream in(line);
        std::string name, ref;
        unsigned long type;
        int frame, bpp, frames, tol;
        in >> name >> type >> frame >> bpp >> frames >> tol >> ref;
        SCOPED_TRACE(name + " frame " + std::to_string(frame));
        cases++;
        std::vector<uint8_t> data = ReadBytes(Img(name));
        ASSERT_FALSE(data.empty());
        CRaster img(0);
        img.info.frame = frame;
        bool ok = DecodeBytes(img, data, type);
        if (frames) {
            EXPECT_EQ(img.info.numFrames, frames);
        }
        if (ref == "FAIL") {
            EXPECT_FALSE(ok);
            EXPECT_EQ(img.dib, nullptr);
            // GIF and ICO fail without a text of their own.
            if (type != kRasterGIF && type != kRasterICO) {
                EXPECT_NE(img.info.lastError[0], 0);
            }
            continue;
        }
        ASSERT_TRUE(ok) << img.info.lastError;
        EXPECT_EQ(img.info.type, type);
        if (bpp) {
            EXPECT_EQ(img.head.biBitCount, bpp);
        }
        Reference r = ReadReference(ImagesDir() + "/refs/" + ref);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(Compare(img, r, tol), "");

        // The same data with the format unknown finds the same decoder.
        if (frame == 0) {
            CRaster any(0);
            ASSERT_TRUE(DecodeBytes(any, data, 0));
            EXPECT_EQ(any.info.type, type);
            EXPECT_EQ(Compare(any, r, tol), "");
        }
    }
    EXPECT_GT(cases, 90);
}

TEST(RasterDecode, DispatchKeepsOldImageAndReportsUnknownData) {
    std::vector<uint8_t> png = ReadBytes(Img("rgb8.png"));
    std::vector<uint8_t> text = ReadBytes(Img("text.txt"));
    CRaster img(0);
    EXPECT_FALSE(DecodeBytes(img, text, 0));
    EXPECT_STREQ(img.info.lastError, "Decode: Unknown or wrong format");
    EXPECT_EQ(img.dib, nullptr);

    ASSERT_TRUE(DecodeBytes(img, png, 0));
    EXPECT_EQ(img.info.type, kRasterPNG);
    uint8_t* kept = img.dib;
    EXPECT_FALSE(DecodeBytes(img, text, 0));
    EXPECT_EQ(img.dib, kept);
    EXPECT_EQ(img.head.biWidth, 37);

    EXPECT_FALSE(DecodeBytes(img, png, 9));
    EXPECT_STREQ(img.info.lastError, "Decode: Unknown or wrong format");
    // A typed decode reports its own decoder's text.
    std::vector<uint8_t> cut = ReadBytes(Img("cut.png"));
    CRaster c(0);
    EXPECT_FALSE(DecodeBytes(c, cut, kRasterPNG));
    EXPECT_STREQ(c.info.lastError, "Read Error");
    std::vector<uint8_t> notTiff = text;
    EXPECT_FALSE(DecodeBytes(c, notTiff, kRasterTIF));
    EXPECT_STREQ(c.info.lastError, "Error encountered while opening TIFF file");
    std::vector<uint8_t> pages = ReadBytes(Img("pages.tif"));
    c.info.frame = 2;
    EXPECT_FALSE(DecodeBytes(c, pages, kRasterTIF));
    EXPECT_STREQ(c.info.lastError, "Error: page not present in TIFF file");
    EXPECT_EQ(c.info.numFrames, 2);
}

TEST(RasterDecode, LoadFromFileAndConstructors) {
    CRaster fromFile(Img("grey8.png").c_str(), kRasterUnknown);
    EXPECT_EQ(fromFile.head.biBitCount, 8);
    CRaster typedWrong(0);
    // Asked for as BMP: the fallback finds it, yet a failure would keep the
    // BMP text.
    EXPECT_TRUE(typedWrong.Load(Img("grey8.png").c_str(), kRasterBMP));
    EXPECT_EQ(typedWrong.info.type, kRasterPNG);
    EXPECT_FALSE(typedWrong.Load(Img("text.txt").c_str(), kRasterBMP));
    EXPECT_STREQ(typedWrong.info.lastError, "Error reading BMP info");
    EXPECT_FALSE(typedWrong.Load("/nonexistent/file.png", kRasterPNG));
    // TIFF through the stdio stream: libtiff reads and seeks through it.
    CRaster tif(Img("pages.tif").c_str(), kRasterTIF);
    ASSERT_NE(tif.dib, nullptr) << tif.info.lastError;
    Reference ref = ReadReference(ImagesDir() + "/refs/rgb.tif.ref");
    EXPECT_EQ(Compare(tif, ref, 0), "");
    CRaster tiled(Img("rgbtiled.tif").c_str(), kRasterTIF);
    ASSERT_NE(tiled.dib, nullptr) << tiled.info.lastError;
    EXPECT_EQ(Compare(tiled, ReadReference(ImagesDir() + "/refs/rgbtiled.tif.ref"), 0), "");
}

TEST(RasterDecode, DecodersPrintNothing) {
    // Broken data of every kind: the libraries' warnings and errors must
    // not reach the program's output.
    std::vector<std::vector<uint8_t>> inputs = {
        ReadBytes(Img("text.txt")), ReadBytes(Img("cutjpg.jpg")), ReadBytes(Img("cut.png")),
        ReadBytes(Img("cut.gif"))};
    std::vector<uint8_t> tif = ReadBytes(Img("grey.tif"));
    tif.resize(tif.size() / 2);
    inputs.push_back(tif);
    std::vector<uint8_t> badExif = WithSection(
        ReadBytes(Img("base.jpg")), {0xFF, 0xE1, 0, 12, 'E', 'x', 'i', 'f', 0, 0, 'X', 'X', 0, 0});
    inputs.push_back(badExif);
    std::fflush(stdout);
    std::fflush(stderr);
    char name[] = "/tmp/raster-output-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    int savedOut = dup(1), savedErr = dup(2);
    dup2(fd, 1);
    dup2(fd, 2);
    for (auto& data : inputs)
        for (unsigned long type = 0; type <= 6; type++) {
            CRaster img(0);
            DecodeBytes(img, data, type);
        }
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(savedOut);
    close(savedErr);
    EXPECT_EQ(lseek(fd, 0, SEEK_END), 0);
    close(fd);
    unlink(name);
}

TEST(RasterDecode, GifDetails) {
    std::vector<uint8_t> data = ReadBytes(Img("anim.gif"));
    CMemStream s(data.data(), long(data.size()));
    CRasterGIF gif;
    ASSERT_TRUE(gif.Decode(&s));
    EXPECT_EQ(gif.GetLoops(), 3);
    char comment[256];
    gif.GetComment(comment);
    EXPECT_STREQ(comment, "made for the tests");
    EXPECT_EQ(gif.info.frameDelay, 7u);

    // A one-frame GIF asked for frame 3 fails and tells how many there are.
    std::vector<uint8_t> one = ReadBytes(Img("pal16.gif"));
    CRaster img(0);
    img.info.frame = 3;
    EXPECT_FALSE(DecodeBytes(img, one, kRasterGIF));
    EXPECT_EQ(img.info.numFrames, 1);
}

// Packs LZW codes of the given widths, least significant bit first, into
// GIF sub-blocks.
std::vector<uint8_t> PackCodes(const std::vector<std::pair<int, int>>& codes) {
    std::vector<uint8_t> bytes;
    uint32_t acc = 0;
    int bits = 0;
    for (auto [code, width] : codes) {
        acc |= uint32_t(code) << bits;
        bits += width;
        while (bits >= 8) {
            bytes.push_back(uint8_t(acc));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits)
        bytes.push_back(uint8_t(acc));
    std::vector<uint8_t> out{uint8_t(bytes.size())};
    out.insert(out.end(), bytes.begin(), bytes.end());
    out.push_back(0);
    return out;
}

std::vector<uint8_t> SmallGif(int minCodeSize, const std::vector<uint8_t>& lzw, bool transparent) {
    std::vector<uint8_t> g = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0x81, 0, 0};
    const uint8_t table[12] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30};
    g.insert(g.end(), table, table + 12);
    if (transparent) {
        const uint8_t gce[] = {0x21, 0xF9, 4, 1, 0, 0, 1, 0};
        g.insert(g.end(), gce, gce + sizeof(gce));
    }
    const uint8_t desc[] = {',', 0, 0, 0, 0, 2, 0, 2, 0, 0};
    g.insert(g.end(), desc, desc + sizeof(desc));
    g.push_back(uint8_t(minCodeSize));
    g.insert(g.end(), lzw.begin(), lzw.end());
    g.push_back(';');
    return g;
}

TEST(RasterDecode, GifFramesComposeWithDisposal1) {
    // Three 2x2 frames; the third asks to be painted over the second and
    // leaves it visible where it is transparent (index 3).
    auto frame = [](std::vector<uint8_t>& g, int a, int b, int c, int d, int disposal,
                    int transparent) {
        const uint8_t gce[] = {0x21,
                               0xF9,
                               4,
                               uint8_t((disposal << 2) | (transparent >= 0)),
                               0,
                               0,
                               uint8_t(transparent < 0 ? 0 : transparent),
                               0};
        g.insert(g.end(), gce, gce + sizeof(gce));
        const uint8_t desc[] = {',', 0, 0, 0, 0, 2, 0, 2, 0, 0, 2};
        g.insert(g.end(), desc, desc + sizeof(desc));
        std::vector<uint8_t> lzw = PackCodes({{4, 3}, {a, 3}, {b, 3}, {c, 3}, {d, 4}, {5, 4}});
        g.insert(g.end(), lzw.begin(), lzw.end());
    };
    std::vector<uint8_t> g = {'G', 'I', 'F', '8', '9', 'a', 2,   0,   2,   0,   0x81, 0,  0,
                              0,   0,   0,   50,  50,  50,  100, 100, 100, 150, 150,  150};
    frame(g, 0, 1, 2, 3, 0, -1);
    frame(g, 1, 1, 1, 1, 0, -1);
    frame(g, 2, 3, 3, 0, 1, 3);
    g.push_back(';');
    CRaster img(0);
    img.info.frame = 2;
    ASSERT_TRUE(DecodeBytes(img, g, kRasterGIF));
    EXPECT_EQ(img.info.numFrames, 3);
    EXPECT_EQ(img.GetPixelIndex(0, 1), 2);
    EXPECT_EQ(img.GetPixelIndex(1, 1), 1);
    EXPECT_EQ(img.GetPixelIndex(0, 0), 1);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 0);
    // Frame 0 has no transparency of its own, whatever later frames carry.
    CRaster first(0);
    ASSERT_TRUE(DecodeBytes(first, g, kRasterGIF));
    EXPECT_EQ(first.info.backgroundIndex, -1);
}

TEST(RasterDecode, GifWithoutGlobalTableComposesInColour) {
    // No global table, a first frame smaller than the screen: every frame
    // is painted by colour onto a 24-bit picture of the screen.
    std::vector<uint8_t> g = {'G', 'I', 'F', '8', '9', 'a', 4, 0, 4, 0, 0, 0, 0};
    auto frame = [&](int left, int top, int a, int b, int c, int d) {
        const uint8_t desc[] = {
            ',', uint8_t(left), 0,  uint8_t(top), 0,  2, 0, 2, 0, 0x81, 255, 0, 0, 0, 255, 0, 0,
            0,   255,           10, 20,           30, 2};
        g.insert(g.end(), desc, desc + sizeof(desc));
        std::vector<uint8_t> lzw = PackCodes({{4, 3}, {a, 3}, {b, 3}, {c, 3}, {d, 4}, {5, 4}});
        g.insert(g.end(), lzw.begin(), lzw.end());
    };
    frame(0, 0, 0, 1, 2, 3);
    frame(2, 2, 1, 1, 1, 1);
    g.push_back(';');
    CRaster img(0);
    ASSERT_TRUE(DecodeBytes(img, g, kRasterGIF));
    ASSERT_EQ(img.head.biBitCount, 24);
    ASSERT_EQ(img.head.biWidth, 4);
    auto at = [&](int x, int row) { return img.GetPixelColor(x, 3 - row); };
    EXPECT_EQ(at(0, 0).rgbRed, 255);
    EXPECT_EQ(at(1, 0).rgbGreen, 255);
    EXPECT_EQ(at(0, 1).rgbBlue, 255);
    EXPECT_EQ(at(1, 1).rgbRed, 10);
    EXPECT_EQ(at(3, 3).rgbGreen, 255);
    EXPECT_EQ(at(2, 2).rgbGreen, 255);
    EXPECT_EQ(at(3, 0).rgbGreen, 0);
}

TEST(RasterDecode, GifOfManyHugeEmptyFramesStops) {
    // 4000x4000 frames of almost no data; past the allocation budget (four
    // times the block cap) the decoder stops with what it has.
    const uint64_t saved = CRaster::maxBlockSize;
    CRaster::maxBlockSize = 17u << 20;
    std::vector<uint8_t> g = {'G', 'I', 'F', '8', '9', 'a', 0xA0, 0x0F, 0xA0, 0x0F, 0x87, 0, 0};
    g.resize(g.size() + 256 * 3, 0x40);
    for (int k = 0; k < 40; k++) {
        const uint8_t desc[] = {',', 0, 0, 0, 0, 0xA0, 0x0F, 0xA0, 0x0F, 0, 8};
        g.insert(g.end(), desc, desc + sizeof(desc));
        std::vector<uint8_t> lzw = PackCodes({{256, 9}, {1, 9}, {257, 9}});
        g.insert(g.end(), lzw.begin(), lzw.end());
    }
    g.push_back(';');
    CRaster img(0);
    img.info.frame = 39;
    EXPECT_TRUE(DecodeBytes(img, g, kRasterGIF));
    EXPECT_EQ(img.info.numFrames, 40);
    EXPECT_EQ(img.head.biWidth, 4000);
    EXPECT_EQ(img.GetPixelIndex(0, 3999), 1);
    CRaster::maxBlockSize = saved;
}

TEST(RasterDecode, GifWrittenByHand) {
    // 2x2 pixels 0 1 / 2 3, transparent index 1: a 4-entry table gives a
    // 4-bit image, its palette padded with white.
    std::vector<uint8_t> lzw = PackCodes({{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 4}, {5, 4}});
    std::vector<uint8_t> gif = SmallGif(2, lzw, true);
    CRaster img(0);
    ASSERT_TRUE(DecodeBytes(img, gif, kRasterGIF));
    EXPECT_EQ(img.head.biBitCount, 4);
    EXPECT_EQ(img.info.backgroundIndex, 1);
    EXPECT_EQ(img.GetPixelIndex(0, 1), 0);
    EXPECT_EQ(img.GetPixelIndex(1, 1), 1);
    EXPECT_EQ(img.GetPixelIndex(0, 0), 2);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 3);
    tagRGBQUAD white = img.GetPaletteColor(9);
    EXPECT_EQ(white.rgbRed + white.rgbGreen + white.rgbBlue, 3 * 255);
    EXPECT_EQ(img.GetPaletteColor(3).rgbRed, 10);

    // A minimum code size of 12 leaves the frame empty, yet succeeds.
    std::vector<uint8_t> bad = SmallGif(12, lzw, false);
    CRaster b(0);
    ASSERT_TRUE(DecodeBytes(b, bad, kRasterGIF));
    EXPECT_EQ(b.GetPixelIndex(1, 0), 0);

    // Codes far beyond the table, and a stream that stops mid-frame.
    std::vector<uint8_t> wild =
        SmallGif(2, PackCodes({{4, 3}, {0, 3}, {7, 3}, {7, 3}, {7, 4}}), false);
    CRaster c(0);
    EXPECT_TRUE(DecodeBytes(c, wild, kRasterGIF));
    std::vector<uint8_t> cut = ReadBytes(Img("cut.gif"));
    CRaster d(0);
    EXPECT_TRUE(DecodeBytes(d, cut, kRasterGIF));
}

std::vector<uint8_t> Bmp(int32_t w, int32_t h, uint16_t bpp, uint32_t comp,
                         const std::vector<uint8_t>& palette, const std::vector<uint8_t>& px) {
    std::vector<uint8_t> b(54);
    auto put16 = [&](size_t at, uint32_t v) {
        b[at] = uint8_t(v);
        b[at + 1] = uint8_t(v >> 8);
    };
    auto put32 = [&](size_t at, uint32_t v) {
        put16(at, v & 0xFFFF);
        put16(at + 2, v >> 16);
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, uint32_t(54 + palette.size() + px.size()));
    put32(10, uint32_t(54 + palette.size()));
    put32(14, 40);
    put32(18, uint32_t(w));
    put32(22, uint32_t(h));
    put16(26, 1);
    put16(28, bpp);
    put32(30, comp);
    put32(34, uint32_t(px.size()));
    b.insert(b.end(), palette.begin(), palette.end());
    b.insert(b.end(), px.begin(), px.end());
    return b;
}

std::vector<uint8_t> GreyPalette(int n) {
    std::vector<uint8_t> p;
    for (int i = 0; i < n; i++) {
        uint8_t v = uint8_t(i * 255 / (n - 1));
        p.insert(p.end(), {v, v, v, 0});
    }
    return p;
}

TEST(RasterDecode, BmpRunLengthClipsToTheBitmap) {
    // RLE4, 8x3: an absolute run of 3 (two data bytes, no pad), one of 5
    // (three data bytes and a pad), an encoded run, a delta.
    std::vector<uint8_t> rle4 = {0, 3, 0x12, 0x30, 0, 5, 0x45, 0x67, 0x80, 0, 0,
                                 0, 4, 0xAB, 0,    2, 1, 1,    2,    0xCD, 0, 1};
    std::vector<uint8_t> data = Bmp(8, 3, 4, 2, GreyPalette(16), rle4);
    CRaster img(0);
    ASSERT_TRUE(DecodeBytes(img, data, kRasterBMP)) << img.info.lastError;
    const uint8_t row0[] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (int x = 0; x < 8; x++)
        EXPECT_EQ(img.GetPixelIndex(x, 0), row0[x]) << x;
    const uint8_t row1[] = {0xA, 0xB, 0xA, 0xB, 0, 0, 0, 0};
    const uint8_t row2[] = {0, 0, 0, 0, 0, 0xC, 0xD, 0};
    for (int x = 0; x < 8; x++) {
        EXPECT_EQ(img.GetPixelIndex(x, 1), row1[x]) << x;
        EXPECT_EQ(img.GetPixelIndex(x, 2), row2[x]) << x;
    }

    // RLE8 whose runs, absolute blocks and deltas point far outside.
    std::vector<uint8_t> rle8 = {255, 7, 0,   6,   1, 2, 3, 4, 5, 6, 0, 0, 200, 9,
                                 0,   2, 250, 200, 3, 1, 0, 3, 1, 2, 3, 0, 0,   1};
    std::vector<uint8_t> d8 = Bmp(4, 2, 8, 1, GreyPalette(256), rle8);
    CRaster r8(0);
    ASSERT_TRUE(DecodeBytes(r8, d8, kRasterBMP));
    for (int x = 0; x < 4; x++)
        EXPECT_EQ(r8.GetPixelIndex(x, 0), 7);
    for (int x = 0; x < 4; x++)
        EXPECT_EQ(r8.GetPixelIndex(x, 1), 9);
}

TEST(RasterDecode, BmpRunLengthOnlyAtItsOwnDepth) {
    // RLE8 runs in a 4-bit bitmap (rows of 4 bytes for 8 pixels) and RLE4 in
    // a 1-bit one would write past the rows: both are refused.
    std::vector<uint8_t> rle8 = {8, 0x11, 0, 1};
    std::vector<uint8_t> d8 = Bmp(8, 1, 4, 1, GreyPalette(16), rle8);
    CRaster a(0);
    EXPECT_FALSE(DecodeBytes(a, d8, kRasterBMP));
    std::vector<uint8_t> rle4 = {8, 0x11, 0, 1};
    std::vector<uint8_t> d4 = Bmp(8, 1, 1, 2, GreyPalette(2), rle4);
    CRaster b(0);
    EXPECT_FALSE(DecodeBytes(b, d4, kRasterBMP));
}

TEST(RasterDecode, BmpRefusesImpossibleSizes) {
    const std::pair<int32_t, int32_t> sizes[] = {{0, 5},         {5, 0},         {-5, 5},
                                                 {5, INT32_MIN}, {INT32_MIN, 5}, {100000, 100000}};
    for (auto [w, h] : sizes) {
        std::vector<uint8_t> data = Bmp(w, h, 24, 0, {}, std::vector<uint8_t>(64, 1));
        CRaster img(0);
        EXPECT_FALSE(DecodeBytes(img, data, kRasterBMP)) << w << "x" << h;
        EXPECT_EQ(img.dib, nullptr);
    }
    // A bare info header, without the file header, decodes.
    std::vector<uint8_t> file = ReadBytes(Img("pal8.bmp"));
    std::vector<uint8_t> bare(file.begin() + 14, file.end());
    CRaster a(0), b(0);
    ASSERT_TRUE(DecodeBytes(a, file, kRasterBMP));
    ASSERT_TRUE(DecodeBytes(b, bare, kRasterBMP));
    EXPECT_EQ(std::memcmp(a.dib, b.dib, a.GetSize()), 0);
    // An OS/2 core header on a file shorter than 40 bytes after it: 2x1, 1 bit.
    std::vector<uint8_t> core = {'B', 'M', 36, 0, 0, 0,   0,   0,   0,    0, 32, 0,
                                 0,   0,   12, 0, 0, 0,   2,   0,   1,    0, 1,  0,
                                 1,   0,   0,  0, 0, 255, 255, 255, 0x40, 0, 0,  0};
    CRaster os2(0);
    ASSERT_TRUE(DecodeBytes(os2, core, kRasterBMP)) << os2.info.lastError;
    EXPECT_EQ(os2.GetPixelIndex(0, 0), 0);
    EXPECT_EQ(os2.GetPixelIndex(1, 0), 1);
    EXPECT_EQ(os2.GetPaletteColor(1).rgbRed, 255);
    // Bit-field masks that overlap or are empty give no negative shift.
    std::vector<uint8_t> masks = {0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
    std::vector<uint8_t> px(8, 0xFF);
    std::vector<uint8_t> bf = Bmp(2, 2, 16, 3, masks, px);
    CRaster c(0);
    EXPECT_TRUE(DecodeBytes(c, bf, kRasterBMP));
}

TEST(RasterDecode, IconTransparencyAndSizes) {
    std::vector<uint8_t> data = ReadBytes(Img("multi.ico"));
    CRaster img(0);
    ASSERT_TRUE(DecodeBytes(img, data, kRasterICO));
    // Three of sixteen colours used: the first unused, 3, is transparent.
    EXPECT_EQ(img.info.backgroundIndex, 3);
    EXPECT_EQ(img.GetPixelIndex(0, 19), 3);
    CRaster bw(0);
    bw.info.frame = 2;
    ASSERT_TRUE(DecodeBytes(bw, data, kRasterICO));
    EXPECT_EQ(bw.head.biBitCount, 1);
    EXPECT_EQ(bw.info.backgroundIndex, -1);
    std::vector<uint8_t> big = ReadBytes(Img("big.ico"));
    CRaster b(0);
    ASSERT_TRUE(DecodeBytes(b, big, kRasterICO));
    EXPECT_EQ(b.head.biWidth, 256);
    EXPECT_EQ(b.head.biHeight, 256);
}

TEST(RasterDecode, PngDetails) {
    CRaster img(0);
    std::vector<uint8_t> d = ReadBytes(Img("grey2.png"));
    ASSERT_TRUE(DecodeBytes(img, d, kRasterPNG));
    EXPECT_EQ(img.GetPaletteColor(1).rgbRed, 85);
    EXPECT_EQ(img.GetPaletteColor(2).rgbRed, 170);
    EXPECT_FALSE(img.IsGrayScale());
    d = ReadBytes(Img("grey8.png"));
    ASSERT_TRUE(DecodeBytes(img, d, kRasterPNG));
    EXPECT_TRUE(img.IsGrayScale());
    EXPECT_EQ(img.info.xDPI, 0);

    d = ReadBytes(Img("trns1.png"));
    ASSERT_TRUE(DecodeBytes(img, d, kRasterPNG));
    EXPECT_EQ(img.info.backgroundIndex, 0);
    EXPECT_FALSE(img.info.alphaPaletteEnabled);
    d = ReadBytes(Img("trnsN.png"));
    ASSERT_TRUE(DecodeBytes(img, d, kRasterPNG));
    EXPECT_EQ(img.info.backgroundIndex, -1);
    EXPECT_TRUE(img.info.alphaPaletteEnabled);
    EXPECT_EQ(img.GetPalette()[1].rgbReserved, 128);
    EXPECT_EQ(img.GetPalette()[9].rgbReserved, 255);

    // Grey with a transparent level keeps its plain grey ramp.
    d = ReadBytes(Img("grey8trns.png"));
    ASSERT_TRUE(DecodeBytes(img, d, kRasterPNG));
    EXPECT_TRUE(img.IsGrayScale());
    EXPECT_EQ(img.GetPalette()[0].rgbReserved, 0);
    EXPECT_EQ(img.info.backgroundIndex, -1);

    d = ReadBytes(Img("dpi.png"));
    ASSERT_TRUE(DecodeBytes(img, d, kRasterPNG));
    EXPECT_EQ(img.info.xDPI, 96);
    EXPECT_EQ(img.info.yDPI, 96);
}

TEST(RasterDecode, TiffDetails) {
    CRaster img(0);
    std::vector<uint8_t> d = ReadBytes(Img("bwwhite.tif"));
    ASSERT_TRUE(DecodeBytes(img, d, kRasterTIF));
    EXPECT_EQ(img.GetPaletteColor(0).rgbRed, 255);
    EXPECT_EQ(img.GetPaletteColor(1).rgbRed, 0);
    // A quarter turn: orientation 6 on a grey page swaps the sides.
    d = ReadBytes(Img("ogrey6.tif"));
    ASSERT_TRUE(DecodeBytes(img, d, kRasterTIF));
    EXPECT_EQ(img.head.biWidth, 23);
    EXPECT_EQ(img.head.biHeight, 37);
}

// Sets a SHORT or LONG tag of the first directory of a little-endian TIFF.
bool PatchTiffTag(std::vector<uint8_t>& t, uint16_t tag, uint32_t value) {
    auto u16 = [&](size_t at) { return uint32_t(t[at] | (t[at + 1] << 8)); };
    auto u32 = [&](size_t at) { return u16(at) | (u16(at + 2) << 16); };
    if (t.size() < 8 || t[0] != 'I')
        return false;
    size_t dir = u32(4);
    const uint32_t n = u16(dir);
    for (uint32_t i = 0; i < n; i++) {
        size_t e = dir + 2 + 12 * i;
        if (u16(e) != tag)
            continue;
        if (u16(e + 2) == 3) {
            t[e + 8] = uint8_t(value);
            t[e + 9] = uint8_t(value >> 8);
        } else {
            for (int k = 0; k < 4; k++)
                t[e + 8 + k] = uint8_t(value >> (8 * k));
        }
        return true;
    }
    return false;
}

TEST(RasterDecode, TiffOddLayouts) {
    Reference ref = ReadReference(ImagesDir() + "/refs/raw.tif.ref");
    // Rows per strip 0 (which libtiff may refuse at once): the whole page
    // or a clean failure.
    std::vector<uint8_t> raw = ReadBytes(Img("raw.tif"));
    ASSERT_TRUE(PatchTiffTag(raw, 278, 0));
    CRaster img(0);
    if (DecodeBytes(img, raw, kRasterTIF)) {
        EXPECT_EQ(Compare(img, ref, 0), "");
    } else {
        EXPECT_EQ(img.dib, nullptr);
        EXPECT_NE(img.info.lastError[0], 0);
    }
    // A tile size of 0 fails cleanly.
    std::vector<uint8_t> tiled = ReadBytes(Img("greytiled.tif"));
    ASSERT_TRUE(PatchTiffTag(tiled, 322, 0));
    CRaster t(0);
    EXPECT_FALSE(DecodeBytes(t, tiled, kRasterTIF));
    EXPECT_EQ(t.dib, nullptr);
    // Strips that claim more bytes than the file holds.
    std::vector<uint8_t> big = ReadBytes(Img("raw.tif"));
    ASSERT_TRUE(PatchTiffTag(big, 279, 0x7FFFFFF0));
    CRaster b(0);
    DecodeBytes(b, big, kRasterTIF);
    // A page wider than the cap is refused before anything is allocated.
    std::vector<uint8_t> wide = ReadBytes(Img("raw.tif"));
    ASSERT_TRUE(PatchTiffTag(wide, 256, 0x7FFFFFFF));
    CRaster w(0);
    EXPECT_FALSE(DecodeBytes(w, wide, kRasterTIF));
}

// Builds an APP1 EXIF section in either byte order: IFD0 with make, model,
// orientation and resolution, an EXIF sub-directory and a thumbnail IFD.
std::vector<uint8_t> ExifApp1(bool motorola, int unit, uint32_t xres, int orientation,
                              bool loop = false) {
    std::vector<uint8_t> t; // TIFF block
    auto p16 = [&](std::vector<uint8_t>& v, uint32_t x) {
        if (motorola)
            v.insert(v.end(), {uint8_t(x >> 8), uint8_t(x)});
        else
            v.insert(v.end(), {uint8_t(x), uint8_t(x >> 8)});
    };
    auto p32 = [&](std::vector<uint8_t>& v, uint32_t x) {
        if (motorola) {
            p16(v, x >> 16);
            p16(v, x & 0xFFFF);
        } else {
            p16(v, x & 0xFFFF);
            p16(v, x >> 16);
        }
    };
    auto entry = [&](std::vector<uint8_t>& v, int tag, int format, uint32_t count, uint32_t value,
                     bool shortValue = false, bool rawBytes = false) {
        p16(v, uint32_t(tag));
        p16(v, uint32_t(format));
        p32(v, count);
        if (rawBytes) {
            v.insert(v.end(), {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                               uint8_t(value >> 24)});
        } else if (shortValue) {
            p16(v, value);
            p16(v, 0);
        } else {
            p32(v, value);
        }
    };
    // Layout: header 8, IFD0 at 8 (7 entries), sub-IFD, IFD1, data.
    const uint32_t ifd0 = 8, n0 = 7, sub = ifd0 + 2 + 12 * n0 + 4, n1 = 2;
    const uint32_t ifd1 = sub + 2 + 12 * 1 + 4, data = ifd1 + 2 + 12 * n1 + 4;
    const uint32_t make = data, model = make + 8, rat = model + 8, thumb = rat + 16;
    t.insert(t.end(), motorola ? std::initializer_list<uint8_t>{'M', 'M'}
                               : std::initializer_list<uint8_t>{'I', 'I'});
    p16(t, 0x2A);
    p32(t, ifd0);
    p16(t, n0);
    entry(t, 0x010F, 2, 8, make);
    entry(t, 0x0110, 2, 8, model);
    entry(t, 0x0112, 3, 1, uint32_t(orientation), true);
    entry(t, 0x011A, 5, 1, rat);
    entry(t, 0x011B, 5, 1, rat + 8);
    entry(t, 0x0128, 3, 1, uint32_t(unit), true);
    entry(t, 0x8769, 4, 1, sub);
    p32(t, ifd1);
    p16(t, 1);
    entry(t, 0x9003, 2, 4, 0x00323032u, false, true); // "202" in the entry
    p32(t, loop ? sub : 0);
    p16(t, n1);
    entry(t, 0x0201, 4, 1, thumb);
    entry(t, 0x0202, 4, 1, 6);
    p32(t, loop ? ifd0 : 0);
    const char makeText[8] = "Maker";
    const char modelText[8] = "Model1";
    t.insert(t.end(), makeText, makeText + 8);
    t.insert(t.end(), modelText, modelText + 8);
    p32(t, xres);
    p32(t, 1);
    p32(t, xres);
    p32(t, 1);
    t.insert(t.end(), {1, 2, 3, 4, 5, 6});

    std::vector<uint8_t> app = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    app.insert(app.end(), t.begin(), t.end());
    size_t len = app.size() - 2;
    app[2] = uint8_t(len >> 8);
    app[3] = uint8_t(len);
    return app;
}

std::vector<uint8_t> WithSection(const std::vector<uint8_t>& jpeg,
                                 const std::vector<uint8_t>& section) {
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), section.begin(), section.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

TEST(RasterDecode, JpegExifInBothByteOrders) {
    std::vector<uint8_t> base = ReadBytes(Img("base.jpg"));
    Reference ref = ReadReference(ImagesDir() + "/refs/base.jpg.ref");
    for (bool motorola : {false, true}) {
        SCOPED_TRACE(motorola ? "MM" : "II");
        std::vector<uint8_t> data = WithSection(base, ExifApp1(motorola, 2, 300, 6));
        CMemStream s(data.data(), long(data.size()));
        CRasterJPG jpg;
        ASSERT_TRUE(jpg.Decode(&s)) << jpg.info.lastError;
        const auto& e = jpg.info_exif;
        EXPECT_TRUE(e.IsExif);
        EXPECT_STREQ(e.CameraMake, "Maker");
        EXPECT_STREQ(e.CameraModel, "Model1");
        EXPECT_STREQ(e.DateTime, "202");
        EXPECT_EQ(e.Orientation, 6);
        EXPECT_EQ(e.Width, 37);
        EXPECT_EQ(e.Height, 23);
        EXPECT_EQ(e.ThumbnailSize, 6);
        ASSERT_NE(e.ThumbnailPointer, nullptr);
        EXPECT_EQ(e.ThumbnailPointer[5], 6);
        EXPECT_EQ(jpg.info.xDPI, 300);
        EXPECT_EQ(jpg.info.yDPI, 300);
        // The orientation is recorded, not applied.
        EXPECT_EQ(Compare(jpg, ref, 0), "");
    }
    // PIL's own EXIF block (big-endian).
    std::vector<uint8_t> pil = ReadBytes(Img("exif.jpg"));
    CMemStream ps(pil.data(), long(pil.size()));
    CRasterJPG pj;
    ASSERT_TRUE(pj.Decode(&ps));
    EXPECT_TRUE(pj.info_exif.IsExif);
    EXPECT_EQ(pj.info_exif.Orientation, 6);
    EXPECT_STREQ(pj.info_exif.CameraMake, "Maker");
    EXPECT_EQ(pj.info.xDPI, 300);

    // Centimetres: 118 per cm is 299 per inch.
    std::vector<uint8_t> cm = WithSection(base, ExifApp1(false, 3, 118, 1));
    CRaster img(0);
    ASSERT_TRUE(DecodeBytes(img, cm, kRasterJPG));
    EXPECT_EQ(img.info.xDPI, 299);

    // Directories that link back to each other are read once.
    std::vector<uint8_t> loop = WithSection(base, ExifApp1(true, 2, 72, 3, true));
    ASSERT_TRUE(DecodeBytes(img, loop, kRasterJPG));
    EXPECT_EQ(img.info.xDPI, 72);
}

TEST(RasterDecode, ExifExtremeNumbers) {
    // II block: one directory of four entries whose values are extreme;
    // every conversion stays defined (the sanitizer build checks).
    std::vector<uint8_t> b = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0, 4, 0};
    auto entry = [&](uint16_t tag, uint16_t format, uint32_t count, uint32_t value) {
        const uint8_t e[12] = {uint8_t(tag),         uint8_t(tag >> 8),    uint8_t(format),
                               uint8_t(format >> 8), uint8_t(count),       uint8_t(count >> 8),
                               uint8_t(count >> 16), uint8_t(count >> 24), uint8_t(value),
                               uint8_t(value >> 8),  uint8_t(value >> 16), uint8_t(value >> 24)};
        b.insert(b.end(), e, e + 12);
    };
    const uint32_t data = 8 + 2 + 4 * 12 + 4;
    entry(0x8827, 9, 1, 0x80000000u); // ISO: INT32_MIN
    entry(0x829A, 12, 1, data);       // exposure: 1e300
    entry(0x0201, 12, 1, data);       // thumbnail offset: 1e300
    entry(0x011A, 10, 1, data + 8);   // resolution: INT32_MIN / -1
    b.insert(b.end(), {0, 0, 0, 0});
    const double huge = 1e300;
    const uint8_t* h = reinterpret_cast<const uint8_t*>(&huge);
    b.insert(b.end(), h, h + 8);
    b.insert(b.end(), {0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0xFF});
    CRasterJPG::CExifInfo reader;
    EXPECT_TRUE(reader.process_EXIF(b.data(), unsigned(b.size())));
    EXPECT_EQ(reader.GetInfo()->ISOequivalent, INT32_MIN);
    EXPECT_GT(reader.GetInfo()->ExposureTime, 1e37f);
    EXPECT_EQ(reader.GetInfo()->ThumbnailPointer, nullptr);
}

TEST(RasterDecode, JpegBrokenExifAndJfifDensity) {
    std::vector<uint8_t> base = ReadBytes(Img("base.jpg"));
    // An EXIF block whose offsets point past its end is ignored.
    std::vector<uint8_t> app = ExifApp1(false, 2, 300, 6);
    app[10 + 8 + 2 + 8] = 0xF0; // first entry's value offset, far away
    app[10 + 8 + 2 + 9] = 0xFF;
    std::vector<uint8_t> data = WithSection(base, app);
    CMemStream s(data.data(), long(data.size()));
    CRasterJPG jpg;
    ASSERT_TRUE(jpg.Decode(&s));
    EXPECT_FALSE(jpg.info_exif.IsExif);
    // An APP1 that is not EXIF is dropped.
    std::vector<uint8_t> other = {0xFF, 0xE1, 0, 6, 'X', 'M', 'P', 0};
    std::vector<uint8_t> d2 = WithSection(base, other);
    CRaster img(0);
    EXPECT_TRUE(DecodeBytes(img, d2, kRasterJPG));

    // JFIF density of 100 per centimetre: 254 DPI.
    std::vector<uint8_t> jfif = base;
    ASSERT_EQ(jfif[3], 0xE0);
    jfif[2 + 2 + 2 + 5 + 2] = 2;
    jfif[14] = 0;
    jfif[15] = 100;
    jfif[16] = 0;
    jfif[17] = 100;
    ASSERT_TRUE(DecodeBytes(img, jfif, kRasterJPG));
    EXPECT_EQ(img.info.xDPI, 254);

    // Greyscale: the 256-entry ramp. Truncated: completed, still true.
    std::vector<uint8_t> grey = ReadBytes(Img("grey.jpg"));
    ASSERT_TRUE(DecodeBytes(img, grey, kRasterJPG));
    EXPECT_TRUE(img.IsGrayScale());
    std::vector<uint8_t> cut = ReadBytes(Img("cutjpg.jpg"));
    EXPECT_TRUE(DecodeBytes(img, cut, kRasterJPG));
    std::vector<uint8_t> text = ReadBytes(Img("text.txt"));
    EXPECT_FALSE(DecodeBytes(img, text, kRasterJPG));
    EXPECT_NE(img.info.lastError[0], 0);
}

} // namespace

TEST(RasterDecode, BmpLongerHeadersKeepFourByteColours) {
    // 4x2, 8 bits; the same picture with the 40-byte header and with the
    // 52- and 56-byte ones (masks, and alpha mask, after the 40 bytes).
    std::vector<uint8_t> palette;
    for (int k = 0; k < 256; k++)
        palette.insert(palette.end(), {uint8_t(k * 10), uint8_t(k * 20 + 1), uint8_t(255 - k), 0});
    const std::vector<uint8_t> px = {0, 1, 2, 3, 4, 5, 6, 7};
    const std::vector<uint8_t> plain = Bmp(4, 2, 8, 0, palette, px);
    CRaster want(0);
    std::vector<uint8_t> copy = plain;
    ASSERT_TRUE(DecodeBytes(want, copy, kRasterBMP));
    EXPECT_EQ(want.GetPixelColor(3, 1).rgbRed, 255 - 7);
    for (uint32_t size : {52u, 56u}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> data = plain;
        const uint32_t extra = size - 40;
        data.insert(data.begin() + 54, extra, 0);
        data[14] = uint8_t(size);
        data[10] = uint8_t(data[10] + extra);
        data[2] = uint8_t(data[2] + extra);
        CRaster img(0);
        ASSERT_TRUE(DecodeBytes(img, data, kRasterBMP)) << img.info.lastError;
        EXPECT_EQ(CompareImages(img, want), "");
        EXPECT_EQ(img.GetPaletteColor(5).rgbGreen, 101);
    }
}

namespace {

// An EXIF block (II) with the main directory at 300 per inch and the
// thumbnail's directory at 72 per centimetre.
std::vector<uint8_t> ExifTwoResolutions() {
    std::vector<uint8_t> b = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0};
    auto p16 = [&](uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    auto p32 = [&](uint32_t v) {
        p16(v & 0xFFFF);
        p16(v >> 16);
    };
    auto entry = [&](uint16_t tag, uint16_t format, uint32_t value) {
        p16(tag);
        p16(format);
        p32(1);
        p32(value);
    };
    const uint32_t ifd0 = 8, ifd1 = ifd0 + 2 + 3 * 12 + 4, data0 = ifd1 + 2 + 3 * 12 + 4,
                   data1 = data0 + 8;
    p16(3);
    entry(0x011A, 5, data0);
    entry(0x011B, 5, data0);
    entry(0x0128, 3, 2);
    p32(ifd1);
    p16(3);
    entry(0x011A, 5, data1);
    entry(0x011B, 5, data1);
    entry(0x0128, 3, 3);
    p32(0);
    p32(300);
    p32(1);
    p32(72);
    p32(1);
    return b;
}

} // namespace

TEST(RasterDecode, ExifThumbnailResolutionLeavesTheImagesAlone) {
    std::vector<uint8_t> block = ExifTwoResolutions();
    CRasterJPG::CExifInfo reader;
    ASSERT_TRUE(reader.process_EXIF(block.data(), unsigned(block.size())));
    EXPECT_EQ(reader.GetInfo()->Xresolution, 300.0f);
    EXPECT_EQ(reader.GetInfo()->Yresolution, 300.0f);
    EXPECT_EQ(reader.GetInfo()->ResolutionUnit, 1.0f);

    std::vector<uint8_t> app = {0xFF, 0xE1, 0, 0};
    app.insert(app.end(), block.begin(), block.end());
    app[2] = uint8_t((app.size() - 2) >> 8);
    app[3] = uint8_t(app.size() - 2);
    std::vector<uint8_t> jpeg = WithSection(ReadBytes(Img("base.jpg")), app);
    CRaster img(0);
    ASSERT_TRUE(DecodeBytes(img, jpeg, kRasterJPG)) << img.info.lastError;
    EXPECT_EQ(img.info.xDPI, 300);
    EXPECT_EQ(img.info.yDPI, 300);
}

TEST(RasterDecode, GifWithoutAPictureFails) {
    // A 4x4 screen whose only frame lies outside it, one of no width, and
    // one that fits: the first two fail with a message, the last decodes.
    std::vector<uint8_t> lzw = PackCodes({{4, 3}, {0, 3}, {1, 3}, {2, 3}, {3, 4}, {5, 4}});
    auto gif = [&](uint8_t left, uint8_t width) {
        std::vector<uint8_t> g = {'G', 'I', 'F', '8', '9', 'a', 4, 0, 4, 0, 0x81, 0, 0};
        g.insert(g.end(), {0, 0, 0, 10, 10, 10, 20, 20, 20, 30, 30, 30});
        g.insert(g.end(), {',', left, 0, 0, 0, width, 0, 2, 0, 0, 2});
        g.insert(g.end(), lzw.begin(), lzw.end());
        g.push_back(';');
        return g;
    };
    for (auto [left, width] : {std::pair<uint8_t, uint8_t>{3, 2}, {0, 0}}) {
        std::vector<uint8_t> g = gif(left, width);
        CRaster img(0);
        EXPECT_FALSE(DecodeBytes(img, g, kRasterGIF)) << int(left) << " " << int(width);
        EXPECT_EQ(img.dib, nullptr);
        EXPECT_STREQ(img.info.lastError, "GIF holds no picture");
    }
    std::vector<uint8_t> g = gif(2, 2);
    CRaster img(0);
    ASSERT_TRUE(DecodeBytes(img, g, kRasterGIF)) << img.info.lastError;
    EXPECT_EQ(img.head.biWidth, 2);
    EXPECT_EQ(img.GetPixelIndex(1, 0), 3);
}
