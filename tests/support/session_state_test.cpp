// Every session starts with each of its members at its start value, and what one session
// changes shows in no other.
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

// One member: how a test leaves it changed, and whether it holds its start value.
struct Variable {
    const char *name;
    std::function<void(AdapterSession &)> change;
    std::function<bool(AdapterSession &)> at_start;
};

std::string logged;  // what the changed message sink received

bool AllBytes(const unsigned char *bytes, std::size_t size, unsigned char value) {
    return std::all_of(bytes, bytes + size, [value](unsigned char b) { return b == value; });
}

void NoPause(unsigned) {}

const std::vector<Variable> &Variables() {
    static const std::vector<Variable> variables = {
        {"hComm",
         [](AdapterSession &s) {
             static emulator::PseudoTerminal line;
             ASSERT_TRUE(line.Open());
             ASSERT_TRUE(OpenPort(s, line.SlavePath().c_str()));
         },
         [](AdapterSession &s) { return s.hComm == 0; }},
        {"ComPortName", [](AdapterSession &s) { std::strcpy(s.ComPortName, "/tmp/elsewhere"); },
         [](AdapterSession &s) { return std::strcmp(s.ComPortName, kInitialPortName) == 0; }},
        {"FailCode", [](AdapterSession &s) { s.FailCode = 21; },
         [](AdapterSession &s) { return s.FailCode == 0; }},
        {"OpenError", [](AdapterSession &s) { s.OpenError = 13; },
         [](AdapterSession &s) { return s.OpenError == 0; }},
        {"DeviceDirectory", [](AdapterSession &s) { s.DeviceDirectory = "/tmp/devices"; },
         [](AdapterSession &s) { return s.DeviceDirectory == kDefaultDeviceDirectory; }},
        {"ReadCallTimeoutMs", [](AdapterSession &s) { s.ReadCallTimeoutMs = 1; },
         [](AdapterSession &s) { return s.ReadCallTimeoutMs == kDefaultReadCallTimeoutMs; }},
        {"WriteDeadlineMs", [](AdapterSession &s) { s.WriteDeadlineMs = 1; },
         [](AdapterSession &s) { return s.WriteDeadlineMs == kDefaultWriteDeadlineMs; }},
        {"LineHungUp", [](AdapterSession &s) { s.LineHungUp = true; },
         [](AdapterSession &s) { return !s.LineHungUp; }},
        {"ReopenAfterHangup", [](AdapterSession &s) { s.ReopenAfterHangup = false; },
         [](AdapterSession &s) { return s.ReopenAfterHangup.load(); }},
        {"ProcRoot", [](AdapterSession &s) { s.ProcRoot = "/tmp/proc"; },
         [](AdapterSession &s) { return s.ProcRoot == kDefaultProcRoot; }},
        {"BrlttyProgramPaths", [](AdapterSession &s) { s.BrlttyProgramPaths = "/tmp/brltty"; },
         [](AdapterSession &s) { return s.BrlttyProgramPaths == kDefaultBrlttyProgramPaths; }},
        {"SearchCandidates", [](AdapterSession &s) { s.SearchCandidates = 3; },
         [](AdapterSession &s) { return s.SearchCandidates == 0; }},
        {"message sink",
         [](AdapterSession &s) {
             s.SetMessageSink([](const std::string &text) { logged += text; });
         },
         [](AdapterSession &s) {
             logged.clear();
             ShowMsg(s, "dropped");
             return logged.empty();
         }},
        {"WriteComm_op", [](AdapterSession &s) { s.WriteComm_op = 18; },
         [](AdapterSession &s) { return s.WriteComm_op == 0; }},
        {"flash_cnt", [](AdapterSession &s) { s.flash_cnt = 29; },
         [](AdapterSession &s) { return s.flash_cnt == 0; }},
        {"fw_write_cnt", [](AdapterSession &s) { s.fw_write_cnt = 252; },
         [](AdapterSession &s) { return s.fw_write_cnt == 0; }},
        {"BT_ADD", [](AdapterSession &s) { std::memset(s.BT_ADD, 0xAB, sizeof s.BT_ADD); },
         [](AdapterSession &s) {
             return std::equal(kBuiltInBtAddress.begin(), kBuiltInBtAddress.end(), s.BT_ADD);
         }},
        {"Params", [](AdapterSession &s) { std::memset(s.Params, 0, sizeof s.Params); },
         [](AdapterSession &s) { return AllBytes(s.Params, sizeof s.Params, 0xFF); }},
        {"dwReadAdd", [](AdapterSession &s) { s.dwReadAdd = kNamePageAddress; },
         [](AdapterSession &s) { return s.dwReadAdd == 0; }},
        {"g_tx_id", [](AdapterSession &s) { s.g_tx_id = 300; },
         [](AdapterSession &s) { return s.g_tx_id == 1; }},
        {"bOptions", [](AdapterSession &s) { s.bOptions = 9; },
         [](AdapterSession &s) { return s.bOptions == 0; }},
        {"bOptionsValue", [](AdapterSession &s) { s.bOptionsValue = 4; },
         [](AdapterSession &s) { return s.bOptionsValue == 0; }},
        {"ReadData", [](AdapterSession &s) { std::memset(s.ReadData, 0x55, sizeof s.ReadData); },
         [](AdapterSession &s) { return AllBytes(s.ReadData, sizeof s.ReadData, 0); }},
        {"CapturedCnt", [](AdapterSession &s) { s.CapturedCnt = 12; },
         [](AdapterSession &s) { return s.CapturedCnt == 0; }},
        {"CmdReadCnt", [](AdapterSession &s) { s.CmdReadCnt = 12; },
         [](AdapterSession &s) { return s.CmdReadCnt == 0; }},
        {"RealReadCnt", [](AdapterSession &s) { s.RealReadCnt = 12; },
         [](AdapterSession &s) { return s.RealReadCnt == 0; }},
        {"ForeignReply", [](AdapterSession &s) { s.ForeignReply = true; },
         [](AdapterSession &s) { return !s.ForeignReply; }},
        {"CurVerNum", [](AdapterSession &s) { s.CurVerNum = 0x603; },
         [](AdapterSession &s) { return s.CurVerNum == 0; }},
        {"Ver", [](AdapterSession &s) { std::memcpy(s.Ver, "603", 3); },
         [](AdapterSession &s) { return std::equal(std::begin(s.Ver), std::end(s.Ver), "000"); }},
        {"QueriedAdapter",
         [](AdapterSession &s) {
             s.QueriedAdapter = {"/dev/ttyUSB0", true, true, 2};
         },
         [](AdapterSession &s) {
             return s.QueriedAdapter.port.empty() && !s.QueriedAdapter.version_read &&
                    !s.QueriedAdapter.emulated && s.QueriedAdapter.hangups == 0;
         }},
        {"bParam", [](AdapterSession &s) { s.bParam = 1; },
         [](AdapterSession &s) { return s.bParam == 0; }},
        {"LastNamePageSearch",
         [](AdapterSession &s) {
             s.LastNamePageSearch = {true, {StoredNamePage{}}};
         },
         [](AdapterSession &s) {
             return !s.LastNamePageSearch.read && s.LastNamePageSearch.valid.empty();
         }},
        {"CheckValueMismatchStood", [](AdapterSession &s) { s.CheckValueMismatchStood = true; },
         [](AdapterSession &s) { return !s.CheckValueMismatchStood; }},
        {"SysfsRoot", [](AdapterSession &s) { s.SysfsRoot = "/tmp/sys"; },
         [](AdapterSession &s) { return s.SysfsRoot == kDefaultSysfsRoot; }},
        {"ThreadRunning", [](AdapterSession &s) { s.ThreadRunning = true; },
         [](AdapterSession &s) { return !s.ThreadRunning; }},
        {"UpdateFirmwareRunning", [](AdapterSession &s) { s.UpdateFirmwareRunning = true; },
         [](AdapterSession &s) { return !s.UpdateFirmwareRunning; }},
        {"bDeviceSettingRunning", [](AdapterSession &s) { s.bDeviceSettingRunning = true; },
         [](AdapterSession &s) { return !s.bDeviceSettingRunning; }},
        {"LastUpdateEnd", [](AdapterSession &s) { s.LastUpdateEnd = UpdateEnd::kFailure; },
         [](AdapterSession &s) { return s.LastUpdateEnd == UpdateEnd::kNone; }},
        {"FlashProgressSink",
         [](AdapterSession &s) { s.FlashProgressSink = [](const FlashProgress &) {}; },
         [](AdapterSession &s) { return !s.FlashProgressSink; }},
        {"RetryPause", [](AdapterSession &s) { s.RetryPause = NoPause; },
         [](AdapterSession &s) {
             auto *const *target = s.RetryPause.target<void (*)(unsigned)>();
             return target != nullptr && *target == SleepBeforeRetry;
         }},
        {"settings values",
         [](AdapterSession &s) {
             for (const SettingDescription &setting : AllSettings()) {
                 setting.device.Set(s, 1);
                 setting.applied.Set(s, 1);
             }
         },
         [](AdapterSession &s) {
             return std::all_of(
                 AllSettings().begin(), AllSettings().end(), [&s](const auto &setting) {
                     return setting.device.Get(s) == 0 && setting.applied.Get(s) == 0;
                 });
         }},
    };
    return variables;
}

TEST(AdapterSessionState, EveryMemberStartsAtItsStartValueInEachSessionAlone) {
    AdapterSession changed;
    for (const Variable &variable : Variables()) {
        EXPECT_TRUE(variable.at_start(changed)) << variable.name << " is not at its start value";
    }
    // Opening the port also sets ComPortName: every change is made before any is checked.
    for (const Variable &variable : Variables()) variable.change(changed);
    for (const Variable &variable : Variables()) {
        EXPECT_FALSE(variable.at_start(changed)) << variable.name << " did not change";
    }

    // A session made after the changes shares none of them.
    AdapterSession fresh;
    for (const Variable &variable : Variables()) {
        EXPECT_TRUE(variable.at_start(fresh)) << variable.name << " is shared between sessions";
    }
}

}  // namespace
}  // namespace tornelvox::testing
