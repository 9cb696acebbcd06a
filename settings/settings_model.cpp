#include "settings/settings_model.h"

#include <algorithm>

namespace tornelvox {

namespace {

// Firmware gates: a setting exists when the version is greater than its gate.
constexpr int kAllFirmware = kSettingsMinVersion;  // 200 and later
constexpr int kVolumeFirmware = 0x205;             // 206 and later
constexpr int kRobocallFirmware = 0x2FF;           // 300 and later
constexpr int kDtmfFirmware = 0x301;               // 302 and later

constexpr const char *kFlagLabels[] = {"FALSE", "TRUE"};

constexpr std::uint32_t kHookSpeedReported[] = {3, 5, 7, 10};
constexpr const char *kHookSpeedLabels[] = {"30 ms", "50 ms", "70 ms", "100 ms"};
constexpr const char *kHookSpeedItems[] = {" 30 ms", " 50 ms", " 70 ms", "100 ms"};

// The numbers the adapter reports for the off-hook power levels are not the ones it is sent.
constexpr std::uint32_t kOffHookReported[] = {225, 190, 150, 95, 80};
constexpr std::uint8_t kOffHookWritten[] = {2, 1, 0, 3, 4};
constexpr const char *kOffHookLabels[] = {"Low", "Medium", "High", "Strong", "Strongest"};

constexpr std::uint32_t kThreeLevels[] = {0, 1, 2};
constexpr std::uint32_t kFiveLevels[] = {0, 1, 2, 3, 4};
constexpr const char *kFiveLevelItems[] = {"0", "1", "2", "3", "4"};

constexpr const char *kDialPlanLabels[] = {"With Timeout", "Without Timeout", "# key only"};
constexpr const char *kDialPlanItems[] = {"With timeout", "Without timeout", "# key only"};
constexpr const char *kDtmfThresholdLabels[] = {"Low", "Normal", "High"};
constexpr const char *kMicLabels[] = {"8 dB", "14 dB", "30 dB", "45 dB", "54 dB"};
constexpr const char *kSpeakerLabels[] = {"-6 dB", "-3 dB", "0 dB", "3 dB", "6 dB"};

// One entry per setting, in option-code order.
const SettingDescription kSettings[kSettingCount] = {
    {.option = 1,
     .name = "Caller ID",
     .kind = SettingKind::Flag,
     .device = &SettingsValues::m_callerid,
     .applied = &SettingsValues::a_callerid,
     .reported = {},
     .fallback = 1,
     .written = {},
     .unwritable_name = nullptr,
     .unwritable = UnwritableIndex::None,
     .gate_version = kAllFirmware,
     .gated_value = 1,
     .read_rank = 1,
     .unreadable_message = " Can't get CID parameter !!!\n",
     .unknown_name = nullptr,
     .write_rank = 1,
     .write_name = "Caller ID",
     .line_takes_index = false,
     .labels = kFlagLabels,
     .items = {}},
    {.option = 2,
     .name = "Strong Ringing",
     .kind = SettingKind::Flag,
     .device = &SettingsValues::m_strong_ring,
     .applied = &SettingsValues::a_strong_ring,
     .reported = {},
     .fallback = 0,
     .written = {},
     .unwritable_name = nullptr,
     .unwritable = UnwritableIndex::None,
     .gate_version = kAllFirmware,
     .gated_value = 0,
     .read_rank = 2,
     .unreadable_message = " Can't get Ringing Strength parameter !!!\n",
     .unknown_name = nullptr,
     .write_rank = 6,
     .write_name = "Strong Ringing",
     .line_takes_index = false,
     .labels = kFlagLabels,
     .items = {}},
    {.option = 3,
     .name = "Echo Cancel",
     .kind = SettingKind::Flag,
     .device = &SettingsValues::m_aec,
     .applied = &SettingsValues::a_aec,
     .reported = {},
     .fallback = 0,
     .written = {},
     .unwritable_name = nullptr,
     .unwritable = UnwritableIndex::None,
     .gate_version = kAllFirmware,
     .gated_value = 0,
     .read_rank = 3,
     .unreadable_message = " Can't get Echo Cancel parameter !!!\n",
     .unknown_name = nullptr,
     .write_rank = 2,
     .write_name = "Echo Cancel",
     .line_takes_index = false,
     .labels = kFlagLabels,
     .items = {}},
    {.option = 4,
     .name = "Hook Speed",
     .kind = SettingKind::Level,
     .device = &SettingsValues::m_hook_speed_index,
     .applied = &SettingsValues::a_hook_speed_index,
     .reported = kHookSpeedReported,
     .fallback = 2,
     .written = {},
     .unwritable_name = "hook speed",
     .unwritable = UnwritableIndex::CountAsFailure,
     .gate_version = kAllFirmware,
     .gated_value = 2,
     .read_rank = 12,
     .unreadable_message = " Can't get Hook Speed parameter !!!\n",
     .unknown_name = "Hook Spped count",
     .write_rank = 13,
     .write_name = "Hook Speed",
     .line_takes_index = false,
     .labels = kHookSpeedLabels,
     .items = kHookSpeedItems},
    {.option = 5,
     .name = "Off Hook power",
     .kind = SettingKind::Level,
     .device = &SettingsValues::m_offhook_pwr_index,
     .applied = &SettingsValues::a_offhook_pwr_index,
     .reported = kOffHookReported,
     .fallback = 1,
     .written = kOffHookWritten,
     .unwritable_name = "off-hook",
     .unwritable = UnwritableIndex::LogLine,
     .gate_version = kAllFirmware,
     .gated_value = 1,
     .read_rank = 13,
     .unreadable_message = " Can't get Off-hook Power parameter !!!\n",
     .unknown_name = "Off Hook power",
     .write_rank = 12,
     .write_name = "Off Hook power",
     .line_takes_index = false,
     .labels = kOffHookLabels,
     .items = kOffHookLabels},
    {.option = 6,
     .name = "Dialtone after Disconnect",
     .kind = SettingKind::Flag,
     .device = &SettingsValues::m_dialtone_dis,
     .applied = &SettingsValues::a_dialtone_dis,
     .reported = {},
     .fallback = 0,
     .written = {},
     .unwritable_name = nullptr,
     .unwritable = UnwritableIndex::None,
     .gate_version = kAllFirmware,
     .gated_value = 0,
     .read_rank = 4,
     .unreadable_message = " Can't get Disconnect with dialtone parameter !!!\n",
     .unknown_name = nullptr,
     .write_rank = 4,
     .write_name = "Dialtone after Disconnect",
     .line_takes_index = false,
     .labels = kFlagLabels,
     .items = {}},
    {.option = 7,
     .name = "Reverse after Disconnect",
     .kind = SettingKind::Flag,
     .device = &SettingsValues::m_reverse_dis,
     .applied = &SettingsValues::a_reverse_dis,
     .reported = {},
     .fallback = 0,
     .written = {},
     .unwritable_name = nullptr,
     .unwritable = UnwritableIndex::None,
     .gate_version = kAllFirmware,
     .gated_value = 0,
     .read_rank = 5,
     .unreadable_message = " Can't get Reverse after disconnect parameter !!!\n",
     .unknown_name = nullptr,
     .write_rank = 5,
     .write_name = "Reverse after Disconnect",
     .line_takes_index = false,
     .labels = kFlagLabels,
     .items = {}},
    {.option = 8,
     .name = "Dial plan",
     .kind = SettingKind::Level,
     .device = &SettingsValues::m_dial_plan_index,
     .applied = &SettingsValues::a_dial_plan_index,
     .reported = kThreeLevels,
     .fallback = 0,
     .written = {},
     .unwritable_name = "dial plan",
     .unwritable = UnwritableIndex::CountAsFailure,
     .gate_version = kAllFirmware,
     .gated_value = 0,
     .read_rank = 14,
     .unreadable_message = " Can't get Dial Plan parameter !!!\n",
     .unknown_name = "Dail plan",
     .write_rank = 11,
     .write_name = "Dial plan",
     .line_takes_index = false,
     .labels = kDialPlanLabels,
     .items = kDialPlanItems},
    {.option = 9,
     .name = "LED Debug",
     .kind = SettingKind::Flag,
     .device = &SettingsValues::m_led_display,
     .applied = &SettingsValues::a_led_display,
     .reported = {},
     .fallback = 0,
     .written = {},
     .unwritable_name = nullptr,
     .unwritable = UnwritableIndex::None,
     .gate_version = kAllFirmware,
     .gated_value = 0,
     .read_rank = 6,
     .unreadable_message = " Can't get LED Debug display parameter !!!\n",
     .unknown_name = nullptr,
     .write_rank = 7,
     .write_name = "LED Debug",
     .line_takes_index = false,
     .labels = kFlagLabels,
     .items = {}},
    {.option = 10,
     .name = "Media Audio",
     .kind = SettingKind::Flag,
     .device = &SettingsValues::m_a2dp,
     .applied = &SettingsValues::a_a2dp,
     .reported = {},
     .fallback = 0,
     .written = {},
     .unwritable_name = nullptr,
     .unwritable = UnwritableIndex::None,
     .gate_version = kAllFirmware,
     .gated_value = 0,
     .read_rank = 11,
     .unreadable_message = " Can't get Media Audio parameter !!!\n",
     .unknown_name = nullptr,
     .write_rank = 16,
     .write_name = nullptr,
     .line_takes_index = false,
     .labels = kFlagLabels,
     .items = {}},
    {.option = 13,
     .name = "MIC volume",
     .kind = SettingKind::Level,
     .device = &SettingsValues::m_mic_vol_index,
     .applied = &SettingsValues::a_mic_vol_index,
     .reported = kFiveLevels,
     .fallback = 2,
     .written = {},
     .unwritable_name = "MIC volume",
     .unwritable = UnwritableIndex::CountAsFailure,
     .gate_version = kVolumeFirmware,
     .gated_value = 2,
     .read_rank = 15,
     .unreadable_message = " Can't get MIC Volume parameter !!!\n",
     .unknown_name = "MIC Volume",
     .write_rank = 14,
     .write_name = "MIC volume",
     .line_takes_index = false,
     .labels = kMicLabels,
     .items = kFiveLevelItems},
    {.option = 14,
     .name = "SPEAKER",
     .kind = SettingKind::Level,
     .device = &SettingsValues::m_spk_vol_index,
     .applied = &SettingsValues::a_spk_vol_index,
     .reported = kFiveLevels,
     .fallback = 2,
     .written = {},
     .unwritable_name = "speaker volume",
     .unwritable = UnwritableIndex::CountAsFailure,
     .gate_version = kVolumeFirmware,
     .gated_value = 2,
     .read_rank = 16,
     .unreadable_message = " Can't get Speaker Volume parameter !!!\n",
     .unknown_name = "SPEAKER Volume",
     .write_rank = 15,
     .write_name = "SPEAKER",
     .line_takes_index = false,
     .labels = kSpeakerLabels,
     .items = kFiveLevelItems},
    {.option = 15,
     .name = "RoboCall Block",
     .kind = SettingKind::Flag,
     .device = &SettingsValues::m_robocall,
     .applied = &SettingsValues::a_robocall,
     .reported = {},
     .fallback = 0,
     .written = {},
     .unwritable_name = nullptr,
     .unwritable = UnwritableIndex::None,
     .gate_version = kRobocallFirmware,
     .gated_value = 0,
     .read_rank = 7,
     .unreadable_message = " Can't get Robocall Block parameter !!!\n",
     .unknown_name = nullptr,
     .write_rank = 8,
     .write_name = "RoboCall Block",
     .line_takes_index = false,
     .labels = kFlagLabels,
     .items = {}},
    {.option = 16,
     .name = "DTMF Tone Command",
     .kind = SettingKind::Flag,
     .device = &SettingsValues::m_dtmfcmd,
     .applied = &SettingsValues::a_dtmfcmd,
     .reported = {},
     .fallback = 0,
     .written = {},
     .unwritable_name = nullptr,
     .unwritable = UnwritableIndex::None,
     .gate_version = kDtmfFirmware,
     .gated_value = 0,
     .read_rank = 8,
     .unreadable_message = " Can't get DTMF Tone Command parameter !!!\n",
     .unknown_name = nullptr,
     .write_rank = 9,
     .write_name = "DTMF Tone Command",
     .line_takes_index = false,
     .labels = kFlagLabels,
     .items = {}},
    {.option = 17,
     .name = "DTMF Threshold",
     .kind = SettingKind::Level,
     .device = &SettingsValues::m_dtmfth_index,
     .applied = &SettingsValues::a_dtmfth_index,
     .reported = kThreeLevels,
     .fallback = 0,
     .written = {},
     .unwritable_name = "DTMF threshold",
     .unwritable = UnwritableIndex::CountAsFailure,
     .gate_version = kDtmfFirmware,
     .gated_value = 0,
     .read_rank = 9,
     .unreadable_message = " Can't get DTMF Threshold parameter !!!\n",
     .unknown_name = "DTMF Threshold",
     .write_rank = 10,
     .write_name = "DTMF Threshold",
     .line_takes_index = false,
     .labels = kDtmfThresholdLabels,
     .items = kDtmfThresholdLabels},
    {.option = 18,
     .name = "Echo Depth Control",
     .kind = SettingKind::Level,
     .device = &SettingsValues::m_aec_depth_index,
     .applied = &SettingsValues::a_aec_depth_index,
     .reported = kFiveLevels,
     .fallback = 2,
     .written = {},
     .unwritable_name = "echo depth",
     .unwritable = UnwritableIndex::CountAsFailure,
     .gate_version = kDtmfFirmware,
     .gated_value = 2,
     .read_rank = 10,
     .unreadable_message = " Can't get Echo Depth Control Value !!!\n",
     .unknown_name = "Echo Depth Control",
     .write_rank = 3,
     .write_name = "Echo Depth Control",
     .line_takes_index = true,
     .labels = kFiveLevelItems,
     .items = kFiveLevelItems},
};

// The table in the order one of its rank fields gives (ranks run 1 to 16).
SettingOrder OrderedBy(int SettingDescription::*rank) {
    SettingOrder order{};
    for (const SettingDescription &setting : kSettings) {
        const int position = setting.*rank - 1;
        if (position >= 0 && position < kSettingCount) order[position] = &setting;
    }
    return order;
}

}  // namespace

std::span<const SettingDescription> AllSettings() {
    return kSettings;
}

const SettingDescription *FindSetting(std::uint8_t option) {
    for (const SettingDescription &setting : kSettings) {
        if (setting.option == option) return &setting;
    }
    return nullptr;
}

SettingOrder SettingsInReadOrder() {
    return OrderedBy(&SettingDescription::read_rank);
}
SettingOrder SettingsInWriteOrder() {
    return OrderedBy(&SettingDescription::write_rank);
}

bool SettingAvailable(const SettingDescription &setting, int version) {
    return version > setting.gate_version;
}

int DeviceValueFor(const SettingDescription &setting, std::uint32_t number, bool &known) {
    known = true;
    if (setting.kind == SettingKind::Flag) return number != 0 ? 1 : 0;
    const auto found = std::find(setting.reported.begin(), setting.reported.end(), number);
    if (found != setting.reported.end()) {
        return static_cast<int>(found - setting.reported.begin());
    }
    known = false;
    return setting.fallback;
}

bool WrittenByteFor(const SettingDescription &setting, int applied, std::uint8_t &byte) {
    if (setting.kind == SettingKind::Flag) {
        byte = applied != 0 ? 1 : 0;
        return true;
    }
    const int levels = static_cast<int>(setting.reported.size());
    if (applied < 0 || applied >= levels) return false;
    const auto index = static_cast<std::size_t>(applied);
    byte = index < setting.written.size() ? setting.written[index]
                                          : static_cast<std::uint8_t>(applied);
    return true;
}

const char *LabelFor(const SettingDescription &setting, int applied) {
    const std::span<const char *const> labels = setting.labels;
    if (setting.kind == SettingKind::Flag) return labels[applied != 0 ? 1 : 0];
    if (applied < 0 || static_cast<std::size_t>(applied) >= labels.size()) return labels.back();
    return labels[static_cast<std::size_t>(applied)];
}

void CopyDeviceToApplied(SettingsValues &values) {
    for (const SettingDescription &setting : kSettings) {
        setting.applied.Set(values, setting.device.Get(values));
    }
}

void GateAppliedValues(SettingsValues &values, int version) {
    for (const SettingDescription &setting : kSettings) {
        if (!SettingAvailable(setting, version)) setting.applied.Set(values, setting.gated_value);
    }
}

}  // namespace tornelvox
