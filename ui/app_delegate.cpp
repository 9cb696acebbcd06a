#include "ui/app_delegate.h"

#include <QApplication>
#include <QTimer>
#include <cstdlib>
#include <memory>

#include "ui/view_controller.h"

namespace tornelvox {

void ApplicationMain(int argc, char **argv) {
    // Qt keeps a reference to the argument count for the application's whole life.
    static int arg_count = argc;
    std::unique_ptr<QApplication> own_application;
    if (QCoreApplication::instance() == nullptr) {
        own_application = std::make_unique<QApplication>(arg_count, argv);
    }

    AppDelegate delegate;
    QApplication::setQuitOnLastWindowClosed(
        delegate.applicationShouldTerminateAfterLastWindowClosed());
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &delegate,
                     &AppDelegate::applicationWillTerminate);

    ViewController window;
    window.show();
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);

    const int status = QApplication::exec();
    std::quick_exit(status);
}

}  // namespace tornelvox
