#include "cli/stop_signals.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

namespace tornelvox::cli {

namespace {

std::atomic<bool> stop_asked{false};
std::atomic<int> wake_write_fd{-1};
int wake_read_fd = -1;
std::once_flag installed;
bool pipe_made = false;
std::string install_error;

void OnStopSignal(int) {
    const int saved_errno = errno;
    stop_asked.store(true, std::memory_order_release);
    const int fd = wake_write_fd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);  // full pipe: already awake
    }
    errno = saved_errno;
}

void Install() {
    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        wake_read_fd = ends[0];
        wake_write_fd.store(ends[1]);
        pipe_made = true;
    } else {
        install_error = std::string("cannot make the stop pipe: ") + std::strerror(errno);
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal_number : {SIGINT, SIGHUP, SIGTERM}) sigaction(signal_number, &action, nullptr);
}

}  // namespace

bool InstallStopSignals(StopRequest &request, std::string &error) {
    std::call_once(installed, Install);
    request.flag = &stop_asked;
    request.fd = wake_read_fd;
    if (!pipe_made) error = install_error;
    return pipe_made;
}

}  // namespace tornelvox::cli
