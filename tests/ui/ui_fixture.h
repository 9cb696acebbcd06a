// A main window on Qt's offscreen platform, on a fresh session whose search lists a private device
// folder, with an emulated adapter linked into it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "emulator/emulated_adapter.h"
#include "firmware/firmware_update.h"
#include "settings/device_settings.h"
#include "tests/support/test_constants.h"
#include "ui/device_setting_view_controller.h"
#include "ui/view_controller.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {

using emulator::AdapterConfig;
using emulator::EmulatedAdapter;

// Records the log as it stands at the moment the Check button becomes enabled again.
class LogWhenEnabled : public QObject {
  public:
    LogWhenEnabled(QPushButton *button, QPlainTextEdit *log) : button_(button), log_(log) {
        button_->installEventFilter(this);
    }
    std::string log;

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == button_ && event->type() == QEvent::EnabledChange && button_->isEnabled()) {
            log = log_->toPlainText().toStdString();
        }
        return false;
    }

  private:
    QPushButton *button_;
    QPlainTextEdit *log_;
};

class MainWindowTest : public ::testing::Test {
  protected:
    static constexpr int kLongWaitMs = 30000;

    void SetUp() override {
        char folder[] = "/tmp/tornelvox-ui-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        session_ = std::make_shared<AdapterSession>();
        PrepareSession(*session_);
        // Address backups go to the test's own folder, never the user's.
        setenv("XDG_STATE_HOME", (folder_ + "/state").c_str(), 1);

        window_ = std::make_unique<ViewController>(session_);
        window_->show();
    }

    void TearDown() override {
        // A worker still running would use the port and the adapter below.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return !session_->UpdateFirmwareRunning && !session_->ThreadRunning; },
            kLongWaitMs));
        if (window_) {
            EXPECT_TRUE(WaitFor([&] { return !window_->BackgroundActionRunning(); }));
        }
        window_.reset();
        if (adapter_) adapter_->Stop();
        adapter_.reset();
        // Closes the port; a worker that still held the session has ended (waited for above).
        session_.reset();
        std::filesystem::remove_all(folder_);
    }

    // What the fixture sets in a session: its search lists the test's device folder only, reads
    // are short and a retried attempt does not pause.
    void PrepareSession(AdapterSession &session) const {
        // The emulator answers at once; silence need not cost a tenth of a second per read.
        session.ReadCallTimeoutMs = 10;
        session.RetryPause = [](unsigned) {};
        session.DeviceDirectory = folder_;
        // Whether this machine has brltty installed decides nothing here.
        session.BrlttyProgramPaths = folder_ + "/no-brltty";
    }

    // Starts an emulated adapter and links it into the device folder as a USB serial node.
    void PlugAdapter(AdapterConfig config) {
        adapter_ = std::make_unique<EmulatedAdapter>(config);
        ASSERT_TRUE(adapter_->Start());
        ASSERT_TRUE(adapter_->LinkAt(NodePath()));
    }

    std::string NodePath() const { return folder_ + "/cu.usbserial-test"; }

    // The log as the user sees it, once everything queued so far has been appended.
    std::string Log() {
        QCoreApplication::sendPostedEvents();
        return LogWidget()->toPlainText().toStdString();
    }

    QPlainTextEdit *LogWidget() const { return window_->findChild<QPlainTextEdit *>("txMessage"); }

    QPushButton *Button(const char *name) const {
        QPushButton *button = window_->findChild<QPushButton *>(name);
        EXPECT_NE(button, nullptr) << name;
        return button;
    }

    // Runs the event loop until condition holds or the wait runs out.
    static bool WaitFor(const std::function<bool()> &condition, int timeout_ms = kLongWaitMs) {
        return QTest::qWaitFor(condition, timeout_ms);
    }

    // The Check, Update, Setting and Cancel buttons, as "shown/hidden enabled/disabled" words.
    std::string Buttons() const {
        std::string state;
        for (const char *name : {"bCheckDevice", "bUpdateFirmware", "bDeviceSetting", "bCancel"}) {
            const QPushButton *button = Button(name);
            if (!state.empty()) state += ", ";
            state += std::string(name) + (button->isHidden() ? " hidden" : " shown") +
                     (button->isEnabled() ? " enabled" : " disabled");
        }
        return state;
    }

    // Once a top-level widget named `name` is shown (a modal dialog runs its own event loop),
    // runs act on it, once. The timer belongs to owner (the test's window) and goes with it.
    void WhenShown(const char *name, std::function<void(QWidget *)> act) {
        WhenShown(window_.get(), name, std::move(act));
    }
    static void WhenShown(QObject *owner, const char *name, std::function<void(QWidget *)> act) {
        auto *timer = new QTimer(owner);
        QObject::connect(timer, &QTimer::timeout, timer, [timer, name, act] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (widget->objectName() != name || !widget->isVisible()) continue;
                timer->stop();
                act(widget);
                return;
            }
        });
        timer->start(10);
    }

    // Check against the adapter: the search, the version and the advice. The Check runs on a
    // worker; this returns once it has ended and its lines are in the log.
    void Check() {
        Button("bCheckDevice")->click();
        EXPECT_TRUE(WaitFor([&] { return !window_->BackgroundActionRunning(); }));
        QCoreApplication::sendPostedEvents();
    }

    // Once the Setting action has read the settings on its worker, the dialog it opened.
    DeviceSettingViewController *AwaitSettingsDialog() {
        DeviceSettingViewController *dialog = nullptr;
        WaitFor([&] {
            dialog = window_->findChild<DeviceSettingViewController *>();
            return dialog != nullptr || !window_->BackgroundActionRunning();
        });
        return dialog;
    }

    std::shared_ptr<AdapterSession> session_;
    std::string folder_;
    std::unique_ptr<EmulatedAdapter> adapter_;
    std::unique_ptr<ViewController> window_;
};

}  // namespace tornelvox::testing
