// The Setting action: reads the adapter's settings, opens the dialog, starts the apply worker.
#include <termios.h>

#include <system_error>
#include <thread>

#include "firmware/firmware_update.h"
#include "serial/message_log.h"
#include "serial/serial_port.h"
#include "settings/settings_model.h"
#include "settings/settings_workflow.h"

namespace tornelvox {

bool StartDeviceSetting(const std::shared_ptr<WindowLink> &window) {
    if (!window) return false;
    if (CurVerNum <= kSettingsMinVersion) {
        ShowMsg("\n !!!! Warming !!!\n");
        ShowMsg(" Hardware firmwave verion %03X is too low.\n", static_cast<unsigned>(CurVerNum));
        ShowMsg(" Please update firmware first\n");
        return false;
    }
    // Not tested: with no port every read below fails and falls back.
    if (hComm <= 0) InitPort();
    bDeviceSettingRunning.store(true, std::memory_order_release);
    window->PostButtons(ButtonState::LockedForSettings);
    if (hComm > 0) tcflush(hComm, TCIOFLUSH);
    ReadAllSettings(CurVerNum);
    window->OpenSettingsDialog();
    try {
        std::thread([window_copy = window] { RunSettingsApply(window_copy); }).detach();
    } catch (const std::system_error &) {
        // No thread to write the changes: nothing is written, the window gets its actions back.
        ShowMsg("\n WARMING: Set Device error. Please try again\n\n");
        window->PostButtons(ButtonState::Restored);
    }
    return true;
}

}  // namespace tornelvox
