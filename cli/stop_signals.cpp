#include "cli/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <system_error>
#include <thread>

namespace tornelvox::cli {

namespace {

// Set once in BlockInProcess, before any thread starts.
bool hangup_ignored_at_start = false;

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    if (!hangup_ignored_at_start) sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void StopSignals::BlockInProcess() {
    // Whoever started the program with the hangup ignored (nohup) meant the work to outlive the
    // session: a hangup then stays ignored rather than cancelling an update.
    struct sigaction hangup {};
    hangup_ignored_at_start =
        sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler == SIG_IGN;
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool StopSignals::HangupIgnoredAtStart() {
    return hangup_ignored_at_start;
}

void StopSignals::Start(std::function<void()> on_stop_outside_update) {
    on_stop_outside_update_ = std::move(on_stop_outside_update);
    if (pipe2(wake_, O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
    try {
        std::thread([this] { Watch(); }).detach();
    } catch (const std::system_error &) {
        // No watcher: the signals stay blocked and pending, and the program runs to its end.
    }
}

void StopSignals::Watch() {
    const sigset_t set = StopSet();
    for (;;) {
        int received = 0;
        if (sigwait(&set, &received) != 0) continue;
        OnStop();
    }
}

void StopSignals::OnStop() {
    std::function<void()> cancel;
    {
        std::lock_guard lock(mutex_);
        if (!updating_) {
            on_stop_outside_update_();
            return;
        }
        cancel_requested_.store(true);
        if (wake_[1] >= 0) {
            const char wake = 'x';
            [[maybe_unused]] const ssize_t written = write(wake_[1], &wake, 1);
        }
        cancel = cancel_;
    }
    // The Cancel action: returns once the worker has reached one of its ends.
    if (cancel) cancel();
}

void StopSignals::BeginUpdate(const std::function<void()> &start, std::function<void()> cancel) {
    std::lock_guard lock(mutex_);
    updating_ = true;
    cancel_ = std::move(cancel);
    start();
}

void StopSignals::EndUpdate() {
    std::lock_guard lock(mutex_);
    updating_ = false;
}

}  // namespace tornelvox::cli
