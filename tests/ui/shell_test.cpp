// Ending the program while the update worker runs: by the Close button, or by closing the main
// window with its own control, each confirmed when the window asks. Each runs in a fresh copy
// of the test program, which must end at once with status 0, without a crash, a hang or a
// sanitizer report.
#include <gmock/gmock.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWindow>
#include <cstdlib>

#include "tests/ui/ui_fixture.h"
#include "ui/app_delegate.h"

namespace tornelvox::testing {
namespace {

using ::testing::ExitedWithCode;
using ::testing::HasSubstr;
using ::testing::Not;

// The process ends by quick_exit: the device folder goes with it.
std::string folder_to_remove;
void RemoveFolder() {
    std::filesystem::remove_all(folder_to_remove);
}

class ShellDeathTest : public MainWindowTest {
  protected:
    // In the program that is to end: a running update, its erase slowed down so that it is
    // still running when the program ends. The question before closing is answered Yes.
    void StartUpdate(ViewController &window) {
        folder_to_remove = folder_;
        std::at_quick_exit(RemoveFolder);
        window.findChild<QPushButton *>("bCheckDevice")->click();
        if (!WaitFor([&] { return !window.BackgroundActionRunning(); })) std::abort();
        window.findChild<QPushButton *>("bUpdateFirmware")->click();
        if (!adapter_->WaitForFrames(kCmdEraseStep, 2, std::chrono::seconds(20))) std::abort();
        WhenShown(&window, "CloseDuringUpdateQuestion", [](QWidget *question) {
            static_cast<QMessageBox *>(question)->button(QMessageBox::Yes)->click();
        });
    }

    // The whole program, arguments included, with a script that starts an update and then
    // closes the main window as the window system's close control does.
    void RunProgramAndCloseItsWindowDuringAnUpdate() {
        PlugAdapter({.version = kOlderVersion, .erase_delay_ms = 200});
        window_.reset();
        QTimer::singleShot(0, [this] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *window = qobject_cast<ViewController *>(widget);
                if (window == nullptr) continue;
                // The program's own session, set up as the fixture's is.
                PrepareSession(window->Session());
                StartUpdate(*window);
                window->windowHandle()->close();
            }
        });
        char name[] = "tornelvox-utility";
        char ignored[] = "--anything";
        char *arguments[] = {name, ignored, nullptr};
        ApplicationMain(2, arguments);
    }
};

TEST_F(ShellDeathTest, CloseDuringAnUpdateEndsTheProcessAtOnce) {
    EXPECT_EXIT(
        {
            PlugAdapter({.version = kOlderVersion, .erase_delay_ms = 200});
            StartUpdate(*window_);
            Button("bClose")->click();
            std::abort();  // not reached
        },
        ExitedWithCode(0), Not(HasSubstr("Sanitizer")));
}

TEST_F(ShellDeathTest, CloseDuringACheckOfASilentCandidateEndsTheProcessAtOnce) {
    EXPECT_EXIT(
        {
            session_->ReadCallTimeoutMs = kDefaultReadCallTimeoutMs;
            EmulatedAdapter silent({.never_reads = true});
            if (!silent.Start() || !silent.LinkAt(folder_ + "/cu.usbserial-silent")) std::abort();
            folder_to_remove = folder_;
            std::at_quick_exit(RemoveFolder);
            Button("bCheckDevice")->click();
            if (!WaitFor([&] { return Log().find("Check port") != std::string::npos; })) {
                std::abort();
            }
            Button("bClose")->click();  // no question: no update runs
            std::abort();               // not reached
        },
        ExitedWithCode(0), Not(HasSubstr("Sanitizer")));
}

TEST_F(ShellDeathTest, ClosingTheMainWindowDuringAnUpdateEndsTheProgram) {
    EXPECT_EXIT(RunProgramAndCloseItsWindowDuringAnUpdate(), ExitedWithCode(0),
                Not(HasSubstr("Sanitizer")));
}

}  // namespace
}  // namespace tornelvox::testing
