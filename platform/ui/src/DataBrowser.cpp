#include "platform/ui/DataBrowser.h"
#include "platform/ui/src/ListDrag.h"
#include "platform/ui/src/Nesting.h"
#include "platform/ui/src/TreeView.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHash>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPainter>
#include <QStandardPaths>
#include <QStyle>
#include <QUrl>

#include <algorithm>

namespace PPx {

// Icons ----------------------------------------------------------------------

Icon Icon::Standard(Kind kind) {
    Icon icon;
    icon.mKind = (kind == Folder || kind == Document) ? kind : None;
    return icon;
}

Icon Icon::File(const std::string& path) {
    Icon icon;
    if (!QIcon(QString::fromStdString(path)).isNull() &&
        QFileInfo(QString::fromStdString(path)).isFile()) {
        icon.mKind = FromFile;
        icon.mPath = path;
    }
    return icon;
}

Icon Icon::ForExtension(const std::string& extension) {
    Icon icon;
    icon.mKind = extension.empty() ? Document : FileType;
    icon.mPath = extension;
    return icon;
}

Icon Icon::WithLinkBadge() const {
    Icon icon = *this;
    icon.mBadge = true;
    return icon;
}

namespace {

// Without a desktop (offscreen, a bare X server) Qt knows no icon theme and
// no place to look for one: the freedesktop folders are named, and a common
// full theme stands in for icons the current one lacks, but only while a
// file icon is looked up. The icon is kept as pictures and the program's
// theme put back, so that no other icon (a toolbar's) changes with it.
template <class Lookup> QIcon FromIconTheme(Lookup lookup) {
    const QString theme = QIcon::themeName();
    const QString fallback = QIcon::fallbackThemeName();
    const QStringList searchPaths = QIcon::themeSearchPaths();
    QStringList paths = searchPaths;
    for (const QString& dir : QStandardPaths::locateAll(QStandardPaths::GenericDataLocation,
                                                        "icons", QStandardPaths::LocateDirectory))
        if (!paths.contains(dir))
            paths << dir;
    QIcon::setThemeSearchPaths(paths);
    if (theme.isEmpty())
        QIcon::setThemeName("hicolor");
    if (fallback.isEmpty() || fallback == "hicolor")
        QIcon::setFallbackThemeName("Adwaita");
    const QIcon found = lookup();
    QIcon fixed;
    if (!found.isNull())
        for (int size : {16, 22, 24, 32, 48})
            fixed.addPixmap(found.pixmap(size, size));
    QIcon::setThemeSearchPaths(searchPaths);
    QIcon::setThemeName(theme);
    QIcon::setFallbackThemeName(fallback);
    return fixed;
}

// The folder and document icons, from the same theme as the file icons.
QIcon StandardFileIcon(QFileIconProvider::IconType type) {
    static QHash<int, QIcon> cache;
    if (auto it = cache.constFind(type); it != cache.constEnd())
        return *it;
    QIcon icon = FromIconTheme([type] { return QFileIconProvider().icon(type); });
    if (icon.isNull())
        icon = QFileIconProvider().icon(type);
    cache.insert(type, icon);
    return icon;
}

QIcon FileTypeIcon(const std::string& extension) {
    static QHash<QString, QIcon> cache;
    const QString key = QString::fromStdString(extension);
    if (auto it = cache.constFind(key); it != cache.constEnd())
        return *it;
    const QMimeType type =
        QMimeDatabase().mimeTypeForFile("file." + key, QMimeDatabase::MatchExtension);
    QIcon icon;
    if (!type.isDefault())
        icon = FromIconTheme([&type] {
            QIcon themed = QIcon::fromTheme(type.iconName());
            return themed.isNull() ? QIcon::fromTheme(type.genericIconName()) : themed;
        });
    if (icon.isNull())
        icon = StandardFileIcon(QFileIconProvider::File);
    cache.insert(key, icon);
    return icon;
}

QIcon ToQIcon(const Icon& icon) {
    QIcon base;
    switch (icon.GetKind()) {
    case Icon::Folder:
        base = StandardFileIcon(QFileIconProvider::Folder);
        break;
    case Icon::Document:
        base = StandardFileIcon(QFileIconProvider::File);
        break;
    case Icon::FromFile:
        base = QIcon(QString::fromStdString(icon.GetPath()));
        break;
    case Icon::FileType:
        base = FileTypeIcon(icon.GetPath());
        break;
    case Icon::None:
        return {};
    }
    if (!icon.HasLinkBadge())
        return base;
    QPixmap pixmap = base.pixmap(16, 16);
    if (pixmap.isNull())
        return base;
    QPainter painter(&pixmap);
    QIcon badge = QApplication::style()->standardIcon(QStyle::SP_FileLinkIcon);
    painter.drawPixmap(0, 8, badge.pixmap(8, 8));
    return QIcon(pixmap);
}

std::vector<DataBrowser::PropertyID> ParseProperties(const QWidget* widget) {
    std::vector<DataBrowser::PropertyID> properties;
    for (const QString& part : widget->property("properties").toString().split('|'))
        if (uint32_t code = StringToCode(part.toStdString()))
            properties.push_back(code);
    return properties;
}

std::vector<std::string> LocalPaths(const QMimeData* mime) {
    std::vector<std::string> paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            paths.push_back(url.toLocalFile().toStdString());
    return paths;
}

} // namespace

// The model ------------------------------------------------------------------

namespace DataBrowser {

Content::~Content() = default;

class Model : public QAbstractTableModel {
public:
    using QAbstractTableModel::beginInsertRows;
    using QAbstractTableModel::beginRemoveRows;
    using QAbstractTableModel::beginResetModel;
    using QAbstractTableModel::endInsertRows;
    using QAbstractTableModel::endRemoveRows;
    using QAbstractTableModel::endResetModel;

    Model(View* view, std::vector<PropertyID> properties, QStringList titles, QObject* parent)
        : QAbstractTableModel(parent), mView(view), mProperties(std::move(properties)),
          mTitles(std::move(titles)) {}

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(mItems.size());
    }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(mProperties.size());
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
            section < mTitles.size())
            return mTitles[section];
        return {};
    }

    QVariant data(const QModelIndex& index, int role) const override {
        Content* content = mView->GetContent();
        if (!content || !index.isValid() || index.row() >= rowCount({}))
            return {};
        if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::DecorationRole &&
            role != Qt::CheckStateRole)
            return {};
        ItemData cell;
        try {
            content->SupplyItemData(mItems[static_cast<size_t>(index.row())],
                                    mProperties[static_cast<size_t>(index.column())], cell);
        } catch (...) {
            return {};
        }
        switch (role) {
        case Qt::DecorationRole:
            return cell.GetIcon().IsNull() ? QVariant() : QVariant(ToQIcon(cell.GetIcon()));
        case Qt::CheckStateRole:
            if (!cell.HasCheckBox())
                return {};
            return cell.IsChecked() ? Qt::Checked : Qt::Unchecked;
        default:
            if (cell.HasCheckBox())
                return {};
            return QString::fromStdString(cell.GetText());
        }
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        Qt::ItemFlags flags = QAbstractTableModel::flags(index) | Qt::ItemIsDragEnabled;
        Content* content = mView->GetContent();
        if (content && index.isValid() &&
            content->ItemIsEditable(ItemAt(index.row()), mProperties[index.column()]))
            flags |= Qt::ItemIsEditable;
        return flags;
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override {
        Content* content = mView->GetContent();
        if (!content || role != Qt::EditRole || !index.isValid())
            return false;
        ItemData cell;
        cell.SetText(value.toString().toStdString());
        try {
            content->ChangeItemData(ItemAt(index.row()), mProperties[index.column()], cell);
        } catch (...) {
        }
        return true;
    }

    void sort(int column, Qt::SortOrder order) override {
        if (column < 0 || column >= columnCount({}))
            return;
        mSortColumn = column;
        mAscending = order == Qt::AscendingOrder;
        Resort();
    }

    void Resort() {
        Content* content = mView->GetContent();
        if (!content || mSortColumn < 0)
            return;
        PropertyID property = mProperties[static_cast<size_t>(mSortColumn)];
        auto less = [&](ItemID a, ItemID b) {
            try {
                return mAscending ? content->CompareItems(a, b, property)
                                  : content->CompareItems(b, a, property);
            } catch (...) {
                return false;
            }
        };
        // Items added in order (a listing sorted before it was shown) stay
        // as they are: one pass instead of a sort and a relayout.
        if (std::is_sorted(mItems.begin(), mItems.end(), less))
            return;
        std::vector<ItemID> selected = mView->GetSelectedItems();
        emit layoutAboutToBeChanged();
        std::stable_sort(mItems.begin(), mItems.end(), less);
        emit layoutChanged();
        mView->SetSelection(selected);
    }

    ItemID ItemAt(int row) const {
        return row >= 0 && row < rowCount({}) ? mItems[static_cast<size_t>(row)] : 0;
    }
    int RowOf(ItemID item) const {
        auto it = std::find(mItems.begin(), mItems.end(), item);
        return it == mItems.end() ? -1 : static_cast<int>(it - mItems.begin());
    }

    View* mView;
    std::vector<PropertyID> mProperties;
    QStringList mTitles;
    std::vector<ItemID> mItems;
    int mSortColumn = -1;
    bool mAscending = true;
};

View::View() = default;
View::~View() = default;

bool View::Accepts(const QWidget* widget) const {
    return dynamic_cast<const ListWidget*>(widget) && !ParseProperties(widget).empty();
}

namespace {

// How many rows sizing a column to its content measures.
constexpr int kSizingRows = 100;

ListWidget* List(QWidget* widget) {
    return static_cast<ListWidget*>(widget);
}

// Drags out of the list and drops of local files into it go through the content.
void InstallDragHandlers(View* view, ListWidget* list) {
    list->onStartDrag = [view](Qt::DropActions) { StartListDrag(view); };
    list->onDragEnter = [view](QDragEnterEvent* event) {
        if (!view->GetContent() || event->mimeData()->hasFormat(kListItemsMime))
            return false;
        return view->GetContent()->DragIsAcceptable(LocalPaths(event->mimeData()));
    };
    list->onDrop = [view](QDropEvent* event) {
        if (!view->GetContent())
            return;
        auto paths = LocalPaths(event->mimeData());
        if (paths.empty())
            return;
        try {
            view->GetContent()->ReceiveDraggedItems(paths);
        } catch (...) {
        }
    };
}

// The contextual menu the content builds; the chosen command goes back to it.
void InstallContextMenu(View* view, ListWidget* list) {
    list->onContextMenu = [view](QContextMenuEvent* event) {
        if (!view->GetContent())
            return;
        std::vector<MenuEntry> entries;
        view->GetContent()->SupplyContextualMenu(entries);
        if (entries.empty())
            return;
        QMenu menu;
        for (const MenuEntry& entry : entries) {
            if (entry.separator) {
                menu.addSeparator();
                continue;
            }
            QAction* action = menu.addAction(QString::fromStdString(entry.text));
            action->setEnabled(entry.enabled);
            action->setData(QVariant::fromValue<uint>(entry.command));
        }
        QAction* chosen;
        {
            NestedLoop nested;
            chosen = menu.exec(event->globalPos());
        }
        if (chosen) {
            try {
                view->GetContent()->ProcessContextualMenuSelection(chosen->data().toUInt());
            } catch (...) {
            }
        }
    };
}

} // namespace

void View::Connect() {
    ListWidget* list = List(mWidget);
    QStringList titles = mWidget->property("titles").toString().split('|');
    mModel = new Model(this, ParseProperties(mWidget), titles, mWidget);
    list->setModel(mModel);
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSortingEnabled(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    if (list->selectionMode() == QAbstractItemView::SingleSelection ||
        list->selectionMode() == QAbstractItemView::NoSelection)
        ; // as the interface file says
    else
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    list->setDragEnabled(true);
    list->setAcceptDrops(true);
    list->setDropIndicatorShown(false);
    QHeaderView* header = list->header();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSectionsMovable(true);
    // Columns sized to their content look at the rows in view and a few
    // around them, not at every row of a long list.
    header->setResizeContentsPrecision(kSizingRows);

    auto notify = [this](ItemID item, ItemMessage message) {
        if (!mContent)
            return;
        try {
            mContent->NotifyAboutItem(item, message);
        } catch (...) {
        }
    };
    QObject::connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, mWidget,
                     [notify] { notify(0, kSelectionSetChanged); });
    QObject::connect(list, &QAbstractItemView::doubleClicked, mWidget,
                     [this, notify](const QModelIndex& index) {
                         notify(mModel->ItemAt(index.row()), kItemDoubleClicked);
                     });
    list->onReturn = [this, notify](const QModelIndex& index) {
        notify(mModel->ItemAt(index.row()), kItemDoubleClicked);
    };
    // "sortable" lists the properties that order the list; a click on any
    // other column leaves order and indicator alone. Without it every column
    // sorts.
    QStringList sortable = mWidget->property("sortable").toString().split('|', Qt::SkipEmptyParts);
    QObject::connect(
        header, &QHeaderView::sectionClicked, mWidget, [this, notify, sortable](int column) {
            if (!sortable.isEmpty() && column >= 0 &&
                static_cast<size_t>(column) < mModel->mProperties.size() &&
                !sortable.contains(QString::fromStdString(
                    CodeToString(mModel->mProperties[static_cast<size_t>(column)])))) {
                // Qt moves the indicator on its own; put it back.
                List(mWidget)->header()->setSortIndicator(mModel->mSortColumn,
                                                          mModel->mAscending ? Qt::AscendingOrder
                                                                             : Qt::DescendingOrder);
                return;
            }
            bool ascending = !(column == mModel->mSortColumn && mModel->mAscending);
            mModel->sort(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
            List(mWidget)->header()->setSortIndicator(column, ascending ? Qt::AscendingOrder
                                                                        : Qt::DescendingOrder);
            notify(0, kUserStateChanged);
        });
    QObject::connect(header, &QHeaderView::sectionResized, mWidget, [this, notify] {
        if (!mAutoSizing)
            notify(0, kUserStateChanged);
    });
    QObject::connect(header, &QHeaderView::sectionMoved, mWidget,
                     [notify] { notify(0, kUserStateChanged); });

    InstallDragHandlers(this, list);
    InstallContextMenu(this, list);
}

void View::SetContent(Content* content) {
    if (content == mContent.get())
        return;
    if (mModel)
        mModel->layoutAboutToBeChanged();
    mContent.reset(content);
    if (mContent)
        mContent->Install(this);
    if (mModel)
        mModel->layoutChanged();
}

void View::AddItems(const std::vector<ItemID>& items) {
    if (!mModel || items.empty())
        return;
    int first = mModel->rowCount({});
    mModel->beginInsertRows({}, first, first + static_cast<int>(items.size()) - 1);
    mModel->mItems.insert(mModel->mItems.end(), items.begin(), items.end());
    mModel->endInsertRows();
}

void View::RemoveAllItems() {
    if (!mModel)
        return;
    mModel->beginResetModel();
    mModel->mItems.clear();
    mModel->endResetModel();
}

void View::RemoveItems(const std::vector<ItemID>& items) {
    if (!mModel)
        return;
    for (ItemID item : items) {
        int row = mModel->RowOf(item);
        if (row < 0)
            continue;
        mModel->beginRemoveRows({}, row, row);
        mModel->mItems.erase(mModel->mItems.begin() + row);
        mModel->endRemoveRows();
    }
}

void View::UpdateItems(const std::vector<ItemID>& items) {
    if (!mModel)
        return;
    for (ItemID item : items) {
        int row = mModel->RowOf(item);
        if (row >= 0)
            emit mModel->dataChanged(mModel->index(row, 0),
                                     mModel->index(row, mModel->columnCount({}) - 1));
    }
}

size_t View::GetItemCount() const {
    return mModel ? mModel->mItems.size() : 0;
}

std::vector<ItemID> View::GetItemsInOrder() const {
    return mModel ? mModel->mItems : std::vector<ItemID>();
}

void View::SetSortProperty(PropertyID property) {
    if (!mModel)
        return;
    auto it = std::find(mModel->mProperties.begin(), mModel->mProperties.end(), property);
    if (it == mModel->mProperties.end())
        return;
    mModel->mSortColumn = static_cast<int>(it - mModel->mProperties.begin());
    List(mWidget)->header()->setSortIndicator(
        mModel->mSortColumn, mModel->mAscending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

PropertyID View::GetSortProperty() const {
    if (!mModel || mModel->mSortColumn < 0)
        return 0;
    return mModel->mProperties[static_cast<size_t>(mModel->mSortColumn)];
}

void View::SetSortOrderAscending(bool ascending) {
    if (mModel)
        mModel->mAscending = ascending;
}

bool View::GetSortOrderAscending() const {
    return !mModel || mModel->mAscending;
}

void View::Sort() {
    if (mModel)
        mModel->Resort();
}

void View::AutoSizeColumns() {
    if (!mModel)
        return;
    ListWidget* list = List(mWidget);
    QHeaderView* header = list->header();
    const int count = mModel->columnCount({});
    if (count == 0)
        return;
    // Sizing to the content is no change the user made.
    mAutoSizing = true;
    std::vector<int> widths(static_cast<size_t>(count));
    int others = 0;
    for (int i = 0; i < count; ++i) {
        widths[static_cast<size_t>(i)] =
            std::max(list->ContentWidth(i), header->sectionSizeHint(i));
        if (i > 0 && !header->isSectionHidden(i))
            others += widths[static_cast<size_t>(i)];
    }
    // The first column takes what the others leave of the view, or its
    // content's width when less; never less than its title.
    const int room = std::max(list->viewport()->width() - others, 2 * header->sectionSizeHint(0));
    widths[0] = std::min(widths[0], room);
    for (int i = 0; i < count; ++i)
        header->resizeSection(i, widths[static_cast<size_t>(i)]);
    mAutoSizing = false;
}

void View::SetSelection(const std::vector<ItemID>& items) {
    if (!mModel)
        return;
    QItemSelection selection;
    for (ItemID item : items) {
        int row = mModel->RowOf(item);
        if (row >= 0)
            selection.select(mModel->index(row, 0),
                             mModel->index(row, mModel->columnCount({}) - 1));
    }
    QItemSelectionModel* model = List(mWidget)->selectionModel();
    model->select(selection, QItemSelectionModel::ClearAndSelect);
    // The keyboard goes on from the first selected item (Return opens it).
    if (!selection.isEmpty())
        model->setCurrentIndex(selection.front().topLeft(), QItemSelectionModel::NoUpdate);
}

std::vector<ItemID> View::GetSelectedItems() const {
    std::vector<ItemID> items;
    if (!mModel)
        return items;
    // Only the rows the selection's ranges touch are looked at: a long list
    // with few selected costs little.
    QItemSelectionModel* selection = List(mWidget)->selectionModel();
    std::vector<int> rows;
    for (const QItemSelectionRange& range : selection->selection())
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int row : rows)
        if (row >= 0 && row < mModel->rowCount({}) && selection->isRowSelected(row, {}))
            items.push_back(mModel->mItems[static_cast<size_t>(row)]);
    return items;
}

void View::OpenEditor(ItemID item, PropertyID property) {
    if (!mModel)
        return;
    int row = mModel->RowOf(item);
    auto it = std::find(mModel->mProperties.begin(), mModel->mProperties.end(), property);
    if (row < 0 || it == mModel->mProperties.end())
        return;
    List(mWidget)->edit(mModel->index(row, static_cast<int>(it - mModel->mProperties.begin())));
}

void View::RevealItem(ItemID item) {
    if (!mModel)
        return;
    int row = mModel->RowOf(item);
    if (row >= 0)
        List(mWidget)->scrollTo(mModel->index(row, 0));
}

std::vector<PropertyID> View::GetProperties() const {
    return mModel ? mModel->mProperties : std::vector<PropertyID>();
}

UserState View::GetUserState() const {
    UserState state;
    if (!mModel)
        return state;
    QHeaderView* header = List(mWidget)->header();
    for (size_t i = 0; i < mModel->mProperties.size(); ++i) {
        std::string name = CodeToString(mModel->mProperties[i]);
        state["width." + name] = header->sectionSize(static_cast<int>(i));
        state["position." + name] = header->visualIndex(static_cast<int>(i));
    }
    state["sortProperty"] = GetSortProperty();
    state["sortAscending"] = mModel->mAscending ? 1 : 0;
    return state;
}

void View::SetUserState(const UserState& state) {
    if (!mModel)
        return;
    QHeaderView* header = List(mWidget)->header();
    int count = static_cast<int>(mModel->mProperties.size());
    // Columns go to their places from the first place on: each move then
    // leaves the places already filled alone, whatever the order.
    std::vector<std::pair<int64_t, int>> places; // place, column
    for (int i = 0; i < count; ++i) {
        std::string name = CodeToString(mModel->mProperties[static_cast<size_t>(i)]);
        auto it = state.find("position." + name);
        if (it != state.end() && it->second >= 0 && it->second < count)
            places.emplace_back(it->second, i);
    }
    std::sort(places.begin(), places.end());
    for (const auto& [place, column] : places)
        header->moveSection(header->visualIndex(column), static_cast<int>(place));
    // Widths after the order: the last column stretches and takes no width,
    // so one that moves away from the end must get its width where it stands.
    for (int i = 0; i < count; ++i) {
        std::string name = CodeToString(mModel->mProperties[static_cast<size_t>(i)]);
        if (auto it = state.find("width." + name);
            it != state.end() && it->second > 0 && it->second < 10000)
            header->resizeSection(i, static_cast<int>(it->second));
    }
    if (auto it = state.find("sortAscending"); it != state.end())
        mModel->mAscending = it->second != 0;
    if (auto it = state.find("sortProperty"); it != state.end())
        SetSortProperty(static_cast<PropertyID>(it->second));
}

} // namespace DataBrowser

// The nib-bound list --------------------------------------------------------

NibDataBrowserView* NibDataBrowserView::CreatePPxView(SysWindow window, uint32_t signature,
                                                      int32_t id, DataBrowser::Content* content) {
    auto* view = new NibDataBrowserView;
    try {
        view->Initialize(window, ControlID{signature, id}, content);
    } catch (...) {
        bool owned = view->GetContent() == content;
        delete view;
        if (!owned)
            delete content; // ownership passed with the call
        throw;
    }
    return view;
}

void NibDataBrowserView::Initialize(SysWindow window, const ControlID& id,
                                    DataBrowser::Content* content) {
    DataBrowser::View::Initialize(window, id);
    SetContent(content);
}

uint32_t NibDataBrowserView::GetSelectedCount() const {
    if (!mWidget)
        throw OSError(errUnknownControl, "GetDataBrowserItemCount failed");
    return static_cast<uint32_t>(GetSelectedItems().size());
}

DataBrowser::ItemID NibDataBrowserView::GetFirstSelectedItem() const {
    if (!mWidget)
        throw OSError(errUnknownControl, "GetDataBrowserItems failed");
    auto items = GetSelectedItems();
    return items.empty() ? 0 : items.front();
}

DataBrowser::ItemID NibDataBrowserView::GetNextSelectedItem(DataBrowser::ItemID item) const {
    if (!mWidget)
        throw OSError(errUnknownControl, "GetDataBrowserItems failed");
    auto items = GetSelectedItems();
    auto it = std::find(items.begin(), items.end(), item);
    if (it == items.end() || ++it == items.end())
        return 0;
    return *it;
}

void ListWidget::dragEnterEvent(QDragEnterEvent* event) {
    if (onDragEnter && onDragEnter(event))
        event->acceptProposedAction();
    else
        event->ignore();
}

void ListWidget::dragMoveEvent(QDragMoveEvent* event) {
    event->acceptProposedAction();
}

void ListWidget::dropEvent(QDropEvent* event) {
    if (onDrop)
        onDrop(event);
    event->acceptProposedAction();
}

} // namespace PPx
