#include "ppxui/Application.h"

#include <QApplication>

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

} // namespace PPx
