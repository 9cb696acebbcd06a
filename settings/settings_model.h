// The sixteen adapter settings: their device and applied values and the one table that describes
// each of them for reading, applying and the settings dialog.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace tornelvox {

// Device values (m_): what the last reading produced, in the dialog's terms (flag 0/1 or level
// index), with fallbacks and fixed values already filled in. Applied values (a_): what the dialog
// left when it closed. Only pairs that differ are written. A fresh SettingsValues{} holds all
// thirty-two at zero, as at program start.
struct SettingsValues {
    unsigned char m_callerid = 0, a_callerid = 0;
    unsigned char m_strong_ring = 0, a_strong_ring = 0;
    unsigned char m_aec = 0, a_aec = 0;
    int m_hook_speed_index = 0, a_hook_speed_index = 0;
    int m_offhook_pwr_index = 0, a_offhook_pwr_index = 0;
    unsigned char m_dialtone_dis = 0, a_dialtone_dis = 0;
    unsigned char m_reverse_dis = 0, a_reverse_dis = 0;
    int m_dial_plan_index = 0, a_dial_plan_index = 0;
    unsigned char m_led_display = 0, a_led_display = 0;
    unsigned char m_a2dp = 0, a_a2dp = 0;
    int m_mic_vol_index = 0, a_mic_vol_index = 0;
    int m_spk_vol_index = 0, a_spk_vol_index = 0;
    unsigned char m_robocall = 0, a_robocall = 0;
    unsigned char m_dtmfcmd = 0, a_dtmfcmd = 0;
    int m_dtmfth_index = 0, a_dtmfth_index = 0;
    int m_aec_depth_index = 0, a_aec_depth_index = 0;
};

inline constexpr int kSettingCount = 16;

// Lowest firmware the settings work with at all: the version must be greater than this.
inline constexpr int kSettingsMinVersion = 0x1FF;

// What the worker does with an applied level index that has no byte to write.
enum class UnwritableIndex {
    None,            // a flag: every value has a byte
    LogLine,         // not written and not a failure; the setting's line is still logged
    CountAsFailure,  // not written, no line; the run ends with the warning verdict
};

enum class SettingKind {
    Flag,   // on/off, held as unsigned char 0 or 1
    Level,  // one of a few numbered levels, held as an int index from 0
};

// One of the two variables of a setting, whichever type it has: a member of SettingsValues.
class SettingVariable {
  public:
    constexpr SettingVariable(unsigned char SettingsValues::*flag) : flag_(flag) {}
    constexpr SettingVariable(int SettingsValues::*level) : level_(level) {}
    int Get(const SettingsValues &values) const {
        return flag_ != nullptr ? values.*flag_ : values.*level_;
    }
    // A flag keeps the low byte, as a byte-wide variable does.
    void Set(SettingsValues &values, int value) const {
        if (flag_ != nullptr) {
            values.*flag_ = static_cast<unsigned char>(value);
        } else {
            values.*level_ = value;
        }
    }

  private:
    unsigned char SettingsValues::*flag_ = nullptr;
    int SettingsValues::*level_ = nullptr;
};

// Everything the utility knows about one setting.
struct SettingDescription {
    std::uint8_t option;  // option code of the settings frames
    const char *name;     // as the log and the dialog name it
    SettingKind kind;
    SettingVariable device;   // m_ value
    SettingVariable applied;  // a_ value

    // Reading: the adapter reports level i as reported[i] (empty for a flag, which is 0 for off
    // and anything else for on). An unreadable setting or an unknown number gives fallback.
    std::span<const std::uint32_t> reported;
    int fallback;
    // Writing: level i is written as the byte written[i]; empty means the index itself. A flag
    // is written as 1 or 0.
    std::span<const std::uint8_t> written;
    // An applied index outside the levels: "Unknow <unwritable_name> index %d\n" with the index,
    // then what unwritable says.
    const char *unwritable_name;
    UnwritableIndex unwritable;

    // Firmware gate: the setting exists when the version is greater than gate_version; on older
    // firmware it is neither read nor written and its device value is gated_value.
    int gate_version;
    int gated_value;

    // Reading order (1 to 16) and its messages: unreadable_message as it stands, and for a
    // number the setting does not know " Error: <unknown_name> unknown %d\n" with the number
    // (unknown_name is nullptr for a flag, which knows every number).
    int read_rank;
    const char *unreadable_message;
    const char *unknown_name;

    // Writing order (1 to 16) and the line logged after the write, " Set <write_name> to %s\n"
    // with the applied value's label, or " Set <write_name> to %d\n" with the index when
    // line_takes_index. Media Audio logs its own two lines (kMediaAudioLines) and has write_name
    // nullptr. The formats stay literal so that the compiler checks every argument.
    int write_rank;
    const char *write_name;
    bool line_takes_index;
    // Log labels by level index (flags: "FALSE", "TRUE"); an index beyond them takes the last.
    std::span<const char *const> labels;

    // The items of a level's box in the dialog, by index (empty for a flag); the command line
    // accepts them as well as the log labels.
    std::span<const char *const> items;
};

// The two lines logged after a Media Audio write (the adapter applies it after a restart).
inline constexpr std::array<const char *, 2> kMediaAudioLines = {
    "\n Change Media Audio Setting\n",
    " Neeed to wait for the Device to reboot to take effect.\n",
};

// The sixteen settings in option-code order.
std::span<const SettingDescription> AllSettings();
// The setting with this option code, or nullptr.
const SettingDescription *FindSetting(std::uint8_t option);

// Some of the settings, by option code (a reading's unread settings, for one).
class SettingSet {
  public:
    void Add(std::uint8_t option) {
        if (option < kOptionLimit) bits_ |= 1u << option;
    }
    bool Has(std::uint8_t option) const { return option < kOptionLimit && (bits_ >> option) & 1u; }
    bool Empty() const { return bits_ == 0; }
    bool operator==(const SettingSet &) const = default;

  private:
    static constexpr std::uint8_t kOptionLimit = 32;  // option codes go up to 18
    std::uint32_t bits_ = 0;
};

using SettingOrder = std::array<const SettingDescription *, kSettingCount>;
SettingOrder SettingsInReadOrder();
SettingOrder SettingsInWriteOrder();

// True when firmware version has this setting.
bool SettingAvailable(const SettingDescription &setting, int version);

// Device value for a number the adapter reported; sets known to false (and returns the
// fallback) for a level number the setting does not know. Numbers are compared unsigned.
int DeviceValueFor(const SettingDescription &setting, std::uint32_t number, bool &known);

// Device value of a setting whose read failed twice: its fallback (Caller ID counts as on).
inline int UnreadableValue(const SettingDescription &setting) {
    return setting.fallback;
}

// The byte written for an applied value. False, leaving byte unchanged, for a level index that
// has no byte (outside the setting's levels).
bool WrittenByteFor(const SettingDescription &setting, int applied, std::uint8_t &byte);

// The log label of an applied value: "TRUE"/"FALSE" for a flag, the level's label otherwise; an
// index outside the labels takes the last one.
const char *LabelFor(const SettingDescription &setting, int applied);

// Cancel, and any close other than Confirm: every applied value becomes its device value.
void CopyDeviceToApplied(SettingsValues &values);

// Confirm's last step: settings that firmware version lacks get their gated value as applied
// value, so they never differ from the device value and are never written.
void GateAppliedValues(SettingsValues &values, int version);

}  // namespace tornelvox
