// GIF decoder: frames are counted by walking the block structure, then
// decoded in order up to the one asked for. The LZW decoder keeps its tables
// in the codec object and never writes past its line buffer or its stack.
#include "raster/raster_codecs.h"

#include <cstring>
#include <memory>
#include <vector>

class CRasterGIF::Reader {
public:
    explicit Reader(CRasterStream* stream) : s(stream) {
        long p = s->Tell();
        start = p < 0 ? 0 : p;
    }

    int GetByte() {
        if (pos == fill && !Refill())
            return -1;
        return buf[pos++];
    }

    size_t Read(void* dst, size_t n) {
        uint8_t* d = static_cast<uint8_t*>(dst);
        size_t done = 0;
        while (done < n) {
            if (pos == fill && !Refill())
                break;
            size_t k = fill - pos < n - done ? fill - pos : n - done;
            std::memcpy(d + done, buf + pos, k);
            pos += k;
            done += k;
        }
        return done;
    }

    void Skip(size_t n) {
        if (n <= fill - pos) {
            pos += n;
            return;
        }
        Seek(Tell() + long(n));
    }

    long Tell() const { return start + long(pos); }

    void Seek(long p) {
        if (p >= start && p <= start + long(fill)) {
            pos = size_t(p - start);
            return;
        }
        s->Seek(p, 0);
        start = p;
        pos = fill = 0;
    }

    // Leaves the stream where the decoder stopped reading.
    void Sync() { s->Seek(Tell(), 0); }

private:
    bool Refill() {
        start += long(fill);
        pos = 0;
        fill = s->Read(buf, 1, sizeof(buf));
        return fill > 0;
    }

    CRasterStream* s;
    uint8_t buf[16384];
    size_t pos = 0, fill = 0;
    long start = 0;
};

namespace {

// Skips data sub-blocks up to and including the zero-length terminator.
template <class R> void SkipSubBlocks(R& in) {
    for (;;) {
        int n = in.GetByte();
        if (n <= 0)
            return;
        in.Skip(size_t(n));
    }
}

// Start row and step of the four interlace passes.
const int kPassStart[4] = {0, 4, 2, 1};
const int kPassStep[4] = {8, 8, 4, 2};

} // namespace

void CRasterGIF::SetComment(const char* text) {
    if (!text)
        return;
    std::strncpy(comment, text, 255);
    comment[255] = 0;
}

void CRasterGIF::GetComment(char* dst) const {
    if (!dst)
        return;
    std::strncpy(dst, comment, 255);
    dst[255] = 0;
}

bool CRasterGIF::DecodeExtension(Reader& in) {
    int label = in.GetByte();
    if (label < 0)
        return false;
    bool ok = true;
    if (label == 0xF9) {
        int len = in.GetByte();
        uint8_t b[4] = {};
        size_t got = in.Read(b, 4);
        ok = len >= 0 && size_t(len) == got;
        if (ok) {
            graphicControl.flags = b[0];
            graphicControl.delay = uint16_t(b[1] | (b[2] << 8));
            graphicControl.transparent = b[3];
            if (b[0] & 1)
                info.backgroundIndex = b[3];
            info.frameDelay = graphicControl.delay;
            disposalMethod = (b[0] >> 2) & 7;
        }
    } else if (label == 0xFE) {
        int len = in.GetByte();
        if (len < 0)
            return false;
        uint8_t text[256];
        if (in.Read(text, size_t(len)) != size_t(len))
            return false;
        std::memcpy(comment, text, size_t(len));
        comment[len < 255 ? len : 255] = 0;
    } else if (label == 0xFF) {
        int len = in.GetByte();
        uint8_t id[11];
        if (len != 11 || in.Read(id, 11) != 11)
            return false;
        int n = in.GetByte();
        if (n < 0)
            return false;
        uint8_t data[256];
        if (in.Read(data, size_t(n)) != size_t(n))
            return false;
        if (n > 2)
            loops = data[1] + 256 * data[2];
    }
    SkipSubBlocks(in);
    return ok;
}

long CRasterGIF::get_num_frames(Reader& in, const tag_TabCol&) {
    // Walks the block structure without decoding any picture: a frame costs
    // only the reading of its sub-block lengths.
    long saved = in.Tell();
    long count = 0;
    for (;;) {
        int ch = in.GetByte();
        if (ch < 0 || ch == ';')
            break;
        if (ch == '!') {
            DecodeExtension(in);
        } else if (ch == ',') {
            uint8_t d[9];
            if (in.Read(d, 9) != 9)
                break;
            count++;
            if (d[8] & 0x80)
                in.Skip(size_t(3) << ((d[8] & 7) + 1));
            if (in.GetByte() < 0) // minimum code size
                break;
            SkipSubBlocks(in);
        }
    }
    in.Seek(saved);
    return count;
}

void CRasterGIF::init_exp(int size) {
    curr_size = size + 1;
    top_slot = 1 << curr_size;
    clear = 1 << size;
    ending = clear + 1;
    slot = newcodes = ending + 1;
    navail_bytes = nbits_left = 0;
    std::memset(stack, 0, sizeof(stack));
    std::memset(suffix, 0, sizeof(suffix));
    std::memset(prefix, 0, sizeof(prefix));
}

int CRasterGIF::get_next_code(Reader& in) {
    // Codes are packed least significant bit first across sub-blocks; a
    // zero-length block or the end of the stream ends the data.
    while (nbits_left < curr_size) {
        if (navail_bytes == 0) {
            int n = in.GetByte();
            if (n <= 0 || in.Read(byte_buff, size_t(n)) != size_t(n)) {
                navail_bytes = -1;
                return ending;
            }
            navail_bytes = n;
            pbytes = byte_buff;
        }
        if (navail_bytes < 0)
            return ending;
        navail_bytes--;
        b1 = *pbytes++;
        codeBits |= uint32_t(b1) << nbits_left;
        nbits_left += 8;
    }
    int code = int(codeBits & ((1u << curr_size) - 1));
    codeBits >>= curr_size;
    nbits_left -= curr_size;
    return code;
}

int CRasterGIF::out_line(CRasterIterator* iter, uint8_t* pixels, int linelen) {
    const int w = head.biWidth;
    int bytes = linelen;
    if (head.biBitCount == 4) {
        for (int x = 0; x < w; x++) {
            uint8_t v = pixels[x] & 0x0F;
            if (x & 1)
                pixels[x >> 1] = uint8_t(pixels[x >> 1] | v);
            else
                pixels[x >> 1] = uint8_t(v << 4);
        }
        bytes = (w + 1) / 2;
    } else if (head.biBitCount == 1) {
        for (int x = 0; x < w; x++) {
            uint8_t v = pixels[x] & 1;
            if ((x & 7) == 0)
                pixels[x >> 3] = uint8_t(v << 7);
            else
                pixels[x >> 3] = uint8_t(pixels[x >> 3] | (v << (7 - (x & 7))));
        }
        bytes = (w + 7) / 8;
    }
    if (!interlaced) {
        if (!iter->ItOK())
            return -1;
        iter->SetRow(pixels, bytes);
        iter->PrevRow();
        return 0;
    }
    if (ipass >= 4)
        return -1;
    iter->SetY(iheight - iypos - 1);
    iter->SetRow(pixels, bytes);
    iypos += istep;
    // Frames of fewer than eight rows have empty passes; step over them.
    while (iypos >= iheight) {
        if (++ipass >= 4)
            break;
        iypos = kPassStart[ipass];
        istep = kPassStep[ipass];
    }
    return 0;
}

int CRasterGIF::decoder(Reader& in, CRasterIterator* iter, int linewidth, int& bad_code_count) {
    bad_code_count = 0;
    int size = in.GetByte();
    if (size < 0)
        return size;
    if (size < 2 || size > 9)
        return -20;
    init_exp(size);
    codeBits = 0;
    if (linewidth <= 0)
        return 0;
    // Room for a packed row too: the 1- and 4-bit packing works in place.
    std::vector<uint8_t> buf(size_t(linewidth) + 1, 0);
    uint8_t* const line = buf.data();
    int bufcnt = linewidth;
    uint8_t* bufptr = line;
    int ret = 0;
    int oc = 0, fc = 0;
    uint8_t* sp = stack;
    uint8_t* const stackEnd = stack + sizeof(stack);

    auto emit = [&](uint8_t v) -> bool {
        *bufptr++ = v;
        if (--bufcnt == 0) {
            ret = out_line(iter, line, linewidth);
            if (ret < 0)
                return false;
            bufptr = line;
            bufcnt = linewidth;
        }
        return true;
    };

    int c;
    while ((c = get_next_code(in)) != ending) {
        if (c < 0)
            return 0;
        if (c == clear) {
            curr_size = size + 1;
            slot = newcodes;
            top_slot = 1 << curr_size;
            while ((c = get_next_code(in)) == clear) {
            }
            if (c == ending)
                break;
            if (c >= slot)
                c = 0;
            oc = fc = c;
            if (!emit(uint8_t(c)))
                return ret;
            continue;
        }
        int code = c;
        if (code >= slot) {
            if (code > slot)
                bad_code_count++;
            code = oc;
            *sp++ = uint8_t(fc);
        }
        // A corrupt table can chain entries into a cycle; the stack bound
        // stops the walk.
        while (code >= newcodes && sp < stackEnd - 1) {
            *sp++ = suffix[code];
            code = prefix[code];
        }
        if (code >= newcodes)
            code = 0;
        *sp++ = uint8_t(code);
        if (slot < top_slot) {
            fc = code;
            suffix[slot] = uint8_t(fc);
            prefix[slot++] = uint16_t(oc);
        }
        if (slot >= top_slot && curr_size < 12) {
            top_slot <<= 1;
            curr_size++;
        }
        oc = c;
        while (sp > stack) {
            if (!emit(*--sp)) {
                sp = stack;
                return ret;
            }
        }
    }
    if (bufcnt != linewidth)
        ret = out_line(iter, line, linewidth - bufcnt);
    return ret;
}

void CRasterGIF::GifMix(CRaster& dst, const CRaster& src, long lxOffset, long lyOffset) {
    const long w = dst.head.biWidth, h = dst.head.biHeight;
    const uint8_t bg = uint8_t(src.info.backgroundIndex);
    long x0 = -lxOffset, y0 = -lyOffset;
    long x1 = x0 + src.head.biWidth, y1 = y0 + src.head.biHeight;
    if (x0 < 0)
        x0 = 0;
    if (y0 < 0)
        y0 = 0;
    if (x1 > w)
        x1 = w;
    if (y1 > h)
        y1 = h;
    for (long y = y0; y < y1; y++) {
        for (long x = x0; x < x1; x++) {
            uint8_t i = src.GetPixelIndex(x + lxOffset, y + lyOffset);
            if (i != bg)
                dst.SetPixelIndex(x, y, i);
        }
    }
}

bool CRasterGIF::Decode(CRasterStream* fp) {
    if (!fp)
        return false;
    auto inPtr = std::make_unique<Reader>(fp);
    Reader& in = *inPtr;
    uint8_t sd[13];
    if (in.Read(sd, 13) != 13 || std::memcmp(sd, "GIF8", 4) != 0)
        return false;
    const int screenW = sd[6] | (sd[7] << 8), screenH = sd[8] | (sd[9] << 8);

    auto table = std::make_unique<tag_TabCol>();
    std::memset(table.get(), 0, sizeof(tag_TabCol));
    table->colres = int16_t((sd[10] >> 4) & 7);
    table->sogct = int16_t(1 << ((sd[10] & 7) + 1));
    bool haveTable = false;
    int trueColour = 0;
    if (sd[10] & 0x80) {
        in.Read(table->paleta, size_t(table->sogct) * 3);
        haveTable = true;
    } else {
        trueColour++;
    }

    // The count reads every extension of the file; what belongs to single
    // frames is put back, so that a frame never takes another's transparency.
    const GraphicControl savedControl = graphicControl;
    const int32_t savedIndex = info.backgroundIndex, savedDisposal = disposalMethod;
    const uint32_t savedDelay = info.frameDelay;
    info.numFrames = int32_t(get_num_frames(in, *table));
    graphicControl = savedControl;
    info.backgroundIndex = savedIndex;
    disposalMethod = savedDisposal;
    info.frameDelay = savedDelay;
    if (info.frame < 0 || info.frame >= info.numFrames)
        return false;

    std::unique_ptr<CRaster> canvas;
    int firstTransparent = -1;
    uint64_t budget = 4 * maxBlockSize;
    long i = 0;
    for (;;) {
        if (info.escape)
            return false;
        int ch = in.GetByte();
        if (ch < 0)
            break;
        if (ch == '!') {
            if (!DecodeExtension(in))
                break;
            continue;
        }
        if (ch == ';')
            break;
        if (ch != ',')
            continue;

        uint8_t d[9];
        if (in.Read(d, 9) != 9)
            break;
        const int left = d[0] | (d[1] << 8), top = d[2] | (d[3] << 8);
        const int width = d[4] | (d[5] << 8), height = d[6] | (d[7] << 8);
        const uint8_t flags = d[8];
        if (flags & 0x80) {
            table->sogct = int16_t(1 << ((flags & 7) + 1));
            in.Read(table->paleta, size_t(table->sogct) * 3);
            haveTable = true;
        }
        if (left + width > screenW || top + height > screenH) {
            if (in.GetByte() >= 0)
                SkipSubBlocks(in);
            continue;
        }
        if (i == 0 && width != screenW && height != screenH)
            trueColour++;
        const int count = table->sogct;
        const unsigned depth = count <= 2 ? 1 : count <= 16 ? 4 : 8;

        // Every frame allocates (and copies, when composed) its bitmap; a
        // file of many huge frames with little data in them must not keep
        // the caller busy for minutes. Past the budget decoding stops with
        // the frames decoded so far.
        const bool compose = i > 0 && disposalMethod == 1;
        const uint64_t frameBytes =
            (((uint64_t(depth) * unsigned(width) + 31) >> 5) << 2) * unsigned(height);
        const uint64_t cost = frameBytes + (compose && dib ? GetSize() : 0);
        if (cost > budget)
            break;
        budget -= cost;
        std::unique_ptr<CRaster> working;
        if (compose)
            working = std::make_unique<CRaster>(*this);
        if (i == 0)
            firstTransparent = info.backgroundIndex;

        if (!Create(unsigned(width), unsigned(height), depth, kRasterGIF)) {
            // A frame that cannot be held is stepped over.
            if (working)
                Transfer(*working);
            if (in.GetByte() >= 0)
                SkipSubBlocks(in);
            continue;
        }
        if (haveTable) {
            tagRGBQUAD pal[256];
            for (int k = 0; k < 256; k++) {
                const rgb_color& c = table->paleta[k];
                pal[k] = (k < count || info.backgroundIndex == -1) ? tagRGBQUAD{c.b, c.g, c.r, 0}
                                                                   : tagRGBQUAD{255, 255, 255, 0};
            }
            SetPalette(pal, info.backgroundIndex != -1 ? 256 : unsigned(count));
        }

        CRasterIterator iter(this);
        iter.Upset();
        interlaced = (flags & 0x40) != 0;
        iypos = 0;
        istep = 8;
        ipass = 0;
        iheight = height;
        int bad = 0;
        navail_bytes = 0;
        decoder(in, &iter, width, bad);
        if (navail_bytes >= 0)
            SkipSubBlocks(in);
        if (info.escape)
            return false;

        if (compose && trueColour < 2) {
            GifMix(*working, *this, -left, top - working->head.biHeight + height);
            working->info.backgroundIndex = firstTransparent;
            Transfer(*working);
        }

        if (trueColour >= 2) {
            info.frame = info.numFrames - 1;
            if (!canvas) {
                canvas = std::make_unique<CRaster>(0);
                if (!canvas->Create(unsigned(screenW), unsigned(screenH), 24, kRasterGIF))
                    return false;
            }
            const long ch24 = canvas->head.biHeight;
            uint8_t lut[256][3] = {};
            if (const tagRGBQUAD* pal = GetPalette()) {
                for (uint32_t k = 0; k < head.biClrUsed; k++) {
                    lut[k][0] = pal[k].rgbBlue;
                    lut[k][1] = pal[k].rgbGreen;
                    lut[k][2] = pal[k].rgbRed;
                }
            }
            const unsigned bpp = head.biBitCount;
            for (long fy = 0; fy < height; fy++) {
                long cy = ch24 - 1 - top - (height - 1 - fy);
                if (cy < 0 || cy >= ch24)
                    continue;
                uint8_t* row = canvas->GetBits() + size_t(canvas->effWidth) * size_t(cy);
                const uint8_t* src = Row(fy);
                for (long fx = 0; fx < width; fx++) {
                    long cx = left + fx;
                    if (cx >= canvas->head.biWidth)
                        break;
                    const uint8_t i = bpp == 8 ? src[fx]
                                      : bpp == 4
                                          ? uint8_t((src[fx >> 1] >> ((fx & 1) ? 0 : 4)) & 15)
                                          : uint8_t((src[fx >> 3] >> (7 - (fx & 7))) & 1);
                    std::memcpy(row + 3 * cx, lut[i], 3);
                }
            }
        }
        if (i == info.frame)
            break;
        i++;
    }
    if (trueColour >= 2 && canvas) {
        if (graphicControl.flags & 1)
            canvas->info.backgroundColor = GetPaletteColor(graphicControl.transparent);
        const int32_t frames = info.numFrames;
        canvas->info.numFrames = frames;
        canvas->info.frame = info.frame;
        canvas->info.frameDelay = info.frameDelay;
        Transfer(*canvas);
    }
    in.Sync();
    // Frames of no size or outside the screen are stepped over; when nothing
    // was decoded there is no picture, and success would hand the caller an
    // image without a bitmap.
    if (!dib) {
        SetError("GIF holds no picture");
        return false;
    }
    return true;
}
