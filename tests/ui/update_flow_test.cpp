// The update flow through the main window's buttons: locked while the worker runs, the worker's
// last lines in the log before the buttons come back, and a cancel through the Cancel button.
#include "tests/ui/ui_fixture.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {
namespace {

constexpr char kLockedForUpdate[] =
    "bCheckDevice shown disabled, bUpdateFirmware shown disabled, bDeviceSetting shown disabled, "
    "bCancel shown enabled";
constexpr char kCheckedAdapter[] =
    "bCheckDevice shown enabled, bUpdateFirmware shown enabled, bDeviceSetting shown enabled, "
    "bCancel hidden enabled";

bool EndsWith(const std::string &text, const std::string &end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

using UpdateFlowTest = MainWindowTest;

TEST_F(UpdateFlowTest, WholeUpdateLocksTheButtonsAndLogsItsEndBeforeHandingThemBack) {
    PlugAdapter({.version = kOlderVersion});
    Check();
    LogWhenEnabled watch(Button("bCheckDevice"), LogWidget());

    Button("bUpdateFirmware")->click();
    EXPECT_EQ(Buttons(), kLockedForUpdate);
    ASSERT_TRUE(WaitFor([&] { return Button("bCheckDevice")->isEnabled(); }));

    const std::string success = "\n            Success                           \n\n";
    EXPECT_TRUE(EndsWith(watch.log, success)) << watch.log;
    EXPECT_NE(watch.log.find("\n Start the programming: \n"), std::string::npos);
    EXPECT_EQ(Buttons(), kCheckedAdapter);
    EXPECT_EQ(session_->CurVerNum, kCurrentVersion);
    EXPECT_TRUE(adapter_->UnexpectedBytes().empty()) << adapter_->Transcript();
}

TEST_F(UpdateFlowTest, CancelButtonStopsTheUpdateAndTheButtonsComeBack) {
    PlugAdapter({.version = kOlderVersion, .erase_delay_ms = 40});
    Check();
    LogWhenEnabled watch(Button("bCheckDevice"), LogWidget());
    Button("bUpdateFirmware")->click();
    ASSERT_TRUE(adapter_->WaitForFrames(kCmdEraseStep, 3, std::chrono::seconds(20)));

    Button("bCancel")->click();  // returns at once; the worker ends soon after
    ASSERT_TRUE(WaitFor([&] { return !session_->UpdateFirmwareRunning; }));

    EXPECT_FALSE(session_->UpdateFirmwareRunning);
    ASSERT_TRUE(WaitFor([&] { return Button("bCheckDevice")->isEnabled(); }));
    EXPECT_TRUE(EndsWith(watch.log,
                         "\n\nForce Stop \n Try again. Try count = 1\n"
                         " The update was cancelled. Erasing had begun: the adapter needs a "
                         "complete update before it works again.\n\n"))
        << watch.log;
    EXPECT_EQ(Buttons(), kCheckedAdapter);
    EXPECT_EQ(session_->CurVerNum, 0);
    EXPECT_EQ(adapter_->CountOf(kCmdWriteImagePage), 0);  // no page was written
}

}  // namespace
}  // namespace tornelvox::testing
