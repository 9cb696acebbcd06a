// Writing the settings whose applied value differs from the device value.
#include <cstdint>

#include "serial/link_session.h"
#include "serial/message_log.h"
#include "settings/settings_model.h"
#include "settings/settings_protocol.h"
#include "settings/settings_transfer.h"

namespace tornelvox {

namespace {

void LogWrittenLine(const LinkSession &link, const SettingDescription &setting, int applied) {
    if (setting.write_name == nullptr) {
        for (const char *line : kMediaAudioLines) ShowMsg(link, "%s", line);
    } else if (setting.line_takes_index) {
        ShowMsg(link, " Set %s to %d\n", setting.write_name, applied);
    } else {
        ShowMsg(link, " Set %s to %s\n", setting.write_name, LabelFor(setting, applied));
    }
}

// Writes one changed setting and logs its line. Returns false when the run must end with the
// warning verdict.
bool WriteSetting(LinkSession &link, const SettingDescription &setting, int applied) {
    std::uint8_t byte = 0;
    if (!WrittenByteFor(setting, applied, byte)) {
        ShowMsg(link, "Unknow %s index %d\n", setting.unwritable_name, applied);
        if (setting.unwritable == UnwritableIndex::CountAsFailure) return false;
        LogWrittenLine(link, setting, applied);
        return true;
    }
    const bool written = SetDeviceParameters(link, setting.option, byte) != ParamFail;
    LogWrittenLine(link, setting, applied);
    return written;
}

}  // namespace

bool ApplyChangedSettings(LinkSession &link, const SettingsValues &values, int version,
                          const SettingSet &write_anyway) {
    bool all_written = true;
    for (const SettingDescription *setting : SettingsInWriteOrder()) {
        const int applied = setting->applied.Get(values);
        if (applied == setting->device.Get(values) && !write_anyway.Has(setting->option)) continue;
        // The dialog keeps a setting the firmware lacks at its fixed value; should it ever
        // differ, it is still never sent to firmware that does not know it.
        if (!SettingAvailable(*setting, version)) continue;
        if (!WriteSetting(link, *setting, applied)) all_written = false;
    }
    return all_written;
}

}  // namespace tornelvox
