// The Setting action: refusal on old firmware, the firmware gates, retries, fallbacks and the
// messages for unreadable settings and unknown numbers.
#include <algorithm>
#include <set>

#include "tests/settings/firmware_gate_cases.h"
#include "tests/settings/settings_workflow_fixture.h"
#include "workflow/workflow.h"

namespace tornelvox {
namespace {

using testing::SettingsWorkflow;

const std::vector<int> kReadOrder = {1, 2, 3, 6, 7, 9, 15, 16, 17, 18, 10, 4, 5, 8, 13, 14};
const std::vector<int> kWriteOrder = {1, 3, 18, 6, 7, 2, 9, 15, 16, 17, 8, 5, 4, 13, 14, 10};

std::vector<int> Without(const std::vector<int> &options, const std::set<int> &gated) {
    std::vector<int> kept;
    std::copy_if(options.begin(), options.end(), std::back_inserter(kept),
                 [&](int option) { return gated.count(option) == 0; });
    return kept;
}

TEST_F(SettingsWorkflow, TooOldFirmwareIsRefusedWithoutTouchingAnything) {
    StartAdapter(0x1FF);
    window->OnDialog([] { ADD_FAILURE() << "the dialog must not open"; });
    EXPECT_FALSE(StartDeviceSetting(session, window));
    EXPECT_EQ(window->Log(),
              "\n !!!! Warming !!!\n"
              " Hardware firmwave verion 1FF is too low.\n"
              " Please update firmware first\n");
    EXPECT_TRUE(window->ButtonStates().empty());
    EXPECT_FALSE(session->bDeviceSettingRunning);
    EXPECT_EQ(session->hComm, 0);
    EXPECT_EQ(adapter->BytesReceived(), 0u);
}

TEST_F(SettingsWorkflow, VersionBelowThreeDigitsIsShownWithThree) {
    session->CurVerNum = 0x0A0;
    EXPECT_FALSE(StartDeviceSetting(session, window));
    EXPECT_NE(window->Log().find(" Hardware firmwave verion 0A0 is too low.\n"), std::string::npos);
}

class FirmwareGates : public SettingsWorkflow, public ::testing::WithParamInterface<GateCase> {};

TEST_P(FirmwareGates, GatedSettingsAreNeitherReadNorWritten) {
    const GateCase &c = GetParam();
    StartAdapter(c.version);
    // Numbers a gated setting must not pick up, and device values it must not keep.
    for (int option : {13, 14}) adapter->SetSetting(option, 4);
    for (int option : {15, 16}) adapter->SetSetting(option, 1);
    adapter->SetSetting(17, 2);
    adapter->SetSetting(18, 4);
    for (const SettingDescription &setting : AllSettings()) setting.device.Set(*session, 3);
    // The user changes every setting the dialog lets through.
    DialogConfirms([](SettingsValues &values) {
        for (const SettingDescription &setting : AllSettings()) {
            const int device = setting.device.Get(values);
            setting.applied.Set(values,
                                setting.kind == SettingKind::Flag
                                    ? !device
                                    : (device + 1) % static_cast<int>(setting.labels.size()));
        }
    });
    RunSettingAction();

    EXPECT_EQ(OptionsRead(), Without(kReadOrder, c.gated)) << adapter->Transcript();
    EXPECT_EQ(session->m_mic_vol_index, c.gated.count(13) ? 2 : 4);
    EXPECT_EQ(session->m_spk_vol_index, c.gated.count(14) ? 2 : 4);
    EXPECT_EQ(session->m_robocall, c.gated.count(15) ? 0 : 1);
    EXPECT_EQ(session->m_dtmfcmd, c.gated.count(16) ? 0 : 1);
    EXPECT_EQ(session->m_dtmfth_index, c.gated.count(17) ? 0 : 2);
    EXPECT_EQ(session->m_aec_depth_index, c.gated.count(18) ? 2 : 4);
    EXPECT_EQ(window->Log().find("Can't get"), std::string::npos) << window->Log();

    std::vector<int> written;
    for (const auto &frame : FramesOf(kCmdWriteSetting)) written.push_back(frame.option);
    EXPECT_EQ(written, Without(kWriteOrder, c.gated));
    EXPECT_NE(WorkerLog().find("\n Set Device parameters done. \n\n"), std::string::npos)
        << WorkerLog();
}

INSTANTIATE_TEST_SUITE_P(Versions, FirmwareGates, ::testing::ValuesIn(kGateCases),
                         [](const auto &info) { return GateCaseName(info.param); });

TEST_F(SettingsWorkflow, SilentAdapterFallsBackEverywhereAndStillOpensTheDialog) {
    StartAdapter(testing::kOlderVersion);
    session->ReadCallTimeoutMs = 2;  // sixty-four silent attempts
    adapter->AddFault({.code = kCmdReadSetting,
                       .kind = emulator::FaultKind::kSilence,
                       .times = emulator::kAlways});
    for (const SettingDescription &setting : AllSettings()) setting.device.Set(*session, 3);
    DialogCancels();
    RunSettingAction();

    EXPECT_TRUE(window->DialogOpened());
    const std::string log = window->Log();
    EXPECT_EQ(log.substr(0, log.find("\n ====> Device Setting \n")),
              " Can't get CID parameter !!!\n"
              " Can't get Ringing Strength parameter !!!\n"
              " Can't get Echo Cancel parameter !!!\n"
              " Can't get Disconnect with dialtone parameter !!!\n"
              " Can't get Reverse after disconnect parameter !!!\n"
              " Can't get LED Debug display parameter !!!\n"
              " Can't get Robocall Block parameter !!!\n"
              " Can't get DTMF Tone Command parameter !!!\n"
              " Can't get DTMF Threshold parameter !!!\n"
              " Can't get Echo Depth Control Value !!!\n"
              " Can't get Media Audio parameter !!!\n"
              " Can't get Hook Speed parameter !!!\n"
              " Can't get Off-hook Power parameter !!!\n"
              " Can't get Dial Plan parameter !!!\n"
              " Can't get MIC Volume parameter !!!\n"
              " Can't get Speaker Volume parameter !!!\n");
    // Two reads of two attempts each, per setting.
    EXPECT_EQ(adapter->CountOf(kCmdReadSetting), 64);

    EXPECT_EQ(session->m_callerid, 1);
    for (unsigned char flag :
         {session->m_strong_ring, session->m_aec, session->m_dialtone_dis, session->m_reverse_dis,
          session->m_led_display, session->m_a2dp, session->m_robocall, session->m_dtmfcmd}) {
        EXPECT_EQ(flag, 0);
    }
    EXPECT_EQ(session->m_hook_speed_index, 2);
    EXPECT_EQ(session->m_offhook_pwr_index, 1);
    EXPECT_EQ(session->m_dial_plan_index, 0);
    EXPECT_EQ(session->m_dtmfth_index, 0);
    EXPECT_EQ(session->m_aec_depth_index, 2);
    EXPECT_EQ(session->m_mic_vol_index, 2);
    EXPECT_EQ(session->m_spk_vol_index, 2);
    EXPECT_EQ(adapter->CountOf(kCmdWriteSetting), 0);
}

TEST_F(SettingsWorkflow, UnknownNumbersAreReportedAndFallBack) {
    StartAdapter(testing::kOlderVersion);
    adapter->SetSetting(1, 7);  // any non-zero flag is on, silently
    adapter->SetSetting(4, 6);
    adapter->SetSetting(5, 191);
    adapter->SetSetting(8, 3);
    adapter->SetSetting(13, 5);
    adapter->SetSetting(14, 0xFFFFFFFF);
    adapter->SetSetting(17, 3);
    adapter->SetSetting(18, 5);
    DialogCancels();
    RunSettingAction();

    const std::string log = window->Log();
    EXPECT_EQ(log.substr(0, log.find("\n ====> Device Setting \n")),
              " Error: DTMF Threshold unknown 3\n"
              " Error: Echo Depth Control unknown 5\n"
              " Error: Hook Spped count unknown 6\n"
              " Error: Off Hook power unknown 191\n"
              " Error: Dail plan unknown 3\n"
              " Error: MIC Volume unknown 5\n"
              " Error: SPEAKER Volume unknown -1\n");
    EXPECT_EQ(session->m_callerid, 1);
    EXPECT_EQ(session->m_hook_speed_index, 2);
    EXPECT_EQ(session->m_offhook_pwr_index, 1);
    EXPECT_EQ(session->m_dial_plan_index, 0);
    EXPECT_EQ(session->m_mic_vol_index, 2);
    EXPECT_EQ(session->m_spk_vol_index, 2);
    EXPECT_EQ(session->m_dtmfth_index, 0);
    EXPECT_EQ(session->m_aec_depth_index, 2);
    // Cancel sends nothing, also for settings that fell back.
    EXPECT_EQ(adapter->CountOf(kCmdWriteSetting), 0);
}

TEST_F(SettingsWorkflow, ReadThatFailsOnceAndSucceedsOnItsRetryLogsNothing) {
    StartAdapter(testing::kOlderVersion);
    adapter->SetSetting(4, 10);
    // A short reply fails the first read of hook speed and leaves the port closed; the retry
    // reopens it. Caller ID's first read fails with a rejected reply.
    adapter->AddFault({.code = kCmdReadSetting,
                       .kind = emulator::FaultKind::kShortReply,
                       .option = 4,
                       .bytes = 5});
    adapter->AddFault({.code = kCmdReadSetting,
                       .kind = emulator::FaultKind::kOutOfRangeNumber,
                       .option = 1,
                       .value = ParamFail});
    DialogCancels();
    RunSettingAction();

    EXPECT_EQ(window->Log(), "\n ====> Device Setting \n\n Set Device parameters done. \n\n");
    EXPECT_EQ(session->m_hook_speed_index, 3);
    EXPECT_EQ(session->m_callerid, 1);
    std::vector<int> expected = kReadOrder;
    expected.insert(expected.begin(), 1);
    expected.insert(std::find(expected.begin(), expected.end(), 4), 4);
    EXPECT_EQ(OptionsRead(), expected);
}

TEST_F(SettingsWorkflow, PendingBytesAreFlushedBeforeTheFirstRead) {
    StartAdapter(testing::kOlderVersion);
    adapter->SetSetting(1, 0);
    // The first frame's reply comes after its attempt has given up, so one of the two replies
    // (value 0) is left waiting on the open port.
    adapter->AddFault(
        {.code = kCmdReadSetting, .kind = emulator::FaultKind::kLateReply, .delay_ms = 300});
    ASSERT_EQ(GetDeviceParameters(*session, 1), 0u);
    ASSERT_TRUE(adapter->WaitForFrames(kCmdReadSetting, 2, std::chrono::seconds(2)));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_NE(session->hComm, 0);
    adapter->SetSetting(1, 1);
    DialogCancels();
    RunSettingAction();
    EXPECT_EQ(session->m_callerid, 1) << adapter->Transcript();
}

}  // namespace
}  // namespace tornelvox
