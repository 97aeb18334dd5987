#pragma once
// A standard alert shown as a sheet on a window and run until a button is
// pressed; icon and buttons come from a flag word.
#include "platform/ui/Window.h"

#include <cstdint>
#include <string>

class ModalSheetAlert {
public:
    ModalSheetAlert() = default;
    virtual ~ModalSheetAlert() = default;

    // RESULT gets the code of the pressed button ('ok  ', 'not!', 'Yes ',
    // 'No  '); it is written only when the alert was shown. A flag word
    // without a known button set shows nothing and returns paramErr (-50).
    // Closed by the window manager, the alert answers as its Cancel would,
    // or with the last button where it has no Cancel.
    virtual PPx::OSStatus DoModal(PPx::Window* parent, const std::string& message, uint32_t& result,
                                  uint32_t flags, const std::string& explanation = std::string());

    // The alert's buttons send 'ok  ', 'not!' and 'othr' for the first,
    // second and third position; each answers with the code given to it.
    virtual PPx::OSStatus DoCommandProcess(uint32_t command);

private:
    uint32_t mResult = 0;
    uint32_t mCodes[3] = {0, 0, 0};
};
