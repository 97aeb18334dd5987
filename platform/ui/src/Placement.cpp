#include "platform/ui/src/Placement.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace PPx {

QScreen* ScreenFor(const QRect& frame) {
    QScreen* screen = nullptr;
    int best = 0;
    for (QScreen* s : QGuiApplication::screens()) {
        QRect common = s->availableGeometry().intersected(frame);
        int area = common.width() * common.height();
        if (area > best) {
            best = area;
            screen = s;
        }
    }
    return screen ? screen : QGuiApplication::primaryScreen();
}

namespace {

QMargins MarginsOf(const QWidget* widget) {
    const QRect frame = widget->frameGeometry();
    const QRect inner = widget->geometry();
    return QMargins(inner.left() - frame.left(), inner.top() - frame.top(),
                    frame.right() - inner.right(), frame.bottom() - inner.bottom());
}

} // namespace

QMargins FrameMargins(const QWidget* widget) {
    const QMargins own = MarginsOf(widget);
    if (!own.isNull())
        return own;
    for (QWidget* other : QApplication::topLevelWidgets())
        if (other != widget && other->isVisible() && !MarginsOf(other).isNull())
            return MarginsOf(other);
    return own;
}

QRect FitInto(QRect inner, const QMargins& margins, const QRect& avail, const QSize& minimum) {
    const int maxWidth = avail.width() - margins.left() - margins.right();
    const int maxHeight = avail.height() - margins.top() - margins.bottom();
    inner.setWidth(
        std::max(std::min(inner.width(), maxWidth), std::min(minimum.width(), maxWidth)));
    inner.setHeight(
        std::max(std::min(inner.height(), maxHeight), std::min(minimum.height(), maxHeight)));
    const QRect frame = inner.marginsAdded(margins);
    const int x = std::max(avail.left(), std::min(frame.left(), avail.right() + 1 - frame.width()));
    const int y = std::max(avail.top(), std::min(frame.top(), avail.bottom() + 1 - frame.height()));
    return inner.translated(x - frame.left(), y - frame.top());
}

QRect CentredOver(const QWidget* widget, const QSize& size, const QWidget* over) {
    const QWidget* window = over->window();
    QRect mine(QPoint(0, 0), size);
    mine.moveCenter(window->geometry().center());
    if (QScreen* screen = ScreenFor(window->frameGeometry()))
        mine =
            FitInto(mine, FrameMargins(widget), screen->availableGeometry(), widget->minimumSize());
    return mine;
}

} // namespace PPx
