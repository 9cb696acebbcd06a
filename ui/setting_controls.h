// What only the settings dialog knows about each setting: the widget that shows it, its Restore
// defaults value, the checkbox that enables it, and the orders in which Confirm and Cancel fill
// the applied values.
#pragma once

#include <cstdint>
#include <span>

#include "settings/settings_model.h"

namespace tornelvox {

struct SettingControl {
    std::uint8_t option;      // the setting's option code
    const char *control;      // the checkbox (flag) or box (level); a box's label is named after it
    int default_value;        // Restore defaults
    std::uint8_t enabled_by;  // option whose checkbox enables this box (0: none)
    int confirm_rank;         // order in which Confirm fills the applied values (1 to 16)
    int cancel_rank;          // order in which Cancel fills them (1 to 16)
};

// One entry per setting, in option-code order, as AllSettings().
std::span<const SettingControl> AllSettingControls();

// The dialog's entry of the setting with this option code, or nullptr.
const SettingControl *SettingControlFor(std::uint8_t option);

SettingOrder SettingsInConfirmOrder();
SettingOrder SettingsInCancelOrder();

}  // namespace tornelvox
