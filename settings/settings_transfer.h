// Reading all the adapter's settings and writing the changed ones.
#pragma once

namespace tornelvox {

// Reads every setting that firmware version has into the device values, each read retried once,
// logging a message for each unreadable setting and each unknown number; settings the firmware
// lacks get their fixed values. All sixteen device values are set.
void ReadAllSettings(int version);

// Writes every setting whose applied value differs from its device value, in writing order,
// logging a line for each. Returns true when no write failed. Does not log the header or the
// verdict.
bool ApplyChangedSettings();

}  // namespace tornelvox
