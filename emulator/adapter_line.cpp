#include "emulator/adapter_line.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace tornelvox::emulator {
namespace {

bool SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Time left until the deadline for ppoll; null for no deadline.
const timespec *TimeLeft(std::optional<Clock::time_point> deadline, timespec &storage) {
    if (!deadline) return nullptr;
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(*deadline - Clock::now());
    if (left.count() < 0) left = std::chrono::nanoseconds(0);
    storage.tv_sec = static_cast<time_t>(left.count() / 1000000000);
    storage.tv_nsec = static_cast<long>(left.count() % 1000000000);
    return &storage;
}

// The line as a careless other program might leave it: every kind of translation and flow
// control on, 7 data bits with parity, two stop bits, canonical input and signals. Echo stays
// off, or the adapter would read its own replies back.
void MakeStrange(termios &attributes) {
    cfmakeraw(&attributes);
    attributes.c_iflag |=
        ISTRIP | INPCK | PARMRK | ICRNL | INLCR | IUCLC | IXON | IXOFF | IXANY | BRKINT;
    attributes.c_oflag |= OPOST | ONLCR | OCRNL | OLCUC;
    attributes.c_cflag &= ~(CSIZE | CLOCAL);
    attributes.c_cflag |= CS7 | PARENB | CSTOPB | CRTSCTS | HUPCL;
    attributes.c_lflag |= ICANON | ISIG | IEXTEN;
    attributes.c_lflag &= ~(ECHO | ECHONL);
}

void CloseDescriptor(int &fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

bool WakePipe::Open() {
    Close();
    if (pipe(fds_) != 0) {
        fds_[0] = fds_[1] = -1;
        return false;
    }
    return SetNonBlocking(fds_[0]) && SetNonBlocking(fds_[1]);
}

void WakePipe::Close() {
    CloseDescriptor(fds_[0]);
    CloseDescriptor(fds_[1]);
}

void WakePipe::Wake() {
    const unsigned char byte = 1;
    if (fds_[1] >= 0) {
        [[maybe_unused]] const ssize_t n = write(fds_[1], &byte, 1);  // a full pipe wakes too
    }
}

void WakePipe::Drain() {
    unsigned char sink[64];
    while (fds_[0] >= 0 && read(fds_[0], sink, sizeof sink) > 0) {
    }
}

bool AdapterLine::Open(const WakePipe &wake, bool strange) {
    HangUp();
    wake_fd_ = wake.ReadEnd();
    if (!pty_.Open()) return false;
    if (strange) {
        termios attributes{};
        if (tcgetattr(pty_.HeldSlave(), &attributes) != 0) {
            HangUp();
            return false;
        }
        MakeStrange(attributes);
        if (tcsetattr(pty_.HeldSlave(), TCSANOW, &attributes) != 0) {
            HangUp();
            return false;
        }
    }
    if (!SetNonBlocking(pty_.Master())) {
        HangUp();
        return false;
    }
    return true;
}

void AdapterLine::HangUp() {
    pty_.Close();
}

WaitResult AdapterLine::WaitForInput(std::optional<Clock::time_point> deadline) {
    pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {pty_.Master(), POLLIN, 0}};
    const nfds_t count = pty_.IsOpen() ? 2 : 1;
    int ready = -1;
    do {
        timespec storage{};
        ready = ppoll(fds, count, TimeLeft(deadline, storage), nullptr);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return WaitResult::kLineDown;
    if (ready == 0) return WaitResult::kTimeout;
    if (fds[0].revents != 0) return WaitResult::kWoken;
    if (count == 2 && (fds[1].revents & POLLIN)) return WaitResult::kInput;
    if (count == 2 && fds[1].revents != 0) return WaitResult::kLineDown;  // hang-up or error
    return WaitResult::kTimeout;
}

bool AdapterLine::SleepUntil(Clock::time_point deadline) {
    for (;;) {
        pollfd fd = {wake_fd_, POLLIN, 0};
        timespec storage{};
        const int ready = ppoll(&fd, 1, TimeLeft(deadline, storage), nullptr);
        if (ready > 0) return false;
        if (ready == 0 || Clock::now() >= deadline) return true;
        if (errno != EINTR) return false;
    }
}

void AdapterLine::WaitForWake() {
    pollfd fd = {wake_fd_, POLLIN, 0};
    while (poll(&fd, 1, -1) < 0 && errno == EINTR) {
    }
}

long AdapterLine::ReadAvailable(std::vector<std::uint8_t> &buffer, std::size_t max_bytes) {
    if (!pty_.IsOpen()) return -1;
    const std::size_t before = buffer.size();
    buffer.resize(before + max_bytes);
    const ssize_t got = read(pty_.Master(), buffer.data() + before, max_bytes);
    if (got > 0) {
        buffer.resize(before + static_cast<std::size_t>(got));
        return got;
    }
    buffer.resize(before);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    return -1;  // end of file or EIO: nobody can reach the line any more
}

std::size_t AdapterLine::WriteAll(const std::uint8_t *data, std::size_t size,
                                  std::chrono::milliseconds stall_limit) {
    std::size_t done = 0;
    while (done < size && pty_.IsOpen()) {
        const ssize_t n = write(pty_.Master(), data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) break;
        pollfd fds[2] = {{wake_fd_, POLLIN, 0}, {pty_.Master(), POLLOUT, 0}};
        const int ready = poll(fds, 2, static_cast<int>(stall_limit.count()));
        if (ready <= 0 || fds[0].revents != 0) break;  // stalled or woken
        if ((fds[1].revents & POLLOUT) == 0) break;    // hang-up or error
    }
    return done;
}

}  // namespace tornelvox::emulator
