#include "platform/ui/testing/Testing.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Views.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace PPx::Testing {

namespace {

QMessageBox* Alert() {
    for (QWidget* widget : QApplication::allWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
            return box;
    return nullptr;
}

QFileDialog* Chooser() {
    for (QWidget* widget : QApplication::allWidgets())
        if (auto* dialog = qobject_cast<QFileDialog*>(widget); dialog && dialog->isVisible())
            return dialog;
    return nullptr;
}

} // namespace

AlertInfo CurrentAlert() {
    AlertInfo info;
    QMessageBox* box = Alert();
    if (!box)
        return info;
    info.shown = true;
    // The texts as given, without the joiners that keep paths whole.
    info.message = QString(box->text()).remove(QChar(kWordJoiner)).toStdString();
    info.explanation = QString(box->informativeText()).remove(QChar(kWordJoiner)).toStdString();
    for (QAbstractButton* button : box->buttons())
        info.buttons.push_back(button->text().toStdString());
    // The box lists buttons by role; the alert added them first to third.
    std::vector<std::pair<int, std::string>> ordered;
    for (QAbstractButton* button : box->buttons()) {
        int role = box->buttonRole(button);
        int order = role == QMessageBox::AcceptRole ? 0 : role == QMessageBox::RejectRole ? 1 : 2;
        ordered.emplace_back(order, button->text().toStdString());
    }
    std::sort(ordered.begin(), ordered.end());
    info.buttons.clear();
    for (auto& [order, text] : ordered)
        info.buttons.push_back(text);
    if (box->defaultButton())
        info.defaultButton = box->defaultButton()->text().toStdString();
    if (box->escapeButton())
        info.escapeButton = box->escapeButton()->text().toStdString();
    info.sheet = box->property("ppxSheet").toBool();
    return info;
}

bool ClickAlertButton(const std::string& text) {
    QMessageBox* box = Alert();
    if (!box)
        return false;
    for (QAbstractButton* button : box->buttons())
        if (button->text().toStdString() == text) {
            button->click();
            return true;
        }
    return false;
}

bool PressEscapeOnAlert() {
    QMessageBox* box = Alert();
    if (!box)
        return false;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(box, &press);
    return true;
}

bool CloseAlertByWindowManager() {
    QMessageBox* box = Alert();
    if (!box)
        return false;
    QCloseEvent close;
    QCoreApplication::sendEvent(box, &close);
    return true;
}

bool ChooseInChooser(const std::vector<std::string>& paths) {
    QFileDialog* dialog = Chooser();
    if (!dialog || paths.empty())
        return false;
    QString folder = QFileInfo(QString::fromStdString(paths.front())).absolutePath();
    if (dialog->acceptMode() == QFileDialog::AcceptSave || paths.size() == 1) {
        if (dialog->fileMode() == QFileDialog::Directory) {
            dialog->setDirectory(QFileInfo(QString::fromStdString(paths.front())).absolutePath());
        } else {
            dialog->setDirectory(folder);
        }
    } else {
        dialog->setDirectory(folder);
    }
    QStringList names;
    for (const std::string& path : paths)
        names << QFileInfo(QString::fromStdString(path)).fileName();
    QString text = names.size() == 1 ? names.front() : "\"" + names.join("\" \"") + "\"";
    if (auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit"))
        edit->setText(text);
    else
        dialog->selectFile(text);
    static_cast<QDialog*>(dialog)->accept();
    return true;
}

bool CancelChooser() {
    QFileDialog* dialog = Chooser();
    if (!dialog)
        return false;
    dialog->reject();
    return true;
}

bool ChooserShown() {
    return Chooser() != nullptr;
}

void Later(std::function<void()> action) {
    QTimer::singleShot(0, qApp, std::move(action));
}

void ProcessEvents() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool ClickControl(SysWindow window, uint32_t signature) {
    QWidget* widget = FindControl(window, signature);
    if (!widget)
        return false;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->click();
        return true;
    }
    if (View* view = View::FromWidget(widget)) {
        view->SimulateClick();
        return true;
    }
    return false;
}

bool PressKeys(SysWindow window, const std::string& keys) {
    if (!window || !window->isVisible())
        return false;
    // Shortcuts answer only in the active window.
    window->activateWindow();
    QApplication::setActiveWindow(window);
    QWidget* target = window->focusWidget() ? window->focusWidget() : window;
    QTest::keySequence(target, QKeySequence(QString::fromStdString(keys)));
    ProcessEvents();
    return true;
}

} // namespace PPx::Testing
