// SIGTERM, SIGINT and SIGHUP (the terminal the program runs in was closed) in the window program:
// the program ends with status 0. During an update the signal acts as the Cancel action first,
// and the program ends once the update has reached its cancel end. A program started with SIGHUP
// ignored (nohup) leaves it ignored: whoever started it so meant it to outlive the session. The
// signal handler only writes into a pipe; the interface thread reads the pipe through a socket
// notifier and does everything else.
#pragma once

#include <signal.h>

#include <QElapsedTimer>
#include <QObject>
#include <chrono>
#include <memory>

#include "workflow/adapter_session.h"

class QSocketNotifier;
class QTimer;

namespace tornelvox {

class StopSignalWatch : public QObject {
    Q_OBJECT

  public:
    // Longest wait for a cancelled update to reach its end; the program ends after it anyway.
    static constexpr std::chrono::seconds kCancelLimit{30};

    // Installs the handlers of SIGTERM, SIGINT and SIGHUP (unless it is ignored) for the whole
    // process. One watch at a time. The update it cancels is session's.
    explicit StopSignalWatch(std::shared_ptr<AdapterSession> session, QObject *parent = nullptr);
    // Gives the signals the handling back they had before.
    ~StopSignalWatch() override;
    StopSignalWatch(const StopSignalWatch &) = delete;
    StopSignalWatch &operator=(const StopSignalWatch &) = delete;

  private:
    void OnSignal();
    // Ends the event loop, and with it the program, with status 0.
    void Quit();
    // Each tick while a cancelled update has not yet reached its end.
    void AwaitUpdateEnd();
    bool UpdateRunning() const;

    std::shared_ptr<AdapterSession> session_;
    int pipe_[2] = {-1, -1};
    QSocketNotifier *notifier_ = nullptr;
    QTimer *update_end_poll_ = nullptr;
    QElapsedTimer cancelled_;
    // Each signal's handling before the watch, for the signals whose handler it installed.
    static constexpr int kMostSignals = 3;
    struct Replaced {
        int signal_number;
        struct sigaction before;
    };
    Replaced replaced_[kMostSignals] = {};
    int replaced_count_ = 0;
};

}  // namespace tornelvox
