#include "serial/serial_port.h"

#include <cerrno>
#include <cstring>

#include "serial/posix_port.h"

namespace tornelvox {

LinkSession::LinkSession() : port_(std::make_unique<PosixPort>(hComm)) {}

LinkSession::~LinkSession() {
    ClosePort(*this);
}

void NoteHangup(LinkSession &link) {
    link.LineHungUp = true;
    link.HangupsSeen.fetch_add(1);
}

bool OpenPort(LinkSession &link, const char *path) {
    if (link.LinePort().IsOpen()) return true;
    // A path that does not fit is refused rather than cut short: a shortened path could name
    // another device.
    const std::size_t length = strnlen(path, kPortPathSize);
    if (length >= kPortPathSize) {
        link.FailCode = kFailPortOpen;
        link.OpenError = ENAMETOOLONG;
        return false;
    }
    std::memmove(link.ComPortName, path, length + 1);  // path may be ComPortName itself
    const int error = link.LinePort().Open(link.ComPortName);
    if (error != 0) {
        link.OpenError = error;
        link.FailCode = kFailPortOpen;
        return false;
    }
    return true;
}

int EffectiveBaudRate(int baud) {
    return baud > 999999 ? 115200 : baud;
}

bool SetParameters(LinkSession &link, int baud) {
    const int applied = EffectiveBaudRate(baud);
    if (!link.LinePort().Configure(applied)) return false;
    link.LineBaud = applied;
    return true;
}

bool InitPort(LinkSession &link) {
    const bool opened = OpenPort(link, link.ComPortName);
    const bool configured = opened && SetParameters(link, 115200);
    return opened && configured && link.LinePort().IsOpen();
}

void ClosePort(LinkSession &link) {
    link.LinePort().Close();
}

}  // namespace tornelvox
