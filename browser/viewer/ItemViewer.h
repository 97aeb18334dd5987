#pragma once
// Shows a downloaded file in a ViewSheet on the browser window, then deletes
// it: an image when the image library decodes it, a PDF document when it
// starts with "%PDF", else its bytes as text.
#include "platform/ui/Window.h"

#include <cstdint>
#include <string>
#include <vector>

class ViewSheet;

class ItemViewer {
public:
    // Files above this are not read: the user is told instead.
    static constexpr uint64_t kMaxViewSize = uint64_t(256) << 20;

    // FOLDER/NAME is shown on PARENT and deleted afterwards on every road.
    void Display(PPx::Window* parent, const std::string& folder, const std::string& name);

    // How a file's bytes are shown.
    enum Kind { kNothing, kImage, kDocument, kText };
    // Fills SHEET with the file at PATH holding DATA; what it was shown as.
    static Kind Fill(ViewSheet& sheet, const std::string& path, const std::vector<uint8_t>& data);
};
