// Finding the adapter among the serial device nodes, and its reboot sequence.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "serial/link_session.h"

namespace tornelvox {

// Reset request (kCmdResetFirst, then kCmdResetSecond) at both line rates. Returns the result of
// the last exchange.
bool ReBootSystem(LinkSession &link);

// True if a directory entry's name looks like a USB serial device: "cu." with "usb" after it
// and at least one character after that; on Linux also "ttyUSB<n>" and "ttyACM<n>".
bool CheckName(const char *name);

// Probes the device at path through link's port with kCmdProbe (rebooting and asking again when it
// is silent), reboots it and closes the port. Returns true if it answered as the adapter's chip
// does. A device that answered otherwise is not the adapter: it gets no reset frames, and the log
// says so; a node that cannot be opened gets the reason in the log. A device that is not the
// adapter gets the line settings it had when it was opened back before the port closes. Blocks up
// to about 20 s.
bool CheckCOMM(LinkSession &link, const char *path);

// The candidate nodes (names CheckName accepts) a search probes, in its order: those of
// link.FirstDeviceDirectory, when set, then those of link.DeviceDirectory, each folder's in the
// order of their names. Paths that would not fit ComPortName are left out, and so is a folder's
// entry past its 256th candidate.
std::vector<std::string> CandidateNodes(const LinkSession &link);

// Closes link's port, lists CandidateNodes(link) into link.SearchCandidates and probes each in
// that order until one answers as the adapter. Returns true with its path in link.ComPortName and
// the port closed; the candidates after it are named in the log, unprobed. Logs its progress.
bool SearchCOMM(LinkSession &link);

}  // namespace tornelvox
