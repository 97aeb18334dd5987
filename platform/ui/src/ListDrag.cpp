#include "platform/ui/src/ListDrag.h"

#include "platform/ui/DataBrowser.h"
#include "platform/ui/DropLocation.h"
#include "platform/ui/src/Nesting.h"

#include <QAbstractItemView>
#include <QDrag>
#include <QGuiApplication>
#include <QIcon>
#include <QItemSelectionModel>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace PPx {

const char* const kListItemsMime = "application/x-zarvel-list-items";

namespace {

using DataBrowser::ItemID;

const char* const kDirectSave = "XdndDirectSave0";
// The target asks for the items right after the drop; a drag that ended
// refused is given a short grace all the same, in case the refusal was
// only the toolkit's reading of it.
const int kWaitAfterDropMs = 30000;
const int kWaitAfterRefusalMs = 3000;
// The longest location read back, in 32-bit units (a long path, escaped).
const uint32_t kMaxLocationUnits = 8192;

xcb_connection_t* X11Connection() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t InternAtom(xcb_connection_t* x, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        x, xcb_intern_atom(x, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

bool IsOneName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\r\n\0", 4)) == std::string::npos;
}

// One drag offering direct save. The proposed name goes on the window that
// owns the drag selection (Qt's, which owns it only once the drag runs);
// at the drop the target replaces it with the location it wants and asks
// for the data, which is when the location is read and answered. The list's
// content hears the outcome once, back in the event loop.
class DirectSave : public std::enable_shared_from_this<DirectSave> {
public:
    DirectSave(xcb_connection_t* x, QWidget* list, std::string name)
        : mX(x), mList(list), mName(std::move(name)), mProperty(InternAtom(x, kDirectSave)),
          mText(InternAtom(x, "text/plain")), mSelection(InternAtom(x, "XdndSelection")) {}

    // The drag still waiting for its target is over: its content hears now.
    static void FinishEarlier() {
        if (std::shared_ptr<DirectSave> earlier = sLatest.lock())
            earlier->Deliver();
    }

    // Just before the drag runs.
    void Begin() {
        sLatest = shared_from_this();
        Later(0, [](DirectSave& save) { save.Offer(100); });
    }

    // Whether the target may have its answer now: once it has named a place.
    // Some ask while the items only pass over them (PCManFM's side pane),
    // with the proposed name still in place; that ask is refused, so that it
    // neither fails the drag nor decides it, and the drop asks again.
    bool Named() {
        if (mDecided || mDelivered)
            return true;
        mLocation = ReadDropLocation(ReadProperty());
        return mLocation.kind != DropLocation::kNothing;
    }

    // The target asks for the items: "S" when they will go where it said,
    // "E" when they will not. The first answer to a named place stands.
    QByteArray Answer() {
        if (mDecided)
            return mReply;
        if (mDelivered || !Named())
            return "E"; // asked too late (the drag is over), or without a place
        mDecided = true;
        mReply = Usable() ? "S" : "E";
        if (mEnded)
            Later(0, [](DirectSave& save) { save.Deliver(); });
        return mReply;
    }

    // The drag loop returned.
    void Ended(bool dropped) {
        mEnded = true;
        mDropped = dropped;
        const int wait = mDecided ? 0 : dropped ? kWaitAfterDropMs : kWaitAfterRefusalMs;
        Later(wait, [](DirectSave& save) { save.Deliver(); });
    }

private:
    bool Usable() const {
        return mDecided &&
               (mLocation.kind == DropLocation::kFolder || mLocation.kind == DropLocation::kTrash);
    }

    // Runs ACT on this drag after MS milliseconds in the event loop; the call
    // keeps the drag alive until then.
    template <class F> void Later(int ms, F act) {
        QTimer::singleShot(ms, QCoreApplication::instance(),
                           [self = shared_from_this(), act] { act(*self); });
    }

    void Offer(int tries) {
        if (mEnded || mDelivered)
            return;
        xcb_get_selection_owner_reply_t* reply =
            xcb_get_selection_owner_reply(mX, xcb_get_selection_owner(mX, mSelection), nullptr);
        const xcb_window_t owner = reply ? reply->owner : xcb_window_t(XCB_NONE);
        std::free(reply);
        if (owner == XCB_NONE) {
            if (tries > 0)
                Later(10, [tries](DirectSave& save) { save.Offer(tries - 1); });
            return;
        }
        mOwner = owner;
        xcb_change_property(mX, XCB_PROP_MODE_REPLACE, mOwner, mProperty, mText, 8,
                            static_cast<uint32_t>(mName.size()), mName.data());
        xcb_flush(mX);
    }

    std::string ReadProperty() {
        if (mOwner == XCB_NONE)
            return {};
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            mX,
            xcb_get_property(mX, 0, mOwner, mProperty, XCB_GET_PROPERTY_TYPE_ANY, 0,
                             kMaxLocationUnits),
            nullptr);
        std::string value;
        if (reply && reply->format == 8 && reply->bytes_after == 0)
            value.assign(static_cast<const char*>(xcb_get_property_value(reply)),
                         static_cast<size_t>(xcb_get_property_value_length(reply)));
        std::free(reply);
        // Some targets count the C string's terminator in.
        while (!value.empty() && value.back() == '\0')
            value.pop_back();
        return value;
    }

    void Deliver() {
        if (mDelivered)
            return;
        mDelivered = true;
        if (mOwner != XCB_NONE && sLatest.lock().get() == this) {
            xcb_delete_property(mX, mOwner, mProperty);
            xcb_flush(mX);
        }
        auto* view = mList ? dynamic_cast<DataBrowser::View*>(View::FromWidget(mList)) : nullptr;
        DataBrowser::Content* content = view ? view->GetContent() : nullptr;
        if (!content)
            return;
        try {
            if (mDecided && mLocation.kind == DropLocation::kRefused)
                content->DropRefused(mLocation.message, mLocation.explanation);
            content->PostProcessDragFromBrowser(mDropped || Usable(),
                                                Usable() ? mLocation.folder : std::string());
        } catch (...) {
        }
    }

    static std::weak_ptr<DirectSave> sLatest;

    xcb_connection_t* mX;
    QPointer<QWidget> mList;
    std::string mName;
    xcb_atom_t mProperty, mText, mSelection;
    xcb_window_t mOwner = XCB_NONE;
    bool mEnded = false, mDropped = false, mDecided = false, mDelivered = false;
    DropLocation mLocation;
    QByteArray mReply;
};

std::weak_ptr<DirectSave> DirectSave::sLatest;

// The drag's data: the list's item IDs, and the direct-save answer, given
// when the target asks for it.
class DirectSaveData : public QMimeData {
public:
    explicit DirectSaveData(std::shared_ptr<DirectSave> save) : mSave(std::move(save)) {}
    QStringList formats() const override { return QMimeData::formats() << kDirectSave; }
    // Qt refuses a request for a format the data does not have just then.
    bool hasFormat(const QString& format) const override {
        return format == kDirectSave ? mSave->Named() : QMimeData::hasFormat(format);
    }

protected:
    QVariant retrieveData(const QString& format, QMetaType type) const override {
        if (format == kDirectSave)
            return mSave->Answer();
        return QMimeData::retrieveData(format, type);
    }

private:
    std::shared_ptr<DirectSave> mSave;
};

// What the user sees moving with the pointer: the first few selected rows.
QPixmap DragPixmap(QAbstractItemView* list) {
    QModelIndexList rows = list->selectionModel()->selectedRows(0);
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    const int shown = std::min<int>(static_cast<int>(rows.size()), 4);
    if (shown == 0)
        return {};
    const QFontMetrics metrics(list->font());
    const int line = std::max(metrics.height(), 16) + 4;
    QStringList texts;
    for (int i = 0; i < shown; ++i)
        texts << metrics.elidedText(rows[i].data(Qt::DisplayRole).toString(), Qt::ElideMiddle, 260);
    if (rows.size() > shown)
        texts << QString("and %1 more").arg(rows.size() - shown);
    int width = 0;
    for (const QString& text : texts)
        width = std::max(width, metrics.horizontalAdvance(text));
    QPixmap pixmap(width + 34, line * static_cast<int>(texts.size()) + 4);
    pixmap.fill(list->palette().color(QPalette::Base));
    QPainter painter(&pixmap);
    painter.setPen(list->palette().color(QPalette::Mid));
    painter.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    painter.setPen(list->palette().color(QPalette::Text));
    painter.setFont(list->font());
    for (int i = 0; i < static_cast<int>(texts.size()); ++i) {
        const int top = 2 + i * line;
        if (i < shown)
            rows[i].data(Qt::DecorationRole).value<QIcon>().paint(&painter, 6, top + 2, 16, 16);
        painter.drawText(QRect(28, top, width + 4, line), Qt::AlignVCenter, texts[i]);
    }
    return pixmap;
}

} // namespace

void StartListDrag(DataBrowser::View* view) {
    // One drag at a time: a content keeps its drag's items until it hears
    // the end, so an earlier drag still waiting for its target ends first.
    DirectSave::FinishEarlier();
    DataBrowser::Content* content = view->GetContent();
    auto* list = qobject_cast<QAbstractItemView*>(view->GetWidget());
    if (!content || !list)
        return;
    QByteArray ids;
    std::vector<ItemID> dragged;
    for (ItemID item : view->GetSelectedItems())
        if (content->AddItemToDrag(item)) {
            ids += QByteArray::number(item) + ' ';
            dragged.push_back(item);
        }
    if (dragged.empty())
        return;
    // Every drag that took items ends once for its content, even one that
    // never ran.
    auto ended = [view](bool dropped) {
        if (DataBrowser::Content* now = view->GetContent()) {
            try {
                now->PostProcessDragFromBrowser(dropped, std::string());
            } catch (...) {
            }
        }
    };

    std::shared_ptr<DirectSave> save;
    if (xcb_connection_t* x = X11Connection()) {
        std::string name;
        try {
            name = content->DirectSaveName(dragged);
        } catch (...) {
        }
        if (IsOneName(name))
            save = std::make_shared<DirectSave>(x, list, name);
    }
    QMimeData* data = nullptr;
    if (save) {
        data = new DirectSaveData(save);
    } else {
        std::vector<std::string> files;
        try {
            files = content->FilesForDrag(dragged);
        } catch (...) {
        }
        if (files.empty()) {
            ended(false); // nothing a drop target could take
            return;
        }
        data = new QMimeData;
        QList<QUrl> urls;
        for (const std::string& file : files)
            urls.append(QUrl::fromLocalFile(QString::fromStdString(file)));
        data->setUrls(urls);
    }
    data->setData(kListItemsMime, ids);

    // Qt deletes the drag once the target is done with its data.
    auto* drag = new QDrag(list);
    drag->setMimeData(data);
    const QPixmap pixmap = DragPixmap(list);
    if (!pixmap.isNull()) {
        drag->setPixmap(pixmap);
        drag->setHotSpot(QPoint(-12, -12));
    }
    if (save)
        save->Begin();
    Qt::DropAction action;
    {
        NestedLoop nested;
        action = drag->exec(Qt::CopyAction);
    }
    if (save)
        save->Ended(action != Qt::IgnoreAction); // the content hears once the target has asked
    else
        ended(action != Qt::IgnoreAction);
}

} // namespace PPx
