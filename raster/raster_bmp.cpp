// BMP and ICO decoders. Every size read from the file is checked against
// what was allocated: run-length data, deltas and pixel reads stay inside the
// bitmap whatever the file claims.
#include "raster/raster_codecs.h"

#include <bit>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Failure {
    const char* text;
};

inline uint16_t LE16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t LE32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

tagBITMAPINFOHEADER ParseInfo(const uint8_t* b) {
    tagBITMAPINFOHEADER h;
    h.biSize = LE32(b);
    h.biWidth = int32_t(LE32(b + 4));
    h.biHeight = int32_t(LE32(b + 8));
    h.biPlanes = LE16(b + 12);
    h.biBitCount = LE16(b + 14);
    h.biCompression = LE32(b + 16);
    h.biSizeImage = LE32(b + 20);
    h.biXPelsPerMeter = int32_t(LE32(b + 24));
    h.biYPelsPerMeter = int32_t(LE32(b + 28));
    h.biClrUsed = LE32(b + 32);
    h.biClrImportant = LE32(b + 36);
    return h;
}

// Reads up to n bytes; returns how many arrived.
size_t ReadSome(CRasterStream* s, void* dst, uint64_t n) {
    if (n == 0)
        return 0;
    return s->Read(dst, 1, size_t(n));
}

// Scales a channel of `bits` bits to 8 bits by taking its top bits.
inline uint8_t Channel(uint32_t w, uint32_t mask, int shift, int bits) {
    if (!mask)
        return 0;
    uint32_t v = (w & mask) >> shift;
    if (bits >= 8)
        return uint8_t(v >> (bits - 8));
    return uint8_t(v << (8 - bits));
}

} // namespace

bool CRasterBMP::DibReadBitmapInfo(CRasterStream* fh, tagBITMAPINFOHEADER* pdib) {
    if (!fh || !pdib)
        return false;
    // The size comes first; only as many bytes as the header has are read,
    // so that a small core-header file needs no bytes it does not hold.
    uint8_t b[40] = {};
    if (fh->Read(b, 4, 1) != 1)
        return false;
    tagBITMAPINFOHEADER h;
    switch (LE32(b)) {
    case 12: {
        if (fh->Read(b + 4, 8, 1) != 1)
            return false;
        h = tagBITMAPINFOHEADER{};
        h.biSize = 12;
        h.biWidth = LE16(b + 4);
        h.biHeight = LE16(b + 6);
        h.biPlanes = LE16(b + 8);
        h.biBitCount = LE16(b + 10);
        break;
    }
    // The longer headers share the first 40 bytes; the rest is skipped.
    case 40:
    case 52:
    case 56:
    case 64:
    case 108:
    case 124:
        if (fh->Read(b + 4, 36, 1) != 1)
            return false;
        h = ParseInfo(b);
        if (h.biSize > 40 && !fh->Seek(long(h.biSize) - 40, 1))
            return false;
        break;
    default:
        return false;
    }
    if (h.biSizeImage == 0) {
        uint64_t row = ((uint64_t(h.biBitCount) * uint64_t(std::abs(int64_t(h.biWidth))) + 31) &
                        ~uint64_t(31)) >>
                       3;
        uint64_t size = row * uint64_t(std::abs(int64_t(h.biHeight)));
        h.biSizeImage = size > UINT32_MAX ? UINT32_MAX : uint32_t(size);
    }
    if (h.biClrUsed == 0)
        h.biClrUsed = h.biBitCount <= 8 ? (1u << h.biBitCount) : 0;
    *pdib = h;
    return true;
}

void CRasterBMP::Bitfield2RGB(const uint8_t* src, uint32_t redmask, uint32_t greenmask,
                              uint32_t bluemask, uint8_t bpp) {
    const long w = head.biWidth, h = head.biHeight;
    if (bpp == 16) {
        redmask &= 0xFFFF;
        greenmask &= 0xFFFF;
        bluemask &= 0xFFFF;
        // Each channel's position and width come from its own mask, so no
        // shift is ever negative whatever masks a file carries.
        const int rs = redmask ? std::countr_zero(redmask) : 0;
        const int gs = greenmask ? std::countr_zero(greenmask) : 0;
        const int bs = bluemask ? std::countr_zero(bluemask) : 0;
        const int rn = std::popcount(redmask), gn = std::popcount(greenmask),
                  bn = std::popcount(bluemask);
        const size_t srcStride = size_t((w + 1) / 2) * 4;
        // Backwards, so that src may be the pixel area itself.
        for (long y = h - 1; y >= 0; y--) {
            const uint8_t* s = src + srcStride * size_t(y);
            uint8_t* d = Row(y);
            for (long x = w - 1; x >= 0; x--) {
                uint32_t v = LE16(s + 2 * x);
                uint8_t* p = d + 3 * x;
                p[0] = Channel(v, bluemask, bs, bn);
                p[1] = Channel(v, greenmask, gs, gn);
                p[2] = Channel(v, redmask, rs, rn);
            }
        }
    } else if (bpp == 32) {
        const size_t srcStride = size_t(w) * 4;
        for (long y = h - 1; y >= 0; y--) {
            const uint8_t* s = src + srcStride * size_t(y);
            uint8_t* d = Row(y);
            for (long x = 0; x < w; x++) {
                d[3 * x] = s[4 * x];
                d[3 * x + 1] = s[4 * x + 1];
                d[3 * x + 2] = s[4 * x + 2];
            }
        }
    }
}

// Run-length data: every run, absolute block and delta is clipped to the row
// and to the rows of the bitmap.
void CRasterBMP::DecodeRLE(CRasterStream* hFile, bool rle4) {
    // The compressed data is small next to the bitmap; take it in one piece.
    std::vector<uint8_t> data;
    long pos = hFile->Tell(), end = hFile->Size();
    if (pos >= 0 && end > pos) {
        data.resize(size_t(end - pos));
        data.resize(ReadSome(hFile, data.data(), data.size()));
    }
    size_t i = 0;
    const size_t n = data.size();
    const long w = head.biWidth, h = head.biHeight;
    long scanline = 0, xpos = 0; // xpos in pixels
    auto put = [&](uint8_t v) {
        if (scanline < h && xpos < w) {
            uint8_t* row = Row(scanline);
            if (rle4) {
                uint8_t& b = row[xpos >> 1];
                b = (xpos & 1) ? uint8_t((b & 0xF0) | (v & 0x0F)) : uint8_t((b & 0x0F) | (v << 4));
            } else {
                row[xpos] = v;
            }
        }
        xpos++;
    };
    while (i < n && scanline < h) {
        uint8_t status = data[i++];
        if (status) {
            if (i >= n)
                break;
            uint8_t b = data[i++];
            long count = status;
            if (xpos + count > w)
                count = w > xpos ? w - xpos : 0;
            for (long k = 0; k < count; k++)
                put(rle4 ? ((k & 1) ? (b & 0x0F) : (b >> 4)) : b);
            xpos += status - count;
            continue;
        }
        if (i >= n)
            break;
        uint8_t cmd = data[i++];
        if (cmd == 0) {
            scanline++;
            xpos = 0;
        } else if (cmd == 1) {
            break;
        } else if (cmd == 2) {
            if (i + 2 > n)
                break;
            xpos += data[i];
            scanline += data[i + 1];
            i += 2;
        } else {
            long count = cmd;
            size_t bytes = rle4 ? size_t((count + 1) / 2) : size_t(count);
            size_t avail = n - i < bytes ? n - i : bytes;
            for (long k = 0; k < count; k++) {
                size_t at = rle4 ? size_t(k / 2) : size_t(k);
                if (at >= avail)
                    break;
                uint8_t b = data[i + at];
                put(rle4 ? ((k & 1) ? (b & 0x0F) : (b >> 4)) : b);
            }
            i += avail;
            if (bytes & 1)
                i++;
        }
    }
}

bool CRasterBMP::Decode(CRasterStream* hFile) {
    if (!hFile)
        return false;
    try {
        long off = hFile->Tell();
        uint8_t fh[14] = {};
        size_t got = hFile->Read(fh, 1, 14);
        if (got == 0)
            throw Failure{"Not a BMP"};
        uint32_t bfOffBits = LE32(fh + 10);
        if (got < 14 || LE16(fh) != 0x4D42) {
            // No file header: the data starts with the info header.
            bfOffBits = 0;
            hFile->Seek(off, 0);
        }
        if (!DibReadBitmapInfo(hFile, &head))
            throw Failure{"Error reading BMP info"};

        const uint32_t headerSize = head.biSize;
        const uint32_t compression = head.biCompression;
        const uint16_t bitCount = head.biBitCount;
        head.biSize = sizeof(tagBITMAPINFOHEADER);

        // Zero, negative widths and a height of INT32_MIN (which cannot be
        // negated) are refused before anything is allocated.
        if (head.biWidth <= 0 || head.biHeight == 0 || head.biHeight == INT32_MIN)
            throw Failure{"Error reading BMP info"};
        bool topDown = false;
        if (head.biHeight < 0) {
            head.biHeight = -head.biHeight;
            topDown = true;
        }
        switch (bitCount) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            break;
        default:
            throw Failure{"Error reading BMP info"};
        }
        const int32_t xppm = head.biXPelsPerMeter, yppm = head.biYPelsPerMeter;
        if (!Create(uint32_t(head.biWidth), uint32_t(head.biHeight), bitCount, kRasterBMP))
            throw Failure{"Can't allocate memory"};
        head.biXPelsPerMeter = xppm;
        head.biYPelsPerMeter = yppm;
        info.xDPI = int32_t(std::floor(xppm * 254.0 / 10000.0 + 0.5));
        info.yDPI = int32_t(std::floor(yppm * 254.0 / 10000.0 + 0.5));
        if (info.escape)
            throw Failure{"Cancelled"};

        if (tagRGBQUAD* pal = GetPalette()) {
            const uint32_t count = head.biClrUsed;
            // Only the OS/2 headers (12 and 64 bytes) carry 3-byte entries;
            // every Windows header, 52 and 56 included, carries 4-byte ones.
            if (headerSize != 12 && headerSize != 64) {
                ReadSome(hFile, pal, uint64_t(count) * 4);
            } else {
                uint8_t* raw = reinterpret_cast<uint8_t*>(pal);
                ReadSome(hFile, raw, uint64_t(count) * 3);
                for (long k = long(count) - 1; k >= 0; k--) {
                    uint8_t b = raw[3 * k], g = raw[3 * k + 1], r = raw[3 * k + 2];
                    pal[k] = tagRGBQUAD{b, g, r, 0};
                }
            }
            info.lastColorValid = false;
        }
        if (info.escape)
            throw Failure{"Cancelled"};

        auto seekData = [&]() {
            if (bfOffBits != 0)
                hFile->Seek(off + long(bfOffBits), 0);
        };
        const long w = head.biWidth, h = head.biHeight;
        switch (bitCount) {
        case 32: {
            seekData();
            if (compression != 0 && compression != 3)
                throw Failure{"unknown compression"};
            uint64_t bytes = uint64_t(w) * uint64_t(h) * 4;
            if (bytes > maxBlockSize)
                throw Failure{"can't allocate memory"};
            uint8_t* buf = static_cast<uint8_t*>(std::calloc(1, size_t(bytes)));
            if (!buf)
                throw Failure{"can't allocate memory"};
            ReadSome(hFile, buf, bytes);
            Bitfield2RGB(buf, 0, 0, 0, 32);
            std::free(buf);
            break;
        }
        case 24:
            seekData();
            if (compression != 0)
                throw Failure{"unknown compression"};
            ReadSome(hFile, info.pixels, head.biSizeImage);
            break;
        case 16: {
            uint32_t rm = 0x7C00, gm = 0x03E0, bm = 0x001F;
            if (compression == 3) {
                uint8_t m[12] = {};
                if (headerSize >= 52) {
                    // Longer headers carry the masks inside the header.
                    long save = hFile->Tell();
                    hFile->Seek(off + (bfOffBits ? 14 : 0) + 40, 0);
                    hFile->Read(m, 1, 12);
                    hFile->Seek(save, 0);
                } else {
                    hFile->Read(m, 1, 12);
                }
                rm = LE32(m);
                gm = LE32(m + 4);
                bm = LE32(m + 8);
            }
            seekData();
            uint64_t bytes = uint64_t((w + 1) / 2) * 4 * uint64_t(h);
            ReadSome(hFile, info.pixels, bytes);
            Bitfield2RGB(info.pixels, rm, gm, bm, 16);
            break;
        }
        default: // 1, 4, 8
            seekData();
            switch (compression) {
            case 0:
                ReadSome(hFile, info.pixels, head.biSizeImage);
                break;
            // Run-length data is defined only for its own depth; with another
            // one the runs would be written past the rows.
            case 1:
                if (bitCount != 8)
                    throw Failure{"compression type not supported"};
                DecodeRLE(hFile, false);
                break;
            case 2:
                if (bitCount != 4)
                    throw Failure{"compression type not supported"};
                DecodeRLE(hFile, true);
                break;
            default:
                throw Failure{"compression type not supported"};
            }
            break;
        }
        if (topDown)
            Flip();
        return true;
    } catch (const Failure& f) {
        SetError(f.text);
        return false;
    }
}

bool CRasterICO::Decode(CRasterStream* hFile) {
    if (!hFile)
        return false;
    uint8_t hdr[6];
    if (hFile->Read(hdr, 1, 6) != 6 || LE16(hdr) != 0 || LE16(hdr + 2) != 1)
        return false;
    const unsigned count = LE16(hdr + 4);
    info.numFrames = int32_t(count);
    if (count == 0 || info.frame < 0 || unsigned(info.frame) >= count)
        return false;
    std::vector<uint8_t> dir(size_t(count) * 16);
    if (hFile->Read(dir.data(), 1, dir.size()) != dir.size())
        return false;
    const uint8_t* e = dir.data() + size_t(info.frame) * 16;
    // A size byte of 0 stands for 256 pixels.
    const unsigned w = e[0] ? e[0] : 256, h = e[1] ? e[1] : 256;
    const uint32_t offset = LE32(e + 12);
    if (offset > uint32_t(LONG_MAX) || !hFile->Seek(long(offset), 0))
        return false;
    uint8_t ih[40];
    if (hFile->Read(ih, 1, 40) != 40)
        return false;
    tagBITMAPINFOHEADER bih = ParseInfo(ih);
    // Entries stored as PNG (or anything else) do not carry this header.
    if (bih.biSize != 40)
        return false;
    const unsigned depth = bih.biBitCount;
    if (depth != 1 && depth != 4 && depth != 8 && depth != 16 && depth != 24 && depth != 32)
        return false;
    if (!Create(w, h, depth, kRasterICO))
        return false;
    if (tagRGBQUAD* pal = GetPalette()) {
        ReadSome(hFile, pal, uint64_t(head.biClrUsed) * 4);
        info.lastColorValid = false;
    }
    if (depth > 24) {
        std::vector<uint8_t> buf(size_t(w) * h * 4);
        ReadSome(hFile, buf.data(), buf.size());
        for (unsigned y = 0; y < h; y++) {
            const uint8_t* s = buf.data() + size_t(y) * w * 4;
            uint8_t* d = Row(long(y));
            for (unsigned x = 0; x < w; x++) {
                d[3 * x] = s[4 * x];
                d[3 * x + 1] = s[4 * x + 1];
                d[3 * x + 2] = s[4 * x + 2];
            }
        }
        return true;
    }
    ReadSome(hFile, info.pixels, head.biSizeImage);
    if (depth > 8)
        return true;

    const size_t maskStride = size_t((w + 31) / 32) * 4;
    std::vector<uint8_t> mask(maskStride * h, 0);
    ReadSome(hFile, mask.data(), mask.size());

    // Indexes read straight from the rows: 1, 4 or 8 bits, high bits first.
    auto indexAt = [depth](const uint8_t* row, unsigned x) -> uint8_t {
        if (depth == 8)
            return row[x];
        if (depth == 4)
            return (x & 1) ? (row[x >> 1] & 0x0F) : uint8_t(row[x >> 1] >> 4);
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    };
    bool used[256] = {};
    for (unsigned y = 0; y < h; y++) {
        const uint8_t* row = Row(long(y));
        for (unsigned x = 0; x < w; x++)
            used[indexAt(row, x)] = true;
    }
    int free = -1;
    for (unsigned i = 0; i < head.biClrUsed && i < 256; i++) {
        if (!used[i]) {
            free = int(i);
            break;
        }
    }
    if (free < 0)
        return true;
    bool any = false;
    for (unsigned y = 0; y < h; y++) {
        const uint8_t* m = mask.data() + maskStride * y;
        uint8_t* row = Row(long(y));
        for (unsigned x = 0; x < w; x++) {
            if (!((m[x >> 3] >> (7 - (x & 7))) & 1))
                continue;
            any = true;
            const uint8_t v = uint8_t(free);
            if (depth == 8) {
                row[x] = v;
            } else if (depth == 4) {
                uint8_t& b = row[x >> 1];
                b = (x & 1) ? uint8_t((b & 0xF0) | v) : uint8_t((b & 0x0F) | (v << 4));
            } else if (v) {
                row[x >> 3] |= uint8_t(0x80 >> (x & 7));
            } else {
                row[x >> 3] &= uint8_t(~(0x80 >> (x & 7)));
            }
        }
    }
    if (any)
        info.backgroundIndex = free;
    return true;
}
