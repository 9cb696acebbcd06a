// Reading every setting the adapter's firmware has into the device values.
#include <cstdint>

#include "serial/link_session.h"
#include "serial/message_log.h"
#include "settings/settings_model.h"
#include "settings/settings_protocol.h"
#include "settings/settings_transfer.h"

namespace tornelvox {

namespace {

// Every read gets one more try when the first fails; the second result stands.
std::uint32_t ReadWithRetry(LinkSession &link, std::uint8_t option) {
    const std::uint32_t value = GetDeviceParameters(link, option);
    return value != ParamFail ? value : GetDeviceParameters(link, option);
}

// False when the setting's reads failed twice and its device value is the fallback.
bool ReadSetting(LinkSession &link, SettingsValues &values, const SettingDescription &setting,
                 int version) {
    if (!SettingAvailable(setting, version)) {
        setting.device.Set(values, setting.gated_value);
        return true;
    }
    const std::uint32_t number = ReadWithRetry(link, setting.option);
    if (number == ParamFail) {
        ShowMsg(link, "%s", setting.unreadable_message);
        setting.device.Set(values, UnreadableValue(setting));
        return false;
    }
    bool known = true;
    const int value = DeviceValueFor(setting, number, known);
    if (!known && setting.unknown_name != nullptr) {
        ShowMsg(link, " Error: %s unknown %d\n", setting.unknown_name, static_cast<int>(number));
    }
    setting.device.Set(values, value);
    return true;
}

}  // namespace

SettingSet ReadAllSettings(LinkSession &link, SettingsValues &values, int version) {
    SettingSet unread;
    for (const SettingDescription *setting : SettingsInReadOrder()) {
        if (!ReadSetting(link, values, *setting, version)) unread.Add(setting->option);
    }
    return unread;
}

}  // namespace tornelvox
