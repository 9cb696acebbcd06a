#include "ui/app_delegate.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "ui/demo_mode.h"
#include "ui/demo_options.h"
#include "ui/stop_signals.h"
#include "ui/view_controller.h"

namespace tornelvox {

namespace {

// Exit status of a program whose options are wrong, or whose demo could not start.
constexpr int kStatusBadOptions = 2;
constexpr int kStatusDemoFailed = 1;

}  // namespace

void ApplicationMain(int argc, char **argv) {
    // Qt keeps a reference to the argument count for the application's whole life.
    static int arg_count = argc;
    std::unique_ptr<QApplication> own_application;
    if (QCoreApplication::instance() == nullptr) {
        own_application = std::make_unique<QApplication>(arg_count, argv);
    }

    // Read after Qt has taken its own options out.
    const DemoOptionsRead demo_options = ReadDemoOptions(arg_count, argv);
    if (!demo_options.error.empty()) {
        std::fprintf(stderr, "tornelvox-utility: %s\n", demo_options.error.c_str());
        std::quick_exit(kStatusBadOptions);
    }
    // The one adapter the window drives. Never destroyed: the process ends by quick_exit, and
    // a detached worker holds it too.
    auto session = std::make_shared<AdapterSession>();
    // Watched before the demo links its node: a stop signal from here on still removes it.
    StopSignalWatch stop_signals(session);
    DemoMode demo;
    if (demo_options.options.emulated) {
        std::string error;
        if (!demo.Start(session, demo_options.options, error)) {
            std::fprintf(stderr, "tornelvox-utility: %s\n", error.c_str());
            std::quick_exit(kStatusDemoFailed);
        }
    }

    // Matches the window to its desktop entry and the icon installed with it.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tornelvox.Utility"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.tornelvox.Utility")));

    AppDelegate delegate;
    QApplication::setQuitOnLastWindowClosed(
        delegate.applicationShouldTerminateAfterLastWindowClosed());
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &delegate,
                     &AppDelegate::applicationWillTerminate);

    ViewController window(session);
    if (demo.Running()) window.SetTitleNote(kEmulatedTitleNote);
    window.show();
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    if (demo.Running()) {
        // Once the window is up and the stop signals are watched: whoever waits for the demo
        // (a package check) may stop it as soon as it reads this line.
        QTimer::singleShot(0, &delegate, [&demo] {
            std::printf("Emulated adapter at %s\n", demo.LinkPath().c_str());
            std::fflush(stdout);
        });
    }

    const int status = QApplication::exec();
    // The demo's link and runtime folder go with the process (DemoMode registered their removal).
    std::quick_exit(status);
}

}  // namespace tornelvox
