#include "MenuBar.h"
#include "ppxui/Window.h"

#include <QAction>
#include <QDialog>
#include <QLayout>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QVariant>

namespace PPx {

namespace {

std::string& MenuBarName() {
    static std::string name = "MenuBar";
    return name;
}

bool CommandEnabled(Window* window, uint32_t command) {
    CommandStatus status;
    return window->UpdateStatus(command, status) != eventNotHandledErr && status.enabled;
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
        uint32_t command = StringToCode(action->property("command").toString().toStdString());
        if (command == 0)
            continue;
        QObject::connect(action, &QAction::triggered, bar, [window, command] {
            // A shortcut may fire while the menu is closed: ask first. Menu
            // commands start at the window, then go on to the application.
            if (CommandEnabled(window, command))
                window->ProcessCommand(command);
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
