#include "platform/ui/Application.h"

#include "platform/core/Folders.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QIcon>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace PPx {

struct UIApplication::Impl {
    std::unique_ptr<QApplication> app;
};

UIApplication::UIApplication(int& argc, char** argv) : mImpl(std::make_unique<Impl>()) {
    if (!QApplication::instance()) {
        mImpl->app = std::make_unique<QApplication>(argc, argv);
        QApplication::setApplicationName("Zarvel");
        // Every window carries the program's icon, the one the desktop entry
        // names, at each size there is.
        QIcon icon;
        QDir icons(QFileInfo(QString::fromStdString(ResourcesFolder())).dir().filePath("icons"));
        for (const QString& file : icons.entryList({"zarvel-*.png"}, QDir::Files))
            icon.addFile(icons.filePath(file));
        if (!icon.isNull())
            QApplication::setWindowIcon(icon);
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
const qsizetype kMaxMessage = 1 << 20;

// The single-instance lock: an flock on a file in the Preferences folder,
// kept open (and so held) until the process ends.
enum class LockResult { Taken, HeldElsewhere, Unavailable };

LockResult TakeInstanceLock() {
    static int held = -1;
    if (held >= 0)
        return LockResult::Taken;
    std::string path;
    try {
        path = PreferencesFolder() + "/.instance-lock";
    } catch (...) {
        return LockResult::Unavailable;
    }
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return LockResult::Unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? LockResult::HeldElsewhere : LockResult::Unavailable;
    }
    held = fd;
    return LockResult::Taken;
}

// One attempt: true when the running program answered "ok".
bool HandOver(const QByteArray& message, int waitMs) {
    QLocalSocket socket;
    socket.connectToServer(ServerName());
    if (!socket.waitForConnected(kWaitMs))
        return false;
    socket.write(message);
    if (!socket.waitForBytesWritten(waitMs))
        return false;
    QByteArray answer;
    QElapsedTimer clock;
    clock.start();
    while (answer.size() < 2 && clock.elapsed() < waitMs) {
        if (!socket.waitForReadyRead(static_cast<int>(waitMs - clock.elapsed())))
            break;
        answer += socket.readAll();
    }
    return answer == "ok";
}

QByteArray MessageFor(const std::vector<std::string>& paths) {
    QByteArray message;
    for (const std::string& path : paths)
        message += QByteArray::fromStdString(path) + '\0';
    message += '\n'; // the end
    return message;
}

} // namespace

namespace {

int gSignalPipe[2] = {-1, -1};
// A signal was noted and the main thread has not taken it up yet.
std::atomic<bool> gSignalPending{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void NoteSignal(int signal) {
    if (gSignalPending.exchange(true)) {
        // The first one is still waiting: the main thread does not answer
        // (it waits for something that does not come). Asked again, the
        // program ends the way the signal means, not never.
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(gSignalPipe[1], &byte, 1);
}

} // namespace

void OnTerminationSignal(std::function<void()> quit) {
    if (gSignalPipe[0] < 0 && ::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [quit] {
        char bytes[16];
        while (::read(gSignalPipe[0], bytes, sizeof bytes) > 0) {
        }
        gSignalPending = false;
        if (quit)
            quit();
    });
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

bool HandDocumentsToRunningProgram(const std::vector<std::string>& paths) {
    // The running program answers once it has the list.
    return HandOver(MessageFor(paths), kWaitMs);
}

StartClaim ClaimOrHandOver(const std::vector<std::string>& paths,
                           std::chrono::milliseconds answerWait) {
    const QByteArray message = MessageFor(paths);
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        switch (TakeInstanceLock()) {
        case LockResult::Taken:
            return StartClaim::First;
        case LockResult::Unavailable:
            // No lock to be had (a read-only folder): the socket decides.
            return HandOver(message, kWaitMs) ? StartClaim::HandedOver : StartClaim::First;
        case LockResult::HeldElsewhere:
            break;
        }
        // Another program holds the lock: it may still be starting, or busy.
        const qint64 left = answerWait.count() - clock.elapsed();
        if (left <= 0)
            return StartClaim::NotAnswering;
        if (HandOver(message, static_cast<int>(std::min<qint64>(left, answerWait.count()))))
            return StartClaim::HandedOver;
        QThread::msleep(100);
    }
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
                if (buffer->size() > kMaxMessage) {
                    socket->abort(); // no list of paths is this long
                    return;
                }
                if (!buffer->endsWith('\n'))
                    return;
                std::vector<std::string> paths;
                for (const QByteArray& part : buffer->chopped(1).split('\0'))
                    if (!part.isEmpty())
                        paths.push_back(part.toStdString());
                buffer->clear();
                socket->write("ok");
                socket->flush();
                // Opened from the event loop: opening may run an alert's
                // loop, during which this socket can go.
                QTimer::singleShot(0, qApp, [open, paths] { open(paths); });
            });
        }
    });
}

} // namespace PPx
