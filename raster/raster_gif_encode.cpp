// GIF encoder: palette images as one frame, 24-bit images as a mosaic of
// small frames with palettes of their own, and animations of several pages.
// Three codings of the pixels, all read by any GIF LZW decoder: plain LZW,
// one code per pixel, and run-length coding that rides on the decoder's
// string building.
#include "raster/raster_codecs.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

// Buffered output; remembers whether any write failed.
class CRasterGIF::Writer {
public:
    explicit Writer(CRasterStream* s) : stream(s) { buf.reserve(kChunk); }

    void Byte(uint8_t b) {
        buf.push_back(b);
        if (buf.size() >= kChunk)
            Flush();
    }
    void Bytes(const void* p, size_t n) {
        const uint8_t* q = static_cast<const uint8_t*>(p);
        for (size_t i = 0; i < n; i++)
            Byte(q[i]);
    }
    // 16-bit little-endian.
    void Putword(unsigned w) {
        Byte(uint8_t(w & 0xFF));
        Byte(uint8_t((w >> 8) & 0xFF));
    }
    bool Flush() {
        if (!buf.empty()) {
            if (stream->Write(buf.data(), 1, buf.size()) != buf.size())
                ok = false;
            buf.clear();
        }
        return ok;
    }
    bool ok = true;

private:
    static constexpr size_t kChunk = 1 << 16;
    CRasterStream* stream;
    std::vector<uint8_t> buf;
};

namespace {

const char kWriteError[] = "Write Error in GIF file";

// Variable-width codes packed low bits first into data sub-blocks of at
// most 254 bytes.
class CodeOutput {
public:
    explicit CodeOutput(CRasterGIF::Writer& w) : out(w) {}
    void output(unsigned code, int bits) {
        acc |= uint32_t(code) << nacc;
        nacc += bits;
        while (nacc >= 8) {
            Put(uint8_t(acc & 0xFF));
            acc >>= 8;
            nacc -= 8;
        }
    }
    void Finish() {
        if (nacc > 0)
            Put(uint8_t(acc & 0xFF));
        acc = 0;
        nacc = 0;
        FlushPacket();
        out.Byte(0);
    }

private:
    void Put(uint8_t b) {
        packet[count++] = b;
        if (count == 254)
            FlushPacket();
    }
    void FlushPacket() {
        if (count == 0)
            return;
        out.Byte(uint8_t(count));
        out.Bytes(packet, size_t(count));
        count = 0;
    }
    CRasterGIF::Writer& out;
    uint32_t acc = 0;
    int nacc = 0;
    uint8_t packet[256];
    int count = 0;
};

// Follows what a decoder does with each code: which table slot comes next
// and how wide the next code is. A clear comes before the table can fill.
class CodeStream {
public:
    CodeStream(CodeOutput& o, int codeSize)
        : out(o), initBits(codeSize + 1), clearCode(1 << codeSize), eoi(clearCode + 1),
          bits(initBits), avail(eoi + 1) {}

    void Clear() {
        out.output(unsigned(clearCode), bits);
        bits = initBits;
        avail = eoi + 1;
        first = true;
    }
    void Emit(int code) {
        out.output(unsigned(code), bits);
        if (!first) {
            avail++;
            if (avail == (1 << bits) && bits < 12)
                bits++;
        }
        first = false;
    }
    void End() {
        out.output(unsigned(eoi), bits);
        out.Finish();
    }
    bool Full() const { return avail >= kLimit; }

    static constexpr int kLimit = 4094;
    CodeOutput& out;
    const int initBits, clearCode, eoi;
    int bits, avail;
    bool first = true;
};

// Pixel indexes of an image, top row first (GifNextPixel).
class PixelSource {
public:
    PixelSource(const CRaster& img, long x0, long y0top, long w, long h)
        : image(img), left(x0), top(y0top), width(w), height(h), row(size_t(w)) {}

    // The indexes of the next row down; false at the end.
    bool NextRow() {
        if (y >= height)
            return false;
        const long iy = image.head.biHeight - 1 - (top + y);
        const uint8_t* src = image.GetBits() + size_t(image.effWidth) * size_t(iy);
        const unsigned bpp = image.head.biBitCount;
        for (long x = 0; x < width; x++) {
            const long sx = left + x;
            row[size_t(x)] = bpp == 8 ? src[sx]
                             : bpp == 4
                                 ? uint8_t((sx & 1) ? (src[sx >> 1] & 15) : (src[sx >> 1] >> 4))
                                 : uint8_t((src[sx >> 3] >> (7 - (sx & 7))) & 1);
        }
        y++;
        return true;
    }
    const uint8_t* Row() const { return row.data(); }
    long Width() const { return width; }

private:
    const CRaster& image;
    long left, top, width, height;
    long y = 0;
    std::vector<uint8_t> row;
};

// One code per pixel.
void compressNONE(CodeStream& cs, PixelSource& src) {
    while (src.NextRow()) {
        const uint8_t* px = src.Row();
        for (long i = 0; i < src.Width(); i++) {
            if (cs.Full())
                cs.Clear();
            cs.Emit(px[i]);
        }
    }
}

// Runs of one value: after a plain code for the value, each code that names
// the slot the decoder is about to fill stands for one pixel more than the
// code before (the decoder repeats the last string's first pixel), so a run
// of n pixels takes about sqrt(2n) codes. What remains of a run shorter than
// the next step is sent as a string of that length made earlier in the run.
class RunCoder {
public:
    explicit RunCoder(CodeStream& c) : cs(c) {}

    void Put(const uint8_t* px, size_t n) {
        size_t i = 0;
        while (i < n) {
            size_t j = i + 1;
            while (j < n && px[j] == px[i])
                j++;
            Run(px[i], j - i);
            i = j;
        }
    }

private:
    void Run(uint8_t v, size_t n) {
        // chain[k]: the code of v repeated k times, made in this run.
        size_t len = 0;
        while (n > 0) {
            if (cs.Full()) {
                cs.Clear();
                len = 0;
            }
            if (len == 0) {
                cs.Emit(v);
                len = 1;
                n -= 1;
            } else if (n >= len + 1 && len + 1 < kMaxChain) {
                chain[len + 1] = cs.avail;
                cs.Emit(cs.avail);
                len += 1;
                n -= len;
            } else {
                const size_t take = std::min(n, len);
                cs.Emit(take == 1 ? int(v) : chain[take]);
                n -= take;
            }
        }
    }
    static constexpr size_t kMaxChain = 4096;
    CodeStream& cs;
    int chain[kMaxChain] = {};
};

// Standard GIF LZW: strings found through a 5003-entry hash table with a
// secondary probe; a clear code when the table is full.
class LzwCoder {
public:
    explicit LzwCoder(CodeStream& c) : cs(c) { cl_hash(); }

    void Put(const uint8_t* px, size_t n) {
        size_t i = 0;
        if (ent < 0 && n > 0)
            ent = px[i++];
        for (; i < n; i++) {
            const int c = px[i];
            const int32_t fcode = (int32_t(c) << 12) + ent;
            int h = (c << kShift) ^ ent;
            if (htab[h] == fcode) {
                ent = codetab[h];
                continue;
            }
            bool found = false;
            if (htab[h] >= 0) {
                const int disp = h == 0 ? 1 : kHashSize - h;
                do {
                    h -= disp;
                    if (h < 0)
                        h += kHashSize;
                    if (htab[h] == fcode) {
                        found = true;
                        break;
                    }
                } while (htab[h] >= 0);
            }
            if (found) {
                ent = codetab[h];
                continue;
            }
            cs.Emit(ent);
            ent = c;
            if (freeEnt < CodeStream::kLimit) {
                codetab[h] = freeEnt++;
                htab[h] = fcode;
            } else {
                cs.Clear();
                cl_hash();
                freeEnt = cs.eoi + 1;
            }
        }
    }
    void Finish() {
        if (ent >= 0)
            cs.Emit(ent);
    }

private:
    void cl_hash() {
        std::fill(std::begin(htab), std::end(htab), -1);
        freeEnt = cs.eoi + 1;
    }
    static constexpr int kHashSize = 5003;
    static constexpr int kShift = 4;
    CodeStream& cs;
    int32_t htab[kHashSize];
    int codetab[kHashSize] = {};
    int freeEnt = 0;
    int ent = -1;
};

void compressRLE(CodeStream& cs, PixelSource& src) {
    auto rle = std::make_unique<RunCoder>(cs);
    while (src.NextRow())
        rle->Put(src.Row(), size_t(src.Width()));
}

void compressLZW(CodeStream& cs, PixelSource& src) {
    auto lzw = std::make_unique<LzwCoder>(cs);
    while (src.NextRow())
        lzw->Put(src.Row(), size_t(src.Width()));
    lzw->Finish();
}

// Compresses the pixels of a rectangle with the coding chosen by option.
void WritePixels(CRasterGIF::Writer& out, PixelSource& src, int codeSize, uint32_t option) {
    out.Byte(uint8_t(codeSize));
    CodeOutput bits(out);
    CodeStream cs(bits, codeSize);
    cs.Clear();
    if (option == 2)
        compressLZW(cs, src);
    else if (option == 1)
        compressNONE(cs, src);
    else
        compressRLE(cs, src);
    cs.End();
}

uint16_t Clamp16(long v) {
    return uint16_t(v < 0 ? 0 : v > 65535 ? 65535 : v);
}

bool FitsGif(const CRaster& img) {
    return img.head.biWidth <= 65535 && img.head.biHeight <= 65535;
}

} // namespace

void CRasterGIF::EncodeHeader(Writer& out) {
    out.Bytes("GIF89a", 6);
    out.Putword(Clamp16(head.biWidth));
    out.Putword(Clamp16(head.biHeight));
    const unsigned depth = head.biBitCount;
    if (depth < 24 && GetPalette()) {
        out.Byte(uint8_t(0x80 | ((depth - 1) << 5) | (depth - 1)));
        out.Byte(0);
        out.Byte(0);
        for (unsigned i = 0; i < (1u << depth); i++) {
            const tagRGBQUAD c = GetPaletteColor(uint8_t(i));
            out.Byte(c.rgbRed);
            out.Byte(c.rgbGreen);
            out.Byte(c.rgbBlue);
        }
    } else {
        out.Byte(0x11);
        out.Byte(0);
        out.Byte(0);
    }
}

void CRasterGIF::EncodeExtension(Writer& out) {
    out.Byte('!');
    out.Byte(0xF9);
    out.Byte(4);
    out.Byte(uint8_t(((disposalMethod & 7) << 2) | (info.backgroundIndex != -1 ? 1 : 0)));
    out.Putword(info.frameDelay > 65535 ? 65535 : info.frameDelay);
    out.Byte(uint8_t(info.backgroundIndex));
    out.Byte(0);
}

void CRasterGIF::EncodeLoopExtension(Writer& out) {
    out.Byte('!');
    out.Byte(0xFF);
    out.Byte(11);
    out.Bytes("NETSCAPE2.0", 11);
    out.Byte(3);
    out.Byte(1);
    out.Putword(unsigned(loops < 0 ? 0 : loops > 65535 ? 65535 : loops));
    out.Byte(0);
}

void CRasterGIF::EncodeComment(Writer& out) {
    const size_t n = strnlen(comment, 255);
    if (n == 0)
        return;
    out.Byte('!');
    out.Byte(0xFE);
    out.Byte(uint8_t(n));
    out.Bytes(comment, n);
    out.Byte(0);
}

bool CRasterGIF::EncodeBody(Writer& out, bool bLocalColorMap) {
    const unsigned depth = head.biBitCount;
    out.Byte(',');
    out.Putword(Clamp16(info.xOffset));
    out.Putword(Clamp16(info.yOffset));
    out.Putword(Clamp16(head.biWidth));
    out.Putword(Clamp16(head.biHeight));
    if (bLocalColorMap) {
        out.Byte(uint8_t(0x80 | (depth - 1)));
        for (unsigned i = 0; i < (1u << depth); i++) {
            const tagRGBQUAD c = GetPaletteColor(uint8_t(i));
            out.Byte(c.rgbRed);
            out.Byte(c.rgbGreen);
            out.Byte(c.rgbBlue);
        }
    } else {
        out.Byte(0);
    }
    PixelSource src(*this, 0, 0, head.biWidth, head.biHeight);
    WritePixels(out, src, depth < 2 ? 2 : int(depth), info.encodeOption);
    return out.ok;
}

// 24-bit pictures: tiles of 17 x 15 pixels (at most 255 colours each), each
// a frame of its own with a local palette in entries 1-255; entry 0 is the
// transparent colour when there is one.
bool CRasterGIF::EncodeRGB(Writer& out) {
    const long w = head.biWidth, h = head.biHeight;
    const bool transparent = info.backgroundIndex != -1;
    const tagRGBQUAD t = info.backgroundColor;
    const uint32_t tkey =
        uint32_t(t.rgbBlue) | uint32_t(t.rgbGreen) << 8 | uint32_t(t.rgbRed) << 16;
    CRaster tile(0);
    if (!tile.Create(17, 15, 8, kRasterGIF)) {
        SetError("GIF: out of memory");
        return false;
    }
    // One codec for every tile: its tables are large.
    auto tileCodec = std::make_unique<CRasterGIF>();
    // Colour -> palette entry for the tile being built.
    uint32_t keys[512];
    uint8_t slots[512];
    for (long y0 = 0; y0 < h; y0 += 15) {
        const long th = std::min<long>(15, h - y0);
        for (long x0 = 0; x0 < w; x0 += 17) {
            if (info.escape)
                return false;
            const long tw = std::min<long>(17, w - x0);
            std::fill(std::begin(keys), std::end(keys), UINT32_MAX);
            tagRGBQUAD pal[256] = {};
            if (transparent)
                pal[0] = t;
            int used = 1;
            tile.head.biWidth = int32_t(tw);
            tile.head.biHeight = int32_t(th);
            for (long y = 0; y < th; y++) {
                const uint8_t* src = Row(y0 + y) + 3 * x0;
                uint8_t* dst = tile.GetBits() + size_t(tile.effWidth) * size_t(y);
                for (long x = 0; x < tw; x++, src += 3) {
                    const uint32_t key =
                        uint32_t(src[0]) | uint32_t(src[1]) << 8 | uint32_t(src[2]) << 16;
                    if (transparent && key == tkey) {
                        dst[x] = 0;
                        continue;
                    }
                    uint32_t s = (key * 2654435761u) >> 23;
                    while (keys[s] != UINT32_MAX && keys[s] != key)
                        s = (s + 1) & 511;
                    if (keys[s] == UINT32_MAX) {
                        keys[s] = key;
                        slots[s] = uint8_t(used);
                        pal[used++] = tagRGBQUAD{src[0], src[1], src[2], 0};
                    }
                    dst[x] = slots[s];
                }
            }
            CRasterGIF& frame = *tileCodec;
            frame.Ghost(&tile);
            frame.head = tile.head;
            frame.info.effWidth = tile.info.effWidth;
            frame.SetPalette(pal, 256);
            frame.info.backgroundIndex = transparent ? 0 : -1;
            frame.info.frameDelay = 0;
            frame.info.xOffset = int32_t(x0);
            frame.info.yOffset = int32_t(h - y0 - th);
            frame.info.encodeOption = info.encodeOption;
            frame.EncodeExtension(out);
            frame.EncodeBody(out, true);
        }
    }
    return out.ok;
}

bool CRasterGIF::EncodePaletted(CRasterStream* fp) {
    Writer out(fp);
    EncodeHeader(out);
    if (head.biBitCount == 24) {
        if (!EncodeRGB(out))
            return false;
    } else {
        EncodeExtension(out);
        EncodeBody(out, false);
    }
    EncodeComment(out);
    out.Byte(';');
    if (!out.Flush() || !fp->Flush() || fp->Error() != 0) {
        SetError(kWriteError);
        return false;
    }
    return true;
}

bool CRasterGIF::Encode(CRasterStream* fp) {
    if (!fp) {
        SetError("Can't open GIF for writing");
        return false;
    }
    if (!dib) {
        SetError("GIF: no image");
        return false;
    }
    if (!FitsGif(*this)) {
        SetError("GIF: image too large");
        return false;
    }
    if (head.biBitCount < 24 && !GetPalette())
        return false;
    return EncodePaletted(fp);
}

bool CRasterGIF::Encode(CRasterStream* fp, CRaster** pImages, int pagecount, bool bLocalColorMap) {
    if (!fp) {
        SetError("invalid file pointer");
        return false;
    }
    if (!pImages || pagecount <= 0 || !pImages[0] || !pImages[0]->dib) {
        SetError("multipage GIF, no images!");
        return false;
    }
    for (int i = 0; i < pagecount; i++) {
        if (!pImages[i] || !pImages[i]->dib) {
            SetError("Bad image pointer");
            return false;
        }
        // A page of 24 bits would need a mosaic of frames of its own, which
        // an animation cannot hold.
        if (pImages[i]->head.biBitCount == 24 || !pImages[i]->GetPalette()) {
            SetError("multipage GIF, palette images only");
            return false;
        }
        if (!FitsGif(*pImages[i])) {
            SetError("GIF: image too large");
            return false;
        }
    }
    Writer out(fp);
    auto page = std::make_unique<CRasterGIF>();
    page->Ghost(pImages[0]);
    page->EncodeHeader(out);
    if (loops != 1)
        EncodeLoopExtension(out);
    for (int i = 0; i < pagecount; i++) {
        page = std::make_unique<CRasterGIF>();
        page->Ghost(pImages[i]);
        const auto* asGif = dynamic_cast<const CRasterGIF*>(pImages[i]);
        page->disposalMethod = asGif ? asGif->disposalMethod : disposalMethod;
        page->EncodeExtension(out);
        page->EncodeBody(out, bLocalColorMap);
    }
    EncodeComment(out);
    out.Byte(';');
    if (!out.Flush() || !fp->Flush() || fp->Error() != 0) {
        SetError(kWriteError);
        return false;
    }
    return true;
}
