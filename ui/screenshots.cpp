// Pictures of the utility for its documentation, rendered from the real widgets: the main window
// after a Check against the emulated adapter, the settings dialog that the Setting button
// opens for it, and the main window during an update, with its progress bar.
//
//   tornelvox-screenshots OUTPUT_FOLDER
//
// Writes main-window.png, settings-dialog.png and update-progress.png into OUTPUT_FOLDER. Runs
// without a display (Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise).
#include <stdlib.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <cstdio>
#include <filesystem>
#include <string>

#include "emulator/emulated_adapter.h"
#include "serial/serial_link.h"
#include "settings/device_settings.h"
#include "ui/device_setting_view_controller.h"
#include "ui/view_controller.h"
#include "workflow/workflow.h"

namespace {

// The window's contents under a plain title bar that carries its title.
QPixmap Picture(QWidget &window) {
    const QPixmap contents = window.grab();
    const int bar = 30;
    QPixmap picture(contents.width(), contents.height() + bar);
    picture.fill(QColor(0x3c, 0x3f, 0x41));
    QPainter painter(&picture);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, contents.width(), bar), Qt::AlignCenter, window.windowTitle());
    painter.drawPixmap(0, bar, contents);
    return picture;
}

bool Save(QWidget &window, const QString &path) {
    if (!Picture(window).save(path)) {
        std::fprintf(stderr, "tornelvox-screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// Runs the event loop until condition holds or limit_ms have passed.
template <typename Condition>
bool Await(Condition condition, int limit_ms = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > limit_ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tornelvox-screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QDir output(QString::fromLocal8Bit(argv[1]));

    // The emulated adapter, linked into a private folder that the search lists instead of /dev.
    char folder[] = "/tmp/dev-XXXXXX";
    if (mkdtemp(folder) == nullptr) return 1;
    // At a real line rate, so that the update lasts long enough to be pictured.
    tornelvox::emulator::EmulatedAdapter adapter({.version = 0x302, .line_baud = 115200});
    if (!adapter.Start() || !adapter.LinkAt(std::string(folder) + "/cu.usbserial-1410")) {
        std::fprintf(stderr, "tornelvox-screenshots: cannot start the emulated adapter\n");
        return 1;
    }
    tornelvox::DeviceDirectory = folder;

    bool saved = false;
    {
        tornelvox::ViewController window;
        window.resize(760, 470);
        window.show();
        window.findChild<QPushButton *>("bCheckDevice")->click();
        // The Check runs on a worker; the window shows its end once it has.
        saved = Await([&] { return !window.BackgroundActionRunning(); }) &&
                Save(window, output.filePath("main-window.png"));

        window.findChild<QPushButton *>("bDeviceSetting")->click();
        Await([&] {
            return window.findChild<tornelvox::DeviceSettingViewController *>() != nullptr;
        });
        auto *dialog = window.findChild<tornelvox::DeviceSettingViewController *>();
        if (dialog == nullptr) {
            std::fprintf(stderr, "tornelvox-screenshots: the settings dialog did not open\n");
            saved = false;
        } else {
            saved = Save(*dialog, output.filePath("settings-dialog.png")) && saved;
            dialog->pCancel();
            // The settings worker hands the buttons back once the dialog has closed.
            saved = Await([&] {
                        return window.findChild<QPushButton *>("bCheckDevice")->isEnabled();
                    }) &&
                    saved;
        }

        // An update a third of the way through its writing.
        auto *bar = window.findChild<QProgressBar *>("pbUpdate");
        window.findChild<QPushButton *>("bUpdateFirmware")->click();
        // At the line rate the update takes a minute or two.
        saved = Await([&] { return bar->isVisible() && bar->value() >= 35; }, 120000) &&
                Save(window, output.filePath("update-progress.png")) && saved;
        window.findChild<QPushButton *>("bCancel")->click();
        saved = Await([&] { return !tornelvox::UpdateFirmwareRunning.load(); }, 20000) && saved;
    }
    adapter.Stop();
    std::filesystem::remove_all(folder);
    return saved ? 0 : 1;
}
