// One adapter's session, put together from each layer's part: the port and its exchange
// (LinkSession), what the firmware layer learned of the adapter (FirmwareFindings), the settings'
// values (SettingsValues) and the workflows' run flags. Every action of the workflows takes the
// session it works on; two sessions share nothing.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "firmware/firmware_session.h"
#include "settings/settings_model.h"

namespace tornelvox {

// How the last update ended. kRefused: it wrote nothing, because this build may not update the
// adapter, or because no address the adapter is to keep was chosen.
enum class UpdateEnd { kNone, kSuccess, kFailure, kCancelled, kRefused };

// The pause after a failed attempt that is retried: sleeps for seconds.
void SleepBeforeRetry(unsigned seconds);

struct AdapterSession : FirmwareSession, SettingsValues {
    // Set by the update worker first thing, cleared at each of its ends. Cancel waits for it to
    // clear.
    std::atomic<bool> UpdateFirmwareRunning{false};
    // How the last update ended.
    std::atomic<UpdateEnd> LastUpdateEnd{UpdateEnd::kNone};
    // The pause after a failed attempt that is retried, in seconds (3). Tests replace it. Change
    // it only while no worker runs.
    std::function<void(unsigned seconds)> RetryPause = SleepBeforeRetry;
    // The clock the update worker times each attempt's programming steps by, for the time left
    // it reports. Tests replace it. Change it only while no worker runs.
    std::function<std::chrono::steady_clock::time_point()> ProgressClock =
        std::chrono::steady_clock::now;
    // Set by the Setting action before the dialog opens; cleared once by the dialog when it
    // closes, after it has filled in the applied values. The settings worker waits for it to
    // clear (ClearDeviceSettingRunning wakes it).
    std::atomic<bool> bDeviceSettingRunning{false};

    // Update worker threads of this session that have finished, their front end released.
    mutable std::mutex WorkerEndsMutex;
    std::condition_variable WorkerEndsChanged;
    unsigned WorkerEndsCount = 0;  // guarded by WorkerEndsMutex
};

}  // namespace tornelvox
