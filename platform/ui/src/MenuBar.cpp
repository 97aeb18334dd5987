#include "platform/ui/src/MenuBar.h"
#include "platform/ui/Window.h"

#include <QAbstractItemView>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDialog>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QVariant>

#include <memory>

namespace PPx {

namespace {

std::string& MenuBarName() {
    static std::string name = "MenuBar";
    return name;
}

// The open windows the Window menu lists, after its own items: the front
// one checked; choosing one brings it to the front.
void ListWindows(QMenu* menu) {
    for (QAction* action : menu->actions())
        if (action->property("ppxListedWindow").toBool()) {
            menu->removeAction(action);
            action->deleteLater();
        }
    for (QActionGroup* old : menu->findChildren<QActionGroup*>(Qt::FindDirectChildrenOnly))
        if (old->property("ppxListedWindow").toBool())
            old->deleteLater();
    Window* front = Window::FrontWindow();
    auto* group = new QActionGroup(menu); // one mark, as radio items show it
    group->setProperty("ppxListedWindow", true);
    bool first = true;
    for (Window* window : Window::AllWindows()) {
        if (!window->IsListedInWindowMenu() || !window->IsVisible())
            continue;
        if (first) {
            QAction* separator = menu->addSeparator();
            separator->setProperty("ppxListedWindow", true);
            first = false;
        }
        QString title = window->GetSysWindow()->windowTitle();
        QAction* item = menu->addAction(title.replace('&', "&&"));
        item->setProperty("ppxListedWindow", true);
        item->setCheckable(true);
        item->setChecked(window == front);
        group->addAction(item);
        std::weak_ptr<bool> alive = window->AliveFlag();
        QObject::connect(item, &QAction::triggered, item, [window, alive] {
            if (!alive.expired())
                window->Select();
        });
    }
}

// Select All that no window handles selects everything in the control
// with the keyboard focus: a list's items or a field's text.
constexpr uint32_t kSelectAll = 'sall';

QWidget* SelectAllTarget(Window* window) {
    QWidget* focus = QApplication::focusWidget();
    if (!focus || !focus->isEnabled() || focus->window() != window->GetSysWindow())
        return nullptr;
    if (qobject_cast<QAbstractItemView*>(focus) || qobject_cast<QLineEdit*>(focus))
        return focus;
    return nullptr;
}

bool CommandEnabled(Window* window, uint32_t command) {
    CommandStatus status;
    if (window->UpdateStatus(command, status) != eventNotHandledErr)
        return status.enabled;
    return command == kSelectAll && SelectAllTarget(window) != nullptr;
}

void RunCommand(Window* window, uint32_t command) {
    CommandStatus status;
    if (command == kSelectAll && window->UpdateStatus(command, status) == eventNotHandledErr) {
        QWidget* target = SelectAllTarget(window);
        if (auto* list = qobject_cast<QAbstractItemView*>(target))
            list->selectAll();
        else if (auto* field = qobject_cast<QLineEdit*>(target))
            field->selectAll();
        return;
    }
    window->ProcessCommand(command);
}

// Makes a menu bar for WINDOW from the nib's "MenuBar": the menus of the
// QMainWindow it describes, moved over to the window.
QMenuBar* MakeMenuBar(Window* window) {
    if (MenuBarName().empty())
        return nullptr;
    SysWindow source = SysNib().CreateWindow(MenuBarName());
    if (!source)
        return nullptr;
    QMenuBar* bar = source->findChild<QMenuBar*>();
    if (!bar) {
        delete source;
        return nullptr;
    }
    bar->setParent(nullptr);
    for (QAction* action : source->findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly))
        action->setParent(bar);
    delete source;
    for (QAction* action : bar->findChildren<QAction*>()) {
        // "shortcuts" gives an item more keys than one ("Del|Ctrl+Backspace").
        const QString keys = action->property("shortcuts").toString();
        if (!keys.isEmpty()) {
            QList<QKeySequence> sequences;
            for (const QString& key : keys.split('|', Qt::SkipEmptyParts))
                sequences << QKeySequence(key);
            action->setShortcuts(sequences);
        }
        uint32_t command = StringToCode(action->property("command").toString().toStdString());
        if (command == 0)
            continue;
        QObject::connect(action, &QAction::triggered, bar, [window, command] {
            // A shortcut may fire while the menu is closed: ask first. Menu
            // commands start at the window, then go on to the application.
            if (CommandEnabled(window, command))
                RunCommand(window, command);
        });
    }
    for (QMenu* menu : bar->findChildren<QMenu*>()) {
        QObject::connect(menu, &QMenu::aboutToShow, bar, [window, menu] {
            for (QAction* action : menu->actions()) {
                uint32_t command =
                    StringToCode(action->property("command").toString().toStdString());
                if (command != 0)
                    action->setEnabled(CommandEnabled(window, command));
            }
        });
        if (menu->property("windowList").toBool())
            QObject::connect(menu, &QMenu::aboutToShow, bar, [menu] { ListWindows(menu); });
        // Closed, every item is enabled again so that its shortcut reaches
        // the check above.
        QObject::connect(menu, &QMenu::aboutToHide, bar, [menu] {
            for (QAction* action : menu->actions())
                if (!action->property("command").toString().isEmpty())
                    action->setEnabled(true);
        });
    }
    return bar;
}

} // namespace

void AttachWindowKeys(Window* window, QWidget* widget) {
    if (qobject_cast<QDialog*>(widget))
        return;
    auto* close = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), widget);
    QObject::connect(close, &QShortcut::activated, widget, [window] { window->Close(); });
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), widget);
    QObject::connect(quit, &QShortcut::activated, widget,
                     [window] { window->ProcessCommand('quit'); });
}

void SetMenuBar(const std::string& nibName) {
    MenuBarName() = nibName;
}

const std::string& GetMenuBarName() {
    return MenuBarName();
}

void AttachMenuBar(Window* window, QWidget* widget) {
    if (qobject_cast<QDialog*>(widget))
        return;
    QMenuBar* bar = MakeMenuBar(window);
    if (!bar)
        return;
    // F10 opens the first menu, as on every Linux desktop.
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), widget);
    QObject::connect(f10, &QShortcut::activated, bar, [bar] {
        for (QAction* action : bar->actions())
            if (action->menu() && action->isVisible() && action->isEnabled()) {
                bar->setActiveAction(action);
                return;
            }
    });
    if (auto* main = qobject_cast<QMainWindow*>(widget))
        main->setMenuBar(bar);
    else if (widget->layout())
        widget->layout()->setMenuBar(bar);
    else
        bar->setParent(widget);
}

} // namespace PPx
