#include "platform/ui/Nib.h"
#include "platform/core/Folders.h"
#include "platform/ui/src/TreeView.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUiLoader>
#include <QWidget>

namespace PPx {

namespace {

// Lists become our list widget, everything else what Designer says.
class Loader : public QUiLoader {
public:
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        if (className == "QTreeView") {
            auto* list = new ListWidget(parent);
            list->setObjectName(name);
            return list;
        }
        return QUiLoader::createWidget(className, parent, name);
    }
};

} // namespace

std::string CodeToString(uint32_t code) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i)
        text[i] = static_cast<char>((code >> (24 - 8 * i)) & 0xFF);
    return text;
}

uint32_t StringToCode(const std::string& text) {
    if (text.size() != 4)
        return 0;
    uint32_t code = 0;
    for (unsigned char c : text)
        code = (code << 8) | c;
    return code;
}

std::string SysNib::ResourcesFolder() {
    return PPx::ResourcesFolder();
}

SysNib::SysNib(const std::string& name) {
    std::string folder = ResourcesFolder();
    // The program has one interface folder; another name means a sibling.
    mFolder = name == "Resources" ? folder
                                  : QFileInfo(QString::fromStdString(folder))
                                        .dir()
                                        .filePath(QString::fromStdString(name))
                                        .toStdString();
}

SysWindow SysNib::CreateWindow(const std::string& name) const {
    if (name.empty() || name.find('/') != std::string::npos)
        return nullptr;
    QFile file(QString::fromStdString(mFolder + "/" + name + ".ui"));
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    Loader loader;
    loader.setWorkingDirectory(QFileInfo(file).dir());
    QWidget* widget = loader.load(&file, nullptr);
    if (!widget)
        return nullptr;
    widget->hide();
    return widget;
}

} // namespace PPx
