#include "platform/ui/DisplayView.h"

#include <QBoxLayout>
#include <QImage>
#include <QLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QPdfDocument>
#include <QPlainTextEdit>
#include <QVariant>
#include <QWidget>

#include <cmath>

namespace PPx {

namespace {

// Puts WIDGET where PLACEHOLDER is: in its layout slot, or over its frame.
void TakePlace(QWidget* placeholder, QWidget* widget) {
    QWidget* parent = placeholder->parentWidget();
    widget->setParent(parent);
    widget->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    if (parent && parent->layout()) {
        QLayout* layout = parent->layout();
        if (const int index = layout->indexOf(placeholder); index >= 0) {
            // Beside the placeholder, which gives up its space; it stays in
            // that place so that a second view made over it lands there too.
            delete layout->replaceWidget(placeholder, widget); // the old item is ours
            if (auto* box = qobject_cast<QBoxLayout*>(layout))
                box->insertWidget(index + 1, placeholder);
            else
                layout->addWidget(placeholder);
            placeholder->hide();
            return;
        }
    }
    widget->setGeometry(placeholder->geometry());
    placeholder->hide();
}

QImage ToImage(const Bitmap& b) {
    if (b.width <= 0 || b.height <= 0 || !b.bits)
        return {};
    int depth = b.bitsPerPixel;
    if (depth != 1 && depth != 4 && depth != 8 && depth != 24)
        return {};
    size_t needed = (static_cast<size_t>(depth) * static_cast<size_t>(b.width) + 7) / 8;
    if (b.rowBytes < needed)
        return {};
    if (depth != 24 && (!b.palette || b.paletteCount == 0))
        return {};
    QImage image(b.width, b.height, QImage::Format_RGB32);
    if (image.isNull())
        return {};
    for (int32_t row = 0; row < b.height; ++row) {
        // Stored bottom-up: the first stored row is the bottom of the picture.
        const uint8_t* src = b.bits + static_cast<size_t>(row) * b.rowBytes;
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(b.height - 1 - row));
        for (int32_t x = 0; x < b.width; ++x) {
            if (depth == 24) {
                const uint8_t* p = src + 3 * static_cast<size_t>(x);
                dst[x] = qRgb(p[2], p[1], p[0]);
                continue;
            }
            uint32_t index;
            if (depth == 8)
                index = src[x];
            else if (depth == 4)
                index = (src[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F;
            else
                index = (src[x / 8] >> (7 - x % 8)) & 0x01;
            if (index >= b.paletteCount)
                index = 0;
            const uint8_t* c = b.palette + 4 * static_cast<size_t>(index);
            dst[x] = qRgb(c[2], c[1], c[0]);
        }
    }
    return image;
}

// Fits W x H into FW x FH: never enlarged, aspect kept, centred.
QRectF Fit(double w, double h, double fw, double fh) {
    if (w <= 0 || h <= 0)
        return {};
    double s = std::min(1.0, std::min(fw / w, fh / h));
    double dw = w * s, dh = h * s;
    return QRectF(std::max(0.0, (fw - dw) / 2), std::max(0.0, (fh - dh) / 2), dw, dh);
}

} // namespace

struct DisplayView::Impl {
    QImage image;
    std::unique_ptr<QPdfDocument> pdf;
    int page = 0; // from 1; 0 without a document
    int pageCount = 0;
};

class DisplayWidget : public QWidget {
public:
    DisplayWidget(DisplayView::Impl* impl) : mImpl(impl) {}
    DisplayView::Impl* mImpl;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        if (!mImpl)
            return;
        if (mImpl->pdf && mImpl->page >= 1) {
            QSizeF size = mImpl->pdf->pagePointSize(mImpl->page - 1);
            QRectF to = Fit(size.width(), size.height(), width(), height());
            if (to.isEmpty())
                return;
            QImage page = mImpl->pdf->render(mImpl->page - 1, to.size().toSize());
            painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
            painter.drawImage(to, page);
        } else if (!mImpl->image.isNull()) {
            QRectF to = Fit(mImpl->image.width(), mImpl->image.height(), width(), height());
            painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
            painter.drawImage(to, mImpl->image);
        }
    }
};

DisplayView::DisplayView() : mImpl(std::make_unique<Impl>()) {}

DisplayView::~DisplayView() {
    if (auto* widget = dynamic_cast<DisplayWidget*>(mWidget))
        widget->mImpl = nullptr;
}

bool DisplayView::Accepts(const QWidget* widget) const {
    return dynamic_cast<const DisplayWidget*>(widget) != nullptr;
}

DisplayView* DisplayView::Create(SysWindow window, uint32_t placeholder) {
    QWidget* place = FindControl(window, placeholder);
    if (!place)
        throw OSError(errUnknownControl, "GetControlByID failed");
    auto* view = new DisplayView;
    auto* widget = new DisplayWidget(view->mImpl.get());
    widget->setObjectName("ppxDisplay");
    TakePlace(place, widget);
    widget->setObjectName(QString::fromLatin1("DSPV"));
    try {
        view->Initialize(window, ControlID{'DSPV', 100});
    } catch (...) {
        delete view;
        delete widget;
        throw;
    }
    widget->show();
    return view;
}

bool DisplayView::SetImage(const Bitmap& bitmap) {
    mImpl->pdf.reset();
    mImpl->page = mImpl->pageCount = 0;
    mImpl->image = ToImage(bitmap);
    if (mWidget)
        mWidget->update();
    return !mImpl->image.isNull();
}

bool DisplayView::SetDocument(const std::string& path) {
    mImpl->image = QImage();
    mImpl->page = mImpl->pageCount = 0;
    auto pdf = std::make_unique<QPdfDocument>();
    if (pdf->load(QString::fromStdString(path)) != QPdfDocument::Error::None ||
        pdf->pageCount() <= 0) {
        mImpl->pdf.reset();
        return false;
    }
    mImpl->pageCount = pdf->pageCount();
    mImpl->page = 1;
    mImpl->pdf = std::move(pdf);
    if (mWidget)
        mWidget->update();
    return true;
}

void DisplayView::PrevPage() {
    if (mImpl->page > 1)
        --mImpl->page;
    if (mWidget)
        mWidget->update();
}

void DisplayView::NextPage() {
    if (mImpl->page < mImpl->pageCount)
        ++mImpl->page;
    if (mWidget)
        mWidget->update();
}

int32_t DisplayView::GetCurrentPDFPage() const {
    return mImpl->page;
}
int32_t DisplayView::GetTotalPDFPages() const {
    return mImpl->pageCount;
}
bool DisplayView::HasImage() const {
    return !mImpl->image.isNull();
}

void DisplayView::GetDrawnRect(int32_t fw, int32_t fh, int32_t& x, int32_t& y, int32_t& w,
                               int32_t& h) const {
    QRectF r;
    if (mImpl->pdf && mImpl->page >= 1) {
        const QSizeF size = mImpl->pdf->pagePointSize(mImpl->page - 1);
        r = Fit(size.width(), size.height(), fw, fh);
    } else {
        r = Fit(mImpl->image.width(), mImpl->image.height(), fw, fh);
    }
    x = static_cast<int32_t>(std::lround(r.x()));
    y = static_cast<int32_t>(std::lround(r.y()));
    w = static_cast<int32_t>(std::lround(r.width()));
    h = static_cast<int32_t>(std::lround(r.height()));
}

uint32_t DisplayView::GetImagePixel(int32_t x, int32_t y) const {
    if (!mImpl->image.valid(x, y))
        return 0;
    return mImpl->image.pixel(x, y) & 0xFFFFFF;
}

TextView* CreateScrollTextView(SysWindow window, uint32_t placeholder) {
    QWidget* place = FindControl(window, placeholder);
    if (!place)
        throw OSError(errUnknownControl, "GetControlByID failed");
    auto* edit = new QPlainTextEdit;
    edit->setReadOnly(true);
    edit->setLineWrapMode(QPlainTextEdit::NoWrap);
    edit->setObjectName("TXTV");
    TakePlace(place, edit);
    return NibTextView::CreatePPxView(window, 'TXTV', 100);
}

} // namespace PPx
