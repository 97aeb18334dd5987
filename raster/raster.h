// The image object of the image library: a device-independent bitmap in one
// heap block (header, palette, bottom-up rows), the byte streams the codecs
// read from, and a row iterator for the row-oriented decoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#pragma pack(push, 1)
struct tagBITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};

struct tagRGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};

struct rgb_color {
    uint8_t r;
    uint8_t g;
    uint8_t b;
};
#pragma pack(pop)

static_assert(sizeof(tagBITMAPINFOHEADER) == 40);
static_assert(sizeof(tagRGBQUAD) == 4);
static_assert(sizeof(rgb_color) == 3);

// Format codes.
enum : unsigned long {
    kRasterUnknown = 0,
    kRasterBMP = 1,
    kRasterGIF = 2,
    kRasterJPG = 3,
    kRasterPNG = 4,
    kRasterICO = 5,
    kRasterTIF = 6,
};

// ---------------------------------------------------------------------------
// Streams

class CRasterStream {
public:
    virtual ~CRasterStream() = default;
    virtual bool Close() = 0;
    virtual size_t Read(void* buffer, size_t size, size_t count) = 0;
    virtual size_t Write(const void* buffer, size_t size, size_t count) = 0;
    virtual bool Seek(long offset, int origin) = 0;
    virtual long Tell() = 0;
    virtual long Size() = 0;
    virtual bool Flush() = 0;
    virtual bool Eof() = 0;
    virtual long Error() = 0;
    virtual bool PutC(unsigned char c);
    virtual long GetC() = 0;
};

class CMemStream : public CRasterStream {
public:
    // A buffer handed in is borrowed; with a null pointer the stream owns
    // whatever its writes allocate.
    CMemStream(uint8_t* buffer = nullptr, long length = 0);
    ~CMemStream() override;

    bool Close() override;
    size_t Read(void* buffer, size_t size, size_t count) override;
    size_t Write(const void* buffer, size_t size, size_t count) override;
    bool Seek(long offset, int origin) override;
    long Tell() override;
    long Size() override;
    bool Flush() override;
    bool Eof() override;
    long Error() override;
    bool PutC(unsigned char c) override;
    long GetC() override;

    void Free() { Close(); }
    uint8_t* GetBuffer(bool detach = true);
    bool Open();

protected:
    bool Alloc(int64_t needed);

    uint8_t* buffer;
    int32_t size;
    bool freeOnClose;
    int32_t position;
    int32_t edge;
};

class CStdioStream : public CRasterStream {
public:
    explicit CStdioStream(FILE* fp = nullptr);
    ~CStdioStream() override;

    bool Close() override;
    size_t Read(void* buffer, size_t size, size_t count) override;
    size_t Write(const void* buffer, size_t size, size_t count) override;
    bool Seek(long offset, int origin) override;
    long Tell() override;
    long Size() override;
    bool Flush() override;
    bool Eof() override;
    long Error() override;
    bool PutC(unsigned char c) override;
    long GetC() override;

    FILE* GetFile() const { return stream; }

protected:
    FILE* stream;
    bool closeFile;
};

// ---------------------------------------------------------------------------
// The image

class CRaster;

// Everything but the buffers and the header; copied as one unit.
struct RasterInfo {
    uint32_t effWidth;
    uint8_t* pixels;
    CRaster* ghost;
    CRaster* parent;
    uint32_t type;
    char lastError[256];
    int32_t progress;
    int32_t escape;
    int32_t backgroundIndex;
    tagRGBQUAD backgroundColor;
    uint8_t quality;
    int32_t frame;
    int32_t numFrames;
    uint32_t frameDelay;
    int32_t xDPI;
    int32_t yDPI;
    int32_t selectionBox[4];
    uint8_t alphaMax;
    bool alphaPaletteEnabled;
    bool enabled;
    int32_t xOffset;
    int32_t yOffset;
    uint32_t encodeOption;
    tagRGBQUAD lastColor;
    uint8_t lastColorIndex;
    bool lastColorValid;
    int32_t numLayers;
    uint32_t flags;
};

class CRaster {
public:
    // Largest pixel block (header, palette and rows) an image may allocate.
    // Images come from remote servers, so their stated sizes are refused
    // above this before anything is allocated.
    static inline uint64_t maxBlockSize = uint64_t(1) << 30;

    explicit CRaster(unsigned long type = 0);
    CRaster(unsigned long width, unsigned long height, unsigned long bpp, unsigned long type = 0);
    CRaster(const CRaster& src, bool copypixels, bool copyselection = true, bool copyalpha = true);
    CRaster(const CRaster& src);
    CRaster(CRasterStream* stream, unsigned long type);
    CRaster(uint8_t* buffer, unsigned long size, unsigned long type);
    CRaster(FILE* fp, unsigned long type);
    CRaster(const char* filename, unsigned long type);
    virtual ~CRaster();

    CRaster& operator=(const CRaster& src);

    void Startup(unsigned long type);
    void* Create(unsigned long width, unsigned long height, unsigned long bpp,
                 unsigned long type = 0);
    void Destroy();
    void Transfer(CRaster& from);
    void Ghost(CRaster* from);
    void CopyInfo(const CRaster& src);
    void Copy(const CRaster& src, bool copypixels = true, bool copyselection = true,
              bool copyalpha = true);

    uint32_t GetSize() const;
    uint8_t* GetBits() const;
    static const char* GetVersion() { return "CRaster 1.0"; }
    bool IsInside(long x, long y) const;
    void Clear(unsigned char value = 0);
    void SetXDPI(long dpi);
    void SetYDPI(long dpi);
    void SetFlags(unsigned long flags, bool lockReservedFlags = true);
    unsigned long GetColorType() const;
    tagRGBQUAD GetTransColor() const;
    static int CompareColors(const void* a, const void* b);
    bool CreateFromARGB(unsigned long width, unsigned long height, const uint8_t* data);

    // Palette
    uint32_t GetPaletteSize() const;
    tagRGBQUAD* GetPalette() const;
    tagRGBQUAD GetPaletteColor(unsigned char index) const;
    bool GetPaletteColor(unsigned char index, unsigned char* r, unsigned char* g,
                         unsigned char* b) const;
    void SetPaletteColor(unsigned char index, unsigned char r, unsigned char g, unsigned char b,
                         unsigned char alpha = 0);
    void SetPaletteColor(unsigned char index, tagRGBQUAD c);
    void SetPaletteColor(unsigned char index, unsigned long colour);
    void SetPalette(const tagRGBQUAD* pal, unsigned long count = 256);
    void SetPalette(const rgb_color* rgb, unsigned long count = 256);
    void SetPalette(unsigned long count, const uint8_t* r, const uint8_t* g = nullptr,
                    const uint8_t* b = nullptr);
    void SetGrayPalette();
    void SetStdPalette();
    bool IsGrayScale() const;
    void BlendPalette(unsigned long colour, long percent);
    void SwapIndex(unsigned char a, unsigned char b);
    static tagRGBQUAD RGBtoRGBQUAD(unsigned long colour);
    static unsigned long RGBQUADtoRGB(tagRGBQUAD c);
    void RGBtoBGR(uint8_t* buffer, int length);

    // Pixels; y = 0 is the bottom row.
    uint8_t GetPixelIndex(long x, long y) const;
    void SetPixelIndex(long x, long y, unsigned char i);
    tagRGBQUAD GetPixelColor(long x, long y) const;
    uint8_t GetPixelGray(long x, long y) const;
    void SetPixelColor(long x, long y, tagRGBQUAD c, bool setAlpha = false);
    void SetPixelColor(long x, long y, unsigned long colour);
    uint8_t GetNearestIndex(tagRGBQUAD c);

    // Depth change and orientation
    bool IncreaseBpp(unsigned long nbit);
    bool Flip();
    bool Mirror();
    bool RotateLeft(CRaster* iDst = nullptr);
    bool RotateRight(CRaster* iDst = nullptr);

    // Other transformations
    bool Crop(long left, long top, long right, long bottom, CRaster* iDst = nullptr);
    bool Negative();
    bool DecreaseBpp(unsigned long nbit, bool errordiffusion, const tagRGBQUAD* ppal = nullptr);
    static float b3spline(float x);
    bool Resample(long newx, long newy, int mode = 1, CRaster* iDst = nullptr);
    bool Skew(float xgain, float ygain, long xpivot = 0, long ypivot = 0);
    float Deskew();
    bool Rotate(float angle, CRaster* iDst = nullptr);
    bool Rotate180(CRaster* iDst = nullptr);
    bool GrayScale();
    bool Dither(long method = 0);

    // Format dispatch
    bool Decode(CRasterStream* hFile, unsigned long type);
    bool Decode(uint8_t* buffer, unsigned long size, unsigned long type);
    bool Decode(FILE* hFile, unsigned long type);
    bool Load(const char* filename, unsigned long type);
    bool Encode(CRasterStream* hFile, unsigned long type);
    bool Encode(CRasterStream* hFile, CRaster** images, int count, unsigned long type);
    bool Encode(uint8_t*& buffer, long& size, unsigned long type);
    bool Encode(FILE* hFile, unsigned long type);
    bool Encode(FILE* hFile, CRaster** images, int count, unsigned long type);
    bool Save(const char* filename, unsigned long type);

    // The header as the viewer reads it.
    tagBITMAPINFOHEADER head;
    RasterInfo info;
    // The viewer reads the stride under this name.
    const uint32_t& effWidth = info.effWidth;

    uint8_t* dib = nullptr;
    uint8_t* selection = nullptr;
    uint8_t* alpha = nullptr;
    CRaster** layers = nullptr;

protected:
    void SetError(const char* text);
    // Row pointer for row y (0 = bottom) without checks.
    uint8_t* Row(long y) const { return info.pixels + size_t(info.effWidth) * size_t(y); }
};

class CRasterIterator {
public:
    explicit CRasterIterator(CRaster* image);

    void Upset();
    void SetY(int y);
    void SetRow(const uint8_t* buffer, int n);
    bool PrevRow();
    uint8_t* GetRow() const { return row; }
    uint8_t* GetRow(int y);
    bool ItOK() const;
    int GetY() const { return y; }

    int32_t x = 0;
    int32_t y = 0;
    int32_t stepX = 0;
    int32_t stepY = 0;
    uint8_t* row = nullptr;
    CRaster* image;
};
