#pragma once
// Reading and writing one palette index in a row of 1, 4 or 8 bits per pixel,
// for the whole-image loops.
#include <cstdint>

namespace raster_pixels {

inline uint8_t IndexAt(const uint8_t* row, long x, unsigned bpp) {
    switch (bpp) {
    case 8:
        return row[x];
    case 4:
        return (x & 1) ? (row[x >> 1] & 0x0F) : uint8_t(row[x >> 1] >> 4);
    default:
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    }
}

inline void PutIndex(uint8_t* row, long x, unsigned bpp, uint8_t v) {
    switch (bpp) {
    case 8:
        row[x] = v;
        break;
    case 4:
        if (x & 1)
            row[x >> 1] = uint8_t((row[x >> 1] & 0xF0) | (v & 0x0F));
        else
            row[x >> 1] = uint8_t((row[x >> 1] & 0x0F) | (v << 4));
        break;
    default:
        if (v & 1)
            row[x >> 3] |= uint8_t(0x80 >> (x & 7));
        else
            row[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
        break;
    }
}

} // namespace raster_pixels
