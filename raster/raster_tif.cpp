// TIFF decoder over libtiff, reading through our stream. Colour pages come
// through libtiff's RGBA interface; grey, bilevel and palette pages strip by
// strip or tile by tile, every copy bounded by the row it fills.
#include "raster/raster_codecs.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <vector>

#include <sys/mman.h>
#include <sys/stat.h>
#include <tiffio.h>

namespace {

struct Failure {
    const char* text;
};

// Client procedures over a CRasterStream; the stream stays the caller's.
tmsize_t StreamRead(thandle_t h, void* buf, tmsize_t size) {
    if (size <= 0)
        return 0;
    return tmsize_t(static_cast<CRasterStream*>(h)->Read(buf, 1, size_t(size)));
}

tmsize_t StreamWrite(thandle_t h, void* buf, tmsize_t size) {
    if (size <= 0)
        return 0;
    return tmsize_t(static_cast<CRasterStream*>(h)->Write(buf, 1, size_t(size)));
}

toff_t StreamSeek(thandle_t h, toff_t off, int whence) {
    auto* s = static_cast<CRasterStream*>(h);
    const int64_t offset = int64_t(off);
    if (offset > LONG_MAX || (whence == 0 && offset < 0))
        return toff_t(-1);
    if (!s->Seek(long(offset), whence))
        return toff_t(-1);
    switch (whence) {
    case 0:
        return off;
    case 1:
    case 2:
        return toff_t(s->Tell());
    default:
        return toff_t(-1);
    }
}

int StreamClose(thandle_t) {
    return 0;
}

toff_t StreamSize(thandle_t h) {
    long n = static_cast<CRasterStream*>(h)->Size();
    return n < 0 ? 0 : toff_t(n);
}

// Streams are handed to libtiff as mapped memory, as its own file opening
// does: no copies, and libtiff's check of uncompressed tile sizes only holds
// for mapped data. A memory stream lends its buffer (libtiff never writes
// to a mapping it reads); a file is mapped read-only.
int StreamMap(thandle_t h, void** base, toff_t* size) {
    CRasterStream* s = static_cast<CRasterStream*>(h);
    if (auto* mem = dynamic_cast<CMemStream*>(s)) {
        const long n = mem->Size();
        uint8_t* data = mem->GetBuffer(false);
        if (!data || n <= 0)
            return 0;
        *base = data;
        *size = toff_t(n);
        return 1;
    }
    if (auto* io = dynamic_cast<CStdioStream*>(s); io && io->GetFile()) {
        struct stat st;
        const int fd = fileno(io->GetFile());
        if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
            return 0;
        void* p = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED)
            return 0;
        *base = p;
        *size = toff_t(st.st_size);
        return 1;
    }
    return 0;
}

void StreamUnmap(thandle_t h, void* base, toff_t size) {
    if (dynamic_cast<CStdioStream*>(static_cast<CRasterStream*>(h)))
        munmap(base, size_t(size));
}

// libtiff's messages go nowhere: failures surface as our own texts.
int SilentHandler(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

TIFF* OpenStream(CRasterStream* stream, const char* mode) {
    TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
    if (!opts)
        return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(opts, SilentHandler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(opts, SilentHandler, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(opts, tmsize_t(CRaster::maxBlockSize));
    TIFF* tif = TIFFClientOpenExt("TIFF IMAGE", mode, stream, StreamRead, StreamWrite, StreamSeek,
                                  StreamClose, StreamSize, StreamMap, StreamUnmap, opts);
    TIFFOpenOptionsFree(opts);
    return tif;
}

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};

struct FreeDeleter {
    void operator()(void* p) const { _TIFFfree(p); }
};

// Sample `index` of a row of bps-bit samples, as libtiff decoded it.
inline uint32_t SampleAt(const uint8_t* row, uint64_t index, unsigned bps) {
    switch (bps) {
    case 8:
        return row[index];
    case 16: {
        uint16_t v;
        std::memcpy(&v, row + 2 * index, 2);
        return v;
    }
    case 32: {
        uint32_t v;
        std::memcpy(&v, row + 4 * index, 4);
        return v;
    }
    default: {
        uint64_t bit = index * bps;
        uint32_t v = 0;
        for (unsigned k = 0; k < bps; k++, bit++)
            v = (v << 1) | ((row[bit >> 3] >> (7 - (bit & 7))) & 1);
        return v;
    }
    }
}

uint8_t LabChannel(double c) {
    c = c > 0.00304 ? 1.055 * std::pow(c, 0.41667) - 0.055 : 12.92 * c;
    double v = c * 255.0;
    if (!(v > 0))
        return 0;
    if (v > 255)
        return 255;
    return uint8_t(v);
}

} // namespace

CRasterTIF::~CRasterTIF() {
    if (m_tif)
        TIFFClose(static_cast<TIFF*>(m_tif));
}

bool CRasterTIF::Decode(CRasterStream* hFile) {
    if (!hFile)
        return false;
    try {
        std::unique_ptr<TIFF, TiffCloser> tif(OpenStream(hFile, "r"));
        if (!tif)
            throw Failure{"Error encountered while opening TIFF file"};
        TIFF* t = tif.get();
        info.numFrames = int32_t(TIFFNumberOfDirectories(t));
        if (info.frame < 0 || info.frame >= info.numFrames || info.frame > 65535 ||
            !TIFFSetDirectory(t, tdir_t(info.frame)))
            throw Failure{"Error: page not present in TIFF file"};

        uint32_t width = 0, height = 0, rowsPerStrip = 0;
        uint16_t compression = 1, spp = 1, bps = 1, photometric = 0, orientation = 1,
                 planar = PLANARCONFIG_CONTIG;
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
        TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
        TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
        TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bps);
        TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
        TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orientation);
        TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
        float xres = 0, yres = 0, xpos = 0, ypos = 0;
        auto truncated = [](float f) {
            return std::isfinite(f) && std::fabs(f) < 2e9f ? int32_t(f) : 0;
        };
        if (TIFFGetField(t, TIFFTAG_XRESOLUTION, &xres))
            SetXDPI(truncated(xres));
        if (TIFFGetField(t, TIFFTAG_YRESOLUTION, &yres))
            SetYDPI(truncated(yres));
        if (TIFFGetField(t, TIFFTAG_XPOSITION, &xpos))
            info.xOffset = truncated(xpos);
        if (TIFFGetField(t, TIFFTAG_YPOSITION, &ypos))
            info.yOffset = truncated(ypos);
        head.biClrUsed = 0;
        info.backgroundIndex = -1;
        if (width == 0 || height == 0 || bps == 0 || bps > 32 || spp == 0)
            throw Failure{"Corrupted TIFF file!"};
        if (rowsPerStrip == 0 || rowsPerStrip > height)
            rowsPerStrip = height;

        // RGB at any sample size goes through libtiff's RGBA interface.
        const bool colour = photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_YCBCR ||
                            photometric == PHOTOMETRIC_SEPARATED ||
                            photometric == PHOTOMETRIC_LOGL || photometric == PHOTOMETRIC_LOGLUV;
        const bool lab = !colour && photometric == PHOTOMETRIC_CIELAB && spp >= 3 &&
                         planar == PLANARCONFIG_CONTIG;
        const bool grey =
            photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK;
        unsigned depth;
        if (colour || lab)
            depth = 24;
        else if (grey)
            depth = bps == 1 ? 1 : bps == 4 ? 4 : 8;
        else
            depth = bps == 4 ? 4 : 8;

        if (info.escape)
            throw Failure{"Cancelled"};
        if (!Create(width, height, depth, kRasterTIF))
            throw Failure{"Can't allocate memory"};
        const long w = head.biWidth, h = head.biHeight;

        if (colour) {
            // Four bytes a pixel against the bitmap's three: any page whose
            // bitmap fitted under the cap gets its raster.
            const uint64_t bytes = uint64_t(width) * height * 4;
            if (bytes > maxBlockSize / 3 * 4 + 4096)
                throw Failure{"No space for raster buffer"};
            std::unique_ptr<uint32_t, FreeDeleter> raster(
                static_cast<uint32_t*>(_TIFFmalloc(tmsize_t(bytes))));
            if (!raster)
                throw Failure{"No space for raster buffer"};
            char emsg[1024] = "";
            TIFFRGBAImage img;
            if (!TIFFRGBAImageOK(t, emsg) || !TIFFRGBAImageBegin(&img, t, 1, emsg))
                throw Failure{"Corrupted TIFF file!"};
            // Rows as stored, first row first; the orientation is applied
            // below like on every other path.
            img.req_orientation = ORIENTATION_TOPLEFT;
            img.orientation = ORIENTATION_TOPLEFT;
            int ok = TIFFRGBAImageGet(&img, raster.get(), width, height);
            TIFFRGBAImageEnd(&img);
            if (!ok)
                throw Failure{"Corrupted TIFF file!"};
            for (long r = 0; r < h; r++) {
                if (info.escape)
                    throw Failure{"Cancelled"};
                const uint32_t* s = raster.get() + size_t(r) * width;
                uint8_t* d = Row(h - 1 - r);
                for (long x = 0; x < w; x++, d += 3) {
                    const uint32_t p = s[x];
                    d[0] = uint8_t(TIFFGetB(p));
                    d[1] = uint8_t(TIFFGetG(p));
                    d[2] = uint8_t(TIFFGetR(p));
                }
            }
        } else {
            if (!lab) {
                std::vector<tagRGBQUAD> pal(256, tagRGBQUAD{0, 0, 0, 0});
                if (grey && bps == 1) {
                    pal[photometric == PHOTOMETRIC_MINISBLACK ? 1 : 0] =
                        tagRGBQUAD{255, 255, 255, 0};
                } else if (grey) {
                    const uint32_t n = head.biClrUsed;
                    for (uint32_t k = 0; k < n; k++) {
                        uint8_t v = uint8_t((255 / (n - 1)) * k);
                        if (photometric == PHOTOMETRIC_MINISWHITE)
                            v = uint8_t(255 - v);
                        pal[k] = tagRGBQUAD{v, v, v, 0};
                    }
                } else if (photometric == PHOTOMETRIC_PALETTE) {
                    uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
                    if (TIFFGetField(t, TIFFTAG_COLORMAP, &r, &g, &b) && r && g && b) {
                        const uint32_t n = bps >= 8 ? 256u : (1u << bps);
                        bool wide = false;
                        for (uint32_t k = 0; k < n; k++)
                            wide = wide || r[k] > 255 || g[k] > 255 || b[k] > 255;
                        for (uint32_t k = 0; k < n; k++) {
                            if (wide)
                                pal[k] = tagRGBQUAD{uint8_t(b[k] / 257), uint8_t(g[k] / 257),
                                                    uint8_t(r[k] / 257), 0};
                            else
                                pal[k] = tagRGBQUAD{uint8_t(b[k]), uint8_t(g[k]), uint8_t(r[k]), 0};
                        }
                    }
                }
                SetPalette(pal.data(), head.biClrUsed);
            }

            // Separate planes: plane 0 holds the first sample of every pixel.
            const unsigned rowSpp = planar == PLANARCONFIG_SEPARATE ? 1 : spp;
            const uint64_t line = (uint64_t(bps) * width * rowSpp + 7) / 8;
            const bool scaleGrey = grey && bps < 8 && depth == 8;
            const uint32_t maxSample = bps >= 32 ? 0xFFFFFFFFu : ((1u << bps) - 1);

            auto putRow = [&](const uint8_t* src, long y) {
                uint8_t* d = Row(y);
                if (lab) {
                    for (long x = 0; x < w; x++, d += 3) {
                        const uint64_t base = uint64_t(x) * rowSpp;
                        auto top8 = [&](uint64_t i) {
                            uint32_t v = SampleAt(src, i, bps);
                            return bps > 8 ? v >> (bps - 8) : v << (8 - bps);
                        };
                        const double L = double(uint8_t(top8(base))) / 2.55;
                        const double a = double(int8_t(uint8_t(top8(base + 1))));
                        const double bb = double(int8_t(uint8_t(top8(base + 2))));
                        const double fy = (L + 16) / 116, fx = fy + a * 0.002, fz = fy - bb * 0.005;
                        const double X = fx * fx * fx * 0.95047, Y = fy * fy * fy,
                                     Z = fz * fz * fz * 1.0883;
                        d[2] = LabChannel(3.240479 * X - 1.53715 * Y - 0.498535 * Z);
                        d[1] = LabChannel(-0.969256 * X + 1.875992 * Y + 0.041556 * Z);
                        d[0] = LabChannel(0.055648 * X - 0.204043 * Y + 1.057311 * Z);
                    }
                    return;
                }
                if (rowSpp == 1 && bps == depth) {
                    std::memcpy(d, src, size_t(std::min<uint64_t>(line, effWidth)));
                    return;
                }
                for (long x = 0; x < w; x++) {
                    uint32_t v = SampleAt(src, uint64_t(x) * rowSpp, bps);
                    if (bps > 8)
                        v >>= (bps - 8);
                    else if (scaleGrey)
                        v = v * 255 / maxSample;
                    switch (depth) {
                    case 8:
                        d[x] = uint8_t(v);
                        break;
                    case 4:
                        d[x >> 1] = (x & 1) ? uint8_t((d[x >> 1] & 0xF0) | (v & 0x0F))
                                            : uint8_t((d[x >> 1] & 0x0F) | ((v & 0x0F) << 4));
                        break;
                    default:
                        if (v & 1)
                            d[x >> 3] |= uint8_t(0x80 >> (x & 7));
                        break;
                    }
                }
            };

            if (TIFFIsTiled(t)) {
                uint32_t tw = 0, tl = 0;
                TIFFGetField(t, TIFFTAG_TILEWIDTH, &tw);
                TIFFGetField(t, TIFFTAG_TILELENGTH, &tl);
                const uint64_t tileSize = uint64_t(TIFFTileSize64(t));
                const uint64_t tileRow = uint64_t(TIFFTileRowSize64(t));
                if (tw == 0 || tl == 0 || tileSize == 0 || tileRow == 0 ||
                    (uint64_t(tw) * bps * rowSpp) % 8 != 0 || tileRow * tl > tileSize)
                    throw Failure{"Corrupted tiled TIFF file!"};
                if (tileSize > maxBlockSize || line * std::min<uint64_t>(tl, height) > maxBlockSize)
                    throw Failure{"Corrupted tiled TIFF file!"};
                const uint32_t bandRows = std::min<uint32_t>(tl, height);
                std::vector<uint8_t> tile(size_t(tileSize), 0);
                std::vector<uint8_t> band(size_t(line * bandRows), 0);
                for (uint32_t ys = 0; ys < height; ys += tl) {
                    if (info.escape)
                        throw Failure{"Cancelled"};
                    const uint32_t nrow = std::min<uint32_t>(tl, height - ys);
                    for (uint32_t x = 0; x < width; x += tw) {
                        if (TIFFReadTile(t, tile.data(), x, ys, 0, 0) < 0)
                            throw Failure{"Corrupted tiled TIFF file!"};
                        const uint64_t offset = uint64_t(x) * bps * rowSpp / 8;
                        const uint64_t n = std::min<uint64_t>(tileRow, line - offset);
                        for (uint32_t r = 0; r < nrow; r++)
                            std::memcpy(band.data() + r * line + offset, tile.data() + r * tileRow,
                                        size_t(n));
                        if (uint64_t(x) + tw >= width)
                            break;
                    }
                    for (uint32_t r = 0; r < nrow; r++)
                        putRow(band.data() + r * line, h - 1 - long(ys + r));
                    if (uint64_t(ys) + tl >= height)
                        break;
                }
            } else {
                const uint64_t bytes = line * rowsPerStrip;
                if (bytes > maxBlockSize)
                    throw Failure{"Corrupted TIFF file!"};
                std::vector<uint8_t> strip(size_t(bytes), 0);
                for (uint32_t ys = 0; ys < height; ys += rowsPerStrip) {
                    if (info.escape)
                        throw Failure{"Cancelled"};
                    const uint32_t nrow = std::min<uint32_t>(rowsPerStrip, height - ys);
                    const tmsize_t want = tmsize_t(nrow * line);
                    const tmsize_t got =
                        TIFFReadEncodedStrip(t, TIFFComputeStrip(t, ys, 0), strip.data(), want);
                    if (got < 0)
                        throw Failure{"Corrupted TIFF file!"};
                    if (got < want)
                        std::memset(strip.data() + got, 0, size_t(want - got));
                    for (uint32_t r = 0; r < nrow; r++)
                        putRow(strip.data() + r * line, h - 1 - long(ys + r));
                    if (uint64_t(ys) + rowsPerStrip >= height)
                        break;
                }
            }
        }

        // The TIFF orientation names where the stored first row and first
        // column belong on screen.
        switch (orientation) {
        case ORIENTATION_TOPRIGHT:
            Mirror();
            break;
        case ORIENTATION_BOTRIGHT:
            Flip();
            Mirror();
            break;
        case ORIENTATION_BOTLEFT:
            Flip();
            break;
        case ORIENTATION_LEFTTOP: // transposed
            RotateRight();
            Mirror();
            break;
        case ORIENTATION_RIGHTTOP: // a quarter turn clockwise to display
            RotateRight();
            break;
        case ORIENTATION_RIGHTBOT: // anti-transposed
            RotateLeft();
            Mirror();
            break;
        case ORIENTATION_LEFTBOT: // a quarter turn counter-clockwise to display
            RotateLeft();
            break;
        default:
            break;
        }
        return true;
    } catch (const Failure& f) {
        SetError(f.text);
        return false;
    }
}

// ---------------------------------------------------------------------------
// Encoder

namespace {

// A palette that reads as grey levels from black up: the identity ramp, or
// the even ramp of SetGrayPalette at depths 1 and 4.
bool IsGreyRamp(const CRaster& img) {
    if (img.IsGrayScale())
        return true;
    const tagRGBQUAD* pal = img.GetPalette();
    const uint32_t n = img.head.biClrUsed;
    if (!pal || n < 2 || n > 256)
        return false;
    const uint32_t step = 255 / (n - 1);
    for (uint32_t i = 0; i < n; i++) {
        if (pal[i].rgbBlue != step * i || pal[i].rgbGreen != step * i || pal[i].rgbRed != step * i)
            return false;
    }
    return true;
}

} // namespace

bool CRasterTIF::EncodeBody(void* handle, bool multipage, int page, int pagecount) {
    TIFF* tif = static_cast<TIFF*>(handle);
    const unsigned bpp = head.biBitCount;
    const uint32_t w = uint32_t(head.biWidth), h = uint32_t(head.biHeight);
    const uint16_t samples = bpp == 24 ? 3 : 1;
    const uint16_t bitsPerSample = bpp == 24 ? 8 : uint16_t(bpp);
    const bool grey = bpp < 24 && IsGreyRamp(*this);

    uint16_t compression;
    if (info.encodeOption != 0) {
        compression = uint16_t(info.encodeOption);
    } else {
        switch (bpp) {
        case 1:
            compression = COMPRESSION_CCITTFAX4;
            break;
        case 8:
            compression = COMPRESSION_PACKBITS;
            break;
        case 24:
            compression = COMPRESSION_JPEG;
            break;
        default:
            compression = COMPRESSION_NONE;
            break;
        }
    }
    if (info.encodeOption > 0xFFFF || !TIFFIsCODECConfigured(compression))
        return false;

    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bitsPerSample);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 bpp == 24 ? PHOTOMETRIC_RGB
                 : grey    ? PHOTOMETRIC_MINISBLACK
                           : PHOTOMETRIC_PALETTE);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(info.xDPI > 0 ? info.xDPI : 96));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(info.yDPI > 0 ? info.yDPI : 96));
    if (multipage) {
        char name[32];
        std::snprintf(name, sizeof(name), "Page %d", page);
        TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
        TIFFSetField(tif, TIFFTAG_PAGENUMBER, uint16_t(page), uint16_t(pagecount));
        TIFFSetField(tif, TIFFTAG_PAGENAME, name);
    }
    if (bpp < 24 && !grey) {
        std::vector<uint16_t> r(size_t(1) << bpp, 0), g(r.size(), 0), b(r.size(), 0);
        for (size_t i = 0; i < r.size(); i++) {
            const tagRGBQUAD c = GetPaletteColor(uint8_t(i));
            r[i] = uint16_t(c.rgbRed * 257);
            g[i] = uint16_t(c.rgbGreen * 257);
            b[i] = uint16_t(c.rgbBlue * 257);
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    }
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    uint32_t rowsPerStrip = TIFFDefaultStripSize(tif, 0);
    if (compression == COMPRESSION_JPEG) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, int(info.quality > 100 ? 100 : info.quality));
        rowsPerStrip = (rowsPerStrip + 7) & ~7u;
    }
    // The horizontal predictor exists only for whole-byte samples.
    if (compression == COMPRESSION_LZW && bitsPerSample >= 8)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);

    // Codecs and the predictor change the row they are given, and 24-bit
    // rows need red and blue exchanged: every row goes through a copy.
    const tmsize_t lineBytes = TIFFScanlineSize(tif);
    if (lineBytes <= 0 || uint64_t(lineBytes) > effWidth)
        return false;
    std::vector<uint8_t> line(effWidth);
    for (uint32_t y = 0; y < h; y++) {
        if (info.escape)
            return false;
        const uint8_t* src = Row(long(h - 1 - y));
        if (bpp == 24) {
            uint8_t* d = line.data();
            for (uint32_t x = 0; x < w; x++, src += 3, d += 3) {
                d[0] = src[2];
                d[1] = src[1];
                d[2] = src[0];
            }
        } else {
            std::memcpy(line.data(), src, effWidth);
        }
        if (TIFFWriteScanline(tif, line.data(), y, 0) < 0)
            return false;
    }
    return true;
}

bool CRasterTIF::Encode(CRasterStream* hFile, bool bAppend) {
    if (!hFile) {
        SetError("invalid file pointer");
        return false;
    }
    if (!dib) {
        SetError("TIFF: no image");
        return false;
    }
    if (!m_tif) {
        // Memory mapping stays off: the stream grows while it is written.
        m_tif = OpenStream(hFile, "am");
        if (!m_tif) {
            SetError("initialization fail");
            return false;
        }
    }
    TIFF* tif = static_cast<TIFF*>(m_tif);
    const int page = m_pages;
    if (bAppend)
        m_pages++;
    bool ok = EncodeBody(tif, m_multipage, page, m_multipage ? m_pages : 1);
    if (!ok)
        SetError("Error saving TIFF file");
    else if (!TIFFWriteDirectory(tif)) {
        SetError("Error saving TIFF directory");
        ok = false;
    }
    if (!bAppend || !ok) {
        TIFFClose(tif);
        m_tif = nullptr;
        m_pages = 0;
        if (ok && (!hFile->Flush() || hFile->Error() != 0)) {
            SetError("Error saving TIFF file");
            ok = false;
        }
    }
    return ok;
}

bool CRasterTIF::Encode(CRasterStream* hFile, CRaster** pImages, int pagecount) {
    if (!hFile) {
        SetError("invalid file pointer");
        return false;
    }
    if (!pImages || pagecount <= 0 || !pImages[0]) {
        SetError("multipage TIFF, no images!");
        return false;
    }
    for (int i = 0; i < pagecount; i++) {
        if (!pImages[i] || !pImages[i]->dib) {
            SetError("Bad image pointer");
            return false;
        }
    }
    // libtiff reads back the directories it has written to chain the next
    // page on, so the pages are put together in memory and the file goes
    // out in one piece: any writable stream will do, a write-only one too.
    CMemStream mem;
    if (!mem.Open()) {
        SetError("initialization fail");
        return false;
    }
    // One handle for all pages; each page is written by a ghost of it.
    TIFF* tif = OpenStream(&mem, "am");
    if (!tif) {
        SetError("initialization fail");
        return false;
    }
    bool ok = true;
    for (int i = 0; i < pagecount && ok; i++) {
        auto page = std::make_unique<CRasterTIF>();
        page->Ghost(pImages[i]);
        page->m_tif = tif;
        page->m_multipage = true;
        page->m_pages = i;
        ok = page->EncodeBody(tif, true, i, pagecount) && TIFFWriteDirectory(tif);
        page->m_tif = nullptr;
    }
    TIFFClose(tif);
    if (ok) {
        const size_t n = size_t(mem.Size());
        ok = hFile->Write(mem.GetBuffer(false), 1, n) == n;
    }
    if (!ok || !hFile->Flush() || hFile->Error() != 0) {
        SetError("Error saving TIFF file");
        return false;
    }
    return true;
}
