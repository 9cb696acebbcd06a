// The settings dialog opened by the Setting button against the emulated adapter: the firmware
// gates, the checkbox dependencies, Restore defaults, and what Confirm, Cancel and the window's
// own close control leave for the worker to send.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QWindow>
#include <algorithm>
#include <functional>
#include <set>
#include <vector>

#include "tests/ui/ui_fixture.h"
#include "ui/device_setting_view_controller.h"
#include "ui/setting_controls.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {
namespace {

constexpr char kLockedForSettings[] =
    "bCheckDevice shown disabled, bUpdateFirmware shown disabled, bDeviceSetting shown disabled, "
    "bCancel hidden enabled";
constexpr char kCheckedAdapter[] =
    "bCheckDevice shown enabled, bUpdateFirmware shown enabled, bDeviceSetting shown enabled, "
    "bCancel hidden enabled";
constexpr char kNothingSent[] = "\n ====> Device Setting \n\n Set Device parameters done. \n\n";

class SettingsDialogTest : public MainWindowTest {
  protected:
    // Puts every flag at flag and every level at the adapter's number for level index `level`
    // (or its last level, if it has fewer).
    void Plant(std::uint32_t flag, std::size_t level) {
        for (const SettingDescription &setting : AllSettings()) {
            if (setting.kind == SettingKind::Flag) {
                adapter_->SetSetting(setting.option, flag);
            } else {
                const std::size_t index = std::min(level, setting.reported.size() - 1);
                adapter_->SetSetting(setting.option, setting.reported[index]);
            }
        }
    }

    // Checks the adapter, clicks Setting and returns the dialog it opened.
    DeviceSettingViewController *OpenDialog() {
        Check();
        log_before_dialog_ = Log().size();
        Button("bDeviceSetting")->click();
        AwaitSettingsDialog();
        QCoreApplication::sendPostedEvents();
        auto *dialog = window_->findChild<DeviceSettingViewController *>();
        EXPECT_NE(dialog, nullptr);
        if (dialog != nullptr) {
            EXPECT_TRUE(QTest::qWaitForWindowExposed(dialog));
        }
        adapter_->ClearRecords();
        handed_back_ = std::make_unique<LogWhenEnabled>(Button("bCheckDevice"), LogWidget());
        return dialog;
    }

    // Waits until the settings worker has handed the buttons back; returns what it had logged
    // by then.
    std::string WorkerLog() {
        EXPECT_TRUE(WaitFor([&] { return Button("bCheckDevice")->isEnabled(); }));
        const std::string log = handed_back_->log;
        const std::size_t start = log.find("\n ====> Device Setting \n", log_before_dialog_);
        return start == std::string::npos ? log.substr(log_before_dialog_) : log.substr(start);
    }

    // Settings frames written to the adapter: (option, byte) of each kCmdWriteSetting frame.
    std::vector<std::pair<int, int>> Writes() const {
        std::vector<std::pair<int, int>> writes;
        for (const emulator::FrameRecord &record : adapter_->Frames()) {
            if (record.kind == emulator::RecordKind::kFrame && record.code == kCmdWriteSetting &&
                record.bytes.size() >= 7) {
                writes.emplace_back(record.bytes[5], record.bytes[6]);
            }
        }
        return writes;
    }

    template <typename Widget>
    static Widget *Control(QWidget *dialog, const char *name) {
        Widget *widget = dialog->findChild<Widget *>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    static QColor LabelColour(QWidget *dialog, const char *name) {
        return Control<QLabel>(dialog, name)->palette().color(QPalette::WindowText);
    }

    // The name of the window's widget that has the keyboard, or has it when the window is active.
    std::string FocusName() const {
        const QWidget *focused = window_->focusWidget();
        return focused == nullptr ? "(none)" : focused->objectName().toStdString();
    }

    std::size_t log_before_dialog_ = 0;
    std::unique_ptr<LogWhenEnabled> handed_back_;
};

struct GateCase {
    const char *name;
    std::uint32_t version;
    std::set<std::string> disabled;
    std::set<std::string> grey_labels;
};

void PrintTo(const GateCase &c, std::ostream *out) {
    *out << c.name;
}

class DialogGateTest : public SettingsDialogTest, public ::testing::WithParamInterface<GateCase> {};

TEST_P(DialogGateTest, ShowsDeviceValuesUnderTheFirmwareGatesAndConfirmUnchangedSendsNothing) {
    const GateCase &c = GetParam();
    PlugAdapter({.version = c.version});
    Plant(1, 1);

    DeviceSettingViewController *dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Buttons(), kLockedForSettings);
    EXPECT_EQ(dialog->windowTitle().toStdString(), "Set Tornelvox Parameters");
    EXPECT_TRUE(dialog->isModal());

    for (const SettingDescription &setting : AllSettings()) {
        const char *control = SettingControlFor(setting.option)->control;
        SCOPED_TRACE(control);
        const bool gated = c.disabled.count(control) != 0;
        if (setting.kind == SettingKind::Flag) {
            QCheckBox *check = Control<QCheckBox>(dialog, control);
            ASSERT_NE(check, nullptr);
            EXPECT_EQ(check->isEnabled(), !gated);
            EXPECT_EQ(check->isChecked(), !gated);  // every flag the adapter has is on
        } else {
            QComboBox *box = Control<QComboBox>(dialog, control);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->isEnabled(), !gated);
            ASSERT_EQ(box->count(), static_cast<int>(setting.items.size()));
            for (int i = 0; i < box->count(); ++i) {
                EXPECT_EQ(box->itemText(i).toStdString(), setting.items[i]);
            }
            // What the firmware lacks shows the fixed value reading gave it.
            EXPECT_EQ(box->currentIndex(), gated ? setting.gated_value : 1);
        }
    }
    for (const char *label : {"txDTMFThreshold", "txEchoDepth", "txMICVol", "txSpkVol"}) {
        const bool grey = c.grey_labels.count(label) != 0;
        EXPECT_EQ(LabelColour(dialog, label), grey ? QColor(Qt::lightGray) : QColor(Qt::black))
            << label;
    }

    Control<QPushButton>(dialog, "bOK")->click();

    EXPECT_EQ(WorkerLog(), kNothingSent);
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(Buttons(), kCheckedAdapter);
}

const std::set<std::string> kBelow302 = {"cbDTMFCmd", "cbDTMFThreshold", "cbEchoDepth"};
const std::set<std::string> kBelow300 = {"cbDTMFCmd", "cbDTMFThreshold", "cbEchoDepth",
                                         "cbRobocall"};
const std::set<std::string> kBelow206 = {"cbDTMFCmd",  "cbDTMFThreshold", "cbEchoDepth",
                                         "cbRobocall", "cbxMICVol",       "cbxSpkVol"};

INSTANTIATE_TEST_SUITE_P(
    Versions, DialogGateTest,
    ::testing::Values(GateCase{"V603", 0x603, {}, {}}, GateCase{"V302", 0x302, {}, {}},
                      GateCase{"V301", 0x301, kBelow302, {"txDTMFThreshold", "txEchoDepth"}},
                      GateCase{"V2FF", 0x2FF, kBelow300, {"txDTMFThreshold", "txEchoDepth"}},
                      GateCase{"V205",
                               0x205,
                               kBelow206,
                               {"txDTMFThreshold", "txEchoDepth", "txMICVol", "txSpkVol"}}),
    [](const ::testing::TestParamInfo<GateCase> &info) { return info.param.name; });

TEST_F(SettingsDialogTest, DependentBoxesFollowTheirCheckboxes) {
    PlugAdapter({.version = kCurrentVersion});
    Plant(0, 0);
    DeviceSettingViewController *dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);

    struct Dependency {
        const char *check;
        const char *box;
        const char *label;
    };
    for (const Dependency &d : {Dependency{"cbDTMFCmd", "cbDTMFThreshold", "txDTMFThreshold"},
                                Dependency{"cbEchoCancel", "cbEchoDepth", "txEchoDepth"}}) {
        SCOPED_TRACE(d.check);
        QComboBox *box = Control<QComboBox>(dialog, d.box);
        EXPECT_FALSE(box->isEnabled());
        EXPECT_EQ(LabelColour(dialog, d.label), QColor(Qt::lightGray));
        Control<QCheckBox>(dialog, d.check)->click();
        EXPECT_TRUE(box->isEnabled());
        EXPECT_EQ(LabelColour(dialog, d.label), QColor(Qt::black));
        Control<QCheckBox>(dialog, d.check)->click();
        EXPECT_FALSE(box->isEnabled());
        EXPECT_EQ(LabelColour(dialog, d.label), QColor(Qt::lightGray));
    }
    Control<QPushButton>(dialog, "bCancel")->click();
    EXPECT_EQ(WorkerLog(), kNothingSent);
}

TEST_F(SettingsDialogTest, RestoreDefaultsShowsTheDefaultsAndCancelThenSendsNothing) {
    PlugAdapter({.version = kCurrentVersion});
    Plant(0, 3);  // every flag off, every level at index 3 or its last
    adapter_->SetSetting(16, 1);
    DeviceSettingViewController *dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);

    Control<QPushButton>(dialog, "bSetDefault")->click();

    const std::set<std::string> on = {"cbCallerID", "cbEchoCancel", "cbReverseDisc"};
    for (const char *name :
         {"cbCallerID", "cbEchoCancel", "cbMediaAudio", "cbDialtoneDisc", "cbReverseDisc",
          "cbStrongRing", "cbLEDDEbug", "cbRobocall", "cbDTMFCmd"}) {
        EXPECT_EQ(Control<QCheckBox>(dialog, name)->isChecked(), on.count(name) != 0) << name;
    }
    const std::vector<std::pair<const char *, const char *>> boxes = {
        {"cbEchoDepth", "2"},        {"cbDTMFThreshold", "Low"}, {"cbxDialPlan", "With timeout"},
        {"cbxOffHookPwr", "Medium"}, {"cbxHookSpeed", " 70 ms"}, {"cbxMICVol", "2"},
        {"cbxSpkVol", "2"}};
    for (const auto &[name, text] : boxes) {
        EXPECT_EQ(Control<QComboBox>(dialog, name)->currentText().toStdString(), text) << name;
    }
    EXPECT_FALSE(Control<QComboBox>(dialog, "cbDTMFThreshold")->isEnabled());
    EXPECT_EQ(LabelColour(dialog, "txDTMFThreshold"), QColor(Qt::lightGray));
    EXPECT_TRUE(Control<QComboBox>(dialog, "cbEchoDepth")->isEnabled());
    EXPECT_EQ(LabelColour(dialog, "txEchoDepth"), QColor(Qt::black));

    Control<QPushButton>(dialog, "bCancel")->click();

    EXPECT_EQ(WorkerLog(), kNothingSent);
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(Buttons(), kCheckedAdapter);
}

TEST_F(SettingsDialogTest, ConfirmSendsExactlyTheChangedSetting) {
    PlugAdapter({.version = kCurrentVersion});
    Plant(0, 1);
    DeviceSettingViewController *dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);

    Control<QComboBox>(dialog, "cbxHookSpeed")->setCurrentIndex(3);
    Control<QPushButton>(dialog, "bOK")->click();

    EXPECT_EQ(WorkerLog(),
              "\n ====> Device Setting \n Set Hook Speed to 100 ms\n"
              "\n Set Device parameters done. \n\n");
    EXPECT_EQ(Writes(), (std::vector<std::pair<int, int>>{{4, 3}}));
    EXPECT_EQ(Buttons(), kCheckedAdapter);
}

TEST_F(SettingsDialogTest, OldFirmwareStoresTheFixedEchoDepthWhateverTheBoxShows) {
    PlugAdapter({.version = 0x301});
    Plant(0, 1);
    DeviceSettingViewController *dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);

    Control<QPushButton>(dialog, "bSetDefault")->click();
    QComboBox *depth = Control<QComboBox>(dialog, "cbEchoDepth");
    EXPECT_TRUE(depth->isEnabled());
    depth->setCurrentIndex(4);
    Control<QPushButton>(dialog, "bOK")->click();
    WorkerLog();

    EXPECT_EQ(session_->a_aec_depth_index, 2);
    for (const auto &[option, byte] : Writes()) EXPECT_NE(option, 18) << "byte " << byte;
}

TEST_F(SettingsDialogTest, ClosingByTheWindowControlBehavesLikeCancel) {
    PlugAdapter({.version = kCurrentVersion});
    Plant(0, 1);
    DeviceSettingViewController *dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    QPointer<DeviceSettingViewController> watched(dialog);

    Control<QCheckBox>(dialog, "cbCallerID")->click();
    Control<QComboBox>(dialog, "cbxDialPlan")->setCurrentIndex(2);
    ASSERT_NE(dialog->windowHandle(), nullptr);
    dialog->windowHandle()->close();

    EXPECT_EQ(WorkerLog(), kNothingSent);
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(session_->a_callerid, session_->m_callerid);
    EXPECT_EQ(session_->a_dial_plan_index, session_->m_dial_plan_index);
    EXPECT_FALSE(session_->bDeviceSettingRunning);
    EXPECT_EQ(Buttons(), kCheckedAdapter);
    EXPECT_TRUE(WaitFor([&] { return watched.isNull(); }));  // a fresh dialog at each opening
}

// Whether the settings worker was already released when the dialog began to hide.
class ReleasedWhenHidden : public QObject {
  public:
    ReleasedWhenHidden(QWidget *dialog, const AdapterSession &session) : session_(session) {
        dialog->installEventFilter(this);
    }
    bool released = false;

  protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Hide) released = !session_.bDeviceSettingRunning.load();
        return false;
    }

  private:
    const AdapterSession &session_;
};

TEST_F(SettingsDialogTest, EscapeEndsTheDialogAsCancelDoes) {
    PlugAdapter({.version = 0x603});
    Plant(0, 1);
    DeviceSettingViewController *dialog = OpenDialog();
    ASSERT_NE(dialog, nullptr);
    QPointer<DeviceSettingViewController> watched(dialog);
    Control<QCheckBox>(dialog, "cbCallerID")->click();
    Control<QComboBox>(dialog, "cbxDialPlan")->setCurrentIndex(2);
    // Cancel's path releases the worker before the dialog hides; any other close only as it
    // hides.
    ReleasedWhenHidden watch(dialog, *session_);

    QTest::keyClick(dialog, Qt::Key_Escape);

    EXPECT_TRUE(watch.released);
    EXPECT_EQ(WorkerLog(), kNothingSent);
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(session_->a_callerid, session_->m_callerid);
    EXPECT_EQ(session_->a_dial_plan_index, session_->m_dial_plan_index);
    EXPECT_EQ(Buttons(), kCheckedAdapter);
    EXPECT_TRUE(WaitFor([&] { return watched.isNull(); }));
}

// However the dialog ends, the keyboard goes back to Setting: not while the settings worker still
// holds the buttons (the log keeps the focus then, where a stray Enter presses nothing), but as
// soon as it hands them back.
TEST_F(SettingsDialogTest, FocusReturnsToSettingHoweverTheDialogCloses) {
    struct CloseCase {
        const char *name;
        std::function<void(DeviceSettingViewController *)> close;
    };
    const CloseCase cases[] = {
        {"Confirm",
         [](DeviceSettingViewController *dialog) { Control<QPushButton>(dialog, "bOK")->click(); }},
        {"Cancel",
         [](DeviceSettingViewController *dialog) {
             Control<QPushButton>(dialog, "bCancel")->click();
         }},
        {"Escape",
         [](DeviceSettingViewController *dialog) { QTest::keyClick(dialog, Qt::Key_Escape); }},
        {"WindowControl",
         [](DeviceSettingViewController *dialog) {
             ASSERT_NE(dialog->windowHandle(), nullptr);
             dialog->windowHandle()->close();
         }},
    };
    PlugAdapter({.version = kCurrentVersion});
    for (const CloseCase &row : cases) {
        SCOPED_TRACE(row.name);
        Button("bCheckDevice")->setFocus();  // anywhere but on Setting
        DeviceSettingViewController *dialog = OpenDialog();
        ASSERT_NE(dialog, nullptr);
        QPointer<DeviceSettingViewController> watched(dialog);
        // Where the keyboard is as the dialog ends, with the buttons still locked.
        std::string focus_at_close;
        std::string buttons_at_close;
        QObject::connect(dialog, &QDialog::finished, window_.get(), [&] {
            focus_at_close = FocusName();
            buttons_at_close = Buttons();
        });
        row.close(dialog);

        EXPECT_TRUE(WaitFor([&] { return watched.isNull(); }));
        EXPECT_EQ(buttons_at_close, kLockedForSettings);
        EXPECT_EQ(focus_at_close, "txMessage");
        WorkerLog();
        EXPECT_EQ(Buttons(), kCheckedAdapter);
        EXPECT_EQ(FocusName(), "bDeviceSetting");
    }
}

// The dialog's own table: an entry for every setting, both of its orders hold each setting once,
// and every level's default is one of its levels.
TEST(SettingControls, EveryOrderHoldsEachSettingOnceAndDefaultsAreLevels) {
    for (const SettingOrder &order : {SettingsInConfirmOrder(), SettingsInCancelOrder()}) {
        std::set<const SettingDescription *> settings(order.begin(), order.end());
        EXPECT_EQ(settings.size(), 16u);
        EXPECT_EQ(settings.count(nullptr), 0u);
    }
    for (const SettingDescription &setting : AllSettings()) {
        SCOPED_TRACE(setting.name);
        const SettingControl *entry = SettingControlFor(setting.option);
        ASSERT_NE(entry, nullptr);
        if (setting.kind == SettingKind::Level) {
            EXPECT_LT(entry->default_value, static_cast<int>(setting.reported.size()));
        }
    }
}

}  // namespace
}  // namespace tornelvox::testing
