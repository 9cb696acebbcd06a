// Pictures of the utility for its documentation, rendered from the real widgets: the main window
// after a Check against the emulated adapter, its device line naming the adapter's node and the
// firmware the Check read, the settings dialog that the Setting button
// opens for it, and the main window during an update, with its progress bar. The adapter runs as
// in the window program's demo mode (tornelvox-utility --emulated), linked where the demo links
// it, and the title carries the demo's note.
//
//   tornelvox-screenshots OUTPUT_FOLDER
//
// Writes main-window.png, settings-dialog.png and update-progress.png into OUTPUT_FOLDER. Runs
// without a display (Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise).
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <cstdio>
#include <string>

#include "serial/serial_link.h"
#include "settings/device_settings.h"
#include "ui/demo_mode.h"
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

    // The demo mode's adapter, at the real line rate so that the update lasts long enough to be
    // pictured. Only its folder is searched, so that a device plugged into this machine does not
    // show in the pictures.
    auto session = std::make_shared<tornelvox::AdapterSession>();
    tornelvox::DemoMode demo;
    std::string error;
    if (!demo.Start(session, {.emulated = true, .version = 0x302, .full_speed = false}, error)) {
        std::fprintf(stderr, "tornelvox-screenshots: %s\n", error.c_str());
        return 1;
    }
    session->DeviceDirectory = session->FirstDeviceDirectory;

    bool saved = false;
    {
        tornelvox::ViewController window(session);
        window.SetTitleNote(tornelvox::kEmulatedTitleNote);
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
        saved = Await([&] { return !session->UpdateFirmwareRunning.load(); }, 20000) && saved;
    }
    demo.Stop();
    return saved ? 0 : 1;
}
