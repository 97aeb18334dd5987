#pragma once
// The menu bar a window carries, made from the nib's "MenuBar".
class QWidget;

namespace PPx {

class Window;

// Gives WIDGET, the toolbox window of WINDOW, its own menu bar. Dialogs get
// none.
void AttachMenuBar(Window* window, QWidget* widget);
// A window without a menu bar still answers the program's keys for closing
// a window (Ctrl+W) and quitting (Ctrl+Q). Dialogs get none.
void AttachWindowKeys(Window* window, QWidget* widget);

} // namespace PPx
