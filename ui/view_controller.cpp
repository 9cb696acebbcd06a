#include "ui/view_controller.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScrollBar>
#include <QTextCursor>
#include <QThread>
#include <cstdlib>

#include "firmware/firmware_update.h"
#include "settings/device_settings.h"
#include "ui/address_question_dialog.h"
#include "ui/device_setting_view_controller.h"
#include "ui/window_link_impl.h"
#include "ui_view_controller.h"
#include "workflow/workflow.h"

namespace tornelvox {

namespace {

// Shows a busy cursor while the interface thread is held by a blocking action.
class BusyCursor {
  public:
    BusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

}  // namespace

ViewController::ViewController(QWidget *parent)
    : QWidget(parent),
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

    viewDidLoad();
}

ViewController::~ViewController() {
    link_->Detach();
}

int ViewController::tornelvox_main() {
    return RunUpdateWorker(link_);
}

void ViewController::viewDidLoad() {
    // From here on every message, from any thread, reaches this window's log. The sink keeps
    // the link, not the window: a worker that logs after the window is gone reaches nothing.
    RouteMessagesTo(link_);
    ui_->txMessage->setReadOnly(true);
    ui_->bDeviceSetting->hide();
    ui_->bUpdateFirmware->hide();
    ui_->bCancel->hide();
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
    if (ThreadRunning.load()) return;
    BusyCursor busy;

    const CheckResult result = RunCheck();
    // The port stays open for the Update or Setting action that follows.
    ui_->bDeviceSetting->setVisible(result.found);
    ui_->bUpdateFirmware->setVisible(result.found);
}

void ViewController::PollMessage() {
    RunSettingsApply(link_);
}

void ViewController::UpdateFirmware() {
    StartUpdateWorker(link_);
}

void ViewController::actDeviceSetting() {
    BusyCursor busy;
    StartDeviceSetting(link_);
}

bool ViewController::CloseConfirmed() {
    if (!UpdateFirmwareRunning.load() && !ThreadRunning.load()) return true;
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
    // process-wide state, and nothing waits for it.
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
    BusyCursor busy;
    CancelUpdate();
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
    ui_->bCheckDevice->setEnabled(enabled);
    ui_->bUpdateFirmware->setEnabled(enabled);
    ui_->bDeviceSetting->setEnabled(enabled);
    ui_->bCancel->setVisible(state == ButtonState::LockedForUpdate);
}

void ViewController::ShowSettingsDialog() {
    auto *dialog = new DeviceSettingViewController(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void ViewController::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    viewDidAppear();
}

}  // namespace tornelvox
