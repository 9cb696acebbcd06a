// Finding the adapter among the serial device nodes, and its reboot sequence.
#pragma once

namespace tornelvox {

// Reset request (commands 9 and 10) at both line rates. Returns the result of the last exchange.
bool ReBootSystem();

// True if a directory entry's name looks like a USB serial device: "cu." with "usb" after it
// and at least one character after that; on Linux also "ttyUSB<n>" and "ttyACM<n>".
bool CheckName(const char *name);

// Probes the device at path with command 1 (rebooting and asking again when it is silent),
// reboots it and closes the port. Returns true if it answered. Blocks up to about 20 s.
bool CheckCOMM(const char *path);

// Lists DeviceDirectory and probes each candidate in listing order until one answers. Returns
// true with its path in ComPortName and the port closed. Logs its progress.
bool SearchCOMM();

}  // namespace tornelvox
