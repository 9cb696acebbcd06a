// The port of one session's link: opening, raw mode, reopening and closing.
#pragma once

#include "serial/fail_codes.h"
#include "serial/link_session.h"

namespace tornelvox {

// Sets link.LineHungUp and counts the finding in link.HangupsSeen.
void NoteHangup(LinkSession &link);

// Opens path on link's port (LinePort) unless it is already open. Returns true if the port is
// open afterwards. Copies path into ComPortName first, so a failed open leaves it there; on
// failure the port stays closed, OpenError holds the system's reason and FailCode is
// kFailPortOpen. The PosixPort opens (O_RDWR | O_NOCTTY) only a terminal, judged before it is
// opened (OpenTerminalNode; anything else fails with OpenError ENOTTY), never waits for a carrier
// signal and never opens on a standard descriptor: hComm is above 2 whenever a port is open.
bool OpenPort(LinkSession &link, const char *path);

// The rate SetParameters applies for a requested rate in bits per second: any request above
// 999,999 becomes 115,200, anything else stays as asked.
int EffectiveBaudRate(int baud);

// Puts the open port into full raw mode, whatever another program left on the line: 8 data
// bits, no parity, one stop bit, receiver on, modem control lines ignored (CLOCAL), no hardware
// or software flow control, no input processing (no break, parity, stripping, CR/NL or case
// translation), no output processing (OPOST off), no echo, canonical input, signals or
// extensions. Reads return after VMIN 0 / VTIME 1 (0.1 s of silence). Sets
// EffectiveBaudRate(baud), in bits per second, for output and input; all applied at once
// (TCSANOW). Returns true when the settings were applied, and then records the rate in LineBaud;
// false if no port is open, the attributes cannot be read, the host has no such rate, or applying
// them failed.
bool SetParameters(LinkSession &link, int baud);

// Reopens the port at ComPortName (an open port stays as it is) at 115,200 baud. Returns true
// if the port is open and configured.
bool InitPort(LinkSession &link);

// Discards unread input and unsent output and closes the port (hComm becomes 0). Safe when the
// port is already closed.
void ClosePort(LinkSession &link);

}  // namespace tornelvox
