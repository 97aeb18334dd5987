#include "browser/viewer/ViewSheet.h"

#include "app/WindowState.h"
#include "platform/core/Preferences.h"
#include "raster/raster.h"

namespace {

const char* const kStateKey = "ViewWindowState";

// Length of the UTF-8 sequence at P (at most LEFT bytes), 0 when it is not
// a valid one: no overlong forms, no surrogates, nothing above U+10FFFF.
size_t Utf8Length(const unsigned char* p, size_t left) {
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    size_t n;
    uint32_t min;
    uint32_t cp;
    if ((c & 0xE0) == 0xC0) {
        n = 2, min = 0x80, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3, min = 0x800, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4, min = 0x10000, cp = c & 0x07;
    } else {
        return 0;
    }
    if (left < n)
        return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

} // namespace

std::string ViewedText(const char* bytes, unsigned long count) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    bool valid = true;
    for (size_t i = 0; i < count;) {
        const size_t n = Utf8Length(p + i, count - i);
        if (n == 0) {
            valid = false;
            break;
        }
        i += n;
    }
    if (valid)
        return std::string(bytes, count);
    std::string text;
    text.reserve(count + count / 4);
    for (size_t i = 0; i < count; ++i) {
        if (p[i] < 0x80) {
            text += static_cast<char>(p[i]);
        } else {
            text += static_cast<char>(0xC0 | (p[i] >> 6));
            text += static_cast<char>(0x80 | (p[i] & 0x3F));
        }
    }
    return text;
}

ViewSheet* ViewSheet::Make() {
    return PPx::MakeNibWindow<ViewSheet>(PPx::SysNib(), "ViewSheet");
}

void ViewSheet::FinishInit() {
    const PPx::SysWindow window = GetSysWindow();
    mPlaceholder = NibStaticText::CreatePPxView(window, 'PLHL');
    mPageUpButton = NibBevelButton::CreatePPxView(window, 'PGUP');
    mPageDownButton = NibBevelButton::CreatePPxView(window, 'PGDN');
    mOKButton = NibPushButton::CreatePPxView(window, 'okok');
    mDisplayView = PPx::DisplayView::Create(window, 'PLHL');
    mTextView = PPx::CreateScrollTextView(window, 'PLHL');
    mTextView->Disable();
    mTextView->Hide();
    mPageUpButton->AddCommandHandler(this);
    mPageDownButton->AddCommandHandler(this);
    mOKButton->AddCommandHandler(this);
    AddCommandHandler(this);
    InstallCursorChangeHandler(this);
}

bool ViewSheet::SetImage(const CRaster* image) {
    mPageUpButton->Hide();
    mPageDownButton->Hide();
    PPx::Bitmap bitmap;
    if (image && image->info.pixels) {
        bitmap.width = image->head.biWidth;
        bitmap.height = image->head.biHeight;
        bitmap.bitsPerPixel = image->head.biBitCount;
        bitmap.rowBytes = image->effWidth;
        bitmap.bits = image->info.pixels;
        bitmap.palette = reinterpret_cast<const uint8_t*>(image->GetPalette());
        bitmap.paletteCount = image->GetPaletteSize() / 4;
    }
    return mDisplayView->SetImage(bitmap);
}

bool ViewSheet::SetDocument(const std::string& path) {
    return mDisplayView->SetDocument(path);
}

void ViewSheet::SetText(const char* bytes, unsigned long count) {
    mDisplayView->Disable();
    mDisplayView->Hide();
    mPageUpButton->Hide();
    mPageDownButton->Hide();
    mTextView->Show();
    mTextView->Enable();
    mTextView->SetText(ViewedText(bytes, count));
}

bool ViewSheet::PageButtonsVisible() const {
    return mPageUpButton->IsVisible() && mPageDownButton->IsVisible();
}

uint32_t ViewSheet::DoModal(PPx::Window* parent) {
    LoadWindowState();
    Show(parent);
    PPx::RunAppModalLoopForWindow(this);
    SaveWindowState();
    Hide();
    return mResult;
}

PPx::OSStatus ViewSheet::DoCommandProcess(uint32_t command) {
    switch (command) {
    case 'ok  ':
        mResult = 'ok  ';
        PPx::QuitAppModalLoopForWindow(this);
        return PPx::noErr;
    case 'not!': // Escape, or the window manager's close
        PPx::QuitAppModalLoopForWindow(this);
        return PPx::noErr;
    // Handled here: passed on, the window would turn the page a second time.
    case 'PGUP':
        mDisplayView->PrevPage();
        return PPx::noErr;
    case 'PGDN':
        mDisplayView->NextPage();
        return PPx::noErr;
    default:
        return PPx::eventNotHandledErr;
    }
}

PPx::OSStatus ViewSheet::DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) {
    return StandardCursorRule(under, cursor);
}

void ViewSheet::LoadWindowState() {
    std::optional<PPx::PropertyList> value = PPx::CopyAppValue(kStateKey);
    if (!value || !value->AsData())
        return;
    PPx::Rect stored;
    if (!DecodeWindowState(*value->AsData(), stored) || stored.top < 0 || stored.left < 0)
        return;
    ::LoadWindowState(*this, kStateKey);
}

void ViewSheet::SaveWindowState() {
    ::SaveWindowState(*this, kStateKey);
}
