// libFuzzer target: decode whatever the input holds, transform it as the
// input's last bytes say, and encode the result in every format.
#include "raster/raster_codecs.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    CRaster::maxBlockSize = 64u << 20;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    std::vector<uint8_t> copy(data, data + size);
    const uint8_t* knobs = data + size - 4;
    CRaster img(0);
    if (!img.Decode(copy.data(), copy.size(), 0) || !img.dib)
        return 0;
    if (int64_t(img.head.biWidth) * img.head.biHeight > 250000)
        return 0;
    const long w = img.head.biWidth, h = img.head.biHeight;
    img.info.quality = uint8_t(knobs[2] % 101);
    switch (knobs[0] % 12) {
    case 0:
        img.Crop(knobs[1] - 10, knobs[2] - 10, w - knobs[3] + 5, h - knobs[1] + 5);
        break;
    case 1:
        img.Negative();
        break;
    case 2:
        img.DecreaseBpp(knobs[1] % 2 ? 1 : knobs[1] % 3 ? 4 : 8, knobs[2] & 1);
        break;
    case 3:
        img.Resample(1 + knobs[1] % 200, 1 + knobs[2] % 200, knobs[3] % 3);
        break;
    case 4:
        img.Skew(float(int8_t(knobs[1])) / 16.0f, float(int8_t(knobs[2])) / 16.0f, knobs[3], 3);
        break;
    case 5:
        if (w * h < 40000)
            img.Deskew();
        break;
    case 6:
        if (w + h < 1000)
            img.Rotate(float(int16_t(knobs[1] << 8 | knobs[2])) / 7.0f);
        break;
    case 7:
        img.Rotate180();
        break;
    case 8:
        img.GrayScale();
        break;
    case 9:
        img.Dither(knobs[1] & 1);
        break;
    case 10:
        img.IncreaseBpp(24);
        break;
    default:
        img.info.backgroundIndex = knobs[1] % 3 == 0 ? -1 : knobs[2];
        break;
    }
    for (unsigned long type = kRasterBMP; type <= kRasterTIF; type++) {
        img.info.encodeOption = type == kRasterTIF   ? (knobs[3] % 2 ? 5 : 0)
                                : type == kRasterGIF ? knobs[3] % 3
                                                     : 0;
        uint8_t* out = nullptr;
        long n = 0;
        if (img.Encode(out, n, type)) {
            // What was written must decode again.
            CRaster back(0);
            back.Decode(out, unsigned(n), type);
            std::free(out);
        }
    }
    return 0;
}
