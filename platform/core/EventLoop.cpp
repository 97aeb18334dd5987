#include "platform/core/EventLoop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace PPx {

namespace detail {
void WakePostedEvents();
}

struct CoreApplication::Impl {
    std::unique_ptr<QCoreApplication> app;
};

CoreApplication::CoreApplication(int& argc, char** argv) : mImpl(std::make_unique<Impl>()) {
    if (!QCoreApplication::instance())
        mImpl->app = std::make_unique<QCoreApplication>(argc, argv);
    detail::WakePostedEvents();
}

CoreApplication::~CoreApplication() = default;

bool IsMainThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

int RunApplicationLoop() {
    detail::WakePostedEvents();
    return QCoreApplication::exec();
}

void QuitApplicationLoop(int exitCode) {
    QCoreApplication::exit(exitCode);
}

struct ModalLoop::Impl {
    QEventLoop* loop = nullptr; // set while Run is active
    bool quitRequested = false;
};

ModalLoop::ModalLoop() : mImpl(std::make_shared<Impl>()) {}

ModalLoop::~ModalLoop() {
    if (mImpl->loop)
        mImpl->loop->exit(0);
}

void ModalLoop::Run() {
    std::shared_ptr<Impl> impl = mImpl; // `this` may go while the loop runs
    if (impl->quitRequested) {
        impl->quitRequested = false;
        return;
    }
    QEventLoop loop;
    impl->loop = &loop;
    detail::WakePostedEvents();
    loop.exec();
    impl->loop = nullptr;
    impl->quitRequested = false;
}

void ModalLoop::Quit() {
    if (mImpl->loop)
        mImpl->loop->exit(0);
    else
        mImpl->quitRequested = true;
}

bool ModalLoop::IsRunning() const {
    return mImpl->loop != nullptr;
}

bool RunEventLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    detail::WakePostedEvents();
    auto deadline = std::chrono::steady_clock::now() + timeout;
    // Wakes the wait below at least every 10 ms to test `done` again.
    QTimer tick;
    tick.start(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

} // namespace PPx
