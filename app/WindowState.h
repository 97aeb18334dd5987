#pragma once
// Where windows were left, kept as per-application preference values, and
// the cursor rule of the bookmark windows and sheets.
#include "platform/ui/Window.h"

#include <cstdint>
#include <string>
#include <vector>

// The 8-byte value: top, left, bottom, right, each a big-endian signed
// 16-bit number.
std::vector<uint8_t> EncodeWindowState(const PPx::Rect& bounds);
// False for a value shorter than 8 bytes.
bool DecodeWindowState(const std::vector<uint8_t>& value, PPx::Rect& bounds);

// Stores the window's content rectangle under KEY and writes the values at
// once; nothing while the window is collapsed or its bounds cannot be read.
void SaveWindowState(PPx::Window& window, const std::string& key);
// Applies a stored rectangle, then keeps the window on screen. With
// SIZEONLY the window keeps its place and takes only the width and height.
// A missing, non-data or short value leaves the window as it is.
void LoadWindowState(PPx::Window& window, const std::string& key, bool sizeOnly = false);

namespace PPx {
class PreferenceStore;
namespace DataBrowser {
class View;
}
} // namespace PPx

// A list's columns, widths and sort order, kept under KEY as a dictionary of
// integers. A missing or damaged value leaves the list as it is.
void LoadListState(PPx::DataBrowser::View& list, const std::string& key);
void SaveListState(PPx::DataBrowser::View& list, const std::string& key);

// Reads the stored values now and, when their file could not be read and was
// kept aside, tells the user (caution alert) where it went. True when told.
bool ReportUnreadableAppValues(PPx::PreferenceStore& store);

// Over an enabled text field the I-beam, over another control the arrow
// (handled); over no control the arrow, not handled.
PPx::OSStatus StandardCursorRule(PPx::View* under, PPx::ThemeCursor& cursor);
