// ResetProcessState puts back every process-wide variable a test may have changed.
#include "tests/support/process_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "emulator/pseudo_terminal.h"
#include "firmware/address_backup.h"
#include "firmware/firmware_update.h"
#include "settings/device_settings.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {
namespace {

// One variable: how a test leaves it changed, and whether it holds its start value.
struct Variable {
    const char *name;
    std::function<void()> change;
    std::function<bool()> at_start;
};

std::string logged;  // what the changed message sink received

bool AllBytes(const unsigned char *bytes, std::size_t size, unsigned char value) {
    return std::all_of(bytes, bytes + size, [value](unsigned char b) { return b == value; });
}

void NoPause(unsigned) {}

const std::vector<Variable> &Variables() {
    static const std::vector<Variable> variables = {
        {"hComm",
         [] {
             static emulator::PseudoTerminal line;
             ASSERT_TRUE(line.Open());
             ASSERT_TRUE(OpenPort(line.SlavePath().c_str()));
         },
         [] { return hComm == 0; }},
        {"ComPortName", [] { std::strcpy(ComPortName, "/tmp/elsewhere"); },
         [] { return std::strcmp(ComPortName, kInitialPortName) == 0; }},
        {"FailCode", [] { FailCode = 21; }, [] { return FailCode == 0; }},
        {"OpenError", [] { OpenError = 13; }, [] { return OpenError == 0; }},
        {"DeviceDirectory", [] { DeviceDirectory = "/tmp/devices"; },
         [] { return DeviceDirectory == kDefaultDeviceDirectory; }},
        {"ReadCallTimeoutMs", [] { ReadCallTimeoutMs = 1; },
         [] { return ReadCallTimeoutMs == kDefaultReadCallTimeoutMs; }},
        {"WriteDeadlineMs", [] { WriteDeadlineMs = 1; },
         [] { return WriteDeadlineMs == kDefaultWriteDeadlineMs; }},
        {"LineHungUp", [] { LineHungUp = true; }, [] { return !LineHungUp; }},
        {"ReopenAfterHangup", [] { ReopenAfterHangup = false; },
         [] { return ReopenAfterHangup.load(); }},
        {"ProcRoot", [] { ProcRoot = "/tmp/proc"; }, [] { return ProcRoot == kDefaultProcRoot; }},
        {"BrlttyProgramPaths", [] { BrlttyProgramPaths = "/tmp/brltty"; },
         [] { return BrlttyProgramPaths == kDefaultBrlttyProgramPaths; }},
        {"SearchCandidates", [] { SearchCandidates = 3; }, [] { return SearchCandidates == 0; }},
        {"message sink", [] { SetMessageSink([](const std::string &text) { logged += text; }); },
         [] {
             logged.clear();
             ShowMsg("dropped");
             return logged.empty();
         }},
        {"WriteComm_op", [] { WriteComm_op = 18; }, [] { return WriteComm_op == 0; }},
        {"flash_cnt", [] { flash_cnt = 29; }, [] { return flash_cnt == 0; }},
        {"fw_write_cnt", [] { fw_write_cnt = 252; }, [] { return fw_write_cnt == 0; }},
        {"BT_ADD", [] { std::memset(BT_ADD, 0xAB, sizeof BT_ADD); },
         [] { return std::equal(kBuiltInBtAddress.begin(), kBuiltInBtAddress.end(), BT_ADD); }},
        {"Params", [] { std::memset(Params, 0, sizeof Params); },
         [] { return AllBytes(Params, sizeof Params, 0xFF); }},
        {"dwReadAdd", [] { dwReadAdd = kNamePageAddress; }, [] { return dwReadAdd == 0; }},
        {"g_tx_id", [] { g_tx_id = 300; }, [] { return g_tx_id == 1; }},
        {"bOptions", [] { bOptions = 9; }, [] { return bOptions == 0; }},
        {"bOptionsValue", [] { bOptionsValue = 4; }, [] { return bOptionsValue == 0; }},
        {"ReadData", [] { std::memset(ReadData, 0x55, sizeof ReadData); },
         [] { return AllBytes(ReadData, sizeof ReadData, 0); }},
        {"CapturedCnt", [] { CapturedCnt = 12; }, [] { return CapturedCnt == 0; }},
        {"CmdReadCnt", [] { CmdReadCnt = 12; }, [] { return CmdReadCnt == 0; }},
        {"RealReadCnt", [] { RealReadCnt = 12; }, [] { return RealReadCnt == 0; }},
        {"ForeignReply", [] { ForeignReply = true; }, [] { return !ForeignReply; }},
        {"CurVerNum", [] { CurVerNum = 0x603; }, [] { return CurVerNum == 0; }},
        {"Ver", [] { std::memcpy(Ver, "603", 3); },
         [] { return std::equal(std::begin(Ver), std::end(Ver), "000"); }},
        {"QueriedAdapter",
         [] {
             QueriedAdapter = {"/dev/ttyUSB0", true, true, 2};
         },
         [] {
             return QueriedAdapter.port.empty() && !QueriedAdapter.version_read &&
                    !QueriedAdapter.emulated && QueriedAdapter.hangups == 0;
         }},
        {"bParam", [] { bParam = 1; }, [] { return bParam == 0; }},
        {"LastNamePageSearch",
         [] {
             LastNamePageSearch = {true, {StoredNamePage{}}};
         },
         [] { return !LastNamePageSearch.read && LastNamePageSearch.valid.empty(); }},
        {"CheckValueMismatchStood", [] { CheckValueMismatchStood = true; },
         [] { return !CheckValueMismatchStood; }},
        {"SysfsRoot", [] { SysfsRoot = "/tmp/sys"; },
         [] { return SysfsRoot == kDefaultSysfsRoot; }},
        {"ThreadRunning", [] { ThreadRunning = true; }, [] { return !ThreadRunning; }},
        {"UpdateFirmwareRunning", [] { UpdateFirmwareRunning = true; },
         [] { return !UpdateFirmwareRunning; }},
        {"bDeviceSettingRunning", [] { bDeviceSettingRunning = true; },
         [] { return !bDeviceSettingRunning; }},
        {"LastUpdateEnd", [] { LastUpdateEnd = UpdateEnd::kFailure; },
         [] { return LastUpdateEnd == UpdateEnd::kNone; }},
        {"FlashProgressSink", [] { FlashProgressSink = [](const FlashProgress &) {}; },
         [] { return !FlashProgressSink; }},
        {"RetryPause", [] { RetryPause = NoPause; },
         [] {
             auto *const *target = RetryPause.target<void (*)(unsigned)>();
             return target != nullptr && *target == SleepBeforeRetry;
         }},
        {"settings values",
         [] {
             for (const SettingDescription &setting : AllSettings()) {
                 setting.device.Set(1);
                 setting.applied.Set(1);
             }
         },
         [] {
             return std::all_of(AllSettings().begin(), AllSettings().end(), [](const auto &s) {
                 return s.device.Get() == 0 && s.applied.Get() == 0;
             });
         }},
    };
    return variables;
}

TEST(ProcessState, ResetPutsEveryVariableBackToItsStartValue) {
    ResetProcessState();
    for (const Variable &variable : Variables()) {
        EXPECT_TRUE(variable.at_start()) << variable.name << " is not at its start value";
    }
    // Opening the port also sets ComPortName: every change is made before any is checked.
    for (const Variable &variable : Variables()) variable.change();
    for (const Variable &variable : Variables()) {
        EXPECT_FALSE(variable.at_start()) << variable.name << " did not change";
    }

    ResetProcessState();

    for (const Variable &variable : Variables()) {
        EXPECT_TRUE(variable.at_start()) << variable.name << " was not put back";
    }
}

}  // namespace
}  // namespace tornelvox::testing
