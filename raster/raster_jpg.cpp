// JPEG decoder over libjpeg, and the reader of the EXIF data in front of the
// picture. Rows are decoded straight into the bitmap, already in blue, green,
// red order.
#include "raster/raster_codecs.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <csetjmp>
#include <cstring>

extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

// ---------------------------------------------------------------------------
// EXIF reader

namespace {

const int kFormatBytes[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
// Directories nested deeper than this are not followed.
const int kMaxExifDepth = 8;

void CopyText(char* dst, size_t dstSize, const uint8_t* src, uint64_t srcLen) {
    size_t n = size_t(std::min<uint64_t>(srcLen, dstSize - 1));
    size_t k = 0;
    while (k < n && src[k])
        k++;
    std::memcpy(dst, src, k);
    dst[k] = 0;
}

// Numbers from the file may be anything a double holds; they are brought
// into range before any conversion.
int32_t ToInt(double v) {
    if (!(v == v))
        return 0;
    if (v >= 2147483647.0)
        return INT32_MAX;
    if (v <= -2147483648.0)
        return INT32_MIN;
    return int32_t(v);
}

float ToFloat(double v) {
    if (!(v == v))
        return 0.0f;
    if (v > 3.0e38)
        return 3.0e38f;
    if (v < -3.0e38)
        return -3.0e38f;
    return float(v);
}

uint64_t ToOffset(double v) {
    if (!(v > 0))
        return 0;
    return v >= 4294967295.0 ? 4294967295u : uint64_t(v);
}

float UnitScale(int code, float current) {
    switch (code) {
    case 1:
    case 2:
        return 1.0f;
    case 3:
        return float(1.0 / 2.54);
    case 4:
        return float(1.0 / 25.4);
    case 5:
        return float(1.0 / 25400);
    default:
        return current;
    }
}

} // namespace

CRasterJPG::CExifInfo::CExifInfo(tag_ExifInfo* info, std::vector<uint8_t>* thumb) {
    m_szLastError[0] = 0;
    freeinfo = info == nullptr;
    m_exifinfo = info ? info : new tag_ExifInfo;
    if (freeinfo)
        std::memset(m_exifinfo, 0, sizeof(tag_ExifInfo));
    m_thumbnail = thumb ? thumb : &ownThumbnail;
}

CRasterJPG::CExifInfo::~CExifInfo() {
    if (freeinfo)
        delete m_exifinfo;
}

void CRasterJPG::CExifInfo::SetError(const char* text) {
    std::strncpy(m_szLastError, text, sizeof(m_szLastError) - 1);
    m_szLastError[sizeof(m_szLastError) - 1] = 0;
}

int CRasterJPG::CExifInfo::Get16m(const uint8_t* p) {
    return (p[0] << 8) | p[1];
}

int CRasterJPG::CExifInfo::Get16u(const uint8_t* p) const {
    return MotorolaOrder ? ((p[0] << 8) | p[1]) : ((p[1] << 8) | p[0]);
}

uint32_t CRasterJPG::CExifInfo::Get32u(const uint8_t* p) const {
    if (MotorolaOrder)
        return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    return (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
}

int32_t CRasterJPG::CExifInfo::Get32s(const uint8_t* p) const {
    return int32_t(Get32u(p));
}

double CRasterJPG::CExifInfo::ConvertAnyFormat(const uint8_t* v, int format) const {
    switch (format) {
    case 1:
        return *v;
    case 6:
        return int8_t(*v);
    case 3:
        return Get16u(v);
    case 8:
        return int16_t(Get16u(v));
    case 4:
        return Get32u(v);
    case 9:
        return Get32s(v);
    case 5:
    case 10: {
        int32_t num = Get32s(v), den = Get32s(v + 4);
        return den == 0 ? 0.0 : double(num) / double(den);
    }
    case 11: {
        float f;
        std::memcpy(&f, v, 4);
        return f;
    }
    case 12: {
        double d;
        std::memcpy(&d, v, 8);
        return d;
    }
    default:
        return 0;
    }
}

void CRasterJPG::CExifInfo::process_COM(const uint8_t* data, int length) {
    int n = std::min(length, 998);
    char* out = m_exifinfo->Comments;
    int k = 0;
    for (int i = 0; i < n; i++) {
        uint8_t ch = data[i];
        if (ch == '\r' && i + 1 < n && data[i + 1] == '\n')
            continue;
        if (std::isprint(ch) || ch == '\n' || ch == '\t')
            out[k++] = char(ch);
        else
            out[k++] = '?';
    }
    out[k] = 0;
}

void CRasterJPG::CExifInfo::process_SOFn(const uint8_t* data, int marker) {
    m_exifinfo->Height = Get16m(data + 1);
    m_exifinfo->Width = Get16m(data + 3);
    m_exifinfo->IsColor = data[5] == 3;
    m_exifinfo->Process = marker;
}

bool CRasterJPG::CExifInfo::DecodeExif(CRasterStream* hFile) {
    if (!hFile || hFile->GetC() != 0xFF || hFile->GetC() != 0xD8)
        return false;
    bool haveComment = false;
    for (int sections = 0;; sections++) {
        if (sections > 19) {
            SetError("Too many sections in jpg file");
            return false;
        }
        long marker = 0;
        for (int a = 0; a < 7; a++) {
            marker = hFile->GetC();
            if (marker != 0xFF)
                break;
            if (a >= 6) {
                SetError("too many padding bytes");
                return false;
            }
        }
        if (marker < 0) {
            SetError("Premature end of file?");
            return false;
        }
        long hi = hFile->GetC(), lo = hFile->GetC();
        if (hi < 0 || lo < 0) {
            SetError("Premature end of file?");
            return false;
        }
        int length = int((hi << 8) | lo);
        if (length < 2) {
            SetError("invalid marker");
            return false;
        }
        std::vector<uint8_t> data(size_t(length - 2));
        if (!data.empty() && hFile->Read(data.data(), 1, data.size()) != data.size()) {
            SetError("Premature end of file?");
            return false;
        }
        switch (marker) {
        case 0xDA:
            return true;
        case 0xD9:
            SetError("No image in jpeg!");
            return false;
        case 0xFE:
            if (!haveComment) {
                process_COM(data.data(), int(data.size()));
                haveComment = true;
            }
            break;
        case 0xE1:
            if (data.size() >= 4 && std::memcmp(data.data(), "Exif", 4) == 0)
                m_exifinfo->IsExif = process_EXIF(data.data(), unsigned(data.size()));
            break;
        case 0xC0:
        case 0xC1:
        case 0xC2:
        case 0xC3:
        case 0xC5:
        case 0xC6:
        case 0xC7:
        case 0xC9:
        case 0xCA:
        case 0xCB:
        case 0xCD:
        case 0xCE:
        case 0xCF:
            if (data.size() >= 6)
                process_SOFn(data.data(), int(marker));
            break;
        default:
            break;
        }
    }
}

bool CRasterJPG::CExifInfo::process_EXIF(const uint8_t* buf, unsigned int length) {
    tag_ExifInfo* ei = m_exifinfo;
    ei->FlashUsed = 0;
    ei->Comments[0] = 0;
    ExifImageWidth = 0;
    visitedDirs.clear();
    if (length < 6 || std::memcmp(buf, "Exif\0\0", 6) != 0) {
        SetError("Incorrect Exif header");
        return false;
    }
    if (length < 14) {
        SetError("Invalid Exif alignment marker.");
        return false;
    }
    if (buf[6] == 'I' && buf[7] == 'I')
        MotorolaOrder = false;
    else if (buf[6] == 'M' && buf[7] == 'M')
        MotorolaOrder = true;
    else {
        SetError("Invalid Exif alignment marker.");
        return false;
    }
    if (Get16u(buf + 8) != 0x2A) {
        SetError("Invalid Exif start (1)");
        return false;
    }
    uint32_t first = Get32u(buf + 10);
    if (first < 8 || first > 16) {
        SetError("Suspicious offset of first IFD value");
        return false;
    }
    uint64_t thumbOffset = 0, thumbLength = 0;
    const uint8_t* base = buf + 6;
    const uint64_t exifLength = length - 6;
    if (!ProcessExifDir(first, base, exifLength, 0, thumbOffset, thumbLength))
        return false;
    if (thumbOffset && thumbLength && thumbOffset + thumbLength <= exifLength) {
        // A copy: the section the reader read is gone once it returns.
        m_thumbnail->assign(base + thumbOffset, base + thumbOffset + thumbLength);
        ei->ThumbnailPointer = m_thumbnail->data();
        ei->ThumbnailSize = int32_t(thumbLength);
    }
    if (ei->FocalplaneXRes != 0)
        ei->CCDWidth = float(ExifImageWidth * ei->FocalplaneUnits / ei->FocalplaneXRes);
    return true;
}

bool CRasterJPG::CExifInfo::ProcessExifDir(uint64_t dirOffset, const uint8_t* base,
                                           uint64_t exifLength, int depth, uint64_t& thumbOffset,
                                           uint64_t& thumbLength) {
    if (depth > kMaxExifDepth)
        return true;
    // A directory linked from two places, or from itself, is read once.
    if (std::find(visitedDirs.begin(), visitedDirs.end(), dirOffset) != visitedDirs.end())
        return true;
    visitedDirs.push_back(dirOffset);

    tag_ExifInfo* ei = m_exifinfo;
    if (dirOffset + 2 > exifLength) {
        SetError("Illegally sized directory");
        return false;
    }
    const uint8_t* dir = base + dirOffset;
    const uint64_t entries = uint64_t(Get16u(dir));
    if (dirOffset + 2 + 12 * entries > exifLength) {
        SetError("Illegally sized directory");
        return false;
    }
    for (uint64_t de = 0; de < entries; de++) {
        const uint8_t* entry = dir + 2 + 12 * de;
        const int tag = Get16u(entry);
        const int format = Get16u(entry + 2);
        const uint64_t components = Get32u(entry + 4);
        if (format < 1 || format > 12) {
            SetError("Illegal format code in EXIF dir");
            return false;
        }
        const uint64_t byteCount = components * uint64_t(kFormatBytes[format]);
        const uint8_t* value;
        if (byteCount > 4) {
            const uint64_t offset = Get32u(entry + 8);
            if (offset + byteCount > exifLength) {
                SetError("Illegal pointer offset value in EXIF.");
                return false;
            }
            value = base + offset;
        } else {
            value = entry + 8;
        }
        // A number is read only when the entry holds a whole one.
        const bool whole = byteCount >= uint64_t(kFormatBytes[format]) && components > 0;
        const double num = whole ? ConvertAnyFormat(value, format) : 0.0;

        switch (tag) {
        case 0x010F:
            CopyText(ei->CameraMake, sizeof(ei->CameraMake), value, byteCount);
            break;
        case 0x0110:
            CopyText(ei->CameraModel, sizeof(ei->CameraModel), value, byteCount);
            break;
        case 0x9003:
            CopyText(ei->DateTime, sizeof(ei->DateTime), value, byteCount);
            break;
        case 0x9000:
            CopyText(ei->Version, sizeof(ei->Version), value, byteCount);
            break;
        case 0x9286: {
            uint64_t n = byteCount;
            while (n > 0 && (value[n - 1] == ' ' || value[n - 1] == 0))
                n--;
            const uint8_t* text = value;
            if (n >= 5 && std::memcmp(value, "ASCII", 5) == 0) {
                uint64_t a = 5;
                while (a < 10 && a < n && (value[a] == ' ' || value[a] == 0))
                    a++;
                text = value + a;
                n -= a;
            }
            CopyText(ei->Comments, 200, text, n);
            break;
        }
        case 0x829D:
            ei->ApertureFNumber = ToFloat(num);
            break;
        case 0x9202:
        case 0x9205:
            if (ei->ApertureFNumber == 0)
                ei->ApertureFNumber = ToFloat(std::exp(ToFloat(num) * std::log(2.0) * 0.5));
            break;
        case 0x9201:
            if (ei->ExposureTime == 0)
                ei->ExposureTime = ToFloat(1.0 / std::exp(ToFloat(num) * std::log(2.0)));
            break;
        case 0x829A:
            ei->ExposureTime = ToFloat(num);
            break;
        case 0x920A:
            ei->FocalLength = ToFloat(num);
            break;
        case 0x9206:
            ei->Distance = ToFloat(num);
            break;
        case 0x9204:
            ei->ExposureBias = ToFloat(num);
            break;
        case 0x9203:
            ei->Brightness = ToFloat(num);
            break;
        case 0x9207:
            ei->MeteringMode = ToInt(num);
            break;
        case 0x9208:
            ei->Whitebalance = ToInt(num);
            break;
        case 0x9209:
            ei->FlashUsed = (ToInt(num) & 7) != 0;
            break;
        case 0x9102:
            ei->CompressionLevel = ToInt(num);
            break;
        case 0x8827:
            ei->ISOequivalent = ToInt(num < 50 ? num * 200 : num);
            break;
        case 0x8822:
            ei->ExposureProgram = ToInt(num);
            break;
        case 0xA002:
        case 0xA003:
            if (ToInt(num) > ExifImageWidth)
                ExifImageWidth = ToInt(num);
            break;
        case 0xA20E:
            ei->FocalplaneXRes = ToFloat(num);
            break;
        case 0xA20F:
            ei->FocalplaneYRes = ToFloat(num);
            break;
        case 0xA210:
            ei->FocalplaneUnits = UnitScale(ToInt(num), ei->FocalplaneUnits);
            break;
        // The resolution is the main image's only in the first directory;
        // the thumbnail's directory carries its own (often 72 dpi).
        case 0x011A:
            if (depth == 0)
                ei->Xresolution = ToFloat(num);
            break;
        case 0x011B:
            if (depth == 0)
                ei->Yresolution = ToFloat(num);
            break;
        case 0x0128:
            if (depth == 0)
                ei->ResolutionUnit = UnitScale(ToInt(num), ei->ResolutionUnit);
            break;
        case 0x0112:
            ei->Orientation = ToInt(num);
            if (ei->Orientation < 1 || ei->Orientation > 8) {
                SetError("Undefined rotation value");
                ei->Orientation = 0;
            }
            break;
        case 0x0201:
            thumbOffset = ToOffset(num);
            break;
        case 0x0202:
            thumbLength = ToOffset(num);
            break;
        case 0x8769:
        case 0xA005: {
            const uint64_t sub = Get32u(entry + 8);
            if (sub >= exifLength) {
                SetError("Illegal subdirectory link");
                return false;
            }
            if (!ProcessExifDir(sub, base, exifLength, depth + 1, thumbOffset, thumbLength))
                return false;
            break;
        }
        default:
            break;
        }
    }
    // The link to the next directory (the thumbnail's) follows the entries.
    const uint64_t linkAt = dirOffset + 2 + 12 * entries;
    if (linkAt + 4 <= exifLength) {
        const uint64_t next = Get32u(base + linkAt);
        if (next) {
            if (next >= exifLength) {
                SetError("Illegal subdirectory link");
                return false;
            }
            if (!ProcessExifDir(next, base, exifLength, depth + 1, thumbOffset, thumbLength))
                return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// libjpeg glue

namespace {

struct ErrorMgr {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char* message;
};

void ErrorExit(j_common_ptr cinfo) {
    ErrorMgr* err = reinterpret_cast<ErrorMgr*>(cinfo->err);
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    std::strncpy(err->message, text, 255);
    err->message[255] = 0;
    longjmp(err->jump, 1);
}

// The library's warnings are not shown anywhere.
void OutputMessage(j_common_ptr) {}

struct SourceMgr {
    jpeg_source_mgr pub;
    CRasterStream* stream;
    bool startOfFile;
    JOCTET buffer[4096];
};

void InitSource(j_decompress_ptr cinfo) {
    reinterpret_cast<SourceMgr*>(cinfo->src)->startOfFile = true;
}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    SourceMgr* src = reinterpret_cast<SourceMgr*>(cinfo->src);
    size_t n = src->stream->Read(src->buffer, 1, sizeof(src->buffer));
    if (n == 0) {
        if (src->startOfFile)
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        // A truncated file ends as if its end marker were there.
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        n = 2;
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = n;
    src->startOfFile = false;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long n) {
    SourceMgr* src = reinterpret_cast<SourceMgr*>(cinfo->src);
    if (n <= 0)
        return;
    while (size_t(n) > src->pub.bytes_in_buffer) {
        n -= long(src->pub.bytes_in_buffer);
        FillInputBuffer(cinfo);
    }
    src->pub.next_input_byte += n;
    src->pub.bytes_in_buffer -= size_t(n);
}

void TermSource(j_decompress_ptr) {}

// Stops a progressive file that would take unbounded time (a crafted file
// can hold thousands of tiny scans), and honours the caller's escape flag.
struct ProgressMgr {
    jpeg_progress_mgr pub;
    const int32_t* escape;
};
const int kMaxScans = 500;

void Progress(j_common_ptr cinfo) {
    ProgressMgr* p = reinterpret_cast<ProgressMgr*>(cinfo->progress);
    j_decompress_ptr d = reinterpret_cast<j_decompress_ptr>(cinfo);
    ErrorMgr* err = reinterpret_cast<ErrorMgr*>(cinfo->err);
    if (*p->escape) {
        std::strcpy(err->message, "Cancelled");
        longjmp(err->jump, 1);
    }
    if (cinfo->is_decompressor && d->input_scan_number > kMaxScans) {
        std::strcpy(err->message, "JPEG: too many scans");
        longjmp(err->jump, 1);
    }
}

} // namespace

CRasterJPG::CRasterJPG() : CRaster(kRasterJPG) {
    std::memset(&info_exif, 0, sizeof(info_exif));
}

bool CRasterJPG::DecodeExif(CRasterStream* hFile) {
    long pos = hFile->Tell();
    {
        CExifInfo reader(&info_exif, &thumbnail);
        reader.DecodeExif(hFile);
    }
    hFile->Seek(pos, 0);
    return info_exif.IsExif;
}

bool CRasterJPG::Decode(CRasterStream* hFile) {
    if (!hFile)
        return false;
    const bool isExif = DecodeExif(hFile);

    // Everything libjpeg may jump over lives in plain structures here.
    jpeg_decompress_struct cinfo;
    ErrorMgr jerr;
    SourceMgr* src = new SourceMgr;
    ProgressMgr progress;
    std::memset(&cinfo, 0, sizeof(cinfo));
    cinfo.err = jpeg_std_error(&jerr.pub);
    jerr.pub.error_exit = ErrorExit;
    jerr.pub.output_message = OutputMessage;
    jerr.message = info.lastError;
    progress.pub.progress_monitor = Progress;
    progress.escape = &info.escape;

    if (setjmp(jerr.jump)) {
        jpeg_destroy_decompress(&cinfo);
        delete src;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress.pub;
    src->stream = hFile;
    src->startOfFile = true;
    src->pub.init_source = InitSource;
    src->pub.fill_input_buffer = FillInputBuffer;
    src->pub.skip_input_data = SkipInputData;
    src->pub.resync_to_restart = jpeg_resync_to_restart;
    src->pub.term_source = TermSource;
    src->pub.bytes_in_buffer = 0;
    src->pub.next_input_byte = nullptr;
    cinfo.src = &src->pub;

    jpeg_read_header(&cinfo, TRUE);

    const int comps = cinfo.num_components;
    if (comps != 1 && comps != 3 && comps != 4) {
        std::strcpy(info.lastError, "JPEG: unsupported number of components");
        longjmp(jerr.jump, 1);
    }
    // The size is checked before libjpeg allocates its own buffers for it.
    const unsigned depth = comps == 1 ? 8 : 24;
    const uint64_t stride = ((uint64_t(depth) * cinfo.image_width + 31) >> 5) << 2;
    if (uint64_t(cinfo.image_width) > INT32_MAX || uint64_t(cinfo.image_height) > INT32_MAX ||
        stride * uint64_t(cinfo.image_height) + 1064 > maxBlockSize) {
        std::strcpy(info.lastError, "JPEG: image too large");
        longjmp(jerr.jump, 1);
    }
    cinfo.dct_method = JDCT_FLOAT;
    if (comps == 1)
        cinfo.out_color_space = JCS_GRAYSCALE;
    else if (comps == 3)
        cinfo.out_color_space = JCS_EXT_BGR;
    else
        cinfo.out_color_space = JCS_CMYK;

    jpeg_start_decompress(&cinfo);

    if (!Create(cinfo.output_width, cinfo.output_height, depth, kRasterJPG)) {
        std::strcpy(info.lastError, "Can't allocate memory");
        longjmp(jerr.jump, 1);
    }
    if (isExif) {
        if (info_exif.Xresolution != 0 && info_exif.ResolutionUnit != 0)
            SetXDPI(ToInt(double(info_exif.Xresolution) / info_exif.ResolutionUnit));
        if (info_exif.Yresolution != 0 && info_exif.ResolutionUnit != 0)
            SetYDPI(ToInt(double(info_exif.Yresolution) / info_exif.ResolutionUnit));
    } else if (cinfo.density_unit == 2) {
        SetXDPI(long(std::floor(cinfo.X_density * 2.54 + 0.5)));
        SetYDPI(long(std::floor(cinfo.Y_density * 2.54 + 0.5)));
    } else {
        SetXDPI(cinfo.X_density);
        SetYDPI(cinfo.Y_density);
    }
    if (comps == 1)
        SetGrayPalette();

    const long h = head.biHeight;
    uint8_t* const bits = GetBits();
    const size_t eff = effWidth;
    if (cinfo.out_color_space == JCS_CMYK) {
        JSAMPARRAY buffer = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                       JPOOL_IMAGE, cinfo.output_width * 4, 1);
        const JDIMENSION w = std::min<JDIMENSION>(cinfo.output_width, JDIMENSION(eff / 3));
        while (cinfo.output_scanline < cinfo.output_height) {
            if (info.escape) {
                std::strcpy(info.lastError, "Cancelled");
                longjmp(jerr.jump, 1);
            }
            uint8_t* row = bits + eff * size_t(h - 1 - long(cinfo.output_scanline));
            jpeg_read_scanlines(&cinfo, buffer, 1);
            const uint8_t* s = buffer[0];
            // Adobe stores CMYK inverted: each byte is already 255 - ink.
            for (JDIMENSION x = 0; x < w; x++, s += 4, row += 3) {
                const unsigned k = s[3];
                row[0] = uint8_t(s[2] * k / 255);
                row[1] = uint8_t(s[1] * k / 255);
                row[2] = uint8_t(s[0] * k / 255);
            }
        }
    } else {
        JSAMPROW rows[16];
        while (cinfo.output_scanline < cinfo.output_height) {
            if (info.escape) {
                std::strcpy(info.lastError, "Cancelled");
                longjmp(jerr.jump, 1);
            }
            int n = std::min<int>(cinfo.rec_outbuf_height > 0 ? cinfo.rec_outbuf_height : 1, 16);
            n = std::min<int>(n, int(cinfo.output_height - cinfo.output_scanline));
            for (int k = 0; k < n; k++)
                rows[k] = bits + eff * size_t(h - 1 - long(cinfo.output_scanline) - k);
            jpeg_read_scanlines(&cinfo, rows, JDIMENSION(n));
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    delete src;
    return true;
}
