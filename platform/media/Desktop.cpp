#include "platform/media/Desktop.h"

#include <QDesktopServices>
#include <QUrl>

namespace PPx {

namespace {

std::function<bool(const std::string&)>& Handler() {
    static std::function<bool(const std::string&)> handler;
    return handler;
}

} // namespace

bool OpenURL(const std::string& url) {
    if (Handler())
        return Handler()(url);
    QUrl address(QString::fromStdString(url), QUrl::StrictMode);
    if (!address.isValid())
        return false;
    return QDesktopServices::openUrl(address);
}

void SetOpenURLHandler(std::function<bool(const std::string&)> handler) {
    Handler() = std::move(handler);
}

} // namespace PPx
