#include "platform/ui/Dialogs.h"
#include "platform/ui/Window.h"
#include "platform/ui/src/Nesting.h"
#include "platform/ui/src/Placement.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>

#include <memory>

namespace PPx {

namespace {

QMessageBox::Icon IconFor(AlertType type) {
    switch (type) {
    case kAlertStopAlert:
        return QMessageBox::Critical;
    case kAlertCautionAlert:
        return QMessageBox::Warning;
    case kAlertPlainAlert:
        return QMessageBox::NoIcon;
    default:
        return QMessageBox::Information;
    }
}

// Ends the alert's loop with a code: a button, Escape, or the window
// manager's close.
class AlertWatcher : public QObject {
public:
    AlertWatcher(QMessageBox* box, QEventLoop* loop, uint32_t closeCode, uint32_t escapeCode)
        : QObject(box), mLoop(loop), mCloseCode(closeCode), mEscapeCode(escapeCode) {
        box->installEventFilter(this);
    }
    uint32_t mResult = 0;
    bool mDone = false;

    void Finish(uint32_t code) {
        if (mDone)
            return;
        mDone = true;
        mResult = code;
        mLoop->exit(0);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            event->ignore();
            Finish(mCloseCode);
            return true;
        }
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            // The Escape button, else what closing the alert answers: the
            // cancel-like answer.
            Finish(mEscapeCode != 0 ? mEscapeCode : mCloseCode);
            return true;
        }
        return false;
    }

private:
    QEventLoop* mLoop;
    uint32_t mCloseCode;
    uint32_t mEscapeCode;
};

// An alert over its window: centred on it once its size is final (a
// message box settles its size only as it is shown), still before the
// window manager first maps it.
class PlacedMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        if (parentWidget())
            setGeometry(CentredOver(this, size(), parentWidget()));
    }
};

// The text as the alert shows it: a path is not broken after each "/", which
// would leave a lone "/" at a line's end, but only at its blanks (or
// anywhere, when a part is wider than the alert).
QString KeepPathsWhole(const std::string& text) {
    QString shown = QString::fromStdString(text);
    for (qsizetype i = shown.size() - 2; i >= 0; --i)
        if (shown.at(i) == '/' && !shown.at(i + 1).isSpace())
            shown.insert(i + 1, kWordJoiner);
    return shown;
}

} // namespace

OSStatus RunAlert(Window* parent, AlertType type, const std::string& message,
                  const std::string& explanation, const AlertButtons& buttons, uint32_t& result) {
    QWidget* parentWidget = parent ? parent->GetSysWindow() : nullptr;
    auto* box = new PlacedMessageBox(parentWidget);
    box->setObjectName("ppxAlert");
    // Titled as the window it is about, or as the program.
    QString title = parentWidget ? parentWidget->windowTitle() : QString();
    box->setWindowTitle(title.isEmpty() ? QApplication::applicationName() : title);
    box->setIcon(IconFor(type));
    // Alert texts often come from servers: never interpret them as markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(KeepPathsWhole(message));
    box->setInformativeText(KeepPathsWhole(explanation));
    QAbstractButton* made[3] = {nullptr, nullptr, nullptr};
    uint32_t escapeCode = 0;
    for (int i = 0; i < 3; ++i) {
        if (buttons.text[i].empty())
            continue;
        QMessageBox::ButtonRole role = i == 0   ? QMessageBox::AcceptRole
                                       : i == 1 ? QMessageBox::RejectRole
                                                : QMessageBox::DestructiveRole;
        made[i] = box->addButton(QString::fromStdString(buttons.text[i]), role);
        made[i]->setProperty("ppxCode", QVariant::fromValue<uint>(buttons.code[i]));
    }
    // Set explicitly: Qt would otherwise guess from the roles.
    if (buttons.defaultButton >= 1 && buttons.defaultButton <= 3 && made[buttons.defaultButton - 1])
        box->setDefaultButton(static_cast<QPushButton*>(made[buttons.defaultButton - 1]));
    if (buttons.cancelButton >= 1 && buttons.cancelButton <= 3 && made[buttons.cancelButton - 1]) {
        box->setEscapeButton(made[buttons.cancelButton - 1]);
        escapeCode = buttons.code[buttons.cancelButton - 1];
    }

    QEventLoop loop;
    auto* watcher = new AlertWatcher(box, &loop, buttons.closeCode, escapeCode);
    QObject::connect(box, &QMessageBox::buttonClicked, watcher, [watcher](QAbstractButton* b) {
        watcher->Finish(b->property("ppxCode").toUInt());
    });
    std::unique_ptr<SheetWindow> sheetOwner;
    std::unique_ptr<Window::Busy> busy;
    if (parentWidget) {
        box->setWindowModality(Qt::WindowModal);
        box->setProperty("ppxSheet", true);
        busy = std::make_unique<Window::Busy>(parent); // a close of the parent waits
    } else {
        box->setWindowModality(Qt::ApplicationModal);
    }
    box->show();
    {
        NestedLoop nested;
        loop.exec(QEventLoop::DialogExec);
    }
    result = watcher->mResult;
    box->hide();
    box->deleteLater();
    return noErr;
}

void StandardAlert(AlertType type, const std::string& message, const std::string& explanation) {
    StandardAlert(nullptr, type, message, explanation);
}

void StandardAlert(Window* parent, AlertType type, const std::string& message,
                   const std::string& explanation) {
    if (parent && !parent->IsVisible())
        parent = nullptr;
    AlertButtons buttons;
    buttons.text[0] = "OK";
    buttons.code[0] = 'ok  ';
    buttons.defaultButton = 1;
    buttons.cancelButton = 1;
    buttons.closeCode = 'ok  ';
    uint32_t result = 0;
    RunAlert(parent, type, message, explanation, buttons, result);
}

// Choosers -------------------------------------------------------------------

namespace {

// Files and folders together: accepting takes what is selected as it is,
// instead of opening a selected folder.
class ObjectDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    bool mObjects = false;

    void accept() override {
        if (!mObjects) {
            QFileDialog::accept();
            return;
        }
        const QStringList files = selectedFiles();
        if (files.isEmpty())
            return;
        for (const QString& file : files)
            if (!QFileInfo::exists(file))
                return;
        done(QDialog::Accepted);
    }
};

} // namespace

void RunChooser(Window* parent, const ChooserOptions& options,
                std::function<void(const ChooserReply&)> done) {
    QWidget* parentWidget = parent && done ? parent->GetSysWindow() : nullptr;
    auto* dialog = new ObjectDialog(parentWidget);
    dialog->setObjectName("ppxChooser");
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setWindowTitle(QString::fromStdString(options.title));
    if (!options.message.empty())
        dialog->setToolTip(QString::fromStdString(options.message));
    QDir::Filters filters = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System;
    if (options.showHidden)
        filters |= QDir::Hidden;
    dialog->setFilter(filters);
    dialog->setDirectory(options.startFolder.empty() ? QDir::homePath()
                                                     : QString::fromStdString(options.startFolder));
    switch (options.kind) {
    case ChooserKind::File:
        dialog->setFileMode(options.multiple ? QFileDialog::ExistingFiles
                                             : QFileDialog::ExistingFile);
        break;
    case ChooserKind::Object:
        dialog->mObjects = true;
        dialog->setFileMode(options.multiple ? QFileDialog::ExistingFiles
                                             : QFileDialog::ExistingFile);
        break;
    case ChooserKind::Folder:
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly, true);
        break;
    case ChooserKind::Save:
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->selectFile(QString::fromStdString(options.saveName));
        break;
    }

    auto finish = [dialog, done, kind = options.kind](int code) {
        ChooserReply reply;
        if (code == QDialog::Accepted) {
            for (const QString& file : dialog->selectedFiles())
                reply.paths.push_back(file.toStdString());
            reply.valid = !reply.paths.empty();
            if (kind == ChooserKind::Save && reply.valid) {
                QFileInfo info(QString::fromStdString(reply.paths.front()));
                reply.saveName = info.fileName().toStdString();
                reply.paths.front() = info.absolutePath().toStdString();
            }
        }
        dialog->hide();
        dialog->deleteLater();
        if (done)
            done(reply);
    };

    if (parentWidget) {
        // A sheet on the window: the answer comes later, from the event loop.
        dialog->setWindowModality(Qt::WindowModal);
        QObject::connect(dialog, &QDialog::finished, dialog, finish);
        dialog->open();
        return;
    }
    dialog->setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    int code = QDialog::Rejected;
    QObject::connect(dialog, &QDialog::finished, &loop, [&](int result) {
        code = result;
        loop.exit(0);
    });
    dialog->show();
    {
        NestedLoop nested;
        loop.exec(QEventLoop::DialogExec);
    }
    finish(code);
}

void PostToMainThread(std::function<void()> function) {
    QMetaObject::invokeMethod(qApp, std::move(function), Qt::QueuedConnection);
}

} // namespace PPx
