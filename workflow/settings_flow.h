// The Setting action and the settings-apply worker that writes what the dialog changed.
#pragma once

#include <atomic>
#include <memory>
#include <optional>

#include "settings/device_settings.h"
#include "workflow/adapter_session.h"
#include "workflow/front_end.h"

namespace tornelvox {

// The dialog's last step on every way of closing: clears session's bDeviceSettingRunning with
// release semantics (publishing the applied values) and wakes the waiting worker.
void ClearDeviceSettingRunning(AdapterSession &session);

// The Setting action. Refuses (three log lines, returns false, nothing else touched) when
// CurVerNum is 0x1FF or lower. Otherwise opens the port if needed, sets bDeviceSettingRunning,
// locks the buttons, flushes the port, reads all settings, opens the dialog through front_end
// and starts a detached worker running RunSettingsApply, which holds the session until it ends;
// returns true.
bool StartDeviceSetting(const std::shared_ptr<AdapterSession> &session,
                        const std::shared_ptr<FrontEnd> &front_end);

// The Setting action up to the dialog: the version gate (three log lines and nothing when
// CurVerNum is 0x1FF or lower), then opens the port if needed, sets bDeviceSettingRunning, locks
// the buttons, flushes the port and reads all settings into the device values; returns the
// settings whose reads failed (their device values are fallbacks). Whoever calls it fills in the
// applied values, calls ClearDeviceSettingRunning and runs RunSettingsApply (or posts the restored
// buttons when nothing is to be written).
std::optional<SettingSet> PrepareDeviceSetting(AdapterSession &session, FrontEnd &front_end);

// The worker's body: waits without spinning until bDeviceSettingRunning is clear, logs the
// header, writes the changed settings and those in write_anyway, logs the verdict and then posts
// the restored buttons. Returns true when every setting it wrote was written.
bool RunSettingsApply(AdapterSession &session, const std::shared_ptr<FrontEnd> &front_end,
                      const SettingSet &write_anyway = {});

}  // namespace tornelvox
