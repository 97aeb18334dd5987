// Cropping, negation, depth reduction, resampling, skewing, skew detection,
// free rotation, grey conversion and dithering. Each computes into a
// temporary image and moves it into place only when complete; sizes are
// checked before anything is allocated, and coordinates computed in floating
// point are clamped before they become integers.
#include "raster/raster.h"
#include "raster/raster_pixels.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using raster_pixels::IndexAt;
using raster_pixels::PutIndex;

inline uint8_t Luminance(uint8_t b, uint8_t g, uint8_t r) {
    return uint8_t((b * 117 + g * 601 + r * 306) >> 10);
}

inline uint8_t ClampByte(long v) {
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

inline uint8_t ClampByte(double v) {
    return uint8_t(v >= 255.0 ? 255 : v > 0.0 ? int(v) : 0);
}

// A double to long without undefined behaviour: NaN gives 0, values past
// the range its end.
inline long ToLong(double v) {
    if (std::isnan(v))
        return 0;
    if (v >= 9.0e18)
        return LONG_MAX;
    if (v <= -9.0e18)
        return LONG_MIN;
    return long(v);
}

// A size asked by a caller: positive and such that a 24-bit block of it
// could exist under the block cap.
bool SizeOK(long w, long h) {
    if (w <= 0 || h <= 0 || w > INT32_MAX || h > INT32_MAX)
        return false;
    const uint64_t stride = ((uint64_t(24) * uint64_t(w) + 31) >> 5) << 2;
    return stride * uint64_t(h) + 40 + 1024 <= CRaster::maxBlockSize;
}

// A temporary with this image's information record and resolution.
bool MakeTemp(const CRaster& img, CRaster& tmp, unsigned long w, unsigned long h,
              unsigned long bpp) {
    tmp.CopyInfo(img);
    tmp.info.ghost = nullptr;
    tmp.info.numLayers = 0;
    tmp.head.biXPelsPerMeter = img.head.biXPelsPerMeter;
    tmp.head.biYPelsPerMeter = img.head.biYPelsPerMeter;
    return tmp.Create(w, h, bpp, img.info.type) != nullptr;
}

inline uint8_t* RowOf(const CRaster& img, long y) {
    return img.info.pixels + size_t(img.info.effWidth) * size_t(y);
}

// The colour of every index, as blue, green, red.
struct ColourTable {
    uint8_t bgr[256][3] = {};
    explicit ColourTable(const CRaster& img) {
        const tagRGBQUAD* pal = img.GetPalette();
        for (uint32_t i = 0; pal && i < img.head.biClrUsed && i < 256; i++) {
            bgr[i][0] = pal[i].rgbBlue;
            bgr[i][1] = pal[i].rgbGreen;
            bgr[i][2] = pal[i].rgbRed;
        }
    }
};

// GetNearestIndex over a whole picture: the same answer (smallest squared
// distance, the earliest entry among equals) without scanning the whole
// palette per pixel. Colour space is cut into 8 x 8 x 8 cells; each cell
// keeps, in palette order, the entries that can be nearest to some colour in
// it (those no farther from the cell than the farthest point of the best
// entry), and answers are remembered per colour.
class NearestCache {
public:
    explicit NearestCache(const CRaster& img)
        : pal(img.GetPalette()), count(std::min<uint32_t>(img.head.biClrUsed, 256)) {
        keys.assign(kSlots, UINT32_MAX);
        values.assign(kSlots, 0);
        cellAt.assign(kCells, UINT32_MAX);
        cellLen.assign(kCells, 0);
    }
    uint8_t Find(uint8_t b, uint8_t g, uint8_t r) {
        if (!pal || count == 0)
            return 0;
        const uint32_t key = uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16;
        const uint32_t s = (key * 2654435761u) >> (32 - kBits);
        if (keys[s] == key)
            return values[s];
        const uint32_t cell = uint32_t(b >> 3) | uint32_t(g >> 3) << 5 | uint32_t(r >> 3) << 10;
        if (cellAt[cell] == UINT32_MAX)
            Fill(cell);
        long best = LONG_MAX;
        uint8_t index = 0;
        const uint8_t* cand = pool.data() + cellAt[cell];
        for (uint32_t k = 0; k < cellLen[cell]; k++) {
            const tagRGBQUAD& p = pal[cand[k]];
            const long db = long(p.rgbBlue) - b, dg = long(p.rgbGreen) - g, dr = long(p.rgbRed) - r;
            const long d = db * db + dg * dg + dr * dr;
            if (d < best) {
                best = d;
                index = cand[k];
                if (d == 0)
                    break;
            }
        }
        keys[s] = key;
        values[s] = index;
        return index;
    }

private:
    void Fill(uint32_t cell) {
        const long lo[3] = {long(cell & 31) * 8, long((cell >> 5) & 31) * 8, long(cell >> 10) * 8};
        long near[256], far = LONG_MAX;
        for (uint32_t i = 0; i < count; i++) {
            const long v[3] = {pal[i].rgbBlue, pal[i].rgbGreen, pal[i].rgbRed};
            long dn = 0, df = 0;
            for (int c = 0; c < 3; c++) {
                const long a = lo[c], z = lo[c] + 7;
                const long n = v[c] < a ? a - v[c] : v[c] > z ? v[c] - z : 0;
                const long f = std::max(std::abs(v[c] - a), std::abs(v[c] - z));
                dn += n * n;
                df += f * f;
            }
            near[i] = dn;
            far = std::min(far, df);
        }
        cellAt[cell] = uint32_t(pool.size());
        for (uint32_t i = 0; i < count; i++)
            if (near[i] <= far)
                pool.push_back(uint8_t(i));
        cellLen[cell] = uint16_t(pool.size() - cellAt[cell]);
    }
    static constexpr int kBits = 16;
    static constexpr uint32_t kSlots = 1u << kBits;
    static constexpr uint32_t kCells = 1u << 15;
    const tagRGBQUAD* pal;
    uint32_t count;
    std::vector<uint32_t> keys;
    std::vector<uint8_t> values;
    std::vector<uint32_t> cellAt;
    std::vector<uint16_t> cellLen;
    std::vector<uint8_t> pool;
};

// Writes a colour into pixel x of a row of dst: the nearest entry for
// palette images, the bytes for 24-bit ones.
inline void PutColour(uint8_t* row, long x, unsigned bpp, NearestCache& near, uint8_t b, uint8_t g,
                      uint8_t r) {
    if (bpp == 24) {
        row[3 * x] = b;
        row[3 * x + 1] = g;
        row[3 * x + 2] = r;
    } else {
        PutIndex(row, x, bpp, near.Find(b, g, r));
    }
}

// Blue, green, red of pixel x of a source row.
inline const uint8_t* ColourAt(const uint8_t* row, long x, unsigned bpp, const ColourTable& ct) {
    return bpp == 24 ? row + 3 * x : ct.bgr[IndexAt(row, x, bpp)];
}

} // namespace

// ---------------------------------------------------------------------------

bool CRaster::Crop(long left, long top, long right, long bottom, CRaster* iDst) {
    if (!dib)
        return false;
    const long w = head.biWidth, h = head.biHeight;
    left = std::clamp(left, 0L, w);
    right = std::clamp(right, 0L, w);
    top = std::clamp(top, 0L, h);
    bottom = std::clamp(bottom, 0L, h);
    if (right < left)
        std::swap(left, right);
    if (bottom < top)
        std::swap(top, bottom);
    const long cw = right - left, ch = bottom - top;
    if (cw == 0 || ch == 0)
        return false;
    // Rows from the bottom of the picture.
    const long y0 = h - bottom;
    const unsigned bpp = head.biBitCount;

    CRaster tmp(0);
    if (!MakeTemp(*this, tmp, unsigned(cw), unsigned(ch), bpp))
        return false;
    tmp.SetPalette(GetPalette(), 256);
    for (long y = 0; y < ch; y++) {
        info.progress = int32_t(y * 100 / ch);
        if (info.escape)
            break;
        const uint8_t* src = Row(y0 + y);
        uint8_t* dst = tmp.Row(y);
        if (bpp == 24) {
            std::memcpy(dst, src + 3 * left, size_t(cw) * 3);
        } else if (bpp == 8) {
            std::memcpy(dst, src + left, size_t(cw));
        } else {
            for (long x = 0; x < cw; x++)
                PutIndex(dst, x, bpp, IndexAt(src, left + x, bpp));
        }
    }
    tmp.info.backgroundIndex = info.backgroundIndex;
    tmp.info.backgroundColor = info.backgroundColor;
    (iDst ? *iDst : *this).Transfer(tmp);
    return true;
}

bool CRaster::Negative() {
    if (!dib)
        return false;
    const long w = head.biWidth, h = head.biHeight;
    const unsigned bpp = head.biBitCount;
    // The selection box: columns left .. right-1, rows bottom .. top-1 (from
    // the bottom of the picture), kept inside the image.
    long x0 = 0, x1 = w, y0 = 0, y1 = h;
    if (selection) {
        x0 = std::clamp<long>(info.selectionBox[0], 0, w);
        x1 = std::clamp<long>(info.selectionBox[2], 0, w);
        y0 = std::clamp<long>(info.selectionBox[3], 0, h);
        y1 = std::clamp<long>(info.selectionBox[1], 0, h);
    }
    if (bpp < 24 && !IsGrayScale()) {
        tagRGBQUAD* pal = GetPalette();
        for (uint32_t i = 0; pal && i < head.biClrUsed; i++) {
            pal[i].rgbBlue = uint8_t(255 - pal[i].rgbBlue);
            pal[i].rgbGreen = uint8_t(255 - pal[i].rgbGreen);
            pal[i].rgbRed = uint8_t(255 - pal[i].rgbRed);
        }
        info.lastColorValid = false;
    } else if (!selection) {
        // Grey indexes and 24-bit samples alike: every byte inverted.
        for (long y = 0; y < h; y++) {
            info.progress = int32_t(y * 100 / h);
            if (info.escape)
                break;
            uint8_t* row = Row(y);
            for (uint32_t i = 0; i < info.effWidth; i++)
                row[i] = uint8_t(~row[i]);
        }
    } else {
        const uint8_t mask = uint8_t(bpp == 24 ? 0xFF : (1u << bpp) - 1);
        for (long y = y0; y < y1; y++) {
            info.progress = int32_t(y * 100 / h);
            if (info.escape)
                break;
            uint8_t* row = Row(y);
            if (bpp == 24) {
                for (long i = 3 * x0; i < 3 * x1; i++)
                    row[i] = uint8_t(~row[i]);
            } else {
                for (long x = x0; x < x1; x++)
                    PutIndex(row, x, bpp, uint8_t(IndexAt(row, x, bpp) ^ mask));
            }
        }
    }
    info.backgroundColor.rgbBlue = uint8_t(255 - info.backgroundColor.rgbBlue);
    info.backgroundColor.rgbGreen = uint8_t(255 - info.backgroundColor.rgbGreen);
    info.backgroundColor.rgbRed = uint8_t(255 - info.backgroundColor.rgbRed);
    return true;
}

bool CRaster::DecreaseBpp(unsigned long nbit, bool errordiffusion, const tagRGBQUAD* ppal) {
    if (!dib)
        return false;
    if (nbit != 1 && nbit != 4 && nbit != 8)
        return false;
    const unsigned bpp = head.biBitCount;
    if (nbit > bpp)
        return false;
    if (nbit == bpp)
        return true;
    const long w = head.biWidth, h = head.biHeight;

    CRaster tmp(0);
    if (!MakeTemp(*this, tmp, unsigned(w), unsigned(h), nbit))
        return false;
    if (ppal) {
        tmp.SetPalette(ppal, nbit == 8 ? 256 : 16);
    } else if (nbit == 1) {
        tmp.SetPaletteColor(0, 0, 0, 0);
        tmp.SetPaletteColor(1, 255, 255, 255);
    } else {
        tmp.SetStdPalette();
    }
    const ColourTable ct(*this);
    NearestCache near(tmp);
    const tagRGBQUAD* npal = tmp.GetPalette();

    if (!errordiffusion) {
        for (long y = 0; y < h; y++) {
            info.progress = int32_t(y * 100 / h);
            if (info.escape)
                break;
            const uint8_t* src = Row(y);
            uint8_t* dst = tmp.Row(y);
            for (long x = 0; x < w; x++) {
                const uint8_t* c = ColourAt(src, x, bpp, ct);
                PutIndex(dst, x, nbit, near.Find(c[0], c[1], c[2]));
            }
        }
    } else {
        // The source as it is being corrected: this row and the next, each
        // addition of error clamped to 0-255 as it happens.
        std::vector<int> cur(size_t(w) * 3), next(size_t(w) * 3);
        auto load = [&](std::vector<int>& buf, long y) {
            const uint8_t* src = Row(y);
            for (long x = 0; x < w; x++) {
                const uint8_t* c = ColourAt(src, x, bpp, ct);
                buf[size_t(3 * x)] = c[0];
                buf[size_t(3 * x + 1)] = c[1];
                buf[size_t(3 * x + 2)] = c[2];
            }
        };
        auto add = [](std::vector<int>& buf, long x, long w, const long err[3], long k) {
            if (x < 0 || x >= w)
                return;
            for (int ch = 0; ch < 3; ch++) {
                int& v = buf[size_t(3 * x + ch)];
                v = ClampByte(long(v) + (k * err[ch]) / 16);
            }
        };
        load(cur, 0);
        for (long y = 0; y < h; y++) {
            info.progress = int32_t(y * 100 / h);
            if (info.escape)
                break;
            const bool hasNext = y + 1 < h;
            if (hasNext)
                load(next, y + 1);
            uint8_t* dst = tmp.Row(y);
            for (long x = 0; x < w; x++) {
                const int* c = &cur[size_t(3 * x)];
                const uint8_t i = near.Find(uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2]));
                PutIndex(dst, x, nbit, i);
                const long err[3] = {c[0] - long(npal[i].rgbBlue), c[1] - long(npal[i].rgbGreen),
                                     c[2] - long(npal[i].rgbRed)};
                add(cur, x + 1, w, err, 7);
                if (hasNext) {
                    add(next, x - 1, w, err, 2);
                    add(next, x, w, err, 4);
                    add(next, x + 1, w, err, 1);
                }
            }
            std::swap(cur, next);
        }
    }
    if (info.backgroundIndex != -1) {
        const tagRGBQUAD t = GetTransColor();
        tmp.info.backgroundIndex = near.Find(t.rgbBlue, t.rgbGreen, t.rgbRed);
    }
    Transfer(tmp);
    return true;
}

float CRaster::b3spline(float x) {
    auto p = [](float t) { return t > 0.0f ? t * t * t : 0.0f; };
    return (p(x + 2.0f) - 4.0f * p(x + 1.0f) + 6.0f * p(x) - 4.0f * p(x - 1.0f)) / 6.0f;
}

bool CRaster::Resample(long newx, long newy, int mode, CRaster* iDst) {
    if (!dib)
        return false;
    if (!SizeOK(newx, newy))
        return false;
    const long w = head.biWidth, h = head.biHeight;
    const unsigned bpp = head.biBitCount;
    if (newx == w && newy == h) {
        if (iDst)
            iDst->Copy(*this);
        return true;
    }
    const double xScale = double(w) / double(newx), yScale = double(h) / double(newy);

    CRaster tmp(0);
    if (!MakeTemp(*this, tmp, unsigned(newx), unsigned(newy), bpp))
        return false;
    tmp.SetPalette(GetPalette(), 256);
    const ColourTable ct(*this);
    NearestCache near(tmp);

    if (mode == 1) {
        // Nearest neighbour: indexes and samples are copied as they are.
        std::vector<long> sx(static_cast<size_t>(newx));
        for (long x = 0; x < newx; x++)
            sx[size_t(x)] = std::min(w - 1, ToLong(std::floor(double(x) * xScale)));
        for (long y = 0; y < newy; y++) {
            info.progress = int32_t(y * 100 / newy);
            if (info.escape)
                break;
            const long sy = std::min(h - 1, ToLong(std::floor(double(y) * yScale)));
            const uint8_t* src = Row(sy);
            uint8_t* dst = tmp.Row(y);
            for (long x = 0; x < newx; x++) {
                if (bpp == 24)
                    std::memcpy(dst + 3 * x, src + 3 * sx[size_t(x)], 3);
                else
                    PutIndex(dst, x, bpp, IndexAt(src, sx[size_t(x)], bpp));
            }
        }
    } else if (mode == 2) {
        // Bicubic B-spline over a 4 x 4 neighbourhood; the weights split into
        // a column part and a row part, worked out once per column and row.
        struct Taps {
            long at[4];
            float wt[4];
        };
        auto taps = [](long n, double scale, long limit) {
            std::vector<Taps> t(static_cast<size_t>(n));
            for (long i = 0; i < n; i++) {
                const float f = float(double(i) * scale) - 0.5f;
                const long base = ToLong(std::floor(f));
                const float frac = f - std::floor(f);
                for (int m = -1; m < 3; m++) {
                    t[size_t(i)].at[m + 1] = std::clamp(base + m, 0L, limit - 1);
                    t[size_t(i)].wt[m + 1] = b3spline(float(m) - frac);
                }
            }
            return t;
        };
        const std::vector<Taps> tx = taps(newx, xScale, w), ty = taps(newy, yScale, h);
        for (long y = 0; y < newy; y++) {
            info.progress = int32_t(y * 100 / newy);
            if (info.escape)
                break;
            const Taps& vy = ty[size_t(y)];
            uint8_t* dst = tmp.Row(y);
            for (long x = 0; x < newx; x++) {
                const Taps& vx = tx[size_t(x)];
                float acc[3] = {0, 0, 0};
                for (int m = 0; m < 4; m++) {
                    const uint8_t* src = Row(vy.at[m]);
                    for (int n = 0; n < 4; n++) {
                        const float k = vy.wt[m] * vx.wt[n];
                        const uint8_t* c = ColourAt(src, vx.at[n], bpp, ct);
                        acc[0] += c[0] * k;
                        acc[1] += c[1] * k;
                        acc[2] += c[2] * k;
                    }
                }
                PutColour(dst, x, bpp, near, ClampByte(double(acc[0])), ClampByte(double(acc[1])),
                          ClampByte(double(acc[2])));
            }
        }
    } else if (newx < w && newy < h && bpp == 24) {
        // Box filter: each target pixel is the mean of the source area it
        // covers, edge pixels weighted by the part that falls inside.
        struct Span {
            long first, last;
            std::vector<double> wt;
        };
        auto spans = [](long n, double scale, long limit) {
            std::vector<Span> s(static_cast<size_t>(n));
            for (long i = 0; i < n; i++) {
                const double a = double(i) * scale, b = std::min(double(limit), a + scale);
                Span& sp = s[size_t(i)];
                sp.first = ToLong(std::floor(a));
                sp.last = std::min(limit - 1, ToLong(std::ceil(b)) - 1);
                for (long k = sp.first; k <= sp.last; k++) {
                    const double lo = std::max(a, double(k)), hi = std::min(b, double(k + 1));
                    sp.wt.push_back(hi > lo ? (hi - lo) / scale : 0.0);
                }
            }
            return s;
        };
        const std::vector<Span> sx = spans(newx, xScale, w), sy = spans(newy, yScale, h);
        std::vector<double> acc(size_t(newx) * 3);
        for (long y = 0; y < newy; y++) {
            info.progress = int32_t(y * 100 / newy);
            if (info.escape)
                break;
            std::fill(acc.begin(), acc.end(), 0.0);
            const Span& vy = sy[size_t(y)];
            for (long k = vy.first; k <= vy.last; k++) {
                const double ky = vy.wt[size_t(k - vy.first)];
                const uint8_t* src = Row(k);
                for (long x = 0; x < newx; x++) {
                    const Span& vx = sx[size_t(x)];
                    double b = 0, g = 0, r = 0;
                    for (long j = vx.first; j <= vx.last; j++) {
                        const double kx = vx.wt[size_t(j - vx.first)];
                        b += src[3 * j] * kx;
                        g += src[3 * j + 1] * kx;
                        r += src[3 * j + 2] * kx;
                    }
                    acc[size_t(3 * x)] += b * ky;
                    acc[size_t(3 * x + 1)] += g * ky;
                    acc[size_t(3 * x + 2)] += r * ky;
                }
            }
            uint8_t* dst = tmp.Row(y);
            for (long i = 0; i < 3 * newx; i++)
                dst[i] = ClampByte(acc[size_t(i)] + 0.5);
        }
    } else {
        // Bilinear between the four neighbours (palette images through
        // their palette colours).
        for (long y = 0; y < newy; y++) {
            info.progress = int32_t(y * 100 / newy);
            if (info.escape)
                break;
            const double fy = double(y) * yScale;
            const long iy = std::min(h - 1, ToLong(fy)), iy1 = std::min(h - 1, iy + 1);
            const double dy = fy - double(iy);
            const uint8_t* r0 = Row(iy);
            const uint8_t* r1 = Row(iy1);
            uint8_t* dst = tmp.Row(y);
            for (long x = 0; x < newx; x++) {
                const double fx = double(x) * xScale;
                const long ix = std::min(w - 1, ToLong(fx)), ix1 = std::min(w - 1, ix + 1);
                const double dx = fx - double(ix);
                const uint8_t* c1 = ColourAt(r0, ix, bpp, ct);
                const uint8_t* c2 = ColourAt(r0, ix1, bpp, ct);
                const uint8_t* c3 = ColourAt(r1, ix, bpp, ct);
                const uint8_t* c4 = ColourAt(r1, ix1, bpp, ct);
                uint8_t out[3];
                for (int ch = 0; ch < 3; ch++)
                    out[ch] = ClampByte((1 - dy) * ((1 - dx) * c1[ch] + dx * c2[ch]) +
                                        dy * ((1 - dx) * c3[ch] + dx * c4[ch]));
                PutColour(dst, x, bpp, near, out[0], out[1], out[2]);
            }
        }
    }
    (iDst ? *iDst : *this).Transfer(tmp);
    return true;
}

bool CRaster::Skew(float xgain, float ygain, long xpivot, long ypivot) {
    if (!dib)
        return false;
    if (!std::isfinite(xgain) || !std::isfinite(ygain))
        return false;
    const long w = head.biWidth, h = head.biHeight;
    const unsigned bpp = head.biBitCount;
    long x0 = 0, x1 = w, y0 = 0, y1 = h;
    if (selection) {
        x0 = std::clamp<long>(info.selectionBox[0], 0, w);
        x1 = std::clamp<long>(info.selectionBox[2], 0, w);
        y0 = std::clamp<long>(info.selectionBox[3], 0, h);
        y1 = std::clamp<long>(info.selectionBox[1], 0, h);
    }
    // The result starts as a copy, so pixels outside the box keep theirs.
    CRaster tmp(*this, true, false, false);
    if (!tmp.dib)
        return false;
    const tagRGBQUAD outside = GetPixelColor(-1, -1);
    const uint8_t outsideIndex = GetPixelIndex(-1, -1);
    for (long y = y0; y < y1; y++) {
        info.progress = int32_t(y * 100 / h);
        if (info.escape)
            break;
        const long dx = ToLong((double(y) - double(ypivot)) * double(xgain));
        uint8_t* dst = tmp.Row(y);
        for (long x = x0; x < x1; x++) {
            const long dy = ToLong((double(x) - double(xpivot)) * double(ygain));
            const double fx = double(x) + double(dx), fy = double(y) + double(dy);
            const bool inside = fx >= 0 && fx < double(w) && fy >= 0 && fy < double(h);
            if (bpp == 24) {
                const uint8_t* c = inside ? Row(long(fy)) + 3 * long(fx) : &outside.rgbBlue;
                std::memcpy(dst + 3 * x, c, 3);
            } else {
                PutIndex(dst, x, bpp,
                         inside ? IndexAt(Row(long(fy)), long(fx), bpp) : outsideIndex);
            }
        }
    }
    Transfer(tmp);
    return true;
}

float CRaster::Deskew() {
    if (!dib)
        return 0;
    // A black-and-white copy: dark pixels are those of the darker entry.
    CRaster bw(*this, true, false, false);
    if (!bw.dib)
        return 0;
    if (bw.head.biBitCount != 1 && !bw.DecreaseBpp(1, false, nullptr))
        return 0;
    const long w = bw.head.biWidth, h = bw.head.biHeight;
    const tagRGBQUAD p0 = bw.GetPaletteColor(0), p1 = bw.GetPaletteColor(1);
    const uint8_t darkIndex = CompareColors(&p0, &p1) <= 0 ? 0 : 1;
    // The dark pixels, every column of narrow pictures and a bounded share
    // of the columns of wide ones.
    const long xstride = std::max(1L, w / 1000);
    std::vector<std::pair<int32_t, int32_t>> dark;
    for (long y = 0; y < h; y++) {
        const uint8_t* row = bw.Row(y);
        for (long x = 0; x < w; x += xstride)
            if (IndexAt(row, x, 1) == darkIndex)
                dark.emplace_back(int32_t(x), int32_t(y));
    }
    // A line starts on every row: counting costs the same for any spacing
    // (each dark pixel is counted once per angle), and lines every width /
    // 100 rows would miss text lines between them on wide pictures.
    const long step = 1;
    const double lines = double((h + step - 1) / step);

    auto variance = [&](double angle) {
        const double slope = std::fabs(angle) < 0.05 ? 0.0 : std::tan(angle * M_PI / 180.0);
        const double reach = std::ceil(double(w) * std::fabs(slope)) + 1;
        std::vector<double> count(size_t((double(h) + 2 * reach) / double(step)) + 2, 0.0);
        for (const auto& [x, y] : dark) {
            const double at = (double(y) - double(x) * slope + reach) / double(step);
            count[size_t(std::max(0.0, at))] += 1;
        }
        // Over a fixed number of lines, so that the spread of the count
        // decides, not how many lines an angle reaches.
        double sum = 0, sum2 = 0;
        for (double c : count) {
            sum += c;
            sum2 += c * c;
        }
        const double mean = sum / lines;
        return sum2 / lines - mean * mean;
    };

    double best = 0, bestVar = -1;
    for (int a = -25; a <= 25; a++) {
        if (info.escape)
            return 0;
        const double v = variance(a);
        if (v > bestVar) {
            bestVar = v;
            best = a;
        }
    }
    const double coarse = best;
    for (int k = -10; k <= 10; k++) {
        if (info.escape)
            break;
        const double a = coarse + k * 0.1;
        const double v = variance(a);
        if (v > bestVar) {
            bestVar = v;
            best = a;
        }
    }
    return float(best);
}

bool CRaster::Rotate(float angle, CRaster* iDst) {
    if (!dib)
        return false;
    if (!std::isfinite(angle))
        return false;
    const double a = -std::fmod(double(angle), 360.0) * M_PI / 180.0;
    const double ca = std::cos(a), sa = std::sin(a);
    const long w = head.biWidth, h = head.biHeight;
    const unsigned bpp = head.biBitCount;
    // The four corners turned by a; the new picture is their bounding box.
    const double cx[4] = {0, w * ca, -h * sa, w * ca - h * sa};
    const double cy[4] = {0, w * sa, h * ca, w * sa + h * ca};
    const double minx = *std::min_element(cx, cx + 4), maxx = *std::max_element(cx, cx + 4);
    const double miny = *std::min_element(cy, cy + 4), maxy = *std::max_element(cy, cy + 4);
    const long nw = ToLong(std::floor(0.5 + maxx - minx)),
               nh = ToLong(std::floor(0.5 + maxy - miny));
    if (!SizeOK(nw, nh))
        return false;

    CRaster tmp(0);
    if (!MakeTemp(*this, tmp, unsigned(nw), unsigned(nh), bpp))
        return false;
    tmp.SetPalette(GetPalette(), 256);
    const tagRGBQUAD outside = GetPixelColor(-1, -1);
    const uint8_t outsideIndex = GetPixelIndex(-1, -1);
    // Each target pixel's centre, turned back, falls in the source pixel
    // that holds it; quarter and half turns thus map pixels one to one.
    const double ox = std::floor(minx + 0.5), oy = std::floor(miny + 0.5);
    for (long y = 0; y < nh; y++) {
        info.progress = int32_t(y * 100 / nh);
        if (info.escape)
            break;
        const double py = oy + double(y) + 0.5;
        uint8_t* dst = tmp.Row(y);
        for (long x = 0; x < nw; x++) {
            const double px = ox + double(x) + 0.5;
            const double fx = std::floor(px * ca + py * sa), fy = std::floor(py * ca - px * sa);
            const bool inside = fx >= 0 && fx < double(w) && fy >= 0 && fy < double(h);
            if (bpp == 24) {
                const uint8_t* c = inside ? Row(long(fy)) + 3 * long(fx) : &outside.rgbBlue;
                std::memcpy(dst + 3 * x, c, 3);
            } else {
                PutIndex(dst, x, bpp,
                         inside ? IndexAt(Row(long(fy)), long(fx), bpp) : outsideIndex);
            }
        }
    }
    (iDst ? *iDst : *this).Transfer(tmp);
    return true;
}

bool CRaster::Rotate180(CRaster* iDst) {
    if (!dib)
        return false;
    const long w = head.biWidth, h = head.biHeight;
    const unsigned bpp = head.biBitCount;
    CRaster tmp(0);
    if (!MakeTemp(*this, tmp, unsigned(w), unsigned(h), bpp))
        return false;
    tmp.SetPalette(GetPalette(), 256);
    for (long y = 0; y < h; y++) {
        info.progress = int32_t(y * 100 / h);
        if (info.escape)
            break;
        const uint8_t* src = Row(y);
        uint8_t* dst = tmp.Row(h - 1 - y);
        if (bpp == 24) {
            for (long x = 0; x < w; x++)
                std::memcpy(dst + 3 * (w - 1 - x), src + 3 * x, 3);
        } else if (bpp == 8) {
            for (long x = 0; x < w; x++)
                dst[w - 1 - x] = src[x];
        } else {
            for (long x = 0; x < w; x++)
                PutIndex(dst, w - 1 - x, bpp, IndexAt(src, x, bpp));
        }
    }
    (iDst ? *iDst : *this).Transfer(tmp);
    return true;
}

bool CRaster::GrayScale() {
    if (!dib)
        return false;
    const long w = head.biWidth, h = head.biHeight;
    const unsigned bpp = head.biBitCount;
    CRaster tmp(0);
    if (!MakeTemp(*this, tmp, unsigned(w), unsigned(h), 8))
        return false;
    tmp.SetGrayPalette();
    if (bpp < 24) {
        // The luminance of every palette entry; the transparent index
        // becomes the grey level of its colour.
        uint8_t lum[256] = {};
        tagRGBQUAD* pal = GetPalette();
        for (uint32_t i = 0; pal && i < head.biClrUsed && i < 256; i++)
            lum[i] = Luminance(pal[i].rgbBlue, pal[i].rgbGreen, pal[i].rgbRed);
        if (info.backgroundIndex >= 0 && info.backgroundIndex < 256)
            tmp.info.backgroundIndex = lum[info.backgroundIndex];
        for (long y = 0; y < h; y++) {
            info.progress = int32_t(y * 100 / h);
            if (info.escape)
                break;
            const uint8_t* src = Row(y);
            uint8_t* dst = tmp.Row(y);
            for (long x = 0; x < w; x++)
                dst[x] = lum[IndexAt(src, x, bpp)];
        }
    } else {
        for (long y = 0; y < h; y++) {
            info.progress = int32_t(y * 100 / h);
            if (info.escape)
                break;
            const uint8_t* src = Row(y);
            uint8_t* dst = tmp.Row(y);
            for (long x = 0; x < w; x++, src += 3)
                dst[x] = Luminance(src[0], src[1], src[2]);
        }
    }
    Transfer(tmp);
    return true;
}

bool CRaster::Dither(long method) {
    if (!dib)
        return false;
    if (head.biBitCount == 1)
        return true;
    // Made grey on a copy, so a failure leaves this image as it was.
    CRaster grey(*this, true, false, false);
    if (!grey.dib || !grey.GrayScale())
        return false;
    const long w = head.biWidth, h = head.biHeight;
    CRaster tmp(0);
    if (!MakeTemp(*this, tmp, unsigned(w), unsigned(h), 1))
        return false;
    tmp.SetPaletteColor(0, 0, 0, 0);
    tmp.SetPaletteColor(1, 255, 255, 255);
    tmp.info.backgroundIndex = -1;

    if (method == 1) {
        static const int kBayer[4][4] = {
            {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
        for (long y = 0; y < h; y++) {
            info.progress = int32_t(y * 100 / h);
            if (info.escape)
                break;
            const uint8_t* src = RowOf(grey, y);
            uint8_t* dst = tmp.Row(y);
            for (long x = 0; x < w; x++) {
                const int level = src[x] * 16 / 255;
                const int v = level / 16 + (kBayer[y & 3][x & 3] < level % 16 ? 1 : 0);
                PutIndex(dst, x, 1, v == 1 ? 1 : 0);
            }
        }
    } else {
        // Floyd-Steinberg on the grey levels, from the bottom row up.
        std::vector<int> cur(size_t(w) + 2), next(size_t(w) + 2);
        auto load = [&](std::vector<int>& buf, long y) {
            const uint8_t* src = RowOf(grey, y);
            for (long x = 0; x < w; x++)
                buf[size_t(x) + 1] = src[x];
        };
        auto add = [](int& v, long e) { v = ClampByte(long(v) + e); };
        load(cur, 0);
        for (long y = 0; y < h; y++) {
            info.progress = int32_t(y * 100 / h);
            if (info.escape)
                break;
            const bool hasNext = y + 1 < h;
            if (hasNext)
                load(next, y + 1);
            uint8_t* dst = tmp.Row(y);
            for (long x = 0; x < w; x++) {
                const int level = cur[size_t(x) + 1];
                long error;
                if (level > 128) {
                    PutIndex(dst, x, 1, 1);
                    error = level - 255;
                } else {
                    PutIndex(dst, x, 1, 0);
                    error = level;
                }
                if (x + 1 < w)
                    add(cur[size_t(x) + 2], (error * 7) / 16);
                if (hasNext) {
                    if (x > 0)
                        add(next[size_t(x)], (error * 3) / 16);
                    add(next[size_t(x) + 1], (error * 5) / 16);
                    if (x + 1 < w)
                        add(next[size_t(x) + 2], (error * 1) / 16);
                }
            }
            std::swap(cur, next);
        }
    }
    Transfer(tmp);
    return true;
}
