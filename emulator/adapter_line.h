// The adapter's end of the serial line: the master side of a pseudo-terminal, with the adapter's
// own descriptor on the slave side held open so the line stays up while the utility has the
// port closed, and a wake-up pipe that interrupts every wait.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "emulator/pseudo_terminal.h"

namespace tornelvox::emulator {

using Clock = std::chrono::steady_clock;

// A self-pipe that wakes the serving thread from any wait.
class WakePipe {
  public:
    ~WakePipe() { Close(); }
    bool Open();
    void Close();
    void Wake();
    void Drain();
    int ReadEnd() const { return fds_[0]; }

  private:
    int fds_[2] = {-1, -1};
};

enum class WaitResult { kInput, kTimeout, kWoken, kLineDown };

class AdapterLine {
  public:
    ~AdapterLine() { HangUp(); }
    // Creates the pseudo-terminal with a non-blocking master; its line raw, or in the strange
    // mode of AdapterConfig::strange_line_mode when strange is true.
    bool Open(const WakePipe &wake, bool strange = false);
    // Closes the master and the adapter's slave descriptor: the utility's side sees a hang-up.
    void HangUp();
    bool Up() const { return pty_.IsOpen(); }
    const std::string &SlavePath() const { return pty_.SlavePath(); }

    // Waits for input, a wake-up or the deadline (none: no deadline).
    WaitResult WaitForInput(std::optional<Clock::time_point> deadline);
    // Waits until the deadline; false when woken first.
    bool SleepUntil(Clock::time_point deadline);
    // Waits for a wake-up only, without a deadline and without looking at the line.
    void WaitForWake();
    // Appends what the line holds (at most max_bytes) to buffer. Returns the count, or -1 when
    // the line is down.
    long ReadAvailable(std::vector<std::uint8_t> &buffer, std::size_t max_bytes);
    // Writes all bytes, waiting for room. Returns how many went out: fewer when woken, when the
    // line is down, or when no room came for stall_limit.
    std::size_t WriteAll(const std::uint8_t *data, std::size_t size,
                         std::chrono::milliseconds stall_limit);

  private:
    PseudoTerminal pty_;  // its held slave is the adapter's own descriptor
    int wake_fd_ = -1;
};

}  // namespace tornelvox::emulator
