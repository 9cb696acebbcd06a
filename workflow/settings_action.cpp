// The Setting action: reads the adapter's settings, opens the dialog, starts the apply worker.
#include <termios.h>

#include <system_error>
#include <thread>

#include "firmware/firmware_update.h"
#include "serial/message_log.h"
#include "serial/serial_port.h"
#include "workflow/settings_flow.h"

namespace tornelvox {

std::atomic<bool> bDeviceSettingRunning{false};

void ClearDeviceSettingRunning() {
    bDeviceSettingRunning.store(false, std::memory_order_release);
    bDeviceSettingRunning.notify_all();
}

std::optional<SettingSet> PrepareDeviceSetting(FrontEnd &front_end) {
    if (CurVerNum <= kSettingsMinVersion) {
        ShowMsg("\n !!!! Warming !!!\n");
        ShowMsg(" Hardware firmwave verion %03X is too low.\n", static_cast<unsigned>(CurVerNum));
        ShowMsg(" Please update firmware first\n");
        return std::nullopt;
    }
    // Not tested: with no port every read below fails and falls back.
    if (hComm <= 0) InitPort();
    bDeviceSettingRunning.store(true, std::memory_order_release);
    front_end.PostButtons(ButtonState::LockedForSettings);
    if (hComm > 0) tcflush(hComm, TCIOFLUSH);
    return ReadAllSettings(CurVerNum);
}

bool StartDeviceSetting(const std::shared_ptr<FrontEnd> &front_end) {
    if (!front_end) return false;
    if (!PrepareDeviceSetting(*front_end)) return false;
    front_end->OpenSettingsDialog();
    try {
        std::thread([front_end_copy = front_end] { RunSettingsApply(front_end_copy); }).detach();
    } catch (const std::system_error &) {
        // No thread to write the changes: nothing is written, the front end gets its actions
        // back.
        ShowMsg("\n WARMING: Set Device error. Please try again\n\n");
        front_end->PostButtons(ButtonState::Restored);
    }
    return true;
}

bool RunSettingsApply(const std::shared_ptr<FrontEnd> &front_end, const SettingSet &write_anyway) {
    // The dialog fills in the applied values before it clears the flag with release; the
    // acquire here makes them visible.
    while (bDeviceSettingRunning.load(std::memory_order_acquire)) {
        bDeviceSettingRunning.wait(true, std::memory_order_acquire);
    }
    ShowMsg("\n ====> Device Setting \n");
    const bool all_written = ApplyChangedSettings(write_anyway);
    if (all_written) {
        ShowMsg("\n Set Device parameters done. \n\n");
    } else {
        ShowMsg("\n WARMING: Set Device error. Please try again\n\n");
    }
    if (front_end) front_end->PostButtons(ButtonState::Restored);
    return all_written;
}

}  // namespace tornelvox
