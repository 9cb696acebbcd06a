// The serial port of a POSIX system: a terminal device node, opened by its path.
#pragma once

#include <termios.h>

#include "serial/port.h"

namespace tornelvox {

class PosixPort final : public Port {
  public:
    // The port works on descriptor, the session's hComm: 0 while closed, above 2 while open.
    explicit PosixPort(int &descriptor) : hComm_(descriptor) {}

    // Opens only a terminal, judged before it is opened (OpenTerminalNode; anything else fails
    // with ENOTTY), without waiting for a carrier signal, never on a standard descriptor, and
    // holds it with an advisory lock and the terminal's exclusive mode. A node another program
    // holds fails with EWOULDBLOCK or EBUSY.
    int Open(const char *path) override;
    bool IsOpen() const override { return hComm_ > 0; }
    bool Configure(int baud) override;
    Transfer Read(unsigned char *into, std::size_t size, std::chrono::milliseconds wait) override;
    Transfer Write(const unsigned char *from, std::size_t size,
                   Clock::time_point deadline) override;
    void Discard(Pending which) override;
    void KeepLineSettings() override;
    void GiveBackLineSettings() override;
    // Also gives back the terminal's exclusive mode.
    void Close() override;

  private:
    int &hComm_;
    termios kept_{};
    bool kept_valid_ = false;
};

}  // namespace tornelvox
