#include "serial/posix_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "serial/terminal_node.h"

namespace tornelvox {

namespace {

// The host's speed constant for a rate in bits per second; B0 when the host has none.
speed_t SpeedConstant(int baud) {
    switch (baud) {
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 921600:
            return B921600;
        default:
            return B0;
    }
}

// The terminal's exclusive mode belongs to the node, not to our descriptor: a program that
// ends with a port open (Close ends the program at once) gives it back, or the next opener
// of the same node is refused while anyone else keeps it open.
// The descriptors that hold exclusive mode now, one slot each (0: free): one table per process,
// since the exit handlers must reach every session's port. Atomic, unlike a session's hComm: the
// program may end on any thread while a worker opens or closes a port, and an exit handler takes
// no lock.
constexpr int kExclusiveSlots = 256;
std::atomic<int> exclusive_descriptors[kExclusiveSlots];

void GiveBackExclusiveMode() {
    for (std::atomic<int> &slot : exclusive_descriptors) {
        const int fd = slot.load();
        if (fd > 0) ioctl(fd, TIOCNXCL);
    }
}

void GiveBackExclusiveModeAtExit() {
    static const bool registered = [] {
        std::at_quick_exit(GiveBackExclusiveMode);
        std::atexit(GiveBackExclusiveMode);
        return true;
    }();
    (void)registered;
}

// Notes fd as holding exclusive mode. With every slot taken (more ports open at once than any
// host has adapters) it is not noted: Close gives it back all the same.
void NoteExclusive(int fd) {
    GiveBackExclusiveModeAtExit();
    for (std::atomic<int> &slot : exclusive_descriptors) {
        int expected = 0;
        if (slot.compare_exchange_strong(expected, fd)) return;
    }
}

void ForgetExclusive(int fd) {
    for (std::atomic<int> &slot : exclusive_descriptors) {
        int expected = fd;
        if (slot.compare_exchange_strong(expected, 0)) return;
    }
}

}  // namespace

int PosixPort::Open(const char *path) {
    // Without O_NONBLOCK, opening a serial node whose CLOCAL is clear waits for a carrier that
    // an adapter never raises; open without blocking, then go back to blocking reads and writes.
    // Only a terminal is opened (opening another device can act on it), and never on descriptor
    // 0, which would read as no port.
    const int fd =
        OpenTerminalNode(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, ReadDeviceTables());
    if (fd < 0) return errno;
    // Hold the port exclusively while it is open, so that a second copy of the utility or a
    // terminal program cannot interleave its bytes with ours (fatal in a firmware update): an
    // advisory lock that every careful opener honours, and the terminal's exclusive mode, which
    // refuses further opens outright. A port another program holds counts as one that cannot
    // be opened.
    const int flags = fcntl(fd, F_GETFL);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0 || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        const int error = errno;
        close(fd);
        return error;
    }
    hComm_ = fd;
    NoteExclusive(fd);
    return 0;
}

bool PosixPort::Configure(int baud) {
    if (!IsOpen()) return false;
    termios attributes{};
    if (tcgetattr(hComm_, &attributes) != 0) return false;

    // Full raw mode, whatever another program left on the line: every byte of a frame or a
    // reply is data, so nothing may be translated, stripped, marked, held back or taken as a
    // signal or a flow-control character.
    attributes.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    attributes.c_cflag |= CS8 | CREAD | CLOCAL;
    attributes.c_iflag &= ~(IXON | IXOFF | IXANY | IGNBRK | BRKINT | PARMRK | ISTRIP | INPCK |
                            IGNPAR | INLCR | IGNCR | ICRNL | IUCLC | IMAXBEL);
    attributes.c_oflag &= ~(OPOST | OLCUC | ONLCR | OCRNL | ONOCR | ONLRET | OFILL);
    attributes.c_lflag &=
        ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN | XCASE | TOSTOP);
    attributes.c_cc[VMIN] = 0;
    attributes.c_cc[VTIME] = 1;  // a read returns after 0.1 s of silence

    const speed_t speed = SpeedConstant(baud);
    if (speed == B0) return false;
    if (cfsetospeed(&attributes, speed) != 0 || cfsetispeed(&attributes, speed) != 0) return false;
    return tcsetattr(hComm_, TCSANOW, &attributes) == 0;
}

Transfer PosixPort::Read(unsigned char *into, std::size_t size, std::chrono::milliseconds wait) {
    Transfer done;
    if (!IsOpen() || size == 0) return done;
    const int timeout_ms = static_cast<int>(wait.count());
    pollfd watch{hComm_, POLLIN, 0};
    const int ready = poll(&watch, 1, timeout_ms);
    if (ready > 0 && (watch.revents & POLLIN)) {
        const ssize_t got = read(hComm_, into, size);
        if (got > 0) {
            done.bytes = static_cast<std::size_t>(got);
            return done;
        }
        // End of file or an I/O error on a line that said it had input: it is hung up.
        if (got < 0) done.error = errno;
        done.hung_up = got == 0 || done.error == EIO || done.error == ENXIO;
    } else if (ready > 0 && (watch.revents & (POLLHUP | POLLERR | POLLNVAL))) {
        done.hung_up = true;
    } else if (ready < 0) {
        done.error = errno;
    }
    // A hung-up or failing line answers at once with nothing; waiting out the call's time keeps
    // every loop of read calls as slow as silence, so an unplugged adapter never spins a core.
    if (ready != 0) usleep(static_cast<useconds_t>(timeout_ms) * 1000u);
    return done;
}

// The descriptor is non-blocking for the loop and put back afterwards, so a device that never
// takes its input cannot hold the thread; room is waited for with poll, bounded by the time left.
Transfer PosixPort::Write(const unsigned char *from, std::size_t size, Clock::time_point deadline) {
    Transfer done;
    if (!IsOpen()) return done;
    const int flags = fcntl(hComm_, F_GETFL);
    if (flags < 0 || fcntl(hComm_, F_SETFL, flags | O_NONBLOCK) < 0) {
        done.error = errno;
        return done;
    }
    while (done.bytes < size) {
        const ssize_t written = write(hComm_, from + done.bytes, size - done.bytes);
        if (written > 0) {
            done.bytes += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            done.error = errno;
            done.hung_up = done.error == EIO || done.error == ENXIO || done.error == EPIPE;
            break;  // the line failed
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pollfd watch{hComm_, POLLOUT, 0};
        const int ready = poll(&watch, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            done.error = errno;
            break;
        }
        // A hung-up or failing line: the next write reports it at once.
    }
    fcntl(hComm_, F_SETFL, flags);
    return done;
}

void PosixPort::Discard(Pending which) {
    if (IsOpen()) tcflush(hComm_, which == Pending::kInput ? TCIFLUSH : TCIOFLUSH);
}

void PosixPort::KeepLineSettings() {
    kept_valid_ = IsOpen() && tcgetattr(hComm_, &kept_) == 0;
}

void PosixPort::GiveBackLineSettings() {
    if (kept_valid_ && IsOpen()) tcsetattr(hComm_, TCSANOW, &kept_);
}

void PosixPort::Close() {
    if (IsOpen()) {
        tcflush(hComm_, TCIOFLUSH);
        // Exclusive mode belongs to the terminal, not to our descriptor: give it back, or the
        // next open of the same node would be refused.
        ioctl(hComm_, TIOCNXCL);
        ForgetExclusive(hComm_);
        close(hComm_);
    }
    hComm_ = 0;
}

}  // namespace tornelvox
