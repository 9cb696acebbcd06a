// Which device nodes the utility opens: terminals only, told by their device numbers before they
// are opened. Opening a node can act on its device at once (a watchdog starts counting down, as
// root may open it), so a node is opened for reading and writing only when its device number
// belongs to a terminal driver the kernel lists in /proc/tty/drivers. Pseudo-terminals are in
// that list too, though sysfs has no entry for them.
#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>
#include <vector>

namespace tornelvox {

inline constexpr char kTerminalDriversFile[] = "/proc/tty/drivers";
inline constexpr char kDeviceMajorsFile[] = "/proc/devices";

// The kernel's tables a node is judged by, as their text. Tests make tables of their own.
struct DeviceTables {
    // The terminal drivers and the device numbers each serves, one a line:
    // "name node major minor[-last minor] type" (kTerminalDriversFile).
    std::string terminal_drivers;
    // The errno of a failed read of terminal_drivers; 0 when it was read.
    int terminal_drivers_error = 0;
    // The drivers by major number, under "Character devices:" and "Block devices:"
    // (kDeviceMajorsFile). Only names devices in the log; empty when it cannot be read.
    std::string device_majors;
};

// Both tables as the kernel has them now, each read up to a bounded length.
DeviceTables ReadDeviceTables();

// One line of the terminal drivers' table.
struct TerminalDriver {
    std::string name;
    unsigned major = 0;
    unsigned first_minor = 0;
    unsigned last_minor = 0;
};

// The lines of a terminal drivers' table that parse, from its first lines only (a table longer
// than any kernel's is not read to its end). A line with numbers out of a device number's range,
// a range that runs backwards or too few words is passed over.
std::vector<TerminalDriver> ParseTerminalDrivers(std::string_view table);

// What a node is: whether it may be opened, and words for the log.
struct NodeVerdict {
    bool terminal = false;
    // The terminal drivers' table could not be read or lists nothing: no node can be told a
    // terminal, and none is opened.
    bool undecided = false;
    // "is a regular file", "is a character device 10:130 (misc), not a terminal", ...
    std::string what;
};

// Judges a node by its stat result (a link's target, as stat gives it) and the tables.
NodeVerdict JudgeNode(const struct stat &node, const DeviceTables &tables);

// Opens path with flags (which must include O_CLOEXEC) only when it is a terminal by tables.
// The node is first opened as a bare path (O_PATH, which opens no device), judged by fstat and
// then reopened through that descriptor, so that the node opened is the node judged. The
// descriptor returned is never one of the standard descriptors 0 to 2. -1 with errno set when
// refused: ENOTTY when the node is no terminal (or the tables cannot tell), otherwise the
// system's reason (ENOENT, EACCES, ...).
int OpenTerminalNode(const char *path, int flags, const DeviceTables &tables);

// The log lines for a path that OpenTerminalNode refused with ENOTTY: what it is (judged again
// now), each line starting with a tab and ending "\n".
std::string ExplainNotATerminal(const std::string &path, const DeviceTables &tables);

}  // namespace tornelvox
