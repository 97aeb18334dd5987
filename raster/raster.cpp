#include "raster/raster.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>

// ---------------------------------------------------------------------------
// Construction and lifetime

CRaster::CRaster(unsigned long type) {
    Startup(type);
}

CRaster::CRaster(unsigned long width, unsigned long height, unsigned long bpp, unsigned long type) {
    Startup(type);
    Create(width, height, bpp, type);
}

CRaster::CRaster(const CRaster& src, bool copypixels, bool copyselection, bool copyalpha) {
    Startup(src.info.type);
    Copy(src, copypixels, copyselection, copyalpha);
}

// A copy owns its own pixel block; it never shares the source's.
CRaster::CRaster(const CRaster& src) {
    Startup(src.info.type);
    Copy(src, true, true, true);
}

CRaster::CRaster(CRasterStream* stream, unsigned long type) {
    Startup(type);
    if (stream)
        Decode(stream, type);
}

CRaster::CRaster(uint8_t* buffer, unsigned long size, unsigned long type) {
    Startup(type);
    Decode(buffer, size, type);
}

CRaster::CRaster(FILE* fp, unsigned long type) {
    Startup(type);
    Decode(fp, type);
}

CRaster::CRaster(const char* filename, unsigned long type) {
    Startup(type);
    Load(filename, type);
}

CRaster::~CRaster() {
    Destroy();
}

CRaster& CRaster::operator=(const CRaster& src) {
    if (this != &src)
        Copy(src, true, true, true);
    return *this;
}

void CRaster::Startup(unsigned long type) {
    dib = nullptr;
    selection = nullptr;
    alpha = nullptr;
    layers = nullptr;
    std::memset(&head, 0, sizeof(head));
    head.biSize = sizeof(tagBITMAPINFOHEADER);
    std::memset(&info, 0, sizeof(info));
    info.type = uint32_t(type);
    info.quality = 75;
    info.alphaMax = 255;
    info.backgroundIndex = -1;
    info.enabled = true;
    SetXDPI(96);
    SetYDPI(96);
}

void CRaster::SetError(const char* text) {
    std::strncpy(info.lastError, text ? text : "", sizeof(info.lastError) - 1);
    info.lastError[sizeof(info.lastError) - 1] = 0;
}

namespace {

// A pixel block, zero-filled so that rows a short or broken file never
// reaches hold no stale memory. Large blocks ask for huge pages: faulting in
// tens of megabytes page by page costs as much as decoding a JPEG into them.
// Either kind is released with free.
uint8_t* AllocBlock(size_t size) {
#ifdef MADV_HUGEPAGE
    const size_t huge = size_t(2) << 20;
    if (size >= 4 * huge) {
        const size_t rounded = (size + huge - 1) & ~(huge - 1);
        if (void* p = std::aligned_alloc(huge, rounded)) {
            madvise(p, rounded, MADV_HUGEPAGE);
            std::memset(p, 0, size);
            return static_cast<uint8_t*>(p);
        }
    }
#endif
    return static_cast<uint8_t*>(std::calloc(1, size));
}

} // namespace

void* CRaster::Create(unsigned long width, unsigned long height, unsigned long bpp,
                      unsigned long type) {
    Destroy();
    uint32_t depth, colours;
    if (bpp < 2) {
        depth = 1;
        colours = 2;
    } else if (bpp < 5) {
        depth = 4;
        colours = 16;
    } else if (bpp < 9) {
        depth = 8;
        colours = 256;
    } else {
        depth = 24;
        colours = 0;
    }
    // Sizes are worked out in 64 bits and refused before anything is
    // allocated: zero, negative (as the caller's signed value) and oversized
    // dimensions never reach malloc.
    if (width == 0 || height == 0 || width > unsigned(INT32_MAX) || height > unsigned(INT32_MAX))
        return nullptr;
    uint64_t stride = ((uint64_t(depth) * width + 31) >> 5) << 2;
    uint64_t image = stride * uint64_t(height);
    uint64_t total = image + sizeof(tagBITMAPINFOHEADER) + uint64_t(colours) * 4;
    if (stride > UINT32_MAX || image > UINT32_MAX || total > maxBlockSize)
        return nullptr;

    info.effWidth = uint32_t(stride);
    info.type = uint32_t(type);
    head.biSize = sizeof(tagBITMAPINFOHEADER);
    head.biWidth = int32_t(width);
    head.biHeight = int32_t(height);
    head.biPlanes = 1;
    head.biBitCount = uint16_t(depth);
    head.biCompression = 0;
    head.biSizeImage = uint32_t(image);
    head.biClrUsed = colours;
    head.biClrImportant = 0;

    dib = AllocBlock(size_t(total));
    if (!dib)
        return nullptr;
    std::memcpy(dib, &head, sizeof(head));
    info.pixels = dib + head.biSize + colours * 4;
    info.lastColorValid = false;
    return dib;
}

void CRaster::Destroy() {
    if (info.ghost)
        return;
    if (layers) {
        for (int32_t i = 0; i < info.numLayers; i++)
            delete layers[i];
        std::free(layers);
        layers = nullptr;
    }
    std::free(selection);
    selection = nullptr;
    std::free(alpha);
    alpha = nullptr;
    std::free(dib);
    dib = nullptr;
}

void CRaster::Transfer(CRaster& from) {
    if (&from == this)
        return;
    Destroy();
    head = from.head;
    info = from.info;
    dib = from.dib;
    selection = from.selection;
    alpha = from.alpha;
    layers = from.layers;
    std::memset(&from.head, 0, sizeof(from.head));
    std::memset(&from.info, 0, sizeof(from.info));
    from.dib = nullptr;
    from.selection = nullptr;
    from.alpha = nullptr;
    from.layers = nullptr;
}

void CRaster::Ghost(CRaster* from) {
    if (!from)
        return;
    head = from->head;
    info = from->info;
    dib = from->dib;
    selection = from->selection;
    alpha = from->alpha;
    layers = from->layers;
    info.ghost = from;
}

void CRaster::CopyInfo(const CRaster& src) {
    if (!dib)
        info = src.info;
}

void CRaster::Copy(const CRaster& src, bool copypixels, bool copyselection, bool copyalpha) {
    if (&src == this)
        return;
    // The copy never borrows: it gets buffers of its own.
    info = src.info;
    info.ghost = nullptr;
    info.numLayers = 0;
    if (!src.dib) {
        Destroy();
        head = src.head;
        info.pixels = nullptr;
        return;
    }
    if (!Create(uint32_t(src.head.biWidth), uint32_t(src.head.biHeight), src.head.biBitCount,
                src.info.type)) {
        info.pixels = nullptr;
        return;
    }
    head.biXPelsPerMeter = src.head.biXPelsPerMeter;
    head.biYPelsPerMeter = src.head.biYPelsPerMeter;
    if (copypixels)
        std::memcpy(dib, src.dib, GetSize());
    else
        SetPalette(src.GetPalette(), 256);
    size_t area = size_t(head.biWidth) * size_t(head.biHeight);
    if (copyselection && src.selection) {
        selection = static_cast<uint8_t*>(std::malloc(area));
        if (selection)
            std::memcpy(selection, src.selection, area);
    }
    if (copyalpha && src.alpha) {
        alpha = static_cast<uint8_t*>(std::malloc(area));
        if (alpha)
            std::memcpy(alpha, src.alpha, area);
    }
}

uint32_t CRaster::GetSize() const {
    return head.biSizeImage + head.biSize + GetPaletteSize();
}

uint8_t* CRaster::GetBits() const {
    if (!dib)
        return nullptr;
    return dib + reinterpret_cast<const tagBITMAPINFOHEADER*>(dib)->biSize + GetPaletteSize();
}

bool CRaster::IsInside(long x, long y) const {
    return y >= 0 && y < head.biHeight && x >= 0 && x < head.biWidth;
}

void CRaster::Clear(unsigned char value) {
    if (dib)
        std::memset(info.pixels, value, head.biSizeImage);
}

namespace {
// Resolutions from files can be anything; kept to what the header holds.
long ClampDPI(long dpi) {
    const long limit = 50000000;
    return dpi > limit ? limit : dpi < -limit ? -limit : dpi;
}
} // namespace

void CRaster::SetXDPI(long dpi) {
    dpi = ClampDPI(dpi);
    info.xDPI = int32_t(dpi);
    head.biXPelsPerMeter = int32_t(std::floor(double(dpi) * 10000.0 / 254.0 + 0.5));
}

void CRaster::SetYDPI(long dpi) {
    dpi = ClampDPI(dpi);
    info.yDPI = int32_t(dpi);
    head.biYPelsPerMeter = int32_t(std::floor(double(dpi) * 10000.0 / 254.0 + 0.5));
}

void CRaster::SetFlags(unsigned long flags, bool lockReservedFlags) {
    info.flags = uint32_t(lockReservedFlags ? (flags & 0xFFFF) : flags);
}

unsigned long CRaster::GetColorType() const {
    return head.biBitCount <= 8 ? 1 : 2;
}

tagRGBQUAD CRaster::GetTransColor() const {
    if (head.biBitCount < 24 && info.backgroundIndex != -1)
        return GetPaletteColor(uint8_t(info.backgroundIndex));
    return info.backgroundColor;
}

int CRaster::CompareColors(const void* a, const void* b) {
    auto* p = static_cast<const tagRGBQUAD*>(a);
    auto* q = static_cast<const tagRGBQUAD*>(b);
    int la = (p->rgbBlue * 117 + p->rgbGreen * 601 + p->rgbRed * 306) >> 10;
    int lb = (q->rgbBlue * 117 + q->rgbGreen * 601 + q->rgbRed * 306) >> 10;
    return la - lb;
}

bool CRaster::CreateFromARGB(unsigned long width, unsigned long height, const uint8_t* data) {
    if (!data || !Create(width, height, 24, 0))
        return false;
    for (long y = head.biHeight - 1; y >= 0; y--) {
        uint8_t* dst = Row(y);
        for (long x = 0; x < head.biWidth; x++, data += 4, dst += 3) {
            dst[0] = data[0];
            dst[1] = data[1];
            dst[2] = data[2];
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// Palette

uint32_t CRaster::GetPaletteSize() const {
    return head.biClrUsed * 4;
}

tagRGBQUAD* CRaster::GetPalette() const {
    if (dib && head.biClrUsed)
        return reinterpret_cast<tagRGBQUAD*>(dib + sizeof(tagBITMAPINFOHEADER));
    return nullptr;
}

tagRGBQUAD CRaster::GetPaletteColor(unsigned char index) const {
    tagRGBQUAD c{0, 0, 0, 0};
    if (dib && head.biClrUsed && index < head.biClrUsed)
        c = GetPalette()[index];
    return c;
}

bool CRaster::GetPaletteColor(unsigned char index, unsigned char* r, unsigned char* g,
                              unsigned char* b) const {
    tagRGBQUAD* pal = GetPalette();
    // Never read past the palette, whatever the index.
    if (!pal || index >= head.biClrUsed)
        return false;
    if (r)
        *r = pal[index].rgbRed;
    if (g)
        *g = pal[index].rgbGreen;
    if (b)
        *b = pal[index].rgbBlue;
    return true;
}

void CRaster::SetPaletteColor(unsigned char index, unsigned char r, unsigned char g,
                              unsigned char b, unsigned char alphaValue) {
    tagRGBQUAD* pal = GetPalette();
    if (pal && index < head.biClrUsed)
        pal[index] = tagRGBQUAD{b, g, r, alphaValue};
    info.lastColorValid = false;
}

void CRaster::SetPaletteColor(unsigned char index, tagRGBQUAD c) {
    tagRGBQUAD* pal = GetPalette();
    if (pal && index < head.biClrUsed)
        pal[index] = c;
    info.lastColorValid = false;
}

void CRaster::SetPaletteColor(unsigned char index, unsigned long colour) {
    SetPaletteColor(index, uint8_t(colour), uint8_t(colour >> 8), uint8_t(colour >> 16), 0);
}

void CRaster::SetPalette(const tagRGBQUAD* pal, unsigned long count) {
    tagRGBQUAD* dst = GetPalette();
    if (pal && dst) {
        unsigned long n = count < head.biClrUsed ? count : head.biClrUsed;
        std::memcpy(dst, pal, n * 4);
    }
    info.lastColorValid = false;
}

void CRaster::SetPalette(const rgb_color* rgb, unsigned long count) {
    tagRGBQUAD* dst = GetPalette();
    if (rgb && dst) {
        unsigned long n = count < head.biClrUsed ? count : head.biClrUsed;
        for (unsigned long i = 0; i < n; i++)
            dst[i] = tagRGBQUAD{rgb[i].b, rgb[i].g, rgb[i].r, 0};
    }
    info.lastColorValid = false;
}

void CRaster::SetPalette(unsigned long count, const uint8_t* r, const uint8_t* g,
                         const uint8_t* b) {
    tagRGBQUAD* dst = GetPalette();
    if (r && dst) {
        if (!g)
            g = r;
        if (!b)
            b = g;
        unsigned long n = count < head.biClrUsed ? count : head.biClrUsed;
        for (unsigned long i = 0; i < n; i++)
            dst[i] = tagRGBQUAD{b[i], g[i], r[i], 0};
    }
    info.lastColorValid = false;
}

void CRaster::SetGrayPalette() {
    tagRGBQUAD* pal = GetPalette();
    if (!pal || head.biClrUsed < 2)
        return;
    uint32_t step = 255 / (head.biClrUsed - 1);
    for (uint32_t i = 0; i < head.biClrUsed; i++) {
        uint8_t v = uint8_t(step * i);
        pal[i] = tagRGBQUAD{v, v, v, 0};
    }
    info.lastColorValid = false;
}

namespace {
const uint8_t kStd16[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                               {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                               {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                               {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

// The 256-entry standard palette: the eight dark system colours, two tints,
// a 6x6x6 colour cube and twenty grey steps, four tints and the eight light
// system colours.
void StdPalette256(tagRGBQUAD* pal) {
    int n = 0;
    auto put = [&](int r, int g, int b) {
        pal[n++] = tagRGBQUAD{uint8_t(b), uint8_t(g), uint8_t(r), 0};
    };
    for (int i = 0; i < 8; i++)
        put(kStd16[i][0], kStd16[i][1], kStd16[i][2]);
    put(192, 220, 192);
    put(166, 202, 240);
    for (int r = 0; r < 6; r++)
        for (int g = 0; g < 6; g++)
            for (int b = 0; b < 6; b++)
                put(r * 51, g * 51, b * 51);
    for (int i = 1; i <= 20; i++) {
        int v = i * 12;
        put(v, v, v);
    }
    put(255, 251, 240);
    put(160, 160, 164);
    put(128, 128, 128);
    for (int i = 9; i < 16; i++)
        put(kStd16[i][0], kStd16[i][1], kStd16[i][2]);
}
} // namespace

void CRaster::SetStdPalette() {
    tagRGBQUAD* pal = GetPalette();
    if (!pal)
        return;
    if (head.biBitCount == 4) {
        for (int i = 0; i < 16; i++)
            pal[i] = tagRGBQUAD{kStd16[i][2], kStd16[i][1], kStd16[i][0], 0};
    } else if (head.biBitCount == 8) {
        StdPalette256(pal);
    }
    info.lastColorValid = false;
}

bool CRaster::IsGrayScale() const {
    tagRGBQUAD* pal = GetPalette();
    if (!pal)
        return false;
    for (uint32_t i = 0; i < head.biClrUsed; i++) {
        if (pal[i].rgbBlue != i || pal[i].rgbGreen != i || pal[i].rgbRed != i)
            return false;
    }
    return true;
}

void CRaster::BlendPalette(unsigned long colour, long percent) {
    tagRGBQUAD* pal = GetPalette();
    if (!pal)
        return;
    if (percent > 100)
        percent = 100;
    if (percent < 0)
        percent = 0;
    long r = long(colour & 0xFF), g = long((colour >> 8) & 0xFF), b = long((colour >> 16) & 0xFF);
    for (uint32_t i = 0; i < head.biClrUsed; i++) {
        pal[i].rgbBlue = uint8_t((pal[i].rgbBlue * (100 - percent) + b * percent) / 100);
        pal[i].rgbGreen = uint8_t((pal[i].rgbGreen * (100 - percent) + g * percent) / 100);
        pal[i].rgbRed = uint8_t((pal[i].rgbRed * (100 - percent) + r * percent) / 100);
    }
    info.lastColorValid = false;
}

void CRaster::SwapIndex(unsigned char a, unsigned char b) {
    tagRGBQUAD* pal = GetPalette();
    if (!pal || a >= head.biClrUsed || b >= head.biClrUsed || a == b)
        return;
    tagRGBQUAD t = pal[a];
    pal[a] = pal[b];
    pal[b] = t;
    for (long y = 0; y < head.biHeight; y++) {
        for (long x = 0; x < head.biWidth; x++) {
            uint8_t i = GetPixelIndex(x, y);
            if (i == a)
                SetPixelIndex(x, y, b);
            else if (i == b)
                SetPixelIndex(x, y, a);
        }
    }
    info.lastColorValid = false;
}

tagRGBQUAD CRaster::RGBtoRGBQUAD(unsigned long colour) {
    return tagRGBQUAD{uint8_t(colour >> 16), uint8_t(colour >> 8), uint8_t(colour),
                      uint8_t(colour >> 24)};
}

unsigned long CRaster::RGBQUADtoRGB(tagRGBQUAD c) {
    return (unsigned long)c.rgbRed | ((unsigned long)c.rgbGreen << 8) |
           ((unsigned long)c.rgbBlue << 16) | ((unsigned long)c.rgbReserved << 24);
}

void CRaster::RGBtoBGR(uint8_t* buffer, int length) {
    if (!buffer || head.biClrUsed != 0 || length <= 0)
        return;
    uint32_t n = uint32_t(length) < info.effWidth ? uint32_t(length) : info.effWidth;
    for (uint32_t i = 0; i + 2 < n; i += 3) {
        uint8_t t = buffer[i];
        buffer[i] = buffer[i + 2];
        buffer[i + 2] = t;
    }
}

// ---------------------------------------------------------------------------
// Pixels

uint8_t CRaster::GetPixelIndex(long x, long y) const {
    if (!dib || head.biClrUsed == 0)
        return 0;
    if (!IsInside(x, y))
        return info.backgroundIndex != -1 ? uint8_t(info.backgroundIndex) : 0;
    const uint8_t* row = Row(y);
    switch (head.biBitCount) {
    case 8:
        return row[x];
    case 4:
        return (x & 1) ? (row[x >> 1] & 0x0F) : uint8_t(row[x >> 1] >> 4);
    case 1:
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    default:
        return 0;
    }
}

void CRaster::SetPixelIndex(long x, long y, unsigned char i) {
    if (!dib || head.biClrUsed == 0 || !IsInside(x, y))
        return;
    uint8_t* row = Row(y);
    switch (head.biBitCount) {
    case 8:
        row[x] = i;
        break;
    case 4: {
        uint8_t& b = row[x >> 1];
        if (x & 1)
            b = uint8_t((b & 0xF0) | (i & 0x0F));
        else
            b = uint8_t((b & 0x0F) | ((i & 0x0F) << 4));
        break;
    }
    case 1: {
        uint8_t mask = uint8_t(0x80 >> (x & 7));
        if (i & 1)
            row[x >> 3] |= mask;
        else
            row[x >> 3] &= uint8_t(~mask);
        break;
    }
    default:
        break;
    }
}

tagRGBQUAD CRaster::GetPixelColor(long x, long y) const {
    tagRGBQUAD c{0, 0, 0, 0};
    if (!dib)
        return info.backgroundColor;
    if (!IsInside(x, y)) {
        if (info.backgroundIndex == -1)
            return GetPixelColor(0, 0);
        if (head.biClrUsed)
            return GetPaletteColor(uint8_t(info.backgroundIndex));
        return info.backgroundColor;
    }
    if (head.biClrUsed) {
        c = GetPaletteColor(GetPixelIndex(x, y));
        c.rgbReserved = 0;
    } else {
        const uint8_t* p = Row(y) + x * 3;
        c = tagRGBQUAD{p[0], p[1], p[2], 0};
    }
    return c;
}

uint8_t CRaster::GetPixelGray(long x, long y) const {
    tagRGBQUAD c = GetPixelColor(x, y);
    return uint8_t((c.rgbBlue * 117 + c.rgbGreen * 601 + c.rgbRed * 306) >> 10);
}

void CRaster::SetPixelColor(long x, long y, tagRGBQUAD c, bool) {
    if (!dib || !IsInside(x, y))
        return;
    if (head.biClrUsed) {
        SetPixelIndex(x, y, GetNearestIndex(c));
    } else {
        uint8_t* p = Row(y) + x * 3;
        p[0] = c.rgbBlue;
        p[1] = c.rgbGreen;
        p[2] = c.rgbRed;
    }
}

void CRaster::SetPixelColor(long x, long y, unsigned long colour) {
    SetPixelColor(x, y, RGBtoRGBQUAD(colour), false);
}

uint8_t CRaster::GetNearestIndex(tagRGBQUAD c) {
    tagRGBQUAD* pal = GetPalette();
    if (!pal)
        return 0;
    if (info.lastColorValid && std::memcmp(&info.lastColor, &c, 4) == 0)
        return info.lastColorIndex;
    info.lastColor = c;
    info.lastColorValid = true;
    long best = 200000;
    uint8_t index = 0;
    for (uint32_t i = 0; i < head.biClrUsed; i++) {
        long db = long(pal[i].rgbBlue) - c.rgbBlue;
        long dg = long(pal[i].rgbGreen) - c.rgbGreen;
        long dr = long(pal[i].rgbRed) - c.rgbRed;
        long d = db * db + dg * dg + dr * dr;
        if (d == 0) {
            index = uint8_t(i);
            break;
        }
        if (d < best) {
            best = d;
            index = uint8_t(i);
        }
    }
    info.lastColorIndex = index;
    return index;
}

// ---------------------------------------------------------------------------
// Row iterator

CRasterIterator::CRasterIterator(CRaster* img) : image(img) {
    row = image ? image->GetBits() : nullptr;
}

void CRasterIterator::Upset() {
    x = 0;
    y = image->head.biHeight - 1;
    row = image->GetBits() + size_t(image->effWidth) * size_t(image->head.biHeight - 1);
}

void CRasterIterator::SetY(int ny) {
    if (ny < 0 || ny >= image->head.biHeight)
        return;
    y = ny;
    row = image->GetBits() + size_t(image->effWidth) * size_t(ny);
}

void CRasterIterator::SetRow(const uint8_t* buffer, int n) {
    if (!row || !buffer || y < 0 || y >= image->head.biHeight)
        return;
    uint32_t count = (n < 0 || uint32_t(n) > image->effWidth) ? image->effWidth : uint32_t(n);
    std::memcpy(row, buffer, count);
}

bool CRasterIterator::PrevRow() {
    y--;
    if (y >= 0) {
        row -= image->effWidth;
        return true;
    }
    return false;
}

uint8_t* CRasterIterator::GetRow(int ny) {
    SetY(ny);
    return row;
}

bool CRasterIterator::ItOK() const {
    return image && image->dib && y >= 0 && y < image->head.biHeight;
}

// ---------------------------------------------------------------------------
// Streams

bool CRasterStream::PutC(unsigned char c) {
    return Write(&c, 1, 1) == 1;
}

CMemStream::CMemStream(uint8_t* buf, long length)
    : buffer(buf), size(int32_t(length < 0 ? 0 : length)), freeOnClose(buf == nullptr), position(0),
      edge(size) {}

CMemStream::~CMemStream() {
    if (freeOnClose)
        std::free(buffer);
}

// Gives a stream made without a buffer an owned, empty one to write into.
bool CMemStream::Open() {
    if (buffer)
        return true;
    buffer = static_cast<uint8_t*>(std::malloc(1));
    if (!buffer)
        return false;
    size = position = edge = 0;
    freeOnClose = true;
    return true;
}

bool CMemStream::Close() {
    if (freeOnClose && buffer) {
        std::free(buffer);
        buffer = nullptr;
        size = 0;
        edge = 0;
        position = 0;
    }
    return true;
}

uint8_t* CMemStream::GetBuffer(bool detach) {
    if (detach)
        freeOnClose = false;
    return buffer;
}

size_t CMemStream::Read(void* dst, size_t sz, size_t count) {
    if (!buffer || !dst || sz == 0 || count == 0 || position > size)
        return 0;
    if (count > SIZE_MAX / sz)
        return 0;
    size_t want = sz * count;
    size_t left = size_t(size - position);
    size_t n = want < left ? want : left;
    std::memcpy(dst, buffer + position, n);
    position += int32_t(n);
    return n / sz;
}

bool CMemStream::Alloc(int64_t needed) {
    if (needed <= edge)
        return true;
    if (needed > INT32_MAX)
        return false;
    // Doubling keeps a long run of small writes (an encoder's) linear in
    // time; the capacity stays a multiple of 4096.
    int64_t cap = edge < 4096 ? 4096 : (int64_t(edge) + 4095) & ~int64_t(4095);
    while (cap < needed)
        cap *= 2;
    if (cap > INT32_MAX)
        cap = needed;
    uint8_t* grown;
    if (buffer && !freeOnClose) {
        // A borrowed buffer is never reallocated: its contents move.
        grown = static_cast<uint8_t*>(std::malloc(size_t(cap)));
        if (grown && size > 0)
            std::memcpy(grown, buffer, size_t(size));
    } else {
        grown = static_cast<uint8_t*>(std::realloc(buffer, size_t(cap)));
    }
    if (!grown)
        return false;
    buffer = grown;
    freeOnClose = true;
    edge = int32_t(cap);
    return true;
}

size_t CMemStream::Write(const void* src, size_t sz, size_t count) {
    if (!src || sz == 0 || count == 0 || !buffer)
        return 0;
    if (count > SIZE_MAX / sz)
        return 0;
    uint64_t n = uint64_t(sz) * count;
    if (!Alloc(int64_t(position) + int64_t(n)))
        return 0;
    // A write past the end after a seek leaves no unset bytes in between.
    if (position > size)
        std::memset(buffer + size, 0, size_t(position - size));
    std::memcpy(buffer + position, src, size_t(n));
    position += int32_t(n);
    if (position > size)
        size = position;
    return count;
}

bool CMemStream::Seek(long offset, int origin) {
    if (!buffer)
        return false;
    int64_t base;
    switch (origin) {
    case 0:
        base = 0;
        break;
    case 1:
        base = position;
        break;
    case 2:
        base = size;
        break;
    default:
        return false;
    }
    int64_t pos = base + offset;
    if (pos < 0 || pos > INT32_MAX)
        return false;
    position = int32_t(pos);
    return true;
}

long CMemStream::Tell() {
    return buffer ? position : -1;
}
long CMemStream::Size() {
    return buffer ? size : -1;
}
bool CMemStream::Flush() {
    return buffer != nullptr;
}
bool CMemStream::Eof() {
    return !buffer || position >= size;
}
long CMemStream::Error() {
    return buffer ? (position > size ? 1 : 0) : -1;
}

bool CMemStream::PutC(unsigned char c) {
    if (!buffer)
        return false;
    if (!Alloc(int64_t(position) + 1))
        return false;
    if (position > size)
        std::memset(buffer + size, 0, size_t(position - size));
    buffer[position++] = c;
    if (position > size)
        size = position;
    return true;
}

long CMemStream::GetC() {
    if (Eof())
        return -1;
    return buffer[position++];
}

CStdioStream::CStdioStream(FILE* fp) : stream(fp), closeFile(fp == nullptr) {}

CStdioStream::~CStdioStream() {
    if (closeFile && stream)
        std::fclose(stream);
}

bool CStdioStream::Close() {
    if (closeFile && stream) {
        int r = std::fclose(stream);
        stream = nullptr;
        return r == 0;
    }
    return true;
}

size_t CStdioStream::Read(void* dst, size_t sz, size_t count) {
    if (!stream || !dst)
        return 0;
    std::clearerr(stream);
    return std::fread(dst, sz, count, stream);
}

size_t CStdioStream::Write(const void* src, size_t sz, size_t count) {
    if (!stream || !src)
        return 0;
    std::clearerr(stream);
    return std::fwrite(src, sz, count, stream);
}

bool CStdioStream::Seek(long offset, int origin) {
    return stream && std::fseek(stream, offset, origin) == 0;
}

long CStdioStream::Tell() {
    return stream ? std::ftell(stream) : 0;
}

long CStdioStream::Size() {
    if (!stream)
        return -1;
    long pos = std::ftell(stream);
    std::fseek(stream, 0, SEEK_END);
    long end = std::ftell(stream);
    std::fseek(stream, pos, SEEK_SET);
    return end;
}

bool CStdioStream::Flush() {
    return stream && std::fflush(stream) == 0;
}
bool CStdioStream::Eof() {
    return !stream || std::feof(stream) != 0;
}
long CStdioStream::Error() {
    return stream ? std::ferror(stream) : -1;
}

bool CStdioStream::PutC(unsigned char c) {
    if (!stream)
        return false;
    std::clearerr(stream);
    return std::fputc(c, stream) == c;
}

long CStdioStream::GetC() {
    if (!stream)
        return -1;
    std::clearerr(stream);
    int c = std::getc(stream);
    return c == EOF ? -1 : c;
}
