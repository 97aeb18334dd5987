// PNG decoder over libpng. Rows are read straight into the bitmap; alpha is
// composited onto a background colour or dropped.
#include "raster/raster_codecs.h"

#include <cmath>
#include <csetjmp>
#include <cstring>

#include <png.h>

namespace {

struct ReadContext {
    CRasterStream* stream;
    char* message;
};

void ReadData(png_structp png, png_bytep data, png_size_t length) {
    auto* ctx = static_cast<ReadContext*>(png_get_io_ptr(png));
    if (ctx->stream->Read(data, 1, length) != length)
        png_error(png, "Read Error");
}

void ErrorFn(png_structp png, png_const_charp message) {
    auto* ctx = static_cast<ReadContext*>(png_get_error_ptr(png));
    std::strncpy(ctx->message, message ? message : "", 255);
    ctx->message[255] = 0;
    png_longjmp(png, 1);
}

// The library's warnings are not shown anywhere.
void WarningFn(png_structp, png_const_charp) {}

} // namespace

void CRasterPNG::expand2to4bpp(uint8_t* row) {
    for (long x = head.biWidth - 1; x >= 0; x--) {
        uint8_t v = (row[x >> 2] >> ((3 - (x & 3)) * 2)) & 3;
        uint8_t& d = row[x >> 1];
        if (x & 1)
            d = uint8_t((d & 0xF0) | v);
        else
            d = uint8_t((d & 0x0F) | (v << 4));
    }
}

bool CRasterPNG::Decode(CRasterStream* hFile) {
    if (!hFile)
        return false;
    ReadContext ctx{hFile, info.lastError};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &ctx, ErrorFn, WarningFn);
    if (!png) {
        SetError("Failed to create PNG structure");
        return false;
    }
    png_infop pinfo = png_create_info_struct(png);
    if (!pinfo) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        SetError("Failed to initialize PNG info structure");
        return false;
    }
    // Only plain values live across the jump target.
    uint8_t* volatile spare = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        png_free(png, spare);
        png_destroy_read_struct(&png, &pinfo, nullptr);
        return false;
    }
    png_set_read_fn(png, &ctx, ReadData);
    // Chunks the decoder has no use for are skipped unread: the library
    // would reserve their whole stated length first, gigabytes for a damaged
    // length field in a file of a few hundred bytes.
    static const png_byte kUnused[] = "tEXt\0zTXt\0iTXt\0iCCP\0sPLT\0eXIf";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kUnused, 6);
    png_read_info(png, pinfo);

    const png_uint_32 width = png_get_image_width(png, pinfo);
    const png_uint_32 height = png_get_image_height(png, pinfo);
    const int bitDepth = png_get_bit_depth(png, pinfo);
    const int colorType = png_get_color_type(png, pinfo);
    const int pixelDepth = bitDepth * png_get_channels(png, pinfo);
    const bool interlacedFile = png_get_interlace_type(png, pinfo) != PNG_INTERLACE_NONE;

    png_color_16p fileBackground = nullptr;
    const bool hasBackground = png_get_bKGD(png, pinfo, &fileBackground) != 0;
    // Grey of 1, 2 or 4 bits with a transparent level and no background of
    // its own: composited onto grey 192 like every other image, which only 8
    // bits can hold, so its samples are widened first.
    const bool widenGrey = colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8 && !hasBackground &&
                           png_get_valid(png, pinfo, PNG_INFO_tRNS);
    const int sampleBits = widenGrey ? 8 : bitDepth;
    const int pixelBits = widenGrey ? 8 : pixelDepth;
    // Palette images keep their indexes; their transparency stays in the
    // palette, so there is nothing to composite.
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
    } else if (pixelDepth != 32) {
        if (hasBackground) {
            png_set_background(png, fileBackground, PNG_BACKGROUND_GAMMA_FILE, 1, 1.0);
        } else {
            // Light grey. A background that needs no expansion is read in
            // the output's sample range: 8 bits, also for 16-bit samples,
            // which the library widens itself when it strips them.
            png_color_16 grey{};
            grey.red = grey.green = grey.blue = grey.gray = 192;
            if (widenGrey)
                png_set_expand(png);
            png_set_background(png, &grey, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1.0);
        }
    } else if (hasBackground) {
        info.backgroundColor =
            tagRGBQUAD{uint8_t(fileBackground->blue), uint8_t(fileBackground->green),
                       uint8_t(fileBackground->red), 0};
    }
    if (bitDepth == 16)
        png_set_strip_16(png);

    const unsigned depth = pixelBits <= 16 ? unsigned(pixelBits == 16 ? 8 : pixelBits) : 24;
    if (!Create(width, height, depth, kRasterPNG))
        png_error(png, "Can't allocate memory");

    png_uint_32 xres = 0, yres = 0;
    int unit = 0;
    png_get_pHYs(png, pinfo, &xres, &yres, &unit);
    if (unit == PNG_RESOLUTION_UNKNOWN) {
        info.xDPI = int32_t(xres);
        info.yDPI = int32_t(yres);
    } else if (unit == PNG_RESOLUTION_METER) {
        SetXDPI(long(std::floor(xres * 254.0 / 10000.0 + 0.5)));
        SetYDPI(long(std::floor(yres * 254.0 / 10000.0 + 0.5)));
    }

    png_colorp palette = nullptr;
    int paletteCount = 0;
    const bool hasPalette = png_get_PLTE(png, pinfo, &palette, &paletteCount) != 0;
    if (colorType == PNG_COLOR_TYPE_PALETTE && hasPalette) {
        SetPalette(reinterpret_cast<const rgb_color*>(palette), unsigned(paletteCount));
    } else if (sampleBits == 2 && GetPalette()) {
        const uint8_t levels[4] = {0, 85, 170, 255};
        for (int k = 0; k < 4; k++)
            SetPaletteColor(uint8_t(k), levels[k], levels[k], levels[k]);
    } else {
        SetGrayPalette();
    }

    // Transparency entries belong to the palette only for palette images;
    // grey and colour images carry a single transparent colour instead.
    png_bytep trans = nullptr;
    int transCount = 0;
    png_color_16p transColor = nullptr;
    if (colorType == PNG_COLOR_TYPE_PALETTE && GetPalette() &&
        png_get_tRNS(png, pinfo, &trans, &transCount, &transColor) && trans && transCount > 0) {
        tagRGBQUAD* pal = GetPalette();
        const int n = transCount < int(head.biClrUsed) ? transCount : int(head.biClrUsed);
        for (int k = 0; k < n; k++)
            pal[k].rgbReserved = trans[k];
        if (transCount == 1 && trans[0] == 0) {
            info.backgroundIndex = 0;
        } else {
            info.alphaPaletteEnabled = true;
            for (int k = n; k < int(head.biClrUsed); k++)
                pal[k].rgbReserved = 255;
        }
    }

    if (colorType == PNG_COLOR_TYPE_RGB_ALPHA) {
        png_set_strip_alpha(png);
    } else if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA && pixelDepth == 32) {
        png_set_gray_to_rgb(png);
        png_set_expand(png);
        png_set_strip_alpha(png);
    }
    if (colorType & PNG_COLOR_MASK_COLOR)
        png_set_bgr(png);

    if (info.escape)
        png_error(png, "Cancelled");

    const int passes = interlacedFile ? png_set_interlace_handling(png) : 1;
    png_read_update_info(png, pinfo);

    // libpng writes rowbytes into each row; straight into the bitmap when
    // they fit, through a spare row otherwise.
    const size_t rowBytes = png_get_rowbytes(png, pinfo);
    const bool direct = rowBytes <= effWidth;
    if (!direct) {
        spare = static_cast<uint8_t*>(png_malloc(png, rowBytes + 8));
        std::memset(spare, 0, rowBytes + 8);
    }
    const long h = head.biHeight;
    for (int pass = 0; pass < passes; pass++) {
        for (long y = 0; y < h; y++) {
            if (info.escape)
                png_error(png, "Cancelled");
            uint8_t* row = info.pixels + size_t(effWidth) * size_t(h - 1 - y);
            if (direct) {
                png_read_row(png, row, nullptr);
            } else {
                std::memcpy(spare, row, effWidth);
                png_read_row(png, spare, nullptr);
                std::memcpy(row, spare, effWidth);
            }
            if (sampleBits == 2 && pass == passes - 1)
                expand2to4bpp(row);
        }
    }
    png_read_end(png, nullptr);
    png_free(png, spare);
    spare = nullptr;
    png_destroy_read_struct(&png, &pinfo, nullptr);
    return true;
}
