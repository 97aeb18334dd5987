// Decoding by format code, or by trying every decoder in a fixed order when
// the format is not known. A decode replaces this image only on success.
#include "raster/raster_codecs.h"

#include <cstring>
#include <memory>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

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

// ---------------------------------------------------------------------------
// Encoding. The codec borrows this image's bitmap as a ghost and never
// changes it.

namespace {

const char kUnknownEncode[] = "Encode: Unknown format";
const char kNoMultipage[] = "Multipage Encode, Unsupported operation for this format";

template <class Codec, class Fn> bool RunEncode(CRaster& self, Fn&& encode) {
    auto codec = std::make_unique<Codec>();
    codec->Ghost(&self);
    const bool ok = encode(*codec);
    if (!ok)
        std::memcpy(self.info.lastError, codec->info.lastError, sizeof(self.info.lastError));
    // The ghost owns nothing; its destructor frees nothing of ours.
    return ok;
}

} // namespace

bool CRaster::Encode(CRasterStream* hFile, unsigned long type) {
    switch (type) {
    case kRasterBMP:
        return RunEncode<CRasterBMP>(*this, [&](CRasterBMP& c) { return c.Encode(hFile); });
    case kRasterGIF:
        return RunEncode<CRasterGIF>(*this, [&](CRasterGIF& c) { return c.Encode(hFile); });
    case kRasterJPG:
        return RunEncode<CRasterJPG>(*this, [&](CRasterJPG& c) { return c.Encode(hFile); });
    case kRasterPNG:
        return RunEncode<CRasterPNG>(*this, [&](CRasterPNG& c) { return c.Encode(hFile); });
    case kRasterICO:
        return RunEncode<CRasterICO>(*this, [&](CRasterICO& c) { return c.Encode(hFile); });
    case kRasterTIF:
        return RunEncode<CRasterTIF>(*this, [&](CRasterTIF& c) { return c.Encode(hFile, false); });
    default:
        SetError(kUnknownEncode);
        return false;
    }
}

bool CRaster::Encode(CRasterStream* hFile, CRaster** images, int count, unsigned long type) {
    switch (type) {
    case kRasterGIF:
        // Each page carries its own colour table: pages rarely share one.
        return RunEncode<CRasterGIF>(
            *this, [&](CRasterGIF& c) { return c.Encode(hFile, images, count, true); });
    case kRasterTIF:
        return RunEncode<CRasterTIF>(*this,
                                     [&](CRasterTIF& c) { return c.Encode(hFile, images, count); });
    default:
        SetError(kNoMultipage);
        return false;
    }
}

bool CRaster::Encode(uint8_t*& buffer, long& size, unsigned long type) {
    if (buffer)
        return false;
    CMemStream stream;
    if (!stream.Open()) {
        SetError("Encode: out of memory");
        return false;
    }
    if (!Encode(&stream, type))
        return false;
    size = stream.Size();
    buffer = stream.GetBuffer(true);
    return true;
}

bool CRaster::Encode(FILE* hFile, unsigned long type) {
    CStdioStream stream(hFile);
    return Encode(&stream, type);
}

bool CRaster::Encode(FILE* hFile, CRaster** images, int count, unsigned long type) {
    CStdioStream stream(hFile);
    return Encode(&stream, images, count, type);
}

// The file is written beside its final name and renamed over it only when
// complete, so a failed save never destroys the file that stood there.
bool CRaster::Save(const char* filename, unsigned long type) {
    if (!filename || !*filename)
        return false;
    std::string temp = std::string(filename) + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        SetError("Save: can't create the file");
        return false;
    }
    FILE* fp = fdopen(fd, "w+b");
    if (!fp) {
        close(fd);
        unlink(temp.c_str());
        SetError("Save: can't create the file");
        return false;
    }
    bool ok = Encode(fp, type);
    if (std::fflush(fp) != 0 || fsync(fd) != 0) {
        if (ok)
            SetError("Save: write error");
        ok = false;
    }
    if (std::fclose(fp) != 0 && ok) {
        SetError("Save: write error");
        ok = false;
    }
    if (ok) {
        // mkstemp makes the file private; a saved picture gets the usual mode.
        const mode_t mask = umask(0);
        umask(mask);
        chmod(temp.c_str(), 0666 & ~mask);
        if (std::rename(temp.c_str(), filename) != 0) {
            SetError("Save: can't replace the file");
            ok = false;
        }
    }
    if (!ok)
        unlink(temp.c_str());
    return ok;
}
