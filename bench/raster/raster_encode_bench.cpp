// raster_encode_bench FILE RUNS OP: decodes FILE, then runs OP (an encoder or
// a transformation) RUNS times on it and prints the fastest run in seconds.
// OP: jpeg png bmp gif tiff-lzw tiff-packbits rotate30 rotate180 resample-box
//     resample-bicubic resample-bilinear decrease8 dither grey deskew
#include "raster/raster.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: raster_encode_bench FILE RUNS OP\n");
        return 2;
    }
    std::ifstream f(argv[1], std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), {});
    const int runs = std::atoi(argv[2]);
    const std::string op = argv[3];
    CRaster::maxBlockSize = uint64_t(1) << 31;
    CRaster src(0);
    if (!src.Decode(data.data(), data.size(), 0)) {
        std::fprintf(stderr, "decode failed: %s\n", src.info.lastError);
        return 1;
    }
    auto encode = [&](unsigned long type, uint32_t option) {
        return [&src, type, option](CRaster&) {
            src.info.encodeOption = option;
            uint8_t* out = nullptr;
            long n = 0;
            bool ok = src.Encode(out, n, type);
            std::free(out);
            return ok;
        };
    };
    const long w = src.head.biWidth, h = src.head.biHeight;
    std::map<std::string, std::function<bool(CRaster&)>> ops = {
        {"jpeg", encode(3, 0)},
        {"png", encode(4, 0)},
        {"bmp", encode(1, 0)},
        {"gif", encode(2, 2)},
        {"tiff-lzw", encode(6, 5)},
        {"tiff-packbits", encode(6, 32773)},
        {"rotate30", [](CRaster& c) { return c.Rotate(30); }},
        {"rotate180", [](CRaster& c) { return c.Rotate180(); }},
        {"resample-box", [&](CRaster& c) { return c.Resample(w / 2, h / 2, 0); }},
        {"resample-bicubic", [&](CRaster& c) { return c.Resample(w / 2, h / 2, 2); }},
        {"resample-bilinear", [&](CRaster& c) { return c.Resample(w * 5 / 4, h * 5 / 4, 0); }},
        {"decrease8", [](CRaster& c) { return c.DecreaseBpp(8, true); }},
        {"dither", [](CRaster& c) { return c.Dither(0); }},
        {"grey", [](CRaster& c) { return c.GrayScale(); }},
        {"deskew", [](CRaster& c) { return c.Deskew() > -100; }},
    };
    auto it = ops.find(op);
    if (it == ops.end()) {
        std::fprintf(stderr, "unknown OP %s\n", op.c_str());
        return 2;
    }
    double best = 1e9;
    for (int i = 0; i < runs; i++) {
        CRaster work(src);
        auto t0 = std::chrono::steady_clock::now();
        bool ok = it->second(work);
        auto t1 = std::chrono::steady_clock::now();
        if (!ok) {
            std::fprintf(stderr, "%s failed: %s\n", op.c_str(), work.info.lastError);
            return 1;
        }
        best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    std::printf("%.6f\n", best);
    return 0;
}
