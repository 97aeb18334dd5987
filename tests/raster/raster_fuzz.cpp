// libFuzzer target: one decoder (or the dispatch, format 0) per binary,
// chosen by ZARVEL_FUZZ_TYPE at build time (100: the EXIF reader).
#include "raster/raster_codecs.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Small enough that one input cannot exhaust the fuzzer's memory.
    CRaster::maxBlockSize = 64u << 20;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> copy(data, data + size);
    if (ZARVEL_FUZZ_TYPE == 100) {
        // The EXIF reader alone, on a block as it follows an APP1 length.
        CRasterJPG::CExifInfo reader;
        reader.process_EXIF(copy.data(), unsigned(copy.size()));
        return 0;
    }
    CRaster img(0);
    // The last byte picks the frame of the multi-frame formats.
    img.info.frame = size ? data[size - 1] % 3 : 0;
    if (img.Decode(copy.data(), copy.size(), ZARVEL_FUZZ_TYPE) && img.dib) {
        img.GetPixelColor(img.head.biWidth - 1, img.head.biHeight - 1);
        if (int64_t(img.head.biWidth) * img.head.biHeight < 200000)
            img.IncreaseBpp(24);
    }
    return 0;
}
