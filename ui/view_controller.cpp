#include "ui/view_controller.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScrollBar>
#include <QSocketNotifier>
#include <QTextCursor>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "firmware/firmware_update.h"
#include "settings/device_settings.h"
#include "ui/address_question_dialog.h"
#include "ui/device_setting_view_controller.h"
#include "ui/enter_presses_button.h"
#include "ui/log_view_menu.h"
#include "ui/window_link_impl.h"
#include "ui_view_controller.h"
#include "workflow/progress_estimate.h"
#include "workflow/workflow.h"

namespace tornelvox {

ViewController::ViewController(QWidget *parent)
    : ViewController(std::make_shared<AdapterSession>(), parent) {}

ViewController::ViewController(std::shared_ptr<AdapterSession> session, QWidget *parent)
    : QWidget(parent),
      session_(std::move(session)),
      ui_(std::make_unique<Ui::ViewController>()),
      link_(std::make_shared<ViewControllerLink>(this)) {
    ui_->setupUi(this);
    // Hidden buttons keep their place, so the row does not jump when they appear.
    for (QWidget *button : {ui_->bUpdateFirmware, ui_->bDeviceSetting, ui_->bCancel}) {
        QSizePolicy policy = button->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        button->setSizePolicy(policy);
    }
    // The log grows for the whole run: no undo history is kept for it.
    ui_->txMessage->setUndoRedoEnabled(false);
    ui_->txMessage->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    connect(ui_->bCheckDevice, &QPushButton::clicked, this, &ViewController::CheckDevice);
    connect(ui_->bUpdateFirmware, &QPushButton::clicked, this, &ViewController::UpdateFirmware);
    connect(ui_->bDeviceSetting, &QPushButton::clicked, this, &ViewController::actDeviceSetting);
    connect(ui_->bClose, &QPushButton::clicked, this, &ViewController::Close);
    connect(ui_->bCancel, &QPushButton::clicked, this, &ViewController::Cancel);
    for (QPushButton *button : {ui_->bCheckDevice, ui_->bUpdateFirmware, ui_->bDeviceSetting,
                                ui_->bCancel, ui_->bClose}) {
        EnterPressesButton::Install(button);
    }

    // The log's own menu: save, copy, select, clear.
    log_menu_ = new LogViewMenu(ui_->txMessage, this);

    // The device line lists the folders once a burst of changes in them is over.
    device_list_timer_ = new QTimer(this);
    device_list_timer_->setSingleShot(true);
    device_list_timer_->setInterval(kDeviceListDelayMs);
    connect(device_list_timer_, &QTimer::timeout, this, &ViewController::RefreshDevices);
    ui_->lbDevices->setTextFormat(Qt::PlainText);

    viewDidLoad();
}

ViewController::~ViewController() {
    link_->Detach();
}

int ViewController::tornelvox_main() {
    return RunUpdateWorker(*session_, link_);
}

void ViewController::viewDidLoad() {
    // From here on every message of the session, from any thread, reaches this window's log. The
    // sink keeps the link, not the window: a worker that logs after the window is gone reaches
    // nothing.
    RouteMessagesTo(*session_, link_);
    ui_->txMessage->setReadOnly(true);
    // Read-only, the log still takes the keyboard focus, to select, copy and scroll.
    ui_->txMessage->setTextInteractionFlags(Qt::TextSelectableByMouse |
                                            Qt::TextSelectableByKeyboard);
    ui_->pbUpdate->hide();
    ui_->bDeviceSetting->hide();
    ui_->bUpdateFirmware->hide();
    ui_->bCancel->hide();
    // What the placeholder says to do first is one key press away.
    ui_->bCheckDevice->setFocus(Qt::OtherFocusReason);
    RefreshDevices();
}

void ViewController::viewDidAppear() {
    setWindowTitle(QString::asprintf("Tornelvox Utility Version: %s", Ver_Num) + title_note_);
}

void ViewController::SetTitleNote(const QString &note) {
    title_note_ = note;
    if (isVisible()) viewDidAppear();
}

void ViewController::AddMessage(const std::string &text) {
    // Queued even on the interface thread: one order for every producer.
    QMetaObject::invokeMethod(
        this, [this, message = QString::fromUtf8(text)] { AppendMessage(message); },
        Qt::QueuedConnection);
}

void ViewController::AppendMessage(const QString &text) {
    // Appends at the end of the document: the cost does not depend on what the log holds.
    QTextCursor end(ui_->txMessage->document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);
    QScrollBar *bar = ui_->txMessage->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void ViewController::CheckDevice() {
    if (session_->ThreadRunning.load() || !BeginBackgroundAction()) return;
    RunOffInterfaceThread([session = session_, link = link_] {
        const CheckResult result = RunCheck(*session);
        // Queued behind the Check's log lines.
        link->PostToWindow([result](ViewController &window) {
            // The Check's worker has ended: what it found is the session's to read now.
            window.NoteFirmware(result.version_read ? FirmwareReadBy(window.Session())
                                                    : FirmwareSeen{});
            // The port stays open for the Update or Setting action that follows.
            window.ui_->bDeviceSetting->setVisible(result.found);
            window.ui_->bUpdateFirmware->setVisible(result.found);
            window.EndBackgroundAction(true);
        });
    });
}

void ViewController::PollMessage() {
    RunSettingsApply(*session_, link_);
}

void ViewController::UpdateFirmware() {
    // A Cancel still waiting for the last worker would stop the new one too.
    if (BackgroundActionRunning()) return;
    // What the line says of the firmware holds until the update changes it.
    update_started_ = true;
    device_status_.ForgetFirmware();
    ShowDeviceStatus();
    StartUpdateWorker(session_, link_);
}

void ViewController::actDeviceSetting() {
    if (!BeginBackgroundAction()) return;
    RunOffInterfaceThread([session = session_, link = link_] {
        // Opens the dialog behind the read's log lines and starts the apply worker, which hands
        // the buttons back once the dialog has closed.
        const bool dialog_opened = StartDeviceSetting(session, link);
        link->PostToWindow([dialog_opened](ViewController &window) {
            window.EndBackgroundAction(!dialog_opened);
        });
    });
}

bool ViewController::BeginBackgroundAction() {
    if (background_action_) return false;
    background_action_ = true;
    focus_before_action_ = focusWidget();
    ApplyButtons(ButtonState::LockedForSettings);
    setCursor(Qt::BusyCursor);
    return true;
}

void ViewController::EndBackgroundAction(bool restore_buttons) {
    background_action_ = false;
    unsetCursor();
    if (!restore_buttons) return;
    ApplyButtons(ButtonState::Restored);
    // The button the keyboard pressed has the focus again, if it is still offered.
    QWidget *before = focus_before_action_;
    if (before != nullptr && before != ui_->bClose && focusWidget() == ui_->txMessage &&
        before->isVisible() && before->isEnabled()) {
        before->setFocus(Qt::OtherFocusReason);
    }
}

void ViewController::RunOffInterfaceThread(std::function<void()> work) {
    try {
        std::thread(work).detach();
    } catch (const std::system_error &) {
        work();  // no thread to be had: the window waits, as it must for the result
    }
}

bool ViewController::CloseConfirmed() {
    if (!session_->UpdateFirmwareRunning.load() && !session_->ThreadRunning.load()) return true;
    QMessageBox question(QMessageBox::Warning, windowTitle(),
                         "An update is running. Closing now leaves the adapter without working "
                         "firmware until the next update.\n\nClose anyway?",
                         QMessageBox::Yes | QMessageBox::No, this);
    question.setObjectName("CloseDuringUpdateQuestion");
    question.setDefaultButton(QMessageBox::No);
    question.setEscapeButton(QMessageBox::No);
    return question.exec() == QMessageBox::Yes;
}

void ViewController::Close() {
    if (!CloseConfirmed()) return;
    // Ends here, without static destructors: a detached worker may still be using the
    // session, and nothing waits for it.
    std::quick_exit(0);
}

void ViewController::closeEvent(QCloseEvent *event) {
    if (!CloseConfirmed()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void ViewController::AskForAddress(const AddressQuestion &question,
                                   std::shared_ptr<std::promise<AddressAnswer>> answer) {
    QMetaObject::invokeMethod(
        this,
        [this, question, answer] { answer->set_value(AddressQuestionDialog::Ask(question, this)); },
        Qt::QueuedConnection);
}

void ViewController::Cancel() {
    if (cancel_pending_) return;
    cancel_pending_ = true;
    // The worker posts its end and the restored buttons itself; the helper only waits for it,
    // so that no Update starts while this Cancel could still stop it.
    RunOffInterfaceThread([session = session_, link = link_] {
        CancelUpdate(*session);
        link->PostToWindow([](ViewController &window) { window.cancel_pending_ = false; });
    });
}

std::shared_ptr<FrontEnd> ViewController::Link() const {
    return link_;
}

void ViewController::PostButtons(ButtonState state) {
    if (QThread::currentThread() == thread()) {
        ApplyButtons(state);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, state] { ApplyButtons(state); }, Qt::QueuedConnection);
}

void ViewController::ApplyButtons(ButtonState state) {
    const bool enabled = state == ButtonState::Restored;
    // A button that is disabled hands the focus on, which may be to Close: a locked window
    // keeps the keyboard on its log instead, where a stray Enter presses nothing.
    QWidget *focused = focusWidget();
    const bool focus_in_buttons = focused == ui_->bCheckDevice || focused == ui_->bUpdateFirmware ||
                                  focused == ui_->bDeviceSetting || focused == ui_->bClose;
    ui_->bCheckDevice->setEnabled(enabled);
    ui_->bUpdateFirmware->setEnabled(enabled);
    ui_->bDeviceSetting->setEnabled(enabled);
    ui_->bCancel->setVisible(state == ButtonState::LockedForUpdate);
    if (state == ButtonState::LockedForUpdate || (!enabled && focus_in_buttons)) {
        ui_->txMessage->setFocus(Qt::OtherFocusReason);
    }
    if (state == ButtonState::Restored && focus_setting_when_restored_) {
        // The settings dialog has closed; its worker hands the buttons back after it.
        focus_setting_when_restored_ = false;
        if (ui_->bDeviceSetting->isVisible()) ui_->bDeviceSetting->setFocus(Qt::OtherFocusReason);
    }
    if (state == ButtonState::Restored) {
        // Every end of an update (success, failure, cancel) hands the buttons back.
        ui_->pbUpdate->hide();
        ui_->pbUpdate->reset();
        // The worker clears its running flag before it hands the buttons back: then what it
        // found is the session's to read.
        if (update_started_ && !session_->UpdateFirmwareRunning.load()) {
            update_started_ = false;
            NoteFirmware(session_->LastUpdateEnd.load() == UpdateEnd::kSuccess
                             ? FirmwareReadBy(*session_)
                             : FirmwareSeen{});
        }
    }
}

void ViewController::ShowProgress(const UpdateProgress &progress) {
    QMetaObject::invokeMethod(
        this, [this, progress] { ApplyProgress(progress); }, Qt::QueuedConnection);
}

void ViewController::ApplyProgress(const UpdateProgress &progress) {
    // A retried attempt starts again from erasing, and so does the bar. The time left comes with
    // the report, estimated by the update worker.
    const double percent = OverallPercent(progress);
    ui_->pbUpdate->show();
    // The text first: whoever watches the value sees the text that goes with it.
    ui_->pbUpdate->setFormat(QString("Attempt %1 · %2 · %p % · %3 left")
                                 .arg(progress.attempt)
                                 .arg(StageName(progress.stage))
                                 .arg(QString::fromStdString(TimeLeftText(progress.seconds_left))));
    ui_->pbUpdate->setValue(static_cast<int>(std::floor(percent)));
}

void ViewController::ShowSettingsDialog() {
    auto *dialog = new DeviceSettingViewController(session_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // However the dialog ends, the keyboard goes back to Setting, once Setting may be pressed:
    // while the buttons are locked the log keeps the focus.
    connect(dialog, &QDialog::finished, this, [this] {
        if (ui_->bDeviceSetting->isEnabled() && ui_->bDeviceSetting->isVisible()) {
            ui_->bDeviceSetting->setFocus(Qt::OtherFocusReason);
        } else {
            focus_setting_when_restored_ = true;
        }
    });
    dialog->open();
}

void ViewController::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    viewDidAppear();
    // The demo mode, or a test, may have given the session its folders after the window was made.
    RefreshDevices();
}

void ViewController::WatchDeviceFolders() {
    std::vector<std::string> folders = {session_->FirstDeviceDirectory, session_->DeviceDirectory};
    if (folders == watched_folders_ && watch_notifier_ != nullptr) return;
    watched_folders_ = folders;
    delete watch_notifier_;
    watch_notifier_ = nullptr;
    // Without inotify the line is still right after each Check; it only does not follow
    // plugging by itself.
    if (!node_watch_.Watch(folders)) return;
    watch_notifier_ = new QSocketNotifier(node_watch_.Descriptor(), QSocketNotifier::Read, this);
    connect(watch_notifier_, &QSocketNotifier::activated, this,
            &ViewController::DeviceFoldersChanged);
}

void ViewController::DeviceFoldersChanged() {
    std::vector<std::string> gone;
    if (!node_watch_.TakeChanges(&gone)) return;
    device_status_.Gone(gone);
    // Not restarted by each change: a stream of changes is listed every kDeviceListDelayMs.
    if (!device_list_timer_->isActive()) device_list_timer_->start();
}

void ViewController::RefreshDevices() {
    WatchDeviceFolders();
    // Takes what the watch has seen so far, so that a node that went and came back since the
    // last listing loses the firmware it was said to have.
    if (watch_notifier_ != nullptr) DeviceFoldersChanged();
    device_list_timer_->stop();
    device_status_.Listed(ListPresentNodes(*session_, session_->SysfsRoot));
    ShowDeviceStatus();
}

void ViewController::NoteFirmware(const FirmwareSeen &firmware) {
    // Listed first: the node the Check used may have come or gone since the last listing.
    RefreshDevices();
    device_status_.Checked(firmware);
    ShowDeviceStatus();
}

void ViewController::ShowDeviceStatus() {
    ui_->lbDevices->setText(QString::fromStdString(device_status_.Text()));
}

}  // namespace tornelvox
