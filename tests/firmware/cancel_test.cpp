// The Cancel action against a running update: during erasing, during the pause after a failed
// attempt, and before the worker has begun.
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/firmware/adapter_fixture.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {
namespace {

using emu::FaultKind;
using std::chrono::milliseconds;
using std::chrono::seconds;

const std::string kStart = "\n Start the programming: \n";
const std::string kAddressRead = " Check Device ...\n\t Device BT address : 3A7\n";
const std::string kForceStop = "\n\nForce Stop \n";
const std::string kCancelledAfterErasing =
    " The update was cancelled. Erasing had begun: the adapter needs a complete update before it "
    "works again.\n\n";
const std::string kCancelledBeforeErasing =
    " The update was cancelled before anything was erased.\n\n";

std::chrono::nanoseconds ThreadCpuTime() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

class CancelUpdateTest : public AdapterTest {
  protected:
    // What every cancel end leaves: no version, buttons back, both flags clear.
    void ExpectCancelEnd() {
        ASSERT_TRUE(WaitForUpdateWorkersEnded(session, ended_before_ + 1, seconds(10)));
        EXPECT_EQ(session.CurVerNum, 0);
        EXPECT_EQ(window_->ButtonStates(),
                  (std::vector<ButtonState>{ButtonState::LockedForUpdate, ButtonState::Restored}));
        EXPECT_EQ(window_->LogSinceLastButtons(), "");
        EXPECT_FALSE(session.ThreadRunning.load());
        EXPECT_FALSE(session.UpdateFirmwareRunning.load());
    }

    void Start() {
        ended_before_ = UpdateWorkersEnded(session);
        StartUpdateWorker(session_, window_);
    }

    unsigned ended_before_ = 0;
};

// The tenth erase step takes half a second to answer; the cancel lands while it runs, so the
// stop comes after ten dots and before the eleventh step.
TEST_F(CancelUpdateTest, DuringErasingStopsBeforeTheNextStep) {
    auto &adapter = StartAdapter();
    adapter.AddFault(
        {.code = kCmdEraseStep, .kind = FaultKind::kLateReply, .skip = 9, .delay_ms = 500});
    Start();
    const std::string ten_dots = " Erase flash " + Repeat('.', 10);
    ASSERT_TRUE(window_->WaitForLog(ten_dots, seconds(10))) << Log();

    CancelUpdate(session);

    EXPECT_FALSE(session.UpdateFirmwareRunning.load());
    ExpectCancelEnd();
    EXPECT_EQ(Log(), kStart + kAddressRead + ten_dots + kForceStop + " Try again. Try count = 1\n" +
                         kCancelledAfterErasing);
    EXPECT_EQ(adapter.CountOf(kCmdEraseStep), 10);
    EXPECT_EQ(adapter.CountOf(kCmdWriteImagePage), 0);
    EXPECT_EQ(pauses_, std::vector<unsigned>{3});
    EXPECT_EQ(session.FailCode, kFailNone);
}

// The pause runs at its real length; Cancel waits it out asleep, and no attempt follows.
TEST_F(CancelUpdateTest, DuringThePauseEndsAfterItWithoutAnotherAttempt) {
    auto &adapter = StartAdapter();
    adapter.AddFault({.code = kCmdWriteEnableFirst, .kind = FaultKind::kOneByteReply});
    session.RetryPause = [](unsigned pause) { std::this_thread::sleep_for(seconds(pause)); };
    Start();
    ASSERT_TRUE(window_->WaitForLog(" Try again. Try count = 1\n", seconds(10))) << Log();

    const auto wall_before = std::chrono::steady_clock::now();
    const auto cpu_before = ThreadCpuTime();
    CancelUpdate(session);
    const auto waited = std::chrono::steady_clock::now() - wall_before;
    const auto cpu = ThreadCpuTime() - cpu_before;

    EXPECT_GT(waited, milliseconds(2500));
    EXPECT_LT(waited, milliseconds(4500));
    EXPECT_LT(cpu, milliseconds(50)) << "the Cancel wait spun";
    ExpectCancelEnd();
    EXPECT_EQ(adapter.CountOf(kCmdProbe), 1);
    EXPECT_EQ(Log(), kStart + kAddressRead + " Fail on EN_FLASH_WR_1\n Try again. Try count = 1\n" +
                         kCancelledBeforeErasing);
}

// The first erase step goes unanswered: it may have erased before the attempt failed, so the
// cancel that lands in the pause after it says that erasing had begun.
TEST_F(CancelUpdateTest, AfterAnUnansweredEraseStepSaysErasingHadBegun) {
    auto &adapter = StartAdapter();
    adapter.AddFault({.code = kCmdEraseStep, .kind = FaultKind::kSilence, .times = emu::kAlways});
    session.RetryPause = [this](unsigned) { session.ThreadRunning.store(false); };
    Start();

    ExpectCancelEnd();
    const std::string end = " Try again. Try count = 1\n" + kCancelledAfterErasing;
    const std::string log = Log();
    ASSERT_GE(log.size(), end.size()) << log;
    EXPECT_EQ(log.substr(log.size() - end.size()), end);
    EXPECT_GE(adapter.CountOf(kCmdEraseStep), 1);
}

// A window whose Update lock is followed at once by a Cancel click, before the worker thread
// has begun.
class CancelAtOnceWindow : public RecordingWindow {
  public:
    explicit CancelAtOnceWindow(AdapterSession &session)
        : RecordingWindow(session), session_(session) {}
    void PostButtons(ButtonState state) override {
        RecordingWindow::PostButtons(state);
        if (state != ButtonState::LockedForUpdate) return;
        const auto before = std::chrono::steady_clock::now();
        CancelUpdate(session_);
        cancel_time = std::chrono::steady_clock::now() - before;
    }
    std::chrono::steady_clock::duration cancel_time{};

  private:
    AdapterSession &session_;
};

TEST_F(CancelUpdateTest, BeforeTheWorkerBeginsReturnsAtOnce) {
    StartAdapter();
    window_.reset();  // one message sink at a time
    auto window = std::make_shared<CancelAtOnceWindow>(session);
    window_ = window;
    Start();

    EXPECT_LT(window->cancel_time, milliseconds(100));
    ExpectCancelEnd();
    // The first attempt still runs as far as the first look at the run flag.
    EXPECT_EQ(Log(), kStart + kAddressRead + kForceStop + " Try again. Try count = 1\n" +
                         kCancelledBeforeErasing);
    EXPECT_EQ(Received(), (std::vector<int>{kCmdProbe, kCmdHandshake, kCmdEnterBootLoader,
                                            kCmdReadPage, kCmdWriteEnableFirst,
                                            kCmdWriteEnableSecond, kCmdWriteEnableFirst}));
}

}  // namespace
}  // namespace tornelvox::testing
