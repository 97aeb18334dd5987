// Encoders for BMP, ICO, JPEG and PNG. Each works on a ghost of the caller's
// image and reads its bitmap only: colour order and palette changes go into
// rows and tables of the encoder's own.
#include "raster/raster_codecs.h"

#include <climits>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

namespace {

void Put16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

bool WriteAll(CRasterStream* s, const void* data, size_t n) {
    return n == 0 || s->Write(data, 1, n) == n;
}

// Pixels per metre for a resolution in dots per inch; 0 when unknown.
uint32_t PerMetre(long dpi) {
    if (dpi <= 0)
        return 0;
    return uint32_t(std::floor(double(dpi) * 10000.0 / 254.0 + 0.5));
}

} // namespace

// ---------------------------------------------------------------------------
// BMP

bool CRasterBMP::Encode(CRasterStream* hFile) {
    if (!hFile)
        return false;
    if (!dib) {
        SetError("BMP: no image");
        return false;
    }
    // The header goes out from head, not from the block: the caller's
    // block is never written to.
    const uint32_t pal = GetPaletteSize();
    uint8_t fileHeader[14] = {'B', 'M'};
    Put32(fileHeader + 2, GetSize() + 14);
    Put32(fileHeader + 10, 14 + head.biSize + pal);
    tagBITMAPINFOHEADER h = head;
    h.biSize = sizeof(tagBITMAPINFOHEADER);
    if (!WriteAll(hFile, fileHeader, sizeof(fileHeader)) || !WriteAll(hFile, &h, sizeof(h)) ||
        !WriteAll(hFile, dib + sizeof(tagBITMAPINFOHEADER), pal) ||
        !WriteAll(hFile, info.pixels, head.biSizeImage)) {
        SetError("BMP: write error");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// ICO

bool CRasterICO::Encode(CRasterStream* hFile) {
    if (!hFile)
        return false;
    if (!dib) {
        SetError("ICO: no image");
        return false;
    }
    const long w = head.biWidth, h = head.biHeight;
    if (w >= 256 || h >= 256) {
        SetError("Can't save this image as icon");
        return false;
    }
    if (head.biBitCount < 24 && !GetPalette())
        return false;

    const uint32_t maskStride = uint32_t((w + 31) / 32) * 4;
    const uint32_t maskSize = maskStride * uint32_t(h);
    const uint32_t pal = GetPaletteSize();
    std::vector<uint8_t> mask(maskSize, 0);
    if (info.backgroundIndex != -1) {
        const tagRGBQUAD t = GetTransColor();
        const unsigned bpp = head.biBitCount;
        // Which palette entries show the transparent colour.
        bool clear[256] = {};
        for (uint32_t i = 0; i < head.biClrUsed && i < 256; i++) {
            const tagRGBQUAD c = GetPaletteColor(uint8_t(i));
            clear[i] = c.rgbBlue == t.rgbBlue && c.rgbGreen == t.rgbGreen && c.rgbRed == t.rgbRed;
        }
        for (long y = 0; y < h; y++) {
            const uint8_t* row = Row(y);
            uint8_t* m = mask.data() + size_t(maskStride) * size_t(y);
            for (long x = 0; x < w; x++) {
                bool hit;
                if (bpp == 24) {
                    const uint8_t* p = row + 3 * x;
                    hit = p[0] == t.rgbBlue && p[1] == t.rgbGreen && p[2] == t.rgbRed;
                } else if (bpp == 8) {
                    hit = clear[row[x]];
                } else if (bpp == 4) {
                    hit = clear[(x & 1) ? (row[x >> 1] & 15) : (row[x >> 1] >> 4)];
                } else {
                    hit = clear[(row[x >> 3] >> (7 - (x & 7))) & 1];
                }
                if (hit)
                    m[x >> 3] |= uint8_t(0x80 >> (x & 7));
            }
        }
    }

    uint8_t header[6 + 16] = {};
    Put16(header + 2, 1);
    Put16(header + 4, 1);
    uint8_t* entry = header + 6;
    entry[0] = uint8_t(w);
    entry[1] = uint8_t(h);
    entry[2] = uint8_t(head.biClrUsed); // 256 colours are written as 0
    Put16(entry + 4, 1);
    Put16(entry + 6, head.biBitCount);
    Put32(entry + 8, head.biSizeImage + pal + maskSize + 40);
    Put32(entry + 12, 22);

    tagBITMAPINFOHEADER bi = head;
    bi.biSize = 40;
    bi.biHeight = int32_t(h * 2);
    bi.biPlanes = 1;
    bi.biCompression = 0;
    bi.biSizeImage = head.biSizeImage;
    if (!WriteAll(hFile, header, sizeof(header)) || !WriteAll(hFile, &bi, sizeof(bi)) ||
        !WriteAll(hFile, dib + sizeof(tagBITMAPINFOHEADER), pal) ||
        !WriteAll(hFile, info.pixels, head.biSizeImage) ||
        !WriteAll(hFile, mask.data(), mask.size())) {
        SetError("ICO: write error");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// JPEG

namespace {

struct EncErrorMgr {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char* message;
};

void EncErrorExit(j_common_ptr cinfo) {
    EncErrorMgr* err = reinterpret_cast<EncErrorMgr*>(cinfo->err);
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    std::strncpy(err->message, text, 255);
    err->message[255] = 0;
    longjmp(err->jump, 1);
}

void EncOutputMessage(j_common_ptr) {}

// 4096-byte blocks out to the stream.
struct CJpegStreamMgr {
    jpeg_destination_mgr pub;
    CRasterStream* stream;
    JOCTET buffer[4096];
};

void InitDestination(j_compress_ptr cinfo) {
    CJpegStreamMgr* d = reinterpret_cast<CJpegStreamMgr*>(cinfo->dest);
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = sizeof(d->buffer);
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    CJpegStreamMgr* d = reinterpret_cast<CJpegStreamMgr*>(cinfo->dest);
    if (d->stream->Write(d->buffer, 1, sizeof(d->buffer)) != sizeof(d->buffer))
        ERREXIT(cinfo, JERR_FILE_WRITE);
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = sizeof(d->buffer);
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    CJpegStreamMgr* d = reinterpret_cast<CJpegStreamMgr*>(cinfo->dest);
    const size_t n = sizeof(d->buffer) - d->pub.free_in_buffer;
    if (n > 0 && d->stream->Write(d->buffer, 1, n) != n)
        ERREXIT(cinfo, JERR_FILE_WRITE);
    if (!d->stream->Flush() || d->stream->Error() != 0)
        ERREXIT(cinfo, JERR_FILE_WRITE);
}

} // namespace

bool CRasterJPG::Encode(CRasterStream* hFile) {
    if (!hFile)
        return false;
    if (!dib) {
        SetError("JPEG: no image");
        return false;
    }
    const bool grey = IsGrayScale();
    if (head.biBitCount != 24 && !grey) {
        SetError("JPEG can save only RGB or GreyScale images");
        return false;
    }

    jpeg_compress_struct cinfo;
    EncErrorMgr jerr;
    CJpegStreamMgr* dest = new CJpegStreamMgr;
    // Grey images of 1 or 4 bits are widened into this row (their palette
    // is the identity, so the index is the grey level).
    uint8_t* volatile spare = nullptr;
    std::memset(&cinfo, 0, sizeof(cinfo));
    cinfo.err = jpeg_std_error(&jerr.pub);
    jerr.pub.error_exit = EncErrorExit;
    jerr.pub.output_message = EncOutputMessage;
    jerr.message = info.lastError;
    if (setjmp(jerr.jump)) {
        jpeg_destroy_compress(&cinfo);
        delete dest;
        std::free(spare);
        return false;
    }
    jpeg_create_compress(&cinfo);
    dest->stream = hFile;
    dest->pub.init_destination = InitDestination;
    dest->pub.empty_output_buffer = EmptyOutputBuffer;
    dest->pub.term_destination = TermDestination;
    cinfo.dest = &dest->pub;

    cinfo.image_width = JDIMENSION(head.biWidth);
    cinfo.image_height = JDIMENSION(head.biHeight);
    if (grey) {
        cinfo.input_components = 1;
        cinfo.in_color_space = JCS_GRAYSCALE;
    } else {
        // The library takes blue, green, red rows as they are.
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_EXT_BGR;
    }
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, info.quality > 100 ? 100 : info.quality, TRUE);
    cinfo.density_unit = 1;
    cinfo.X_density = UINT16(info.xDPI > 0 && info.xDPI <= 65535 ? info.xDPI : 0);
    cinfo.Y_density = UINT16(info.yDPI > 0 && info.yDPI <= 65535 ? info.yDPI : 0);
    jpeg_start_compress(&cinfo, TRUE);

    const unsigned bpp = head.biBitCount;
    if (grey && bpp < 8) {
        spare = static_cast<uint8_t*>(std::malloc(size_t(head.biWidth)));
        if (!spare)
            ERREXIT(&cinfo, JERR_OUT_OF_MEMORY);
    }
    while (cinfo.next_scanline < cinfo.image_height) {
        if (info.escape) {
            std::strcpy(info.lastError, "Cancelled");
            longjmp(jerr.jump, 1);
        }
        const long y = head.biHeight - 1 - long(cinfo.next_scanline);
        JSAMPROW row = Row(y);
        if (spare) {
            uint8_t* out = spare;
            for (long x = 0; x < head.biWidth; x++)
                out[x] = bpp == 4 ? ((x & 1) ? (row[x >> 1] & 15) : (row[x >> 1] >> 4))
                                  : ((row[x >> 3] >> (7 - (x & 7))) & 1);
            row = out;
        }
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    delete dest;
    std::free(spare);
    return true;
}

// ---------------------------------------------------------------------------
// PNG

namespace {

struct WriteContext {
    CRasterStream* stream;
    char* message;
};

void user_write_data(png_structp png, png_bytep data, png_size_t length) {
    auto* ctx = static_cast<WriteContext*>(png_get_io_ptr(png));
    if (ctx->stream->Write(data, 1, length) != length)
        png_error(png, "Write Error");
}

void user_flush_data(png_structp png) {
    auto* ctx = static_cast<WriteContext*>(png_get_io_ptr(png));
    if (!ctx->stream->Flush())
        png_error(png, "Flush Error");
}

void EncErrorFn(png_structp png, png_const_charp) {
    auto* ctx = static_cast<WriteContext*>(png_get_error_ptr(png));
    std::strcpy(ctx->message, "Error saving PNG file");
    png_longjmp(png, 1);
}

void EncWarningFn(png_structp, png_const_charp) {}

} // namespace

bool CRasterPNG::Encode(CRasterStream* hFile) {
    if (!hFile)
        return false;
    if (!dib) {
        SetError("PNG: no image");
        return false;
    }
    WriteContext ctx{hFile, info.lastError};
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, &ctx, EncErrorFn, EncWarningFn);
    if (!png) {
        SetError("Failed to create PNG structure");
        return false;
    }
    png_infop pinfo = png_create_info_struct(png);
    if (!pinfo) {
        png_destroy_write_struct(&png, nullptr);
        SetError("Failed to initialize PNG info structure");
        return false;
    }
    uint8_t* volatile spare = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &pinfo);
        std::free(spare);
        return false;
    }
    png_set_write_fn(png, &ctx, user_write_data, user_flush_data);

    const unsigned bpp = head.biBitCount;
    const long w = head.biWidth, h = head.biHeight;
    // The transparent index goes to entry 0, as a single tRNS entry says;
    // the exchange happens in this table and in the rows written, never in
    // the caller's bitmap.
    int trans = -1;
    uint8_t byteMap[256];
    for (int i = 0; i < 256; i++)
        byteMap[i] = uint8_t(i);
    if (bpp < 24) {
        png_color palette[256];
        const uint32_t n = head.biClrUsed > 256 ? 256 : head.biClrUsed;
        for (uint32_t i = 0; i < n; i++) {
            const tagRGBQUAD c = GetPaletteColor(uint8_t(i));
            palette[i] = png_color{c.rgbRed, c.rgbGreen, c.rgbBlue};
        }
        if (info.backgroundIndex >= 0 && uint32_t(info.backgroundIndex) < n) {
            trans = info.backgroundIndex;
            std::swap(palette[0], palette[trans]);
            if (trans != 0) {
                // Every packed field of a byte: indexes 0 and trans exchanged.
                const unsigned mask = (1u << bpp) - 1;
                for (unsigned b = 0; b < 256; b++) {
                    unsigned out = 0;
                    for (unsigned s = 0; s < 8; s += bpp) {
                        unsigned v = (b >> s) & mask;
                        if (v == 0)
                            v = unsigned(trans);
                        else if (v == unsigned(trans))
                            v = 0;
                        out |= v << s;
                    }
                    byteMap[b] = uint8_t(out);
                }
            }
        }
        png_set_IHDR(png, pinfo, png_uint_32(w), png_uint_32(h), int(bpp), PNG_COLOR_TYPE_PALETTE,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_PLTE(png, pinfo, palette, int(n));
        if (trans >= 0) {
            png_byte alpha0 = 0;
            png_set_tRNS(png, pinfo, &alpha0, 1, nullptr);
        }
    } else {
        png_set_IHDR(png, pinfo, png_uint_32(w), png_uint_32(h), 8, PNG_COLOR_TYPE_RGB,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    }
    const uint32_t xres = PerMetre(info.xDPI), yres = PerMetre(info.yDPI);
    if (xres && yres)
        png_set_pHYs(png, pinfo, xres, yres, PNG_RESOLUTION_METER);
    png_write_info(png, pinfo);
    if (bpp == 24)
        png_set_bgr(png);

    const bool remap = trans > 0;
    // libpng may transform a row in place (the colour order above), so rows
    // always go out through a row of our own.
    spare = static_cast<uint8_t*>(std::malloc(effWidth));
    if (!spare)
        png_error(png, "Can't allocate memory");
    for (long y = h - 1; y >= 0; y--) {
        if (info.escape)
            png_error(png, "Cancelled");
        const uint8_t* row = Row(y);
        if (remap) {
            for (uint32_t i = 0; i < effWidth; i++)
                spare[i] = byteMap[row[i]];
        } else {
            std::memcpy(spare, row, effWidth);
        }
        png_write_row(png, spare);
    }
    png_write_end(png, pinfo);
    png_destroy_write_struct(&png, &pinfo);
    std::free(spare);
    return true;
}
