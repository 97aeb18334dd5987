// The codecs of the image library. Each derives from CRaster, decodes into
// its own bitmap and is handed over by the dispatch in CRaster::Decode.
#pragma once

#include "raster/raster.h"

#include <vector>

class CRasterBMP : public CRaster {
public:
    CRasterBMP() : CRaster(kRasterBMP) {}
    bool Decode(CRasterStream* hFile);
    bool Encode(CRasterStream* hFile);
    static bool DibReadBitmapInfo(CRasterStream* fh, tagBITMAPINFOHEADER* pdib);

protected:
    void Bitfield2RGB(const uint8_t* src, uint32_t redmask, uint32_t greenmask, uint32_t bluemask,
                      uint8_t bpp);
    void DecodeRLE(CRasterStream* hFile, bool rle4);
};

class CRasterICO : public CRaster {
public:
    CRasterICO() : CRaster(kRasterICO) {}
    bool Decode(CRasterStream* hFile);
    bool Encode(CRasterStream* hFile);
};

class CRasterGIF : public CRaster {
public:
    struct tag_TabCol {
        int16_t colres;
        int16_t sogct;
        rgb_color paleta[256];
    };

    CRasterGIF() : CRaster(kRasterGIF) {}
    // True only with a bitmap. A file whose frames all lie outside the screen
    // or have no size fails with "GIF holds no picture".
    bool Decode(CRasterStream* fp);
    bool Encode(CRasterStream* fp);
    bool Encode(CRasterStream* fp, CRaster** pImages, int pagecount, bool bLocalColorMap = false);

    void SetLoops(int loops) { this->loops = loops; }
    int GetLoops() const { return loops; }
    void SetDisposalMethod(int dm) { disposalMethod = dm; }
    int GetDisposalMethod() const { return disposalMethod; }
    void SetComment(const char* text);
    void GetComment(char* dst) const;

    // Buffered output of the encoder.
    class Writer;

protected:
    struct GraphicControl {
        uint8_t flags;
        uint16_t delay;
        uint8_t transparent;
    };
    class Reader;

    bool DecodeExtension(Reader& in);
    long get_num_frames(Reader& in, const tag_TabCol& table);
    int decoder(Reader& in, CRasterIterator* iter, int linewidth, int& bad_code_count);
    int get_next_code(Reader& in);
    void init_exp(int size);
    int out_line(CRasterIterator* iter, uint8_t* pixels, int linelen);
    // Paints the frame src onto dst, leaving dst's pixels where src is transparent.
    static void GifMix(CRaster& dst, const CRaster& src, long lxOffset, long lyOffset);

    // Encoding
    void EncodeHeader(Writer& out);
    void EncodeExtension(Writer& out);
    void EncodeLoopExtension(Writer& out);
    void EncodeComment(Writer& out);
    bool EncodeBody(Writer& out, bool bLocalColorMap = false);
    bool EncodeRGB(Writer& out);
    bool EncodePaletted(CRasterStream* fp);

    GraphicControl graphicControl{};
    char comment[256] = {};
    int32_t loops = 0;
    int32_t disposalMethod = 0;

    // Interlace state
    bool interlaced = false;
    int32_t iypos = 0, istep = 0, iheight = 0, ipass = 0;

    // LZW state
    int curr_size = 0, clear = 0, ending = 0, newcodes = 0, top_slot = 0, slot = 0;
    int navail_bytes = 0, nbits_left = 0;
    uint32_t codeBits = 0;
    uint8_t b1 = 0;
    uint8_t byte_buff[257] = {};
    uint8_t* pbytes = nullptr;
    uint8_t stack[4096] = {};
    uint8_t suffix[4096] = {};
    uint16_t prefix[4096] = {};
};

class CRasterJPG : public CRaster {
public:
    struct tag_ExifInfo {
        char Version[5];
        char CameraMake[32];
        char CameraModel[40];
        char DateTime[20];
        int32_t Height, Width;
        int32_t Orientation;
        int32_t IsColor;
        int32_t Process;
        int32_t FlashUsed;
        float FocalLength;
        float ExposureTime;
        float ApertureFNumber;
        float Distance;
        float CCDWidth;
        float ExposureBias;
        int32_t Whitebalance;
        int32_t MeteringMode;
        int32_t ExposureProgram;
        int32_t ISOequivalent;
        int32_t CompressionLevel;
        float FocalplaneXRes;
        float FocalplaneYRes;
        float FocalplaneUnits;
        float Xresolution;
        float Yresolution;
        float ResolutionUnit;
        float Brightness;
        char Comments[1000];
        // Points into thumbnail storage owned by the codec (or the reader
        // that filled the record), never into a freed section.
        const uint8_t* ThumbnailPointer;
        int32_t ThumbnailSize;
        bool IsExif;
    };

    class CExifInfo {
    public:
        // thumbnail receives a copy of the thumbnail bytes; with no record
        // given the reader keeps one of its own.
        explicit CExifInfo(tag_ExifInfo* info = nullptr, std::vector<uint8_t>* thumbnail = nullptr);
        ~CExifInfo();
        CExifInfo(const CExifInfo&) = delete;
        CExifInfo& operator=(const CExifInfo&) = delete;

        bool DecodeExif(CRasterStream* hFile);
        bool process_EXIF(const uint8_t* CharBuf, unsigned int length);
        const char* GetLastError() const { return m_szLastError; }
        tag_ExifInfo* GetInfo() const { return m_exifinfo; }

        char m_szLastError[256];

    protected:
        bool ProcessExifDir(uint64_t dirOffset, const uint8_t* OffsetBase, uint64_t ExifLength,
                            int depth, uint64_t& thumbOffset, uint64_t& thumbLength);
        void process_COM(const uint8_t* Data, int length);
        void process_SOFn(const uint8_t* Data, int marker);
        double ConvertAnyFormat(const uint8_t* ValuePtr, int Format) const;
        int Get16u(const uint8_t* p) const;
        int32_t Get32s(const uint8_t* p) const;
        uint32_t Get32u(const uint8_t* p) const;
        static int Get16m(const uint8_t* p);
        void SetError(const char* text);

        tag_ExifInfo* m_exifinfo;
        bool freeinfo;
        std::vector<uint8_t>* m_thumbnail;
        std::vector<uint8_t> ownThumbnail;
        int32_t ExifImageWidth = 0;
        bool MotorolaOrder = false;
        std::vector<uint64_t> visitedDirs;
    };

    CRasterJPG();
    bool Decode(CRasterStream* hFile);
    bool Encode(CRasterStream* hFile);
    bool DecodeExif(CRasterStream* hFile);

    tag_ExifInfo info_exif;

protected:
    std::vector<uint8_t> thumbnail;
};

class CRasterPNG : public CRaster {
public:
    CRasterPNG() : CRaster(kRasterPNG) {}
    bool Decode(CRasterStream* hFile);
    bool Encode(CRasterStream* hFile);

protected:
    void expand2to4bpp(uint8_t* row);
};

class CRasterTIF : public CRaster {
public:
    CRasterTIF() : CRaster(kRasterTIF) {}
    ~CRasterTIF() override;
    bool Decode(CRasterStream* hFile);
    // With bAppend the file stays open for further pages.
    bool Encode(CRasterStream* hFile, bool bAppend = false);
    bool Encode(CRasterStream* hFile, CRaster** pImages, int pagecount);

protected:
    bool EncodeBody(void* tif, bool multipage, int page, int pagecount);

    void* m_tif = nullptr;
    bool m_multipage = false;
    int m_pages = 0;
};
