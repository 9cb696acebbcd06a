#include "ui/device_setting_view_controller.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHideEvent>
#include <QLabel>
#include <QPushButton>
#include <QString>

#include "firmware/firmware_update.h"
#include "settings/device_settings.h"
#include "ui/setting_controls.h"
#include "ui_device_setting_view_controller.h"
#include "workflow/workflow.h"

namespace tornelvox {

const QColor DeviceSettingViewController::kEnabledLabel = QColor(Qt::black);
const QColor DeviceSettingViewController::kDisabledLabel = QColor(Qt::lightGray);

namespace {

// A box's label is named after the box: "tx" and the name without its "cb" or "cbx" prefix
// (cbEchoDepth has txEchoDepth, cbxMICVol has txMICVol).
QString LabelNameFor(const QString &box_name) {
    const int prefix = box_name.startsWith(QLatin1String("cbx")) ? 3 : 2;
    return QStringLiteral("tx") + box_name.mid(prefix);
}

// Cancel, and any close other than Confirm: every applied value becomes its device value, in
// the dialog's cancel order.
void CopyDeviceToAppliedInCancelOrder(SettingsValues &values) {
    for (const SettingDescription *setting : SettingsInCancelOrder()) {
        setting->applied.Set(values, setting->device.Get(values));
    }
}

}  // namespace

DeviceSettingViewController::DeviceSettingViewController(std::shared_ptr<AdapterSession> session,
                                                         QWidget *parent)
    : QDialog(parent),
      session_(std::move(session)),
      ui_(std::make_unique<Ui::DeviceSettingViewController>()) {
    ui_->setupUi(this);

    for (const SettingDescription &setting : AllSettings()) {
        const SettingControl *entry = SettingControlFor(setting.option);
        if (entry == nullptr) continue;
        const QString name = QString::fromLatin1(entry->control);
        Control control;
        control.setting = &setting;
        control.entry = entry;
        if (setting.kind == SettingKind::Flag) {
            control.check = findChild<QCheckBox *>(name);
            if (control.check == nullptr) continue;
        } else {
            control.box = findChild<QComboBox *>(name);
            if (control.box == nullptr) continue;
            control.label = findChild<QLabel *>(LabelNameFor(name));
        }
        controls_.push_back(control);
    }

    connect(ui_->bSetDefault, &QPushButton::clicked, this, &DeviceSettingViewController::pDefault);
    connect(ui_->bOK, &QPushButton::clicked, this, &DeviceSettingViewController::pOK);
    connect(ui_->bCancel, &QPushButton::clicked, this, &DeviceSettingViewController::pCancel);
    connect(ui_->cbDTMFCmd, &QCheckBox::clicked, this, &DeviceSettingViewController::clickDTMFCmd);
    connect(ui_->cbEchoCancel, &QCheckBox::clicked, this, &DeviceSettingViewController::clickAEC);

    viewDidLoad();
}

DeviceSettingViewController::~DeviceSettingViewController() {
    // Destroyed while still open (its window went with the main window): the worker must be
    // released all the same.
    if (isVisible()) viewDidDisappear();
}

void DeviceSettingViewController::viewDidLoad() {
    for (const Control &control : controls_) {
        if (control.box == nullptr) continue;
        control.box->clear();
        for (const char *item : control.setting->items)
            control.box->addItem(QString::fromUtf8(item));
    }
    for (const Control &control : controls_) Show(control, control.setting->device.Get(*session_));
    for (const Control &control : controls_) {
        if (control.entry->enabled_by != 0) ApplyDependency(control);
    }

    // Settings the adapter's firmware lacks are shown off or disabled.
    for (const Control &control : controls_) {
        if (SettingAvailable(*control.setting, session_->CurVerNum)) continue;
        if (control.check != nullptr) {
            control.check->setChecked(false);
            control.check->setEnabled(false);
        } else {
            control.box->setEnabled(false);
            ColourLabel(control.label, false);
        }
    }
}

void DeviceSettingViewController::viewDidAppear() {
    setWindowTitle("Set Tornelvox Parameters");
}

void DeviceSettingViewController::pDefault() {
    for (const Control &control : controls_) Show(control, control.entry->default_value);
    for (const Control &control : controls_) {
        if (control.entry->enabled_by != 0) ApplyDependency(control);
    }
}

void DeviceSettingViewController::pOK() {
    for (const SettingDescription *setting : SettingsInConfirmOrder()) {
        for (const Control &control : controls_) {
            if (control.setting == setting) setting->applied.Set(*session_, ValueOf(control));
        }
    }
    GateAppliedValues(*session_, session_->CurVerNum);
    ClearDeviceSettingRunning(*session_);
    accept();
}

void DeviceSettingViewController::viewDidDisappear() {
    if (!session_->bDeviceSettingRunning.load(std::memory_order_acquire)) return;
    CopyDeviceToAppliedInCancelOrder(*session_);
    ClearDeviceSettingRunning(*session_);
}

void DeviceSettingViewController::pCancel() {
    CopyDeviceToAppliedInCancelOrder(*session_);
    ClearDeviceSettingRunning(*session_);
    QDialog::reject();
}

void DeviceSettingViewController::reject() {
    pCancel();
}

void DeviceSettingViewController::clickDTMFCmd() {
    ApplyDependentsOf(ui_->cbDTMFCmd);
}

void DeviceSettingViewController::clickAEC() {
    ApplyDependentsOf(ui_->cbEchoCancel);
}

void DeviceSettingViewController::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    viewDidAppear();
}

void DeviceSettingViewController::hideEvent(QHideEvent *event) {
    QDialog::hideEvent(event);
    // A hide the window system makes on its own (minimising) does not close the dialog.
    if (!event->spontaneous()) viewDidDisappear();
}

const DeviceSettingViewController::Control *DeviceSettingViewController::ControlFor(
    const QWidget *widget) const {
    for (const Control &control : controls_) {
        if (control.check == widget || control.box == widget) return &control;
    }
    return nullptr;
}

const DeviceSettingViewController::Control *DeviceSettingViewController::ControlFor(
    std::uint8_t option) const {
    for (const Control &control : controls_) {
        if (control.setting->option == option) return &control;
    }
    return nullptr;
}

void DeviceSettingViewController::ApplyDependentsOf(const QCheckBox *check) {
    const Control *clicked = ControlFor(check);
    if (clicked == nullptr) return;
    for (const Control &control : controls_) {
        if (control.entry->enabled_by == clicked->setting->option) ApplyDependency(control);
    }
}

int DeviceSettingViewController::ValueOf(const Control &control) const {
    if (control.check != nullptr) return control.check->isChecked() ? 1 : 0;
    return control.box->currentIndex();
}

void DeviceSettingViewController::Show(const Control &control, int value) {
    if (control.check != nullptr)
        control.check->setChecked(value != 0);
    else
        control.box->setCurrentIndex(value);
}

void DeviceSettingViewController::ApplyDependency(const Control &dependent) {
    const Control *checkbox = ControlFor(dependent.entry->enabled_by);
    if (checkbox == nullptr || checkbox->check == nullptr) return;
    const bool enabled = checkbox->check->isChecked();
    dependent.box->setEnabled(enabled);
    ColourLabel(dependent.label, enabled);
}

void DeviceSettingViewController::ColourLabel(QLabel *label, bool enabled) {
    if (label == nullptr) return;
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, enabled ? kEnabledLabel : kDisabledLabel);
    label->setPalette(palette);
}

}  // namespace tornelvox
