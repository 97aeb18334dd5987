#include "platform/ui/Toolbar.h"

#include <QAction>
#include <QBoxLayout>
#include <QFileInfo>
#include <QIcon>
#include <QMainWindow>
#include <QPixmap>
#include <QPointer>
#include <QToolBar>
#include <QWidget>

#include <utility>

namespace PPx {

const char* const Toolbar::kSeparatorIdentifier = "com.apple.hitoolbox.toolbar.separator";
const char* const Toolbar::kFlexibleSpaceIdentifier = "com.apple.hitoolbox.toolbar.flexiblespace";

namespace {

QIcon MakeIcon(const ToolbarItem& item) {
    QIcon own;
    if (!item.iconFile.empty()) {
        QString path = QString::fromStdString(item.iconFile);
        // Read now: a file that is missing or no image gives no icon.
        QPixmap pixmap;
        if (QFileInfo(path).isFile() && pixmap.load(path))
            own.addPixmap(pixmap);
    }
    // The program's own picture first: the bar looks the same in every
    // window and on every desktop; the theme only stands in for a missing one.
    if (own.isNull() && !item.iconName.empty()) {
        QString name = QString::fromStdString(item.iconName);
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    }
    return own;
}

} // namespace

struct Toolbar::Impl {
    QPointer<QToolBar> bar;
    // What the bar shows, in order; separators and spaces have no item.
    std::vector<std::string> shown;
    std::vector<std::pair<ToolbarItem, QPointer<QAction>>> items;
    uint32_t size = kDisplaySizeDefault;
    uint32_t mode = kDisplayModeDefault;

    QAction* Find(const std::string& identifier) const {
        for (auto& [item, action] : items)
            if (item.identifier == identifier)
                return action;
        return nullptr;
    }

    void ApplyDisplay() {
        if (!bar)
            return;
        switch (mode) {
        case kDisplayModeIconOnly:
            bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
            break;
        case kDisplayModeLabelOnly:
            bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
            break;
        default:
            bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
            break;
        }
        switch (size) {
        case kDisplaySizeNormal:
            bar->setIconSize(QSize(32, 32));
            break;
        case kDisplaySizeSmall:
            bar->setIconSize(QSize(24, 24));
            break;
        default:
            break; // the style's size
        }
    }
};

Toolbar::Toolbar(const std::string& identifier)
    : mIdentifier(identifier), mImpl(std::make_unique<Impl>()) {}

Toolbar::~Toolbar() {
    delete mImpl->bar.data();
}

void Toolbar::Attach(Window* window) {
    QWidget* top = window ? window->GetSysWindow() : nullptr;
    if (!top)
        throw OSError(paramErr, "SetWindowToolbar failed");
    delete mImpl->bar.data();
    mImpl->items.clear();
    mImpl->shown.clear();
    auto* bar = new QToolBar(QString::fromStdString(mIdentifier));
    bar->setObjectName(QString::fromStdString(mIdentifier));
    bar->setMovable(false);
    mImpl->bar = bar;
    mImpl->ApplyDisplay();
    std::vector<std::string> identifiers;
    GetDefaultIdentifiers(identifiers);
    for (const std::string& identifier : identifiers) {
        if (identifier == kSeparatorIdentifier) {
            bar->addSeparator();
            mImpl->shown.push_back(identifier);
            continue;
        }
        if (identifier == kFlexibleSpaceIdentifier) {
            auto* spacer = new QWidget(bar);
            spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
            bar->addWidget(spacer);
            mImpl->shown.push_back(identifier);
            continue;
        }
        ToolbarItem item;
        item.identifier = identifier;
        if (!CreateItem(identifier, item))
            continue;
        item.identifier = identifier;
        QAction* action = bar->addAction(MakeIcon(item), QString::fromStdString(item.label));
        action->setObjectName(QString::fromStdString(identifier));
        action->setToolTip(QString::fromStdString(item.helpShort));
        action->setStatusTip(QString::fromStdString(item.helpLong));
        uint32_t command = item.command;
        QObject::connect(action, &QAction::triggered, bar,
                         [window, command] { window->ProcessCommand(command); });
        mImpl->items.emplace_back(std::move(item), action);
        mImpl->shown.push_back(identifier);
    }
    if (auto* main = qobject_cast<QMainWindow*>(top))
        main->addToolBar(Qt::TopToolBarArea, bar);
    else if (auto* box = qobject_cast<QBoxLayout*>(top->layout()))
        box->insertWidget(0, bar);
    else
        bar->setParent(top);
}

void Toolbar::Show() {
    if (mImpl->bar)
        mImpl->bar->show();
}

void Toolbar::Hide() {
    if (mImpl->bar)
        mImpl->bar->hide();
}

bool Toolbar::IsShown() const {
    return mImpl->bar && !mImpl->bar->isHidden();
}

void Toolbar::SetDisplaySize(uint32_t size) {
    mImpl->size = size <= kDisplaySizeSmall ? size : kDisplaySizeDefault;
    mImpl->ApplyDisplay();
}

void Toolbar::SetDisplayMode(uint32_t mode) {
    mImpl->mode = mode <= kDisplayModeLabelOnly ? mode : kDisplayModeDefault;
    mImpl->ApplyDisplay();
}

uint32_t Toolbar::GetDisplaySize() const {
    return mImpl->size;
}

uint32_t Toolbar::GetDisplayMode() const {
    return mImpl->mode;
}

void Toolbar::SetItemEnabled(const std::string& identifier, bool enabled) {
    if (QAction* action = mImpl->Find(identifier))
        action->setEnabled(enabled);
}

bool Toolbar::IsItemEnabled(const std::string& identifier) const {
    QAction* action = mImpl->Find(identifier);
    return action && action->isEnabled();
}

bool Toolbar::HasItem(const std::string& identifier) const {
    return mImpl->Find(identifier) != nullptr;
}

bool Toolbar::ItemHasIcon(const std::string& identifier) const {
    QAction* action = mImpl->Find(identifier);
    return action && !action->icon().isNull();
}

bool Toolbar::GetItem(const std::string& identifier, ToolbarItem& out) const {
    for (auto& [item, action] : mImpl->items)
        if (item.identifier == identifier && action) {
            out = item;
            return true;
        }
    return false;
}

std::vector<std::string> Toolbar::GetShownIdentifiers() const {
    return mImpl->bar ? mImpl->shown : std::vector<std::string>();
}

void Toolbar::ClickItem(const std::string& identifier) {
    if (QAction* action = mImpl->Find(identifier))
        action->trigger();
}

} // namespace PPx
