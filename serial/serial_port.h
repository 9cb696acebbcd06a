// The one serial port the utility talks through: opening, raw mode, reopening and closing.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

#include "serial/fail_codes.h"

namespace tornelvox {

// Capacity of ComPortName and of the search's candidate path, terminator included. Every
// USB serial node path seen in practice is well under this; longer entries are skipped.
inline constexpr std::size_t kPortPathSize = 64;

// Descriptor of the open port; 0 means closed. Process-wide and unguarded: the buttons keep
// the Check action and the two workers from using the port at the same time.
extern int hComm;

// Full path of the last port opened (initially kInitialPortName); kept after a close so that
// InitPort can reopen the same device.
inline constexpr char kInitialPortName[] = "/dev/";
extern char ComPortName[kPortPathSize];

// Reason of the last recorded failure, a FailReason; never cleared. The serial link records
// kFailPortOpen, kFailFrameNotWritten and kFailNoReply; the others come from the boot loader
// entry and flash programming.
extern int FailCode;

// Directory the search lists. "/dev" for the utility; tests point it at a folder of links to
// pseudo-terminals. Set it only while no search runs.
inline constexpr char kDefaultDeviceDirectory[] = "/dev";
extern std::string DeviceDirectory;

// A folder the search lists before DeviceDirectory (the demo mode's runtime folder, where its
// emulated adapter's node is linked); empty for none, as for the utility with a real adapter.
// Set it only while no search runs.
extern std::string FirstDeviceDirectory;

// Longest wait of one read call for the first byte, in milliseconds. 100 (0.1 s) matches the
// port's VTIME of one decisecond; tests shorten it so that silent exchanges cost less.
inline constexpr int kDefaultReadCallTimeoutMs = 100;
extern std::atomic<int> ReadCallTimeoutMs;

// Base of the time one frame may take to be written whole, in milliseconds: 2000 (2 s). Each
// frame gets this plus twice its line time at 115,200 baud (see WriteComm). Tests shorten it so
// that a device that takes no input fails its write sooner.
inline constexpr int kDefaultWriteDeadlineMs = 2000;
extern std::atomic<int> WriteDeadlineMs;

// The system's reason (errno) of the last open that failed: of the node, or of the exclusive
// hold when another program holds it (EWOULDBLOCK, EBUSY).
extern int OpenError;

// Set when the last exchange found the line hung up: end of file or a hang-up on read, an I/O
// error on write. HangupsSeen counts every such finding, for whoever must know that one came.
extern bool LineHungUp;
extern std::atomic<unsigned> HangupsSeen;
void NoteHangup();

// Whether an exchange that finds the line hung up reopens the port by its path and tries once
// more (true: the Check and the settings; the update clears it, since it never resumes page
// writes on an adapter that may have restarted, and retries whole attempts instead).
extern std::atomic<bool> ReopenAfterHangup;

// Opens path (O_RDWR | O_NOCTTY) unless a port is already open. Returns true if a port is open
// afterwards. Copies path into ComPortName first, so a failed open leaves it there; on failure
// hComm stays 0 and FailCode is kFailPortOpen. Never waits for a carrier signal. Opens only a
// terminal, judged before it is opened (OpenTerminalNode; anything else fails with OpenError
// ENOTTY), and never on a standard descriptor: hComm is above 2 whenever a port is open.
bool OpenPort(const char *path);

// The rate SetParameters applies for a requested rate in bits per second: any request above
// 999,999 becomes 115,200, anything else stays as asked.
int EffectiveBaudRate(int baud);

// Puts the open port into full raw mode, whatever another program left on the line: 8 data
// bits, no parity, one stop bit, receiver on, modem control lines ignored (CLOCAL), no hardware
// or software flow control, no input processing (no break, parity, stripping, CR/NL or case
// translation), no output processing (OPOST off), no echo, canonical input, signals or
// extensions. Reads return after VMIN 0 / VTIME 1 (0.1 s of silence). Sets
// EffectiveBaudRate(baud), in bits per second, for output and input; all applied at once
// (TCSANOW). Returns true when the settings were applied; false if no port is open, the
// attributes cannot be read, the host has no such rate, or applying them failed.
bool SetParameters(int baud);

// Reopens the port at ComPortName (an open port stays as it is) at 115,200 baud. Returns true
// if the port is open and configured.
bool InitPort();

// Discards unread input and unsent output, closes the port and sets hComm to 0. Safe when the
// port is already closed.
void ClosePort();

}  // namespace tornelvox
