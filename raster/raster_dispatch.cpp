// Decoding by format code, or by trying every decoder in a fixed order when
// the format is not known. A decode replaces this image only on success.
#include "raster_codecs.h"

#include <cstring>
#include <memory>
#include <string>

namespace {

const char kUnknownFormat[] = "Decode: Unknown or wrong format";

// Runs the codec of one format on the stream. The codec objects are large
// (the GIF tables), so they live on the heap rather than the caller's stack.
template <class Codec> bool Run(CRaster& self, CRasterStream* s, bool withFrame, bool trial) {
    auto codec = std::make_unique<Codec>();
    if (withFrame && !trial)
        codec->info.frame = self.info.frame;
    if (codec->Decode(s)) {
        self.Transfer(*codec);
        return true;
    }
    if (!trial) {
        if (withFrame)
            self.info.numFrames = codec->info.numFrames;
        std::memcpy(self.info.lastError, codec->info.lastError, sizeof(self.info.lastError));
    }
    return false;
}

bool RunType(CRaster& self, CRasterStream* s, unsigned long type, bool trial) {
    switch (type) {
    case kRasterBMP:
        return Run<CRasterBMP>(self, s, false, trial);
    case kRasterGIF:
        return Run<CRasterGIF>(self, s, true, trial);
    case kRasterJPG:
        return Run<CRasterJPG>(self, s, false, trial);
    case kRasterPNG:
        return Run<CRasterPNG>(self, s, false, trial);
    case kRasterICO:
        return Run<CRasterICO>(self, s, true, trial);
    case kRasterTIF:
        return Run<CRasterTIF>(self, s, true, trial);
    default:
        return false;
    }
}

} // namespace

bool CRaster::Decode(CRasterStream* hFile, unsigned long type) {
    if (!hFile)
        return false;
    if (type == kRasterUnknown) {
        const long start = hFile->Tell();
        static const unsigned long kOrder[] = {kRasterBMP, kRasterJPG, kRasterICO,
                                               kRasterGIF, kRasterPNG, kRasterTIF};
        for (unsigned long t : kOrder) {
            if (RunType(*this, hFile, t, true))
                return true;
            hFile->Seek(start, 0);
        }
        SetError(kUnknownFormat);
        return false;
    }
    if (type > kRasterTIF) {
        SetError(kUnknownFormat);
        return false;
    }
    return RunType(*this, hFile, type, false);
}

bool CRaster::Decode(uint8_t* buffer, unsigned long size, unsigned long type) {
    if (size > unsigned(INT32_MAX))
        return false;
    CMemStream stream(buffer, long(size));
    return Decode(&stream, type);
}

bool CRaster::Decode(FILE* hFile, unsigned long type) {
    CStdioStream stream(hFile);
    return Decode(&stream, type);
}

bool CRaster::Load(const char* filename, unsigned long type) {
    if (!filename)
        return false;
    if (type >= kRasterBMP && type <= kRasterTIF) {
        FILE* fp = std::fopen(filename, "rb");
        if (!fp)
            return false;
        bool ok = Decode(fp, type);
        std::fclose(fp);
        if (ok)
            return true;
    }
    std::string kept = info.lastError;
    FILE* fp = std::fopen(filename, "rb");
    if (!fp)
        return false;
    bool ok = Decode(fp, kRasterUnknown);
    std::fclose(fp);
    if (!ok && type != kRasterUnknown)
        SetError(kept.c_str());
    return ok;
}
