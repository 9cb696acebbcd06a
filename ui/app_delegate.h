// The application shell: starts the utility, shows the main window and ends the process when
// that window closes.
#pragma once

#include <QObject>

namespace tornelvox {

// The application's delegate. Holds no data; its hooks do nothing of their own.
class AppDelegate : public QObject {
    Q_OBJECT

  public:
    using QObject::QObject;

    // Launching has finished. Nothing to do.
    void applicationDidFinishLaunching() {}
    // The application is about to end. Nothing is closed or saved.
    void applicationWillTerminate() {}
    // Closing the main window ends the application.
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }
    // The home-page action; no control triggers it and it does nothing.
    void ClickHomePage() {}
};

// Creates the application (or uses the one that already exists), shows the main window and runs
// the event loop until the application ends, then ends the process with the loop's status. The
// arguments go to Qt first; of those it leaves, the utility reads only the demo mode's
// (demo_options.h), and none at all unless --emulated is among them. In the demo mode the
// emulated adapter runs inside the process, the title says so, and once the window is shown one
// line "Emulated adapter at PATH" goes to stdout. SIGTERM and SIGINT end the program with status
// 0, during an update after its cancel end (stop_signals.h). Never returns: the process ends
// without running static destructors, because a detached worker may still be running and
// nothing waits for it.
[[noreturn]] void ApplicationMain(int argc, char **argv);

}  // namespace tornelvox
