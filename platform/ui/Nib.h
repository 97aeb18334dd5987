#pragma once
// Windows and sheets are designed in Qt Designer files, one per window, kept
// in the "Resources" folder and loaded at run time. A window is made by its
// name; its controls are found by their four-character signature, which is
// the widget's objectName.
#include "platform/core/Errors.h"

#include <cstdint>
#include <string>

class QWidget;

namespace PPx {

constexpr OSStatus errUnknownControl = -30584;

// The toolbox window of a window object: the top-level widget loaded from
// the interface file.
using SysWindow = QWidget*;

// "okok" <-> 'okok'.
std::string CodeToString(uint32_t code);
uint32_t StringToCode(const std::string& text); // 0 unless exactly four bytes

class SysNib {
public:
    // Opens the interface folder ("Resources" is the only one the program has).
    explicit SysNib(const std::string& name = "Resources");

    // Makes the window, sheet or menu bar described by NAME.ui, hidden and
    // without a parent; null when there is no such description or it cannot
    // be loaded.
    SysWindow CreateWindow(const std::string& name) const;

    const std::string& GetFolder() const { return mFolder; }

    // The folder of the interface files: $ZARVEL_RESOURCES when set, else
    // share/zarvel/Resources beside the program's bin folder.
    static std::string ResourcesFolder();

private:
    std::string mFolder;
};

} // namespace PPx
