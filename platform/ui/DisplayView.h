#pragma once
// Views made in code over a placeholder of a nib window: the display of an
// image or a PDF page (scaled down to fit, never enlarged, centred on white),
// and a read-only scrolling text.
#include "platform/ui/Views.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace PPx {

// A device-independent bitmap: rows bottom-up, each ROWBYTES long; depths
// 1 and 4 packed most significant bits first, 8 a palette index, 24 three
// bytes blue, green, red. PALETTE holds blue, green, red, reserved per entry.
struct Bitmap {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bitsPerPixel = 24;
    size_t rowBytes = 0;
    const uint8_t* bits = nullptr;
    const uint8_t* palette = nullptr;
    uint32_t paletteCount = 0;
};

class DisplayView : public View {
public:
    DisplayView();
    ~DisplayView() override;

    // Makes the view in WINDOW where the control PLACEHOLDER is, following
    // its size. Raises "GetControlByID failed" without the placeholder.
    static DisplayView* Create(SysWindow window, uint32_t placeholder);

    // False when the bitmap cannot be shown (the view then shows nothing).
    bool SetImage(const Bitmap& bitmap);
    // Opens the PDF document at PATH on its first page; false when it cannot
    // be opened or has no pages.
    bool SetDocument(const std::string& path);
    void PrevPage();
    void NextPage();
    int32_t GetCurrentPDFPage() const;
    int32_t GetTotalPDFPages() const;
    bool HasImage() const;
    // The picture (or the current PDF page, in points) as drawn into a frame
    // of that size (tests): where it lands.
    void GetDrawnRect(int32_t frameWidth, int32_t frameHeight, int32_t& x, int32_t& y,
                      int32_t& width, int32_t& height) const;
    // The colour at a pixel of the image (0xRRGGBB), row 0 at the top.
    uint32_t GetImagePixel(int32_t x, int32_t y) const;

    struct Impl;

protected:
    bool Accepts(const QWidget* widget) const override;

private:
    std::unique_ptr<Impl> mImpl;
};

// A read-only scrolling text in place of PLACEHOLDER.
TextView* CreateScrollTextView(SysWindow window, uint32_t placeholder);

} // namespace PPx
