// The update worker: whole attempts of boot loader entry, name page read and programming, up to
// ten, and the Update and Cancel actions that start and stop it.
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "firmware/firmware_update.h"

namespace tornelvox {

std::atomic<bool> ThreadRunning{false};
std::atomic<bool> UpdateFirmwareRunning{false};

std::function<void(unsigned seconds)> RetryPause = [](unsigned seconds) {
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
};

namespace {

constexpr int kMaxAttempts = 10;
constexpr int kAttemptsWithNameRead = 5;  // later attempts keep the address already held
constexpr unsigned kPauseSeconds = 3;
constexpr int kCheckValueMismatch = 20;  // a wrong image on the adapter: retrying will not help

// Ends of finished worker threads, for whoever must know that a worker is wholly gone.
struct WorkerEnds {
    std::mutex mutex;
    std::condition_variable changed;
    unsigned count = 0;
};

WorkerEnds &Ends() {
    // Never destroyed: a detached worker may finish while the process exits.
    static WorkerEnds *ends = new WorkerEnds;
    return *ends;
}

void CountWorkerEnd() {
    WorkerEnds &ends = Ends();
    {
        std::lock_guard lock(ends.mutex);
        ++ends.count;
    }
    ends.changed.notify_all();
}

// Marks the worker as ended for a waiting Cancel, then hands the buttons back. ThreadRunning is
// cleared before the buttons are posted, not after: once the Update button is enabled again a
// new Update may set the flag, and a late clear from this worker would cancel that new update.
// The posting is asynchronous, so what the user sees is the same either way.
void EndRun(WindowLink &window) {
    UpdateFirmwareRunning.store(false);
    UpdateFirmwareRunning.notify_all();
    ThreadRunning.store(false);
    window.PostButtons(ButtonState::Restored);
}

int SuccessEnd(WindowLink &window) {
    ShowMsg(" Reboot MCU \n");
    ReBootSystem();
    ClosePort();
    ShowMsg("\n            Success                           \n\n");
    CurVerNum = VerNum;
    EndRun(window);
    return 1;
}

int FailureEnd(WindowLink &window) {
    ShowMsg("\n          WARMING !!! FAILED !!!                      \n");
    ShowMsg("  Please remove the device then plug-in and try again.  \n\n");
    CurVerNum = 0;
    EndRun(window);
    return 0;
}

int CancelEnd(WindowLink &window) {
    CurVerNum = 0;
    EndRun(window);
    return 0;
}

bool RunAttempt(int failed_attempts) {
    if (!Set2Boot()) return false;
    if (failed_attempts < kAttemptsWithNameRead && !GetID(1)) return false;
    return ProgramDevice() != 0;
}

}  // namespace

int RunUpdateWorker(const std::shared_ptr<WindowLink> &window) {
    UpdateFirmwareRunning.store(true);
    ShowMsg("\n Start the programming: \n");
    int failed_attempts = 0;
    for (;;) {
        if (RunAttempt(failed_attempts)) return SuccessEnd(*window);

        // A fresh port for the next attempt: whatever the adapter sent late is discarded.
        ClosePort();
        ++failed_attempts;
        InitPort();
        if (failed_attempts >= kMaxAttempts || FailCode == kCheckValueMismatch) {
            return FailureEnd(*window);
        }
        ShowMsg(" Try again. Try count = %d\n", failed_attempts);
        RetryPause(kPauseSeconds);
        if (!ThreadRunning.load()) return CancelEnd(*window);
    }
}

void StartUpdateWorker(std::shared_ptr<WindowLink> window) {
    ThreadRunning.store(true);
    window->PostButtons(ButtonState::LockedForUpdate);
    try {
        // The thread holds its own reference to the window, so the window outlives the worker's
        // last posted change even if its owner lets go first.
        std::thread([window]() mutable {
            RunUpdateWorker(window);
            window.reset();
            CountWorkerEnd();
        }).detach();
    } catch (const std::system_error &) {
        // No thread could be started: nothing runs, so the buttons go back at once.
        ThreadRunning.store(false);
        window->PostButtons(ButtonState::Restored);
    }
}

void CancelUpdate() {
    ThreadRunning.store(false);
    // Sleeps until the worker clears the flag and wakes it; no polling.
    while (UpdateFirmwareRunning.load()) UpdateFirmwareRunning.wait(true);
}

unsigned UpdateWorkersEnded() {
    std::lock_guard lock(Ends().mutex);
    return Ends().count;
}

bool WaitForUpdateWorkersEnded(unsigned count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(Ends().mutex);
    return Ends().changed.wait_for(lock, timeout, [&] { return Ends().count >= count; });
}

}  // namespace tornelvox
