#include "ppxui/Application.h"

#include "platform/core/Folders.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace PPx {

struct UIApplication::Impl {
    std::unique_ptr<QApplication> app;
};

UIApplication::UIApplication(int& argc, char** argv) : mImpl(std::make_unique<Impl>()) {
    if (!QApplication::instance()) {
        mImpl->app = std::make_unique<QApplication>(argc, argv);
        QApplication::setApplicationName("Zarvel");
        // Windows are kept hidden, never closed by Qt: the program ends on Quit.
        QApplication::setQuitOnLastWindowClosed(false);
    }
}

UIApplication::~UIApplication() = default;

void UIApplication::EnsureForTests() {
    if (QApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "zarvel-test";
    static char* argv[] = {name, nullptr};
    // Kept to the end of the process: widgets of a test may outlive main.
    static UIApplication* application = new UIApplication(argc, argv);
    (void)application;
}

namespace {

QString ServerName() {
    std::string folder;
    try {
        folder = PreferencesFolder();
    } catch (...) {
        folder = "none";
    }
    QByteArray hash =
        QCryptographicHash::hash(QByteArray::fromStdString(folder), QCryptographicHash::Sha1);
    return QString("zarvel-%1-%2").arg(::getuid()).arg(QString::fromLatin1(hash.toHex().left(16)));
}

const int kWaitMs = 2000;

} // namespace

bool HandDocumentsToRunningProgram(const std::vector<std::string>& paths) {
    QLocalSocket socket;
    socket.connectToServer(ServerName());
    if (!socket.waitForConnected(kWaitMs))
        return false;
    QByteArray message;
    for (const std::string& path : paths)
        message += QByteArray::fromStdString(path) + '\0';
    message += '\n'; // the end
    socket.write(message);
    if (!socket.waitForBytesWritten(kWaitMs))
        return false;
    // The running program answers once it has the list.
    return socket.waitForReadyRead(kWaitMs) && socket.readAll() == "ok";
}

void ListenForDocuments(std::function<void(const std::vector<std::string>&)> open) {
    auto* server = new QLocalServer(qApp);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    QString name = ServerName();
    if (!server->listen(name)) {
        // A socket left by a program that ended without closing it.
        QLocalServer::removeServer(name);
        if (!server->listen(name)) {
            delete server;
            return;
        }
    }
    QObject::connect(server, &QLocalServer::newConnection, server, [server, open] {
        while (QLocalSocket* socket = server->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            auto buffer = std::make_shared<QByteArray>();
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer, open] {
                *buffer += socket->readAll();
                if (!buffer->endsWith('\n'))
                    return;
                std::vector<std::string> paths;
                for (const QByteArray& part : buffer->chopped(1).split('\0'))
                    if (!part.isEmpty())
                        paths.push_back(part.toStdString());
                buffer->clear();
                socket->write("ok");
                socket->flush();
                open(paths);
            });
        }
    });
}

} // namespace PPx
