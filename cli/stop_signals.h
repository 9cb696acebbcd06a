// SIGINT, SIGHUP and SIGTERM as the Cancel action: during an update they cancel it and the
// program goes on to the update's end; at any other time the program ends at once, "cancelled".
// The signals are blocked in every thread and taken by one thread with sigwait, so nothing runs
// in a signal handler. SIGPIPE is ignored: a write to a closed terminal or pipe fails instead.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

namespace tornelvox::cli {

class StopSignals {
  public:
    // Blocks the stop signals (SIGINT, SIGTERM, and SIGHUP unless the program was started with
    // it ignored, as nohup does) and ignores SIGPIPE for the whole process. Call first in main,
    // before any thread starts, so that every thread inherits the mask.
    static void BlockInProcess();

    // True when the program was started with SIGHUP ignored (nohup); BlockInProcess found out.
    static bool HangupIgnoredAtStart();

    // Starts the thread that waits for the signals. on_stop_outside_update runs on that thread
    // for a signal that comes while no update runs; it ends the process.
    void Start(std::function<void()> on_stop_outside_update);

    // Runs start (StartUpdateWorker) as the update begins: from here a stop signal runs cancel
    // (the Cancel action, which returns once the worker has reached one of its ends) instead of
    // ending the program.
    void BeginUpdate(const std::function<void()> &start, std::function<void()> cancel = {});
    // The update has ended: a stop signal ends the program again.
    void EndUpdate();

    // True once a stop signal cancelled the update.
    bool CancelRequested() const { return cancel_requested_.load(); }

    // Becomes readable once a stop signal cancelled the update, and stays so: a question the
    // update asks on the terminal polls it and gives up.
    int CancelWakeFd() const { return wake_[0]; }

  private:
    void Watch();
    void OnStop();

    std::mutex mutex_;
    bool updating_ = false;
    std::atomic<bool> cancel_requested_{false};
    int wake_[2] = {-1, -1};
    std::function<void()> on_stop_outside_update_;
    std::function<void()> cancel_;
};

}  // namespace tornelvox::cli
