#include "platform/ui/Views.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPoint>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolButton>
#include <QVariant>

#include <algorithm>

namespace PPx {

// Lives as a child of the widget and takes the wrapper with it.
class ViewOwner : public QObject {
public:
    ViewOwner(QWidget* widget, View* view) : QObject(widget), mView(view) {}
    ~ViewOwner() override {
        if (mView) {
            mView->mOwner = nullptr;
            mView->mWidget = nullptr;
            delete mView;
        }
    }
    View* mView;
};

namespace {

QWidget* FindIn(QWidget* root, const QString& name) {
    if (root->objectName() == name)
        return root;
    return root->findChild<QWidget*>(name);
}

} // namespace

QWidget* FindControl(SysWindow window, uint32_t signature) {
    if (!window || signature == 0)
        return nullptr;
    return FindIn(window, QString::fromLatin1(CodeToString(signature).c_str(), 4));
}

View::~View() {
    for (Window::Busy* busy : mBusy)
        delete busy;
    if (mOwner) {
        static_cast<ViewOwner*>(mOwner)->mView = nullptr;
        delete mOwner;
    }
}

void View::Initialize(SysWindow window, const ControlID& id) {
    QWidget* widget = id.id == 100 ? FindControl(window, id.signature) : nullptr;
    if (!widget || !Accepts(widget) || FromWidget(widget))
        throw OSError(errUnknownControl, "GetControlByID failed");
    mWidget = widget;
    mSignature = id.signature;
    mOwner = new ViewOwner(widget, this);
    Window* owner = Window::GetWindowObject(window);
    SetParent(owner ? static_cast<EventTarget*>(owner) : &ApplicationTarget());
    Connect();
}

View* View::FromWidget(const QWidget* widget) {
    if (!widget)
        return nullptr;
    for (QObject* child : widget->children())
        if (auto* owner = dynamic_cast<ViewOwner*>(child))
            return owner->mView;
    return nullptr;
}

uint32_t View::GetCommand() const {
    if (!mWidget)
        return 0;
    return StringToCode(mWidget->property("command").toString().toStdString());
}

void View::SetCommand(uint32_t command) {
    if (mWidget)
        mWidget->setProperty("command",
                             command ? QString::fromStdString(CodeToString(command)) : QString());
}

void View::SetEnabled(bool enabled) {
    if (mWidget)
        mWidget->setEnabled(enabled);
}
bool View::IsEnabled() const {
    return mWidget && mWidget->isEnabled();
}
void View::SetVisible(bool visible) {
    if (mWidget)
        mWidget->setVisible(visible);
}
bool View::IsVisible() const {
    return mWidget && !mWidget->isHidden();
}
void View::SetFocus() {
    if (mWidget)
        mWidget->setFocus(Qt::OtherFocusReason);
}
bool View::HasFocus() const {
    return mWidget && mWidget->hasFocus();
}

std::string View::GetText() const {
    if (auto* label = qobject_cast<QLabel*>(mWidget))
        return label->text().toStdString();
    if (auto* box = qobject_cast<QGroupBox*>(mWidget))
        return box->title().toStdString();
    return {};
}

void View::SetText(const std::string& text) {
    if (auto* label = qobject_cast<QLabel*>(mWidget))
        label->setText(QString::fromStdString(text));
    else if (auto* box = qobject_cast<QGroupBox*>(mWidget))
        box->setTitle(QString::fromStdString(text));
}

void View::SimulateClick() {
    if (auto* button = qobject_cast<QAbstractButton*>(mWidget)) {
        button->click();
        return;
    }
    SendCommand();
}

void View::SendCommand() {
    uint32_t command = GetCommand();
    if (command != 0)
        ProcessCommand(command);
}

void View::EnterHandler() {
    if (!mWidget)
        return;
    mBusy.push_back(new Window::Busy(Window::GetWindowObject(mWidget->window())));
}

void View::LeaveHandler() {
    if (mBusy.empty())
        return;
    delete mBusy.back();
    mBusy.pop_back();
}

// Buttons -------------------------------------------------------------------

bool PushButton::Accepts(const QWidget* widget) const {
    return qobject_cast<const QAbstractButton*>(widget) &&
           !qobject_cast<const QCheckBox*>(widget) && !qobject_cast<const QRadioButton*>(widget);
}

void PushButton::Connect() {
    QObject::connect(static_cast<QAbstractButton*>(mWidget), &QAbstractButton::clicked, mOwner,
                     [this] { SendCommand(); });
}

void PushButton::SetDefault(bool isDefault) {
    if (auto* button = qobject_cast<QPushButton*>(mWidget)) {
        button->setAutoDefault(isDefault);
        button->setDefault(isDefault);
    }
}

std::string PushButton::GetText() const {
    auto* button = qobject_cast<QAbstractButton*>(mWidget);
    return button ? button->text().toStdString() : std::string();
}

void PushButton::SetText(const std::string& text) {
    if (auto* button = qobject_cast<QAbstractButton*>(mWidget))
        button->setText(QString::fromStdString(text));
}

bool CheckBox::Accepts(const QWidget* widget) const {
    return qobject_cast<const QCheckBox*>(widget);
}

void CheckBox::Connect() {
    QObject::connect(static_cast<QCheckBox*>(mWidget), &QCheckBox::clicked, mOwner,
                     [this] { SendCommand(); });
}

int32_t CheckBox::GetValue() const {
    auto* box = qobject_cast<QCheckBox*>(mWidget);
    return box && box->isChecked() ? 1 : 0;
}

void CheckBox::SetValue(int32_t value) {
    if (auto* box = qobject_cast<QCheckBox*>(mWidget))
        box->setChecked(value != 0);
}

std::string CheckBox::GetText() const {
    auto* box = qobject_cast<QCheckBox*>(mWidget);
    return box ? box->text().toStdString() : std::string();
}

void CheckBox::SetText(const std::string& text) {
    if (auto* box = qobject_cast<QCheckBox*>(mWidget))
        box->setText(QString::fromStdString(text));
}

bool CheckBoxGroupBox::Accepts(const QWidget* widget) const {
    auto* box = qobject_cast<const QGroupBox*>(widget);
    return box && box->isCheckable();
}

void CheckBoxGroupBox::Connect() {
    QObject::connect(static_cast<QGroupBox*>(mWidget), &QGroupBox::clicked, mOwner,
                     [this] { SendCommand(); });
}

int32_t CheckBoxGroupBox::GetValue() const {
    auto* box = qobject_cast<QGroupBox*>(mWidget);
    return box && box->isChecked() ? 1 : 0;
}

void CheckBoxGroupBox::SetValue(int32_t value) {
    if (auto* box = qobject_cast<QGroupBox*>(mWidget))
        box->setChecked(value != 0);
}

// Text ----------------------------------------------------------------------

bool EditUnicodeText::Accepts(const QWidget* widget) const {
    return qobject_cast<const QLineEdit*>(widget);
}

std::string EditUnicodeText::GetText() const {
    auto* edit = qobject_cast<QLineEdit*>(mWidget);
    return edit ? edit->text().toStdString() : std::string();
}

void EditUnicodeText::SetText(const std::string& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(mWidget))
        edit->setText(QString::fromStdString(text));
}

void EditUnicodeText::SelectAll() {
    if (auto* edit = qobject_cast<QLineEdit*>(mWidget))
        edit->selectAll();
}

void EditUnicodeText::SetPassword(bool hidden) {
    if (auto* edit = qobject_cast<QLineEdit*>(mWidget))
        edit->setEchoMode(hidden ? QLineEdit::Password : QLineEdit::Normal);
}

bool StaticText::Accepts(const QWidget* widget) const {
    return qobject_cast<const QLabel*>(widget);
}

namespace {

// Fits a label's whole text to its width again whenever that changes.
class MiddleTruncation : public QObject {
public:
    explicit MiddleTruncation(QLabel* label) : QObject(label), mWhole(label->text()) {
        label->installEventFilter(this);
    }
    std::string Whole() const { return mWhole.toStdString(); }
    void SetWhole(const std::string& text) {
        mWhole = QString::fromStdString(text);
        Apply();
    }
    void Apply() {
        auto* label = static_cast<QLabel*>(parent());
        const QString& whole = mWhole;
        label->setText(label->fontMetrics().elidedText(whole, Qt::ElideMiddle,
                                                       std::max(label->contentsRect().width(), 1)));
        label->setToolTip(label->text() == whole ? QString() : whole);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parent() && event->type() == QEvent::Resize)
            Apply();
        return false;
    }

private:
    QString mWhole;
};

} // namespace

void StaticText::SetMiddleTruncation() {
    auto* label = qobject_cast<QLabel*>(mWidget);
    if (!label || mTruncation)
        return;
    label->setWordWrap(false);
    label->setTextFormat(Qt::PlainText);
    // The text follows the width, not the other way round.
    label->setSizePolicy(QSizePolicy::Ignored, label->sizePolicy().verticalPolicy());
    auto* truncation = new MiddleTruncation(label);
    mTruncation = truncation;
    truncation->Apply();
}

std::string StaticText::GetText() const {
    return mTruncation ? static_cast<MiddleTruncation*>(mTruncation)->Whole() : View::GetText();
}

void StaticText::SetText(const std::string& text) {
    if (!mTruncation) {
        View::SetText(text);
        return;
    }
    static_cast<MiddleTruncation*>(mTruncation)->SetWhole(text);
}

bool TextView::Accepts(const QWidget* widget) const {
    return qobject_cast<const QPlainTextEdit*>(widget) || qobject_cast<const QTextEdit*>(widget);
}

std::string TextView::GetText() const {
    if (auto* plain = qobject_cast<QPlainTextEdit*>(mWidget))
        return plain->toPlainText().toStdString();
    if (auto* rich = qobject_cast<QTextEdit*>(mWidget))
        return rich->toPlainText().toStdString();
    return {};
}

void TextView::SetText(const std::string& text) {
    if (auto* plain = qobject_cast<QPlainTextEdit*>(mWidget))
        plain->setPlainText(QString::fromStdString(text));
    else if (auto* rich = qobject_cast<QTextEdit*>(mWidget))
        rich->setPlainText(QString::fromStdString(text));
}

// Pop-up menu ---------------------------------------------------------------

bool PopupButton::Accepts(const QWidget* widget) const {
    return qobject_cast<const QComboBox*>(widget);
}

void PopupButton::Connect() {
    QObject::connect(static_cast<QComboBox*>(mWidget), &QComboBox::activated, mOwner,
                     [this](int) { SendCommand(); });
}

int32_t PopupButton::GetValue() const {
    auto* combo = qobject_cast<QComboBox*>(mWidget);
    return combo ? combo->currentIndex() + 1 : 0;
}

void PopupButton::SetValue(int32_t value) {
    auto* combo = qobject_cast<QComboBox*>(mWidget);
    if (combo && value >= 1 && value <= combo->count())
        combo->setCurrentIndex(value - 1);
}

int32_t PopupButton::GetMaxValue() const {
    auto* combo = qobject_cast<QComboBox*>(mWidget);
    return combo ? combo->count() : 0;
}

void PopupButton::RemoveAllItems() {
    if (auto* combo = qobject_cast<QComboBox*>(mWidget))
        combo->clear();
}

void PopupButton::AppendItem(const std::string& text, uint32_t command) {
    if (auto* combo = qobject_cast<QComboBox*>(mWidget))
        combo->addItem(QString::fromStdString(text), QVariant::fromValue<uint>(command));
}

void PopupButton::AppendSeparator() {
    if (auto* combo = qobject_cast<QComboBox*>(mWidget))
        combo->insertSeparator(combo->count());
}

void PopupButton::InsertItem(int32_t after, const std::string& text, uint32_t command) {
    auto* combo = qobject_cast<QComboBox*>(mWidget);
    if (!combo)
        return;
    int at = std::clamp(after, 0, combo->count());
    combo->insertItem(at, QString::fromStdString(text), QVariant::fromValue<uint>(command));
}

std::string PopupButton::GetItemText(int32_t index) const {
    auto* combo = qobject_cast<QComboBox*>(mWidget);
    if (!combo || index < 1 || index > combo->count())
        return {};
    return combo->itemText(index - 1).toStdString();
}

uint32_t PopupButton::GetItemCommand(int32_t index) const {
    auto* combo = qobject_cast<QComboBox*>(mWidget);
    if (!combo || index < 1 || index > combo->count())
        return 0;
    return combo->itemData(index - 1).toUInt();
}

// Progress ------------------------------------------------------------------

bool ProgressBar::Accepts(const QWidget* widget) const {
    return qobject_cast<const QProgressBar*>(widget);
}

int32_t ProgressBar::GetValue() const {
    auto* bar = qobject_cast<QProgressBar*>(mWidget);
    return bar ? bar->value() : 0;
}

void ProgressBar::SetValue(int32_t value) {
    if (auto* bar = qobject_cast<QProgressBar*>(mWidget))
        bar->setValue(value);
}

int32_t ProgressBar::GetMaxValue() const {
    auto* bar = qobject_cast<QProgressBar*>(mWidget);
    return bar ? bar->maximum() : 0;
}

void ProgressBar::SetMaxValue(int32_t value) {
    if (auto* bar = qobject_cast<QProgressBar*>(mWidget))
        bar->setMaximum(value);
}

void ProgressBar::SetMinValue(int32_t value) {
    if (auto* bar = qobject_cast<QProgressBar*>(mWidget))
        bar->setMinimum(value);
}

void ProgressBar::SetIndeterminate(bool on) {
    auto* bar = qobject_cast<QProgressBar*>(mWidget);
    if (!bar)
        return;
    // Qt shows a busy bar for the range 0-0; the range set before comes back
    // when the bar is determinate again.
    if (on) {
        if (bar->maximum() != 0 || bar->minimum() != 0)
            bar->setProperty("ppxRange", QPoint(bar->minimum(), bar->maximum()));
        bar->setRange(0, 0);
    } else if (bar->maximum() == 0 && bar->minimum() == 0) {
        QVariant range = bar->property("ppxRange");
        QPoint r = range.isValid() ? range.toPoint() : QPoint(0, 100);
        bar->setRange(r.x(), r.y());
    }
}

// Radio group ---------------------------------------------------------------

namespace {

QList<QRadioButton*> Radios(QWidget* group) {
    return group ? group->findChildren<QRadioButton*>() : QList<QRadioButton*>();
}

} // namespace

bool RadioGroup::Accepts(const QWidget* widget) const {
    return !qobject_cast<const QAbstractButton*>(widget) &&
           !Radios(const_cast<QWidget*>(widget)).isEmpty();
}

void RadioGroup::Connect() {
    for (QRadioButton* radio : Radios(mWidget))
        QObject::connect(radio, &QRadioButton::clicked, mOwner, [this] { SendCommand(); });
}

int32_t RadioGroup::GetValue() const {
    auto radios = Radios(mWidget);
    for (int i = 0; i < radios.size(); ++i)
        if (radios[i]->isChecked())
            return i + 1;
    return 0;
}

void RadioGroup::SetValue(int32_t value) {
    auto radios = Radios(mWidget);
    if (value >= 1 && value <= radios.size())
        radios[value - 1]->setChecked(true);
}

int32_t RadioGroup::GetMaxValue() const {
    return static_cast<int32_t>(Radios(mWidget).size());
}

// Tabs ----------------------------------------------------------------------

bool TabView::Accepts(const QWidget* widget) const {
    return qobject_cast<const QTabWidget*>(widget);
}

void TabView::Connect() {
    QObject::connect(static_cast<QTabWidget*>(mWidget), &QTabWidget::tabBarClicked, mOwner,
                     [this](int index) {
                         auto* tabs = static_cast<QTabWidget*>(mWidget);
                         if (index >= 0)
                             tabs->setCurrentIndex(index);
                         SendCommand();
                     });
}

int32_t TabView::GetValue() const {
    auto* tabs = qobject_cast<QTabWidget*>(mWidget);
    return tabs ? tabs->currentIndex() + 1 : 0;
}

void TabView::SetValue(int32_t value) {
    auto* tabs = qobject_cast<QTabWidget*>(mWidget);
    if (tabs && value >= 1 && value <= tabs->count())
        tabs->setCurrentIndex(value - 1);
}

int32_t TabView::GetMaxValue() const {
    auto* tabs = qobject_cast<QTabWidget*>(mWidget);
    return tabs ? tabs->count() : 0;
}

void NibTabView::Initialize(SysWindow window, const ControlID& id) {
    TabView::Initialize(window, id);
    mPanels.clear();
    auto* tabs = static_cast<QTabWidget*>(mWidget);
    for (int i = 0; i < tabs->count(); ++i)
        mPanels.push_back(tabs->widget(i));
}

Panel NibTabView::GetPanel(int32_t index) const {
    if (index < 0 || index >= GetPanelCount())
        return Panel{};
    return Panel{mPanels[static_cast<size_t>(index)]};
}

uint32_t Panel::GetSignature() const {
    return widget ? StringToCode(widget->objectName().toStdString()) : 0;
}

void Panel::SetEnabled(bool enabled) const {
    if (widget)
        widget->setEnabled(enabled);
}

void Panel::SetVisible(bool visible) const {
    if (widget)
        widget->setVisible(visible);
}

} // namespace PPx
