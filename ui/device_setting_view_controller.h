// The settings dialog: shows the device values, lets the user change them or restore the
// defaults, and fills the applied values when it closes.
#pragma once

#include <QColor>
#include <QDialog>
#include <cstdint>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;

namespace Ui {
class DeviceSettingViewController;
}

namespace tornelvox {

struct AdapterSession;
struct SettingDescription;
struct SettingControl;

class DeviceSettingViewController : public QDialog {
    Q_OBJECT

  public:
    // Colours of a dependent or gated box's label.
    static const QColor kEnabledLabel;   // black
    static const QColor kDisabledLabel;  // light grey

    // The dialog of session's settings: it shows its device values and fills its applied values.
    explicit DeviceSettingViewController(std::shared_ptr<AdapterSession> session,
                                         QWidget *parent = nullptr);
    ~DeviceSettingViewController() override;

    // Fills the boxes, shows the device values, applies the checkbox dependencies and the
    // firmware gates of CurVerNum. Run once, when the dialog's widgets exist.
    void viewDidLoad();
    // Sets the dialog's title. Run when the dialog is shown.
    void viewDidAppear();
    // Restore defaults: every control to its default; the firmware gates are not applied again.
    void pDefault();
    // Confirm: the controls become the applied values, gated by CurVerNum; then the dialog
    // releases the settings worker and closes.
    void pOK();
    // Run when the dialog has gone, however it was closed: if neither Confirm nor Cancel ran,
    // does what Cancel does, so the settings worker is always released.
    void viewDidDisappear();
    // Cancel: the applied values become the device values; the worker is released; closes.
    void pCancel();
    // Escape and the window's close control end the dialog as Cancel does.
    void reject() override;
    // The DTMF Tone Command and Echo Cancel checkboxes were clicked: their boxes follow them.
    void clickDTMFCmd();
    void clickAEC();

  protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

  private:
    // One setting's control: a checkbox for a flag, a box with its label for a level.
    struct Control {
        const SettingDescription *setting = nullptr;
        const SettingControl *entry = nullptr;  // the dialog's own facts about it
        QCheckBox *check = nullptr;
        QComboBox *box = nullptr;
        QLabel *label = nullptr;
    };

    const Control *ControlFor(std::uint8_t option) const;
    const Control *ControlFor(const QWidget *widget) const;
    int ValueOf(const Control &control) const;
    void Show(const Control &control, int value);
    // A dependent box is enabled exactly when its checkbox is on, its label black or grey.
    void ApplyDependency(const Control &dependent);
    void ApplyDependentsOf(const QCheckBox *check);
    static void ColourLabel(QLabel *label, bool enabled);

    std::shared_ptr<AdapterSession> session_;
    std::unique_ptr<Ui::DeviceSettingViewController> ui_;
    std::vector<Control> controls_;  // in the settings table's order
};

}  // namespace tornelvox
