#pragma once
// Where the layer puts windows: on the screen they overlap most, wholly
// inside its free area, frame included.
#include <QMargins>
#include <QRect>

class QScreen;
class QWidget;

namespace PPx {

// The screen FRAME overlaps most, the primary one when none.
QScreen* ScreenFor(const QRect& frame);

// The frame the window manager puts around WIDGET: known once it was shown;
// before that, the frame around another shown window of the program stands
// in, so that a new window's title bar is placed on screen too.
QMargins FrameMargins(const QWidget* widget);

// Puts the content rectangle INNER (with its frame) wholly inside AVAIL:
// smaller where it does not fit (never below MINIMUM unless AVAIL is), then
// moved in.
QRect FitInto(QRect inner, const QMargins& margins, const QRect& avail, const QSize& minimum);

// The content rectangle of SIZE for WIDGET centred over OVER's window, on
// that window's screen.
QRect CentredOver(const QWidget* widget, const QSize& size, const QWidget* over);

} // namespace PPx
