// The seam between the serial link and the system's serial ports. The exchange, the frames and
// the port functions reach the line only through a Port; PosixPort is the one this system uses.
#pragma once

#include <chrono>
#include <cstddef>

namespace tornelvox {

// What one read or write did: the bytes it moved, whether it found the line hung up (the
// adapter unplugged: end of file, a hang-up or an I/O error), and the system's reason (an errno
// value) when a call on the line failed; 0 when none did (silence, a deadline that passed).
struct Transfer {
    std::size_t bytes = 0;
    bool hung_up = false;
    int error = 0;
};

// What Discard throws away: input not read yet, or that and output not sent yet.
enum class Pending { kInput, kInputAndOutput };

class Port {
  public:
    using Clock = std::chrono::steady_clock;

    virtual ~Port() = default;

    // Opens the node at path for reading and writing, held exclusively for as long as it is open
    // and with blocking reads and writes. Returns 0, or the system's reason (an errno value)
    // when it was not opened.
    virtual int Open(const char *path) = 0;
    virtual bool IsOpen() const = 0;

    // Puts the open line into raw mode at baud bits per second (see SetParameters). False when
    // it is not open or the settings were not applied.
    virtual bool Configure(int baud) = 0;

    // Waits up to wait for input, then reads what is there, at most size bytes. A read of an
    // open port that delivers nothing takes at least wait, even on a line that answers at once
    // (hung up, failing), so that a loop of reads never spins. A closed port delivers nothing at
    // once.
    virtual Transfer Read(unsigned char *into, std::size_t size,
                          std::chrono::milliseconds wait) = 0;

    // Writes size bytes, through partial writes, until they are all out or deadline passes. A
    // device that takes no input cannot hold the caller past deadline.
    virtual Transfer Write(const unsigned char *from, std::size_t size,
                           Clock::time_point deadline) = 0;

    // Throws away what is pending on the open port.
    virtual void Discard(Pending which) = 0;

    // Keeps the line settings the open port has now; GiveBackLineSettings puts them back on the
    // port then open (a probe gives a device that is not the adapter its settings back).
    virtual void KeepLineSettings() = 0;
    virtual void GiveBackLineSettings() = 0;

    // Discards what is pending and closes the port. Safe when it is closed.
    virtual void Close() = 0;
};

}  // namespace tornelvox
