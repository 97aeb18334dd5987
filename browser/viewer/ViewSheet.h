#pragma once
// The sheet that shows one viewed file: an image or a PDF page in a display
// view (scaled down to fit, centred; page buttons for PDF), or a text in a
// read-only scrolling view. Its size is remembered as "ViewWindowState".
#include "app/NibWindow.h"
#include "platform/ui/DisplayView.h"

#include <cstdint>
#include <string>

class CRaster;

class ViewSheet : public NibSheetWindow,
                  public PPx::CommandProcessDoer,
                  public PPx::WindowCursorChangeDoer {
public:
    ViewSheet() = default;
    // Null when the interface file has no "ViewSheet".
    static ViewSheet* Make();

    void FinishInit() override;
    const char* ClassName() const override { return "ViewSheet"; }

    virtual uint32_t DoModal(PPx::Window* parent);
    // False when the image holds nothing that can be drawn.
    virtual bool SetImage(const CRaster* image);
    // False when the file at PATH is no PDF document with pages; the view
    // then stays white.
    virtual bool SetDocument(const std::string& path);
    // BYTES as UTF-8 when they are valid UTF-8, else one Latin-1 letter a byte.
    virtual void SetText(const char* bytes, unsigned long count);

    PPx::OSStatus DoCommandProcess(uint32_t command) override;
    PPx::OSStatus DoWindowCursorChange(PPx::View* under, PPx::ThemeCursor& cursor) override;

    virtual void LoadWindowState();
    virtual void SaveWindowState();

    // What the tests read.
    PPx::DisplayView* GetDisplayView() const { return mDisplayView; }
    PPx::TextView* GetTextView() const { return mTextView; }
    bool PageButtonsVisible() const;

private:
    PPx::StaticText* mPlaceholder = nullptr;
    PPx::PushButton* mOKButton = nullptr;
    PPx::DisplayView* mDisplayView = nullptr;
    PPx::TextView* mTextView = nullptr;
    PPx::BevelButton* mPageUpButton = nullptr;
    PPx::BevelButton* mPageDownButton = nullptr;
    uint32_t mResult = 'not!';
};

// The text a viewed file's bytes show as (see ViewSheet::SetText), as UTF-8.
std::string ViewedText(const char* bytes, unsigned long count);
