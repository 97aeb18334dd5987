// png_simple_bench FILE RUNS: decodes FILE from memory to BGR with libpng's
// simplified API, the reference for our PNG decoder; prints the fastest run.
#include <png.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    std::ifstream f(argv[1], std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), {});
    const int runs = std::atoi(argv[2]);
    double best = 1e9;
    for (int i = 0; i < runs; i++) {
        auto t0 = std::chrono::steady_clock::now();
        png_image image;
        std::memset(&image, 0, sizeof(image));
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_memory(&image, data.data(), data.size()))
            return 1;
        image.format = PNG_FORMAT_BGR;
        std::vector<uint8_t> out(PNG_IMAGE_SIZE(image));
        if (!png_image_finish_read(&image, nullptr, out.data(), 0, nullptr))
            return 1;
        auto t1 = std::chrono::steady_clock::now();
        double s = std::chrono::duration<double>(t1 - t0).count();
        if (s < best)
            best = s;
    }
    std::printf("%.6f\n", best);
    return 0;
}
