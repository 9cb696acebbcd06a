// SIGTERM and SIGINT in the window program: the program ends with status 0. During an update
// the signal acts as the Cancel action first, and the program ends once the update has reached
// its cancel end. The signal handler only writes into a pipe; the interface thread reads the
// pipe through a socket notifier and does everything else.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <chrono>

class QSocketNotifier;
class QTimer;

namespace tornelvox {

class StopSignalWatch : public QObject {
    Q_OBJECT

  public:
    // Longest wait for a cancelled update to reach its end; the program ends after it anyway.
    static constexpr std::chrono::seconds kCancelLimit{30};

    // Installs the handlers of SIGTERM and SIGINT for the whole process. One watch at a time.
    explicit StopSignalWatch(QObject *parent = nullptr);
    // Gives the signals their default handling back.
    ~StopSignalWatch() override;
    StopSignalWatch(const StopSignalWatch &) = delete;
    StopSignalWatch &operator=(const StopSignalWatch &) = delete;

  private:
    void OnSignal();
    // Ends the event loop, and with it the program, with status 0.
    void Quit();
    // Each tick while a cancelled update has not yet reached its end.
    void AwaitUpdateEnd();

    int pipe_[2] = {-1, -1};
    QSocketNotifier *notifier_ = nullptr;
    QTimer *update_end_poll_ = nullptr;
    QElapsedTimer cancelled_;
};

}  // namespace tornelvox
