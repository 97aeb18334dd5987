#pragma once
// The list widget the interface files get for every QTreeView: a tree view
// that hands drags and the contextual menu to its list's content.
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTreeView>

#include <functional>

namespace PPx {

class ListWidget : public QTreeView {
public:
    explicit ListWidget(QWidget* parent) : QTreeView(parent) {}
    // The width the cells of COLUMN want.
    int ContentWidth(int column) const { return sizeHintForColumn(column); }

    std::function<void(Qt::DropActions)> onStartDrag;
    std::function<bool(QDragEnterEvent*)> onDragEnter;
    std::function<void(QDropEvent*)> onDrop;
    std::function<void(QContextMenuEvent*)> onContextMenu;
    // Return or Enter on the current item, as a double-click on it.
    std::function<void(const QModelIndex&)> onReturn;

protected:
    void startDrag(Qt::DropActions actions) override {
        if (onStartDrag)
            onStartDrag(actions);
    }
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && onReturn && state() != EditingState && currentIndex().isValid() &&
            event->modifiers() == Qt::NoModifier) {
            onReturn(currentIndex());
            event->accept();
            return;
        }
        QTreeView::keyPressEvent(event);
    }
    void contextMenuEvent(QContextMenuEvent* event) override {
        if (onContextMenu)
            onContextMenu(event);
    }
    // A plain click on one row of several selected ones selects that row
    // alone, as in any file manager. Qt would keep them all selected and
    // start editing the row's name: editing is only for a click on the one
    // row already selected. (The press leaves the selection alone, so that a
    // drag takes all of it.)
    void mousePressEvent(QMouseEvent* event) override {
        const QModelIndex index = indexAt(event->position().toPoint());
        mPressOnOneOfMany = event->button() == Qt::LeftButton &&
                            event->modifiers() == Qt::NoModifier && index.isValid() &&
                            selectionModel() && selectionModel()->isSelected(index) &&
                            SeveralRowsSelected();
        QTreeView::mousePressEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (!mPressOnOneOfMany) {
            QTreeView::mouseReleaseEvent(event);
            return;
        }
        mPressOnOneOfMany = false;
        const EditTriggers triggers = editTriggers();
        setEditTriggers(triggers & ~SelectedClicked);
        QTreeView::mouseReleaseEvent(event);
        setEditTriggers(triggers);
    }

private:
    bool SeveralRowsSelected() const {
        int rows = 0;
        for (const QItemSelectionRange& range : selectionModel()->selection())
            if ((rows += range.height()) > 1)
                return true;
        return false;
    }

    bool mPressOnOneOfMany = false;
};

} // namespace PPx
