#include "serial/serial_port.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "serial/terminal_node.h"

namespace tornelvox {

LinkSession::LinkSession() = default;

LinkSession::~LinkSession() {
    ClosePort(*this);
}

void NoteHangup(LinkSession &link) {
    link.LineHungUp = true;
    link.HangupsSeen.fetch_add(1);
}

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
// host has adapters) it is not noted: ClosePort gives it back all the same.
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

bool OpenPort(LinkSession &link, const char *path) {
    if (link.hComm != 0) return true;
    // A path that does not fit is refused rather than cut short: a shortened path could name
    // another device.
    const std::size_t length = strnlen(path, kPortPathSize);
    if (length >= kPortPathSize) {
        link.FailCode = kFailPortOpen;
        link.OpenError = ENAMETOOLONG;
        return false;
    }
    std::memmove(link.ComPortName, path, length + 1);  // path may be ComPortName itself

    // Without O_NONBLOCK, opening a serial node whose CLOCAL is clear waits for a carrier that
    // an adapter never raises; open without blocking, then go back to blocking reads and writes.
    // Only a terminal is opened (opening another device can act on it), and never on descriptor
    // 0, which would read as no port.
    const int fd = OpenTerminalNode(link.ComPortName, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC,
                                    ReadDeviceTables());
    if (fd < 0) {
        link.OpenError = errno;
        link.hComm = 0;
        link.FailCode = kFailPortOpen;
        return false;
    }
    // Hold the port exclusively while it is open, so that a second copy of the utility or a
    // terminal program cannot interleave its bytes with ours (fatal in a firmware update): an
    // advisory lock that every careful opener honours, and the terminal's exclusive mode, which
    // refuses further opens outright. A port another program holds counts as one that cannot
    // be opened.
    const int flags = fcntl(fd, F_GETFL);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || ioctl(fd, TIOCEXCL) != 0 || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        link.OpenError = errno;
        close(fd);
        link.hComm = 0;
        link.FailCode = kFailPortOpen;
        return false;
    }
    link.hComm = fd;
    NoteExclusive(fd);
    return true;
}

int EffectiveBaudRate(int baud) {
    return baud > 999999 ? 115200 : baud;
}

bool SetParameters(LinkSession &link, int baud) {
    if (link.hComm == 0) return false;
    termios attributes{};
    if (tcgetattr(link.hComm, &attributes) != 0) return false;

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

    const speed_t speed = SpeedConstant(EffectiveBaudRate(baud));
    if (speed == B0) return false;
    if (cfsetospeed(&attributes, speed) != 0 || cfsetispeed(&attributes, speed) != 0) return false;
    return tcsetattr(link.hComm, TCSANOW, &attributes) == 0;
}

bool InitPort(LinkSession &link) {
    const bool opened = OpenPort(link, link.ComPortName);
    const bool configured = opened && SetParameters(link, 115200);
    return opened && configured && link.hComm != 0;
}

void ClosePort(LinkSession &link) {
    if (link.hComm != 0) {
        tcflush(link.hComm, TCIOFLUSH);
        // Exclusive mode belongs to the terminal, not to our descriptor: give it back, or the
        // next open of the same node would be refused.
        ioctl(link.hComm, TIOCNXCL);
        ForgetExclusive(link.hComm);
        close(link.hComm);
    }
    link.hComm = 0;
}

}  // namespace tornelvox
