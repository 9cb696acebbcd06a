// Waiting for a device node to come back at its path, as a replugged adapter does, without
// opening it or sending it anything.
#pragma once

#include <chrono>
#include <string>

namespace tornelvox {

enum class NodeReturn {
    kBack,     // something is at the path
    kStopped,  // stop_fd became readable
    kNotBack,  // the limit passed with nothing at the path
};

// True when something at path can be opened as a node would be: the path exists, and a link
// there leads somewhere.
bool NodePresent(const std::string &path);

// Waits until something is at path, stop_fd (when not -1) is readable, or limit has passed,
// whichever comes first. Sleeps on inotify events of the path's folder; where the folder cannot
// be watched, looks again every tenth of a second. Reads nothing from stop_fd.
NodeReturn WaitForNodeReturn(const std::string &path, int stop_fd, std::chrono::milliseconds limit);

}  // namespace tornelvox
