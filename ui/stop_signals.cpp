#include "ui/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <iterator>

#include "serial/message_log.h"
#include "workflow/workflow.h"

namespace tornelvox {

namespace {

// The pipe's writing end, for the handler; -1 while no watch exists.
std::atomic<int> wake_fd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kUpdateEndPollMs = 50;
// Modal dialogs that can be stacked: the address question over the window, a question over it.
constexpr int kMostModalDialogs = 8;

extern "C" void NoteStopSignal(int signal_number) {
    const int saved_errno = errno;
    const char byte = static_cast<char>(signal_number);
    const int fd = wake_fd.load();
    // A full pipe already holds a wake-up: the byte may be dropped.
    if (fd >= 0) (void)!write(fd, &byte, 1);
    errno = saved_errno;
}

// Rejects the open modal dialogs: an address question then has no answer, and the update that
// asked it ends without erasing anything; the settings dialog writes nothing.
void RejectModalDialogs() {
    for (int i = 0; i < kMostModalDialogs; ++i) {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal == nullptr) return;
        if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
    }
}

}  // namespace

StopSignalWatch::StopSignalWatch(std::shared_ptr<AdapterSession> session, QObject *parent)
    : QObject(parent), session_(std::move(session)) {
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return;  // the signals keep their default handling: they still end the program
    }
    wake_fd.store(pipe_[1]);
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &StopSignalWatch::OnSignal);
    update_end_poll_ = new QTimer(this);
    update_end_poll_->setInterval(kUpdateEndPollMs);
    connect(update_end_poll_, &QTimer::timeout, this, &StopSignalWatch::AwaitUpdateEnd);

    struct sigaction action {};
    action.sa_handler = NoteStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    static_assert(std::size(kStopSignals) <= kMostSignals);
    for (const int signal_number : kStopSignals) {
        struct sigaction before {};
        if (sigaction(signal_number, nullptr, &before) != 0) continue;
        // Started under nohup: the hangup stays ignored.
        if (signal_number == SIGHUP && before.sa_handler == SIG_IGN) continue;
        if (sigaction(signal_number, &action, nullptr) != 0) continue;
        replaced_[replaced_count_++] = {signal_number, before};
    }
}

StopSignalWatch::~StopSignalWatch() {
    if (pipe_[0] < 0) return;
    for (int i = 0; i < replaced_count_; ++i) {
        sigaction(replaced_[i].signal_number, &replaced_[i].before, nullptr);
    }
    wake_fd.store(-1);
    close(pipe_[0]);
    close(pipe_[1]);
}

void StopSignalWatch::OnSignal() {
    char bytes[16];
    while (read(pipe_[0], bytes, sizeof bytes) > 0) {
    }
    // A second signal while the update is being cancelled does not wait any longer.
    if (update_end_poll_->isActive() || !UpdateRunning()) {
        Quit();
        return;
    }
    ShowMsg(*session_, "\n Stop signal: the update is cancelled, then the program ends.\n");
    // The Cancel action's request: the worker looks at the flag between its steps.
    session_->ThreadRunning.store(false);
    RejectModalDialogs();
    cancelled_.start();
    update_end_poll_->start();
}

void StopSignalWatch::AwaitUpdateEnd() {
    const auto waited = std::chrono::milliseconds(cancelled_.elapsed());
    if (UpdateRunning() && waited < kCancelLimit) return;
    Quit();
}

bool StopSignalWatch::UpdateRunning() const {
    return session_->UpdateFirmwareRunning.load() || session_->ThreadRunning.load();
}

void StopSignalWatch::Quit() {
    update_end_poll_->stop();
    RejectModalDialogs();
    QCoreApplication::exit(0);
}

}  // namespace tornelvox
