// raster_bench TYPE FILE RUNS [FRAME]: decodes FILE from memory RUNS times
// and prints the fastest run in seconds.
#include "raster/raster.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: raster_bench TYPE FILE RUNS [FRAME]\n");
        return 2;
    }
    const unsigned long type = std::strtoul(argv[1], nullptr, 10);
    std::ifstream f(argv[2], std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), {});
    const int runs = std::atoi(argv[3]);
    const int frame = argc > 4 ? std::atoi(argv[4]) : 0;
    double best = 1e9;
    for (int i = 0; i < runs; i++) {
        CRaster img(0);
        img.info.frame = frame;
        auto t0 = std::chrono::steady_clock::now();
        bool ok = img.Decode(data.data(), data.size(), type);
        auto t1 = std::chrono::steady_clock::now();
        if (!ok) {
            std::fprintf(stderr, "decode failed: %s\n", img.info.lastError);
            return 1;
        }
        double s = std::chrono::duration<double>(t1 - t0).count();
        if (s < best)
            best = s;
    }
    std::printf("%.6f\n", best);
    return 0;
}
