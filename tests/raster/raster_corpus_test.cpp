// Replays the fuzz seed corpus, cut short and with bytes changed, through
// every decoder: nothing may crash, hang or touch memory it does not own
// (the sanitizer build runs this too).
#include "raster/raster_codecs.h"
#include "tests/raster/raster_test_util.h"

#include <gtest/gtest.h>

#include <dirent.h>

namespace {

std::vector<std::string> CorpusFiles() {
    std::vector<std::string> files;
    std::string dir = ImagesDir() + "/images";
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] != '.')
                files.push_back(dir + "/" + e->d_name);
        }
        closedir(d);
    }
    return files;
}

void DecodeAll(std::vector<uint8_t> data) {
    for (unsigned long type = 0; type <= 6; type++) {
        CRaster img(0);
        img.info.frame = int32_t(type % 3);
        if (img.Decode(data.data(), data.size(), type) && img.dib) {
            // A decoded image is whole: its last row can be read and turned.
            img.GetPixelColor(img.head.biWidth - 1, img.head.biHeight - 1);
            if (img.head.biWidth * int64_t(img.head.biHeight) < 100000)
                img.IncreaseBpp(24);
        }
    }
}

TEST(RasterCorpus, DamagedFilesNeverBreakTheDecoders) {
    const uint64_t savedCap = CRaster::maxBlockSize;
    CRaster::maxBlockSize = 64u << 20;
    std::vector<std::string> files = CorpusFiles();
    ASSERT_GT(files.size(), 50u);
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        std::vector<uint8_t> data = ReadBytes(f);
        if (data.size() > 200000)
            continue;
        DecodeAll(data);
        for (size_t cut : {size_t(0), size_t(1), size_t(7), size_t(14), size_t(40), size_t(64),
                           data.size() / 3, data.size() - 1})
            if (cut <= data.size())
                DecodeAll(std::vector<uint8_t>(data.begin(), data.begin() + long(cut)));
        for (int k = 0; k < 12 && !data.empty(); k++) {
            std::vector<uint8_t> m = data;
            // Mostly the headers, where the sizes and offsets are.
            for (int j = 0; j < 4; j++) {
                size_t at = (k & 1) ? next() % std::min<size_t>(m.size(), 128) : next() % m.size();
                m[at] = (k & 2) ? uint8_t(next()) : uint8_t(0xFF);
            }
            DecodeAll(m);
        }
    }
    CRaster::maxBlockSize = savedCap;
}

} // namespace
