// The Setting action: reads the adapter's settings, opens the dialog, starts the apply worker.
#include <system_error>
#include <thread>

#include "firmware/firmware_update.h"
#include "serial/message_log.h"
#include "serial/serial_port.h"
#include "workflow/settings_flow.h"

namespace tornelvox {

void ClearDeviceSettingRunning(AdapterSession &session) {
    session.bDeviceSettingRunning.store(false, std::memory_order_release);
    session.bDeviceSettingRunning.notify_all();
}

std::optional<SettingSet> PrepareDeviceSetting(AdapterSession &session, FrontEnd &front_end) {
    if (session.CurVerNum <= kSettingsMinVersion) {
        ShowMsg(session, "\n !!!! Warming !!!\n");
        ShowMsg(session, " Hardware firmwave verion %03X is too low.\n",
                static_cast<unsigned>(session.CurVerNum));
        ShowMsg(session, " Please update firmware first\n");
        return std::nullopt;
    }
    // Not tested: with no port every read below fails and falls back.
    if (!session.LinePort().IsOpen()) InitPort(session);
    session.bDeviceSettingRunning.store(true, std::memory_order_release);
    front_end.PostButtons(ButtonState::LockedForSettings);
    session.LinePort().Discard(Pending::kInputAndOutput);
    return ReadAllSettings(session, session, session.CurVerNum);
}

bool StartDeviceSetting(const std::shared_ptr<AdapterSession> &session,
                        const std::shared_ptr<FrontEnd> &front_end) {
    if (!session || !front_end) return false;
    if (!PrepareDeviceSetting(*session, *front_end)) return false;
    front_end->OpenSettingsDialog();
    try {
        // The worker holds the session and the front end until it ends.
        std::thread([session_copy = session, front_end_copy = front_end] {
            RunSettingsApply(*session_copy, front_end_copy);
        }).detach();
    } catch (const std::system_error &) {
        // No thread to write the changes: nothing is written, the front end gets its actions
        // back.
        ShowMsg(*session, "\n WARMING: Set Device error. Please try again\n\n");
        front_end->PostButtons(ButtonState::Restored);
    }
    return true;
}

bool RunSettingsApply(AdapterSession &session, const std::shared_ptr<FrontEnd> &front_end,
                      const SettingSet &write_anyway) {
    // The dialog fills in the applied values before it clears the flag with release; the
    // acquire here makes them visible.
    while (session.bDeviceSettingRunning.load(std::memory_order_acquire)) {
        session.bDeviceSettingRunning.wait(true, std::memory_order_acquire);
    }
    ShowMsg(session, "\n ====> Device Setting \n");
    const bool all_written =
        ApplyChangedSettings(session, session, session.CurVerNum, write_anyway);
    if (all_written) {
        ShowMsg(session, "\n Set Device parameters done. \n\n");
    } else {
        ShowMsg(session, "\n WARMING: Set Device error. Please try again\n\n");
    }
    if (front_end) front_end->PostButtons(ButtonState::Restored);
    return all_written;
}

}  // namespace tornelvox
