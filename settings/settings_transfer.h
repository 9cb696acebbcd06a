// Reading all the adapter's settings and writing the changed ones.
#pragma once

#include "settings/settings_model.h"

namespace tornelvox {

class LinkSession;

// Reads every setting that firmware version has over link into values' device values, each read
// retried once, logging a message for each unreadable setting and each unknown number; settings the
// firmware lacks get their fixed values. All sixteen device values are set. Returns the settings
// whose reads failed twice: their device values are fallbacks, not what the adapter holds.
SettingSet ReadAllSettings(LinkSession &link, SettingsValues &values, int version);

// Writes every setting whose applied value differs from its device value, and every one in
// write_anyway (a device value that was never read says nothing about the adapter), in writing
// order, logging a line for each. Settings that firmware version lacks are never written. Returns
// true when no write failed. Does not log the header or the verdict.
bool ApplyChangedSettings(LinkSession &link, const SettingsValues &values, int version,
                          const SettingSet &write_anyway = {});

}  // namespace tornelvox
