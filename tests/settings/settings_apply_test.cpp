// The apply worker: exactly the changed settings are written, in order, with their bytes and
// lines; the verdict; the buttons come back last.
#include <thread>

#include "tests/settings/settings_workflow_fixture.h"
#include "workflow/workflow.h"

namespace tornelvox {
namespace {

using testing::SettingFrameSeen;
using testing::SettingsWorkflow;

constexpr const char *kHeader = "\n ====> Device Setting \n";
constexpr const char *kDone = "\n Set Device parameters done. \n\n";
constexpr const char *kWarning = "\n WARMING: Set Device error. Please try again\n\n";

class SettingsApply : public SettingsWorkflow {
  protected:
    // The buttons were locked before anything else happened and came back last, right after the
    // verdict.
    void ExpectButtonsLockedThenRestoredAfter(const char *verdict) {
        const auto events = window->Events();
        ASSERT_GE(events.size(), 3u);
        EXPECT_TRUE(events.front().is_buttons);
        EXPECT_EQ(events.front().buttons, ButtonState::LockedForSettings);
        EXPECT_TRUE(events.back().is_buttons);
        EXPECT_EQ(events.back().buttons, ButtonState::Restored);
        const auto &before_last = events[events.size() - 2];
        EXPECT_FALSE(before_last.is_buttons);
        EXPECT_EQ(before_last.text, verdict);
        EXPECT_EQ(window->ButtonStates().size(), 2u);
    }
};

TEST_F(SettingsApply, RoundTripWritesExactlyTheChangedSettingsInOrder) {
    StartAdapter(testing::kOlderVersion);
    DialogConfirms([](SettingsValues &values) {
        values.a_offhook_pwr_index = 4;  // Strongest
        values.a_hook_speed_index = 3;   // 100 ms
        values.a_strong_ring = 1;
        values.a_dtmfth_index = 2;
        values.a_a2dp = 0;
        values.a_callerid = 1;  // unchanged: the adapter already has caller ID on
    });
    RunSettingAction();

    EXPECT_EQ(FramesOf(kCmdWriteSetting),
              (std::vector<SettingFrameSeen>{{2, 1}, {17, 2}, {5, 4}, {4, 3}, {10, 0}}))
        << adapter->Transcript();
    EXPECT_EQ(WorkerLog(), std::string(kHeader) +
                               " Set Strong Ringing to TRUE\n"
                               " Set DTMF Threshold to High\n"
                               " Set Off Hook power to Strongest\n"
                               " Set Hook Speed to 100 ms\n"
                               "\n Change Media Audio Setting\n"
                               " Neeed to wait for the Device to reboot to take effect.\n" +
                               kDone);
    ExpectButtonsLockedThenRestoredAfter(kDone);
    EXPECT_EQ(adapter->Setting(5), 80u);
    EXPECT_EQ(adapter->Setting(4), 10u);

    // Reading again shows the changes and nothing else moved.
    const int caller_id = session->m_callerid, echo = session->m_aec,
              mic = session->m_mic_vol_index;
    ReadAllSettings(*session, *session, session->CurVerNum);
    EXPECT_EQ(session->m_strong_ring, 1);
    EXPECT_EQ(session->m_dtmfth_index, 2);
    EXPECT_EQ(session->m_offhook_pwr_index, 4);
    EXPECT_EQ(session->m_hook_speed_index, 3);
    EXPECT_EQ(session->m_a2dp, 0);
    EXPECT_EQ(session->m_callerid, caller_id);
    EXPECT_EQ(session->m_aec, echo);
    EXPECT_EQ(session->m_mic_vol_index, mic);
    EXPECT_TRUE(adapter->UnexpectedBytes().empty()) << adapter->Transcript();
}

// The reading names the settings whose reads failed. The window's worker leaves such a setting
// alone while the dialog left it at its fallback; asked to, it writes the fallback's byte.
TEST_F(SettingsApply, SettingsNotReadAreWrittenOnlyWhenAskedTo) {
    StartAdapter(testing::kOlderVersion);
    for (const int option : {1, 4}) {
        adapter->AddFault({.code = kCmdReadSetting,
                           .kind = emulator::FaultKind::kSilence,
                           .option = option,
                           .times = emulator::kAlways});
    }
    ASSERT_TRUE(InitPort(*session));
    const SettingSet unread = ReadAllSettings(*session, *session, session->CurVerNum);
    SettingSet expected;
    expected.Add(1);
    expected.Add(4);
    EXPECT_EQ(unread, expected);

    CopyDeviceToApplied(*session);
    EXPECT_TRUE(ApplyChangedSettings(*session, *session, session->CurVerNum));
    EXPECT_TRUE(FramesOf(kCmdWriteSetting).empty()) << adapter->Transcript();
    EXPECT_TRUE(ApplyChangedSettings(*session, *session, session->CurVerNum, unread));
    // Caller ID on, hook speed 70 ms (index 2).
    EXPECT_EQ(FramesOf(kCmdWriteSetting), (std::vector<SettingFrameSeen>{{1, 1}, {4, 2}}));
}

struct ChangeCase {
    const char *name;
    std::uint8_t option;
    int applied;
    std::vector<SettingFrameSeen> writes;
    const char *lines;
    bool done;
};

void PrintTo(const ChangeCase &c, std::ostream *out) {
    *out << c.name;
}

class OneChange : public SettingsApply, public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(OneChange, WritesItsByteAndLogsItsLine) {
    const ChangeCase &c = GetParam();
    StartAdapter(testing::kOlderVersion);
    const std::uint8_t option = c.option;
    const int applied = c.applied;
    DialogConfirms([option, applied](SettingsValues &values) {
        FindSetting(option)->applied.Set(values, applied);
    });
    RunSettingAction();
    EXPECT_EQ(FramesOf(kCmdWriteSetting), c.writes) << adapter->Transcript();
    const char *verdict = c.done ? kDone : kWarning;
    EXPECT_EQ(WorkerLog(), std::string(kHeader) + c.lines + verdict);
    ExpectButtonsLockedThenRestoredAfter(verdict);
}

// The emulated adapter starts with caller ID on, hook speed 50 ms, off-hook power Medium, echo
// depth 2, dial plan With Timeout and media audio on.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Changes, OneChange, ::testing::Values(
    ChangeCase{"OffHookStrongest", 5, 4, {{5, 4}}, " Set Off Hook power to Strongest\n", true},
    ChangeCase{"OffHookLow",       5, 0, {{5, 2}}, " Set Off Hook power to Low\n", true},
    ChangeCase{"OffHookHigh",      5, 2, {{5, 0}}, " Set Off Hook power to High\n", true},
    ChangeCase{"HookSpeed100ms",   4, 3, {{4, 3}}, " Set Hook Speed to 100 ms\n", true},
    ChangeCase{"CallerIdOff",      1, 0, {{1, 0}}, " Set Caller ID to FALSE\n", true},
    ChangeCase{"EchoDepth",        18, 4, {{18, 4}}, " Set Echo Depth Control to 4\n", true},
    ChangeCase{"MicVolume",        13, 0, {{13, 0}}, " Set MIC volume to 8 dB\n", true},
    ChangeCase{"MediaAudioOnly",   10, 0, {{10, 0}},
               "\n Change Media Audio Setting\n"
               " Neeed to wait for the Device to reboot to take effect.\n", true},
    // An off-hook index with no byte is not sent and not counted as a failure.
    ChangeCase{"OffHookUnknownIndex", 5, 7, {},
               "Unknow off-hook index 7\n Set Off Hook power to Strongest\n", true},
    // A box left without a selection is not sent as 0xFF; the run reports the failure.
    ChangeCase{"DialPlanNoSelection", 8, -1, {}, "Unknow dial plan index -1\n", false}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on

TEST_F(SettingsApply, CancelWritesNothing) {
    StartAdapter(testing::kOlderVersion);
    DialogCancels();
    RunSettingAction();
    EXPECT_EQ(adapter->CountOf(kCmdWriteSetting), 0);
    EXPECT_EQ(window->Log(), std::string(kHeader) + kDone);
    ExpectButtonsLockedThenRestoredAfter(kDone);
}

TEST_F(SettingsApply, FailedWriteAmongSeveralGivesTheWarning) {
    StartAdapter(testing::kOlderVersion);
    adapter->AddFault(
        {.code = kCmdWriteSetting, .kind = emulator::FaultKind::kOneByteReply, .option = 1});
    DialogConfirms([](SettingsValues &values) {
        values.a_callerid = 0;
        values.a_strong_ring = 1;
    });
    RunSettingAction();
    // The failed write is not retried and does not stop the run.
    EXPECT_EQ(FramesOf(kCmdWriteSetting), (std::vector<SettingFrameSeen>{{1, 0}, {2, 1}}));
    EXPECT_EQ(WorkerLog(), std::string(kHeader) +
                               " Set Caller ID to FALSE\n"
                               " Set Strong Ringing to TRUE\n" +
                               kWarning);
    ExpectButtonsLockedThenRestoredAfter(kWarning);
}

TEST_F(SettingsApply, UnpluggedAdapterStillGetsTheButtonsBack) {
    StartAdapter(testing::kOlderVersion);
    session->ReadCallTimeoutMs = 2;
    window->OnDialog([this] {
        CopyDeviceToApplied(*session);
        session->a_aec = !session->m_aec;
        adapter->Unplug();
        ClearDeviceSettingRunning(*session);
    });
    RunSettingAction();
    EXPECT_EQ(WorkerLog(), std::string(kHeader) + " Set Echo Cancel to FALSE\n" + kWarning);
    ExpectButtonsLockedThenRestoredAfter(kWarning);
}

TEST_F(SettingsApply, WorkerWaitsForADialogThatReturnsAtOnce) {
    StartAdapter(testing::kOlderVersion);
    ASSERT_TRUE(StartDeviceSetting(session, window));  // the dialog stays open
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(WorkerLog(), "");
    EXPECT_EQ(window->ButtonStates().size(), 1u);

    // The dialog closes on another thread; what it leaves must reach the worker.
    std::thread dialog([this] {
        CopyDeviceToApplied(*session);
        session->a_led_display = 1;
        ClearDeviceSettingRunning(*session);
    });
    dialog.join();
    ASSERT_TRUE(window->WaitForButtons(2, std::chrono::seconds(5)));
    EXPECT_EQ(FramesOf(kCmdWriteSetting), (std::vector<SettingFrameSeen>{{9, 1}}));
    ExpectButtonsLockedThenRestoredAfter(kDone);
}

}  // namespace
}  // namespace tornelvox
