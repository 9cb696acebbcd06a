#include "tests/support/process_state.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "firmware/address_backup.h"
#include "firmware/firmware_update.h"
#include "settings/device_settings.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {
namespace {

void ResetSerialLink() {
    ClosePort();
    std::snprintf(ComPortName, sizeof ComPortName, "%s", kInitialPortName);
    FailCode = 0;
    OpenError = 0;
    LineHungUp = false;
    ReopenAfterHangup = true;
    ReadCallTimeoutMs = kDefaultReadCallTimeoutMs;
    WriteDeadlineMs = kDefaultWriteDeadlineMs;
    DeviceDirectory = kDefaultDeviceDirectory;
    FirstDeviceDirectory.clear();
    ProcRoot = kDefaultProcRoot;
    BrlttyProgramPaths = kDefaultBrlttyProgramPaths;
    SearchCandidates = 0;
    SetMessageSink(nullptr);
}

void ResetFrameInputs() {
    WriteComm_op = 0;
    flash_cnt = 0;
    fw_write_cnt = 0;
    // The name page's address starts as the built-in one, the parameter record erased.
    std::copy(kBuiltInBtAddress.begin(), kBuiltInBtAddress.end(), std::begin(BT_ADD));
    std::fill(std::begin(Params), std::end(Params), 0xFF);
    dwReadAdd = 0;
    g_tx_id = 1;
    bOptions = 0;
    bOptionsValue = 0;
}

void ResetReplyCapture() {
    std::fill(std::begin(ReadData), std::end(ReadData), 0);
    CapturedCnt = 0;
    CmdReadCnt = 0;
    RealReadCnt = 0;
    ForeignReply = false;
}

void ResetFirmwareFindings() {
    CurVerNum = 0;
    std::fill(std::begin(Ver), std::end(Ver), '0');
    QueriedAdapter = {};
    bParam = 0;
    LastNamePageSearch = {};
    CheckValueMismatchStood = false;
    SysfsRoot = kDefaultSysfsRoot;
    AddressBackupSubfolder.clear();
}

void ResetWorkflows() {
    ThreadRunning = false;
    UpdateFirmwareRunning = false;
    bDeviceSettingRunning = false;
    LastUpdateEnd = UpdateEnd::kNone;
    FlashProgressSink = nullptr;
    RetryPause = SleepBeforeRetry;
    ResetSettingValues();
}

}  // namespace

void ResetProcessState() {
    ResetSerialLink();
    ResetFrameInputs();
    ResetReplyCapture();
    ResetFirmwareFindings();
    ResetWorkflows();
}

}  // namespace tornelvox::testing
