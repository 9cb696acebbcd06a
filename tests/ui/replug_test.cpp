// The adapter unplugged and plugged back in, as the failure banner tells the user to do: the
// next Check, Update or Setting works at the first click, at the same node path or a new one.
#include "tests/ui/ui_fixture.h"
#include "ui/device_setting_view_controller.h"

namespace tornelvox::testing {
namespace {

bool Has(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

class ReplugTest : public MainWindowTest {
  protected:
    // A Check that found the adapter and left its port open, then the adapter unplugged and
    // plugged in again (a new node behind the same path, or at new_path).
    void CheckThenReplug(const std::string &new_path = "") {
        PlugAdapter({.version = kOlderVersion});
        Check();
        ASSERT_TRUE(Has(Log(), " Device Firmware Version = 302\n")) << Log();
        ASSERT_NE(session_->hComm, 0);
        ASSERT_TRUE(adapter_->Replug(new_path));
        LogWidget()->clear();
    }

    static constexpr char kVersionRead[] =
        " Device Firmware Version = 302\n Available Firmware for update = 603\n";
};

TEST_F(ReplugTest, NextCheckFindsTheAdapterAtTheSamePath) {
    CheckThenReplug();
    Check();
    EXPECT_TRUE(Has(Log(), " Found device on " + NodePath() + "\n" + kVersionRead)) << Log();
}

TEST_F(ReplugTest, NextCheckFindsTheAdapterAtItsNewNode) {
    const std::string new_path = folder_ + "/cu.usbserial-moved";
    CheckThenReplug(new_path);
    Check();
    EXPECT_TRUE(Has(Log(), " Found device on " + new_path + "\n" + kVersionRead)) << Log();
}

TEST_F(ReplugTest, UpdateWorksAtTheFirstClick) {
    CheckThenReplug();
    Button("bUpdateFirmware")->click();
    ASSERT_TRUE(WaitFor([&] { return Button("bCheckDevice")->isEnabled(); }));
    // The attempt that met the dead port fails; the next one, on the reopened node, succeeds.
    EXPECT_TRUE(Has(Log(), "Success")) << Log();
    EXPECT_EQ(session_->CurVerNum, kCurrentVersion);
}

TEST_F(ReplugTest, SettingWorksAtTheFirstClick) {
    CheckThenReplug();
    Button("bDeviceSetting")->click();
    AwaitSettingsDialog();
    QCoreApplication::sendPostedEvents();
    auto *dialog = window_->findChild<DeviceSettingViewController *>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(Has(Log(), "Can't get")) << Log();
    dialog->reject();
    ASSERT_TRUE(WaitFor([&] { return Button("bCheckDevice")->isEnabled(); }));
}

}  // namespace
}  // namespace tornelvox::testing
