// Depth change and reorientation. Each builds its result in a temporary image
// and moves it into place only when complete, so a failure never leaves a
// half-written bitmap. The whole-image loops work on bytes and bits directly.
#include "raster/raster.h"
#include "raster/raster_pixels.h"

#include <cstring>

namespace {

using raster_pixels::IndexAt;
using raster_pixels::PutIndex;

// A temporary of the same kind as img, with its information record and
// resolution, created at the given size; false when it cannot be allocated.
bool MakeTemp(const CRaster& img, CRaster& tmp, unsigned long w, unsigned long h,
              unsigned long bpp) {
    tmp.CopyInfo(img);
    tmp.info.ghost = nullptr;
    tmp.info.numLayers = 0;
    tmp.head.biXPelsPerMeter = img.head.biXPelsPerMeter;
    tmp.head.biYPelsPerMeter = img.head.biYPelsPerMeter;
    return tmp.Create(w, h, bpp, img.info.type) != nullptr;
}

} // namespace

bool CRaster::IncreaseBpp(unsigned long nbit) {
    if (!dib)
        return false;
    if (nbit != 4 && nbit != 8 && nbit != 24)
        return false;
    const unsigned bpp = head.biBitCount;
    if (bpp == nbit)
        return true;
    if (bpp > nbit)
        return false;

    CRaster tmp(0);
    if (!MakeTemp(*this, tmp, uint32_t(head.biWidth), uint32_t(head.biHeight), nbit))
        return false;
    const long w = head.biWidth, h = head.biHeight;
    const tagRGBQUAD* pal = GetPalette();

    if (nbit == 24) {
        // One lookup of blue, green, red per index; indexes past the palette
        // give black, as GetPixelColor does.
        uint8_t lut[256][3] = {};
        for (uint32_t i = 0; i < head.biClrUsed && i < 256; i++) {
            lut[i][0] = pal[i].rgbBlue;
            lut[i][1] = pal[i].rgbGreen;
            lut[i][2] = pal[i].rgbRed;
        }
        for (long y = 0; y < h; y++) {
            if (info.escape)
                break;
            const uint8_t* src = Row(y);
            uint8_t* dst = tmp.Row(y);
            if (bpp == 8) {
                for (long x = 0; x < w; x++, dst += 3)
                    std::memcpy(dst, lut[src[x]], 3);
            } else {
                for (long x = 0; x < w; x++, dst += 3)
                    std::memcpy(dst, lut[IndexAt(src, x, bpp)], 3);
            }
        }
    } else {
        tmp.SetPalette(pal, head.biClrUsed);
        for (long y = 0; y < h; y++) {
            if (info.escape)
                break;
            const uint8_t* src = Row(y);
            uint8_t* dst = tmp.Row(y);
            if (nbit == 8) {
                for (long x = 0; x < w; x++)
                    dst[x] = IndexAt(src, x, bpp);
            } else {
                for (long x = 0; x < w; x++)
                    PutIndex(dst, x, 4, IndexAt(src, x, bpp));
            }
        }
    }
    Transfer(tmp);
    return true;
}

bool CRaster::Flip() {
    if (!dib)
        return false;
    CRaster tmp(*this, false, false, true);
    if (!tmp.dib)
        return false;
    const long h = head.biHeight;
    for (long y = 0; y < h; y++)
        std::memcpy(tmp.Row(h - 1 - y), Row(y), info.effWidth);
    Transfer(tmp);
    return true;
}

bool CRaster::Mirror() {
    if (!dib)
        return false;
    CRaster tmp(*this, false, false, true);
    if (!tmp.dib)
        return false;
    const long w = head.biWidth, h = head.biHeight, last = w - 1;
    const unsigned bpp = head.biBitCount;
    for (long y = 0; y < h; y++) {
        const uint8_t* src = Row(y);
        uint8_t* dst = tmp.Row(y);
        switch (bpp) {
        case 24:
            for (long x = 0; x < w; x++)
                std::memcpy(dst + 3 * x, src + 3 * (last - x), 3);
            break;
        case 8:
            for (long x = 0; x < w; x++)
                dst[x] = src[last - x];
            break;
        default:
            for (long x = 0; x < w; x++)
                PutIndex(dst, x, bpp, IndexAt(src, last - x, bpp));
            break;
        }
    }
    Transfer(tmp);
    return true;
}

namespace {

// dst(x', y') = src(sx, sy) with (sx, sy) from the mapping; the destination
// is oldHeight wide and oldWidth high.
template <bool kLeft> void Quarter(const CRaster& src, CRaster& dst, int32_t& progress) {
    const long ow = src.head.biWidth, oh = src.head.biHeight;
    const unsigned bpp = src.head.biBitCount;
    const uint8_t* sbits = src.GetBits();
    uint8_t* dbits = dst.GetBits();
    const size_t sstride = src.effWidth, dstride = dst.effWidth;
    // Destination row y' reads one source column: left turn column y',
    // right turn column ow-1-y'. Destination column x' reads source row
    // oh-1-x' (left) or x' (right).
    for (long yd = 0; yd < ow; yd++) {
        progress = int32_t(yd * 100 / ow);
        uint8_t* drow = dbits + dstride * size_t(yd);
        const long sx = kLeft ? yd : ow - 1 - yd;
        if (bpp == 24) {
            for (long xd = 0; xd < oh; xd++) {
                const long sy = kLeft ? oh - 1 - xd : xd;
                std::memcpy(drow + 3 * xd, sbits + sstride * size_t(sy) + 3 * sx, 3);
            }
        } else if (bpp == 8) {
            for (long xd = 0; xd < oh; xd++) {
                const long sy = kLeft ? oh - 1 - xd : xd;
                drow[xd] = sbits[sstride * size_t(sy) + sx];
            }
        } else {
            for (long xd = 0; xd < oh; xd++) {
                const long sy = kLeft ? oh - 1 - xd : xd;
                PutIndex(drow, xd, bpp, IndexAt(sbits + sstride * size_t(sy), sx, bpp));
            }
        }
    }
}

} // namespace

bool CRaster::RotateLeft(CRaster* iDst) {
    if (!dib)
        return false;
    CRaster tmp(0);
    if (!MakeTemp(*this, tmp, uint32_t(head.biHeight), uint32_t(head.biWidth), head.biBitCount))
        return false;
    tmp.SetPalette(GetPalette(), 256);
    Quarter<true>(*this, tmp, info.progress);
    (iDst ? *iDst : *this).Transfer(tmp);
    return true;
}

bool CRaster::RotateRight(CRaster* iDst) {
    if (!dib)
        return false;
    CRaster tmp(0);
    if (!MakeTemp(*this, tmp, uint32_t(head.biHeight), uint32_t(head.biWidth), head.biBitCount))
        return false;
    tmp.SetPalette(GetPalette(), 256);
    Quarter<false>(*this, tmp, info.progress);
    (iDst ? *iDst : *this).Transfer(tmp);
    return true;
}
