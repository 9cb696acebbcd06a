#include "serial/node_identity.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "serial/outside_text.h"

namespace tornelvox {

namespace {

// From a terminal's device up to the USB device that holds its strings: the interface, and for
// drivers that add a port folder of their own (ttyUSB0 inside the interface), one more.
constexpr int kUsbLevels = 4;

// Unix98 pseudo-terminal slaves have these majors (the kernel's "pty_slave" driver).
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kLastPtySlaveMajor = 143;

// The first line of a small text file, without its line end, made printable; empty when there
// is none.
std::string FirstLine(const std::string &path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return "";
    char text[kLongestDeviceText] = {};
    const ssize_t n = read(fd, text, sizeof text);
    close(fd);
    if (n <= 0) return "";
    std::string line(text, static_cast<std::size_t>(n));
    line.erase(
        std::find_if(line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }),
        line.end());
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return PrintableText(line);
}

bool Exists(const std::string &path) {
    return access(path.c_str(), F_OK) == 0;
}

// The last part of the path a link leads to ("serial8250" for .../drivers/serial8250); empty
// when path is no link.
std::string LinkTargetName(const std::string &path) {
    char target[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
    if (n <= 0) return "";
    target[n] = '\0';
    const char *name = std::strrchr(target, '/');
    return PrintableText(name == nullptr ? target : name + 1);
}

bool IsPseudoTerminal(const std::string &resolved) {
    struct stat node {};
    if (stat(resolved.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return false;
    const unsigned major_number = major(node.st_rdev);
    return major_number >= kFirstPtySlaveMajor && major_number <= kLastPtySlaveMajor;
}

}  // namespace

NodeIdentity IdentifyNode(const std::string &sysfs_root, const std::string &port) {
    NodeIdentity identity;
    char resolved[PATH_MAX];
    if (realpath(port.c_str(), resolved) == nullptr) return identity;
    identity.pseudo_terminal = IsPseudoTerminal(resolved);
    const char *node = std::strrchr(resolved, '/');
    if (node == nullptr || node[1] == '\0') return identity;
    const std::string device_link = sysfs_root + "/class/tty/" + (node + 1) + "/device";
    char device[PATH_MAX];
    if (realpath(device_link.c_str(), device) == nullptr) return identity;
    identity.listed = true;
    identity.driver = LinkTargetName(std::string(device) + "/driver");
    std::string folder = device;
    for (int level = 0; level <= kUsbLevels && folder.size() > sysfs_root.size(); ++level) {
        if (Exists(folder + "/idVendor")) {
            identity.usb = true;
            identity.vendor_id = FirstLine(folder + "/idVendor");
            identity.product_id = FirstLine(folder + "/idProduct");
            identity.maker = FirstLine(folder + "/manufacturer");
            identity.product = FirstLine(folder + "/product");
            identity.serial = FirstLine(folder + "/serial");
            if (identity.driver.empty()) {
                // The tty's own device may be the interface's port folder without a driver
                // link; the interface has one.
                const std::string interface = std::string(device);
                const std::size_t slash = interface.rfind('/');
                if (slash != std::string::npos) {
                    identity.driver = LinkTargetName(interface.substr(0, slash) + "/driver");
                }
            }
            return identity;
        }
        const std::size_t slash = folder.rfind('/');
        if (slash == std::string::npos || slash == 0) break;
        folder.erase(slash);
    }
    return identity;
}

std::string DeviceDescription(const NodeIdentity &identity) {
    if (identity.usb) {
        std::string text = identity.maker;
        if (!identity.product.empty()) text += (text.empty() ? "" : " ") + identity.product;
        if (text.empty()) {
            text = "USB device";
            if (!identity.vendor_id.empty()) {
                text += " " + identity.vendor_id + ":" +
                        (identity.product_id.empty() ? "????" : identity.product_id);
            }
        }
        if (!identity.serial.empty()) text += ", serial " + identity.serial;
        return text;
    }
    if (identity.pseudo_terminal) return "pseudo-terminal";
    if (identity.listed) {
        return identity.driver.empty() ? std::string("serial port")
                                       : "serial port, driver " + identity.driver;
    }
    return "not in the system's device list";
}

std::string DeviceKind(const NodeIdentity &identity) {
    if (identity.usb) return "USB serial device";
    if (identity.pseudo_terminal) return "Pseudo-terminal";
    if (identity.listed) return "Serial port";
    return "Serial device";
}

}  // namespace tornelvox
