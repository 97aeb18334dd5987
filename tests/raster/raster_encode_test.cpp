// The encoders: every file written is read back by PIL (an independent
// decoder) and by our own decoders, and compared with the picture encoded.
#include "raster/raster_codecs.h"
#include "tests/raster/raster_test_util.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

namespace {

// Test pictures of every depth, deterministic.
CRaster MakeRGB(long w, long h, bool smooth) {
    CRaster img(unsigned(w), unsigned(h), 24, 0);
    std::mt19937 rnd(1);
    for (long y = 0; y < h; y++) {
        uint8_t* row = img.GetBits() + size_t(img.effWidth) * size_t(y);
        for (long x = 0; x < w; x++) {
            if (smooth) {
                row[3 * x] = uint8_t(x * 255 / w);
                row[3 * x + 1] = uint8_t(y * 255 / h);
                row[3 * x + 2] = uint8_t(128 + (x - y) / 2);
            } else {
                row[3 * x] = uint8_t(rnd());
                row[3 * x + 1] = uint8_t(rnd() & 0xF0);
                row[3 * x + 2] = uint8_t((x * 7 + y) & 0xFF);
            }
        }
    }
    return img;
}

CRaster MakePalette(long w, long h, unsigned bpp, unsigned seed, bool grey = false) {
    CRaster img(unsigned(w), unsigned(h), bpp, 0);
    std::mt19937 rnd(seed);
    if (grey) {
        img.SetGrayPalette();
    } else {
        for (uint32_t i = 0; i < img.head.biClrUsed; i++)
            img.SetPaletteColor(uint8_t(i), uint8_t(rnd()), uint8_t(rnd()), uint8_t(rnd()));
    }
    for (long y = 0; y < h; y++)
        for (long x = 0; x < w; x++)
            img.SetPixelIndex(x, y, uint8_t((rnd() % 7 == 0) ? rnd() : (x / 3 + y) % 256));
    return img;
}

std::string PilScript() {
    const char* src = std::getenv("ZARVEL_SOURCE_DIR");
    return std::string(src ? src : ".") + "/tests/raster/pil_decode.py";
}

struct Snapshot {
    tagBITMAPINFOHEADER head;
    std::vector<uint8_t> block;
    explicit Snapshot(const CRaster& img)
        : head(img.head), block(img.dib, img.dib + img.GetSize()) {}
    bool Same(const CRaster& img) const {
        return std::memcmp(&head, &img.head, sizeof(head)) == 0 && block.size() == img.GetSize() &&
               std::memcmp(block.data(), img.dib, block.size()) == 0;
    }
};

class EncodeTest : public ::testing::Test {
protected:
    // Encodes img into a file of the temporary folder and remembers what
    // the file should show; the caller's image must come out unchanged.
    std::string Write(const std::string& name, CRaster& img, unsigned long type,
                      uint32_t option = 0, int tolerance = 0) {
        const std::string path = dir.file(name);
        Snapshot before(img);
        img.info.encodeOption = option;
        FILE* fp = std::fopen(path.c_str(), "wb");
        EXPECT_NE(fp, nullptr);
        const bool ok = img.Encode(fp, type);
        std::fclose(fp);
        EXPECT_TRUE(ok) << name << ": " << img.info.lastError;
        EXPECT_TRUE(before.Same(img)) << name << ": the encoder changed the image";
        expected[path] = {&img, tolerance, type};
        return path;
    }

    // PIL reads every file written, then each is checked by both decoders.
    void CheckAll() {
        std::string cmd = "/usr/bin/python3 " + PilScript();
        for (auto& [path, e] : expected)
            cmd += " '" + path + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        for (auto& [path, e] : expected) {
            Reference ref = ReadReference(path + ".0.ref");
            ASSERT_TRUE(ref.ok()) << path << ": PIL could not read it";
            // Multi-frame files (the 24-bit GIF mosaic) show the picture in
            // their last frame.
            const int frames = std::atoi(testsupport::readFile(path + ".frames").c_str());
            if (frames > 1)
                ref = ReadReference(path + "." + std::to_string(frames - 1) + ".ref");
            EXPECT_EQ(Compare(*e.image, ref, e.tolerance), "") << path << " (PIL)";

            CRaster ours(0);
            std::vector<uint8_t> data = ReadBytes(path);
            ASSERT_TRUE(ours.Decode(data.data(), data.size(), e.type))
                << path << ": " << ours.info.lastError;
            if (e.type == kRasterICO && ours.info.backgroundIndex != -1) {
                // Our icon decoder gives masked pixels an unused entry.
                for (long y = 0; y < ours.head.biHeight; y++)
                    for (long x = 0; x < ours.head.biWidth; x++)
                        if (ours.GetPixelIndex(x, y) == ours.info.backgroundIndex)
                            ours.SetPixelColor(x, y, e.image->GetPixelColor(x, y));
                ASSERT_EQ(ours.GetPixelIndex(3, 3), e.image->GetPixelIndex(3, 3));
            }
            EXPECT_EQ(CompareImages(ours, *e.image, e.tolerance), "") << path << " (ours)";
        }
    }

    struct Expect {
        CRaster* image;
        int tolerance;
        unsigned long type;
    };
    testsupport::TempDir dir;
    std::map<std::string, Expect> expected;
};

TEST_F(EncodeTest, LosslessFormatsReadBackExactly) {
    CRaster rgb = MakeRGB(61, 43, false);
    CRaster pal8 = MakePalette(40, 27, 8, 2);
    CRaster grey8 = MakePalette(35, 20, 8, 3, true);
    CRaster pal4 = MakePalette(33, 17, 4, 4);
    CRaster bw1 = MakePalette(45, 19, 1, 5, true);
    CRaster* all[] = {&rgb, &pal8, &grey8, &pal4, &bw1};
    const char* names[] = {"rgb", "pal8", "grey8", "pal4", "bw1"};
    for (int i = 0; i < 5; i++) {
        Write(std::string(names[i]) + ".bmp", *all[i], kRasterBMP);
        Write(std::string(names[i]) + ".png", *all[i], kRasterPNG);
        Write(std::string(names[i]) + ".ico", *all[i], kRasterICO);
        Write(std::string(names[i]) + ".gif", *all[i], kRasterGIF);
        Write(std::string(names[i]) + "-none.tif", *all[i], kRasterTIF, 1);
        Write(std::string(names[i]) + "-lzw.tif", *all[i], kRasterTIF, 5);
    }
    // Each GIF coding, and the default TIFF compression of each depth
    // (CCITT Group 4, PackBits; 24 bits is JPEG, below).
    Write("pal8-nocomp.gif", pal8, kRasterGIF, 1);
    Write("pal8-lzw.gif", pal8, kRasterGIF, 2);
    Write("bw1-lzw.gif", bw1, kRasterGIF, 2);
    Write("pal4-nocomp.gif", pal4, kRasterGIF, 1);
    Write("bw1-g4.tif", bw1, kRasterTIF);
    Write("pal8-packbits.tif", pal8, kRasterTIF);
    Write("grey8-packbits.tif", grey8, kRasterTIF);
    Write("rgb-packbits.tif", rgb, kRasterTIF, 32773);
    Write("rgb-rle.gif", rgb, kRasterGIF, 0);
    Write("rgb-lzw.gif", rgb, kRasterGIF, 2);
    CheckAll();
}

// Pictures long enough to fill the code table many times over: clear codes,
// code widths up to 12 bits, runs far longer than the table.
TEST_F(EncodeTest, GifCodingsSurviveFullTables) {
    CRaster noise = MakePalette(300, 200, 8, 9);
    CRaster flat(700, 500, 8, 0);
    flat.SetGrayPalette();
    flat.Clear(0);
    for (long y = 0; y < 500; y += 97)
        for (long x = 0; x < 700; x++)
            flat.SetPixelIndex(x, y, uint8_t(x / 50));
    for (uint32_t option : {0u, 1u, 2u}) {
        Write("noise-" + std::to_string(option) + ".gif", noise, kRasterGIF, option);
        Write("flat-" + std::to_string(option) + ".gif", flat, kRasterGIF, option);
    }
    CheckAll();
}

TEST_F(EncodeTest, JpegWithinTolerance) {
    // Quality 95 on smooth pictures: no sample more than 8 off.
    CRaster rgb = MakeRGB(64, 48, true);
    rgb.info.quality = 95;
    CRaster grey(50, 30, 8, 0);
    grey.SetGrayPalette();
    for (long y = 0; y < 30; y++)
        for (long x = 0; x < 50; x++)
            grey.SetPixelIndex(x, y, uint8_t(x * 4 + y));
    grey.info.quality = 95;
    Write("rgb.jpg", rgb, kRasterJPG, 0, 8);
    Write("grey.jpg", grey, kRasterJPG, 0, 8);
    Write("rgb-jpeg.tif", rgb, kRasterTIF, 0, 8);
    CheckAll();

    CRaster pal = MakePalette(10, 10, 8, 1);
    CMemStream s;
    s.Open();
    EXPECT_FALSE(pal.Encode(&s, kRasterJPG));
    EXPECT_STREQ(pal.info.lastError, "JPEG can save only RGB or GreyScale images");
}

TEST_F(EncodeTest, TransparencyIsWrittenWithoutTouchingTheImage) {
    CRaster pal = MakePalette(20, 10, 8, 6);
    pal.info.backgroundIndex = 5;
    for (long x = 0; x < 20; x++)
        pal.SetPixelIndex(x, 4, 5);
    pal.SetPixelIndex(3, 3, 0);
    Write("trans.png", pal, kRasterPNG);
    Write("trans.gif", pal, kRasterGIF);
    Write("trans.ico", pal, kRasterICO);
    CheckAll();

    // PNG: the transparent entry moved to 0 in the file only.
    CRaster back(0);
    std::vector<uint8_t> data = ReadBytes(dir.file("trans.png"));
    ASSERT_TRUE(back.Decode(data.data(), data.size(), kRasterPNG));
    EXPECT_EQ(back.info.backgroundIndex, 0);
    EXPECT_EQ(back.GetPixelIndex(0, 4), 0);
    EXPECT_EQ(pal.GetPixelIndex(0, 4), 5);
    // GIF keeps the index.
    data = ReadBytes(dir.file("trans.gif"));
    ASSERT_TRUE(back.Decode(data.data(), data.size(), kRasterGIF));
    EXPECT_EQ(back.info.backgroundIndex, 5);
    // ICO: the mask marks exactly the transparent row (AND mask, bottom-up).
    data = ReadBytes(dir.file("trans.ico"));
    const size_t maskStart = 22 + 40 + 1024 + pal.head.biSizeImage;
    ASSERT_EQ(data.size(), maskStart + 4 * 10);
    for (long y = 0; y < 10; y++) {
        for (long x = 0; x < 20; x++) {
            const bool masked =
                (data[maskStart + 4 * size_t(y) + size_t(x / 8)] >> (7 - x % 8)) & 1;
            EXPECT_EQ(masked, pal.GetPixelIndex(x, y) == 5) << x << "," << y;
        }
    }
}

TEST_F(EncodeTest, MultiPageGifAndTiff) {
    CRaster p0 = MakePalette(30, 20, 8, 11), p1 = MakePalette(30, 20, 8, 12),
            p2 = MakePalette(30, 20, 8, 13);
    p1.info.frameDelay = 25;
    CRaster* pages[] = {&p0, &p1, &p2};
    CRaster t0 = MakeRGB(25, 15, false), t1 = MakePalette(40, 10, 4, 14),
            t2 = MakePalette(17, 9, 1, 15, true);
    t0.info.encodeOption = 5;
    CRaster* tpages[] = {&t0, &t1, &t2};
    Snapshot s0(p0), s1(t0);

    for (auto [name, type, list] :
         {std::tuple{"anim.gif", kRasterGIF, pages}, std::tuple{"pages.tif", kRasterTIF, tpages}}) {
        const std::string path = dir.file(name);
        FILE* fp = std::fopen(path.c_str(), "wb");
        ASSERT_TRUE(list[0]->Encode(fp, list, 3, type)) << list[0]->info.lastError;
        std::fclose(fp);
        ASSERT_EQ(std::system(("/usr/bin/python3 " + PilScript() + " " + path).c_str()), 0);
        EXPECT_EQ(testsupport::readFile(path + ".frames"), "3\n") << name;
        std::vector<uint8_t> data = ReadBytes(path);
        for (int i = 0; i < 3; i++) {
            EXPECT_EQ(Compare(*list[i], ReadReference(path + "." + std::to_string(i) + ".ref"), 0),
                      "")
                << name << " page " << i << " (PIL)";
            CRaster ours(0);
            ours.info.frame = i;
            ASSERT_TRUE(ours.Decode(data.data(), data.size(), type)) << ours.info.lastError;
            EXPECT_EQ(ours.info.numFrames, 3);
            EXPECT_EQ(CompareImages(ours, *list[i]), "") << name << " page " << i << " (ours)";
        }
    }
    EXPECT_TRUE(s0.Same(p0));
    EXPECT_TRUE(s1.Same(t0));

    CMemStream s;
    s.Open();
    EXPECT_FALSE(p0.Encode(&s, pages, 3, kRasterPNG));
    EXPECT_STREQ(p0.info.lastError, "Multipage Encode, Unsupported operation for this format");
    CRaster* holes[] = {&p0, nullptr};
    EXPECT_FALSE(p0.Encode(&s, holes, 2, kRasterGIF));
    EXPECT_STREQ(p0.info.lastError, "Bad image pointer");
    EXPECT_FALSE(p0.Encode(&s, holes, 0, kRasterTIF));
    EXPECT_STREQ(p0.info.lastError, "multipage TIFF, no images!");
    // A 24-bit page has no place in an animation.
    CRaster* mixed[] = {&p0, &t0};
    EXPECT_FALSE(p0.Encode(&s, mixed, 2, kRasterGIF));
}

// Pages appended one call at a time through one codec.
TEST_F(EncodeTest, TiffPagesAppended) {
    CRaster a = MakePalette(12, 7, 8, 21), b = MakeRGB(9, 5, false);
    b.info.encodeOption = 32773;
    CMemStream s;
    ASSERT_TRUE(s.Open());
    {
        CRasterTIF codec;
        codec.Ghost(&a);
        ASSERT_TRUE(codec.Encode(&s, true)) << codec.info.lastError;
        codec.Ghost(&b);
        ASSERT_TRUE(codec.Encode(&s, false)) << codec.info.lastError;
    }
    uint8_t* data = s.GetBuffer(false);
    for (int page = 0; page < 2; page++) {
        CRaster back(0);
        back.info.frame = page;
        ASSERT_TRUE(back.Decode(data, unsigned(s.Size()), kRasterTIF)) << back.info.lastError;
        EXPECT_EQ(back.info.numFrames, 2);
        EXPECT_EQ(CompareImages(back, page ? b : a), "") << page;
    }
}

TEST_F(EncodeTest, FailuresAreReportedAndSavesAreWhole) {
    CRaster big(300, 10, 8, 0);
    big.Clear(0);
    CMemStream s;
    s.Open();
    EXPECT_FALSE(big.Encode(&s, kRasterICO));
    EXPECT_STREQ(big.info.lastError, "Can't save this image as icon");
    EXPECT_FALSE(big.Encode(&s, 9));
    EXPECT_STREQ(big.info.lastError, "Encode: Unknown format");
    // A TIFF compression that cannot hold the picture.
    big.info.encodeOption = 4; // CCITT Group 4 needs one bit per pixel
    EXPECT_FALSE(big.Encode(&s, kRasterTIF));
    EXPECT_STREQ(big.info.lastError, "Error saving TIFF file");
    big.info.encodeOption = 0;

    uint8_t* buffer = reinterpret_cast<uint8_t*>(&s);
    long size = 0;
    EXPECT_FALSE(big.Encode(buffer, size, kRasterBMP));
    buffer = nullptr;
    ASSERT_TRUE(big.Encode(buffer, size, kRasterBMP));
    EXPECT_EQ(size, long(big.GetSize() + 14));
    std::free(buffer);

    // A save that fails leaves the file that stood there as it was.
    const std::string path = dir.file("keep.ico");
    testsupport::writeFile(path, "old contents");
    EXPECT_FALSE(big.Save(path.c_str(), kRasterICO));
    EXPECT_EQ(testsupport::readFile(path), "old contents");
    ASSERT_TRUE(big.Save(path.c_str(), kRasterBMP)) << big.info.lastError;
    CRaster back(path.c_str(), kRasterBMP);
    EXPECT_EQ(CompareImages(back, big), "");
    EXPECT_FALSE(big.Save(dir.file("missing/x.bmp").c_str(), kRasterBMP));
}

TEST(MemStreamGrowth, ManySmallWritesGrowGeometrically) {
    class Probe : public CMemStream {
    public:
        int32_t Edge() const { return edge; }
    };
    Probe s;
    s.Open();
    int grows = 0;
    int32_t last = 0;
    for (int i = 0; i < (1 << 20); i++) {
        ASSERT_TRUE(s.PutC(uint8_t(i)));
        if (s.Edge() != last) {
            grows++;
            last = s.Edge();
        }
    }
    EXPECT_EQ(s.Size(), 1 << 20);
    EXPECT_EQ(last, 1 << 20);
    EXPECT_LE(grows, 9);
    // Bytes skipped by a seek past the end read back as zeros.
    ASSERT_TRUE(s.Seek((1 << 20) + 10, 0));
    ASSERT_EQ(s.Write("x", 1, 1), 1u);
    uint8_t gap[10];
    ASSERT_TRUE(s.Seek(1 << 20, 0));
    ASSERT_EQ(s.Read(gap, 1, 10), 10u);
    for (uint8_t b : gap)
        EXPECT_EQ(b, 0);
}

} // namespace
