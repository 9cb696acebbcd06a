// `settings set NAME=VALUE ...`: which setting a name means and which value a text means.
#pragma once

#include <string>
#include <vector>

#include "settings/settings_model.h"

namespace tornelvox::cli {

struct SettingAssignment {
    const SettingDescription *setting = nullptr;
    int value = 0;  // flag 0/1 or level index, as the applied value holds it
};

// The setting a name means: its log name, compared without regard to case, with space, '-' and
// '_' alike and outer spaces ignored. nullptr when none.
const SettingDescription *FindSettingByName(const std::string &name);

// The value a text means for setting: a log label, a dialog item, or a level's index (flags:
// TRUE/FALSE or 1/0), without regard to case and outer spaces. False when none.
bool ParseSettingValue(const SettingDescription &setting, const std::string &text, int &value);

// Every value setting accepts, for a message: "TRUE, FALSE (or 1, 0)", "30 ms, 50 ms, ... (or 0 to
// 3)".
std::string AcceptedValues(const SettingDescription &setting);

// Every setting's name, comma separated, for a message.
std::string SettingNames();

// Parses every NAME=VALUE. On the first that names no setting, holds no value the setting
// knows, or names a setting a second time: false with a message that says which and lists the
// valid names or values.
bool ParseAssignments(const std::vector<std::string> &texts, std::vector<SettingAssignment> &out,
                      std::string &error);

}  // namespace tornelvox::cli
