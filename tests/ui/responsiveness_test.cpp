// The window keeps turning its event loop while the line is slow: a Check that probes a silent
// candidate, and a Cancel whose worker is in the middle of a long erase step. The Check's lines
// show as they are logged.
#include <QEventLoop>

#include "tests/ui/ui_fixture.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {
namespace {

constexpr int kTurns = 50;

class ResponsivenessTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        QObject::connect(&ticker_, &QTimer::timeout, [this] { ++turns_; });
        ticker_.start(1);
    }

    // Turns the event loop until condition holds, looking after every turn; false after 30 s.
    bool TurnUntil(const std::function<bool()> &condition) {
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, [&loop] { loop.exit(1); });
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, &loop, [&] {
            if (condition()) loop.exit(0);
        });
        limit.start(kLongWaitMs);
        look.start(0);
        return loop.exec() == 0;
    }

    int turns_ = 0;
    QTimer ticker_;
};

TEST_F(ResponsivenessTest, CheckProbingASilentCandidateLeavesTheWindowTurningAndLogsAsItGoes) {
    // Each read of the probe waits as long as on a real line.
    session_->ReadCallTimeoutMs = kDefaultReadCallTimeoutMs;
    EmulatedAdapter silent({.never_reads = true});
    ASSERT_TRUE(silent.Start());
    const std::string path = folder_ + "/cu.usbserial-silent";
    ASSERT_TRUE(silent.LinkAt(path));

    Button("bCheckDevice")->click();
    const int turns_at_start = turns_;
    ASSERT_TRUE(TurnUntil([&] {
        return turns_ > turns_at_start + kTurns &&
               Log().find("\t Check port : " + path + "\n") != std::string::npos;
    }));

    // Still probing, the window has turned and shows the lines so far, its actions locked.
    EXPECT_TRUE(window_->BackgroundActionRunning());
    EXPECT_EQ(Log(), "\n Search Device ...\n\t Check port : " + path + "\n");
    EXPECT_EQ(Buttons(),
              "bCheckDevice shown disabled, bUpdateFirmware hidden disabled, bDeviceSetting "
              "hidden disabled, bCancel hidden enabled");
    EXPECT_TRUE(Button("bClose")->isEnabled());

    silent.Stop();  // the probe ends at the hang-up
    ASSERT_TRUE(WaitFor([&] { return !window_->BackgroundActionRunning(); }));
    EXPECT_NE(Log().find("\n Can't find Tornelvox device.\n"), std::string::npos) << Log();
    EXPECT_EQ(Buttons(),
              "bCheckDevice shown enabled, bUpdateFirmware hidden enabled, bDeviceSetting hidden "
              "enabled, bCancel hidden enabled");
}

TEST_F(ResponsivenessTest, CancelReturnsAtOnceAndTheWindowTurnsUntilTheWorkerHasEnded) {
    // Each erase step takes a second and a half; its reply may take three.
    session_->ReadCallTimeoutMs = kDefaultReadCallTimeoutMs;
    PlugAdapter({.version = 0x302, .erase_delay_ms = 1500});
    Check();
    Button("bUpdateFirmware")->click();
    // The second erase step has arrived: its reply comes a second and a half later.
    ASSERT_TRUE(WaitFor([&] { return adapter_->CountOf(kCmdEraseStep) >= 2; }));
    const std::string locked = Buttons();

    Button("bCancel")->click();

    EXPECT_TRUE(session_->UpdateFirmwareRunning);  // the worker is still in its erase step
    const int turns_at_cancel = turns_;
    ASSERT_TRUE(TurnUntil(
        [&] { return turns_ > turns_at_cancel + kTurns || !session_->UpdateFirmwareRunning; }));
    EXPECT_TRUE(session_->UpdateFirmwareRunning);
    EXPECT_EQ(Buttons(), locked);  // as they were, until the worker has ended

    ASSERT_TRUE(WaitFor([&] { return Button("bCheckDevice")->isEnabled(); }));
    EXPECT_TRUE(Button("bCancel")->isHidden());
}

}  // namespace
}  // namespace tornelvox::testing
