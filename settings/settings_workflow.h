// The Setting action and the settings-apply worker, independent of any window toolkit.
#pragma once

#include <atomic>
#include <memory>

#include "serial/window_link.h"

namespace tornelvox {

// Set by the Setting action before the dialog opens; cleared once by the dialog when it closes,
// after it has filled in the applied values. The worker waits for it to clear.
extern std::atomic<bool> bDeviceSettingRunning;

// The dialog's last step on every way of closing: clears bDeviceSettingRunning with release
// semantics (publishing the applied values) and wakes the waiting worker.
void ClearDeviceSettingRunning();

// Reads every setting that firmware version has into the device values, each read retried once,
// logging a message for each unreadable setting and each unknown number; settings the firmware
// lacks get their fixed values. All sixteen device values are set.
void ReadAllSettings(int version);

// Writes every setting whose applied value differs from its device value, in writing order,
// logging a line for each. Returns true when no write failed. Does not log the header or the
// verdict.
bool ApplyChangedSettings();

// The Setting action. Refuses (three log lines, returns false, nothing else touched) when
// CurVerNum is 0x1FF or lower. Otherwise opens the port if needed, sets bDeviceSettingRunning,
// locks the buttons, flushes the port, reads all settings, opens the dialog through window and
// starts a detached worker running RunSettingsApply; returns true.
bool StartDeviceSetting(const std::shared_ptr<WindowLink> &window);

// The worker's body: waits without spinning until bDeviceSettingRunning is clear, logs the
// header, writes the changed settings, logs the verdict and then posts the restored buttons.
void RunSettingsApply(const std::shared_ptr<WindowLink> &window);

}  // namespace tornelvox
