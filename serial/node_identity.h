// Which device a serial node is, as the system describes it: the USB device's maker, product and
// serial number from its descriptor strings, or for a node that is not USB what the kernel knows
// of it (its driver). Read from the system's device tree only; nothing is opened or sent on the
// line, so that finding out what a node is never disturbs its device.
#pragma once

#include <cstddef>
#include <string>

namespace tornelvox {

// The folder that stands for /sys (a session's SysfsRoot starts as this; tests point it at a
// folder of their own).
inline constexpr char kDefaultSysfsRoot[] = "/sys";

// Longest text kept of any one entry of the device tree; a USB descriptor string has at most
// 126 characters, so anything longer is cut.
inline constexpr std::size_t kLongestDeviceText = 255;

// What the system says of a node. The USB strings come from the device itself: each is made
// printable (serial/outside_text.h) and cut at kLongestDeviceText; any of them may be empty.
struct NodeIdentity {
    // The node is in the device tree at all (pseudo-terminals and missing nodes are not).
    bool listed = false;
    // The node's device hangs on a USB device, whose strings follow.
    bool usb = false;
    std::string maker;       // the USB manufacturer string ("FTDI")
    std::string product;     // the USB product string ("FT232R USB UART")
    std::string serial;      // the USB serial number ("A50285BI")
    std::string vendor_id;   // four hexadecimal digits ("0403")
    std::string product_id;  // four hexadecimal digits ("6001")
    // The kernel driver bound to the node's device ("ftdi_sio", "serial8250"); may be empty.
    std::string driver;
    // The node is a pseudo-terminal (a program's terminal, such as the emulator's), which has no
    // device of its own.
    bool pseudo_terminal = false;
};

// What the device tree under sysfs_root says of port (a device node or a link to one). Reads a
// few small files; never blocks on a device. A node the tree does not list gives listed false.
NodeIdentity IdentifyNode(const std::string &sysfs_root, const std::string &port);

// What the device is, in the words the program uses everywhere it names one:
// "FTDI FT232R USB UART, serial A50285BI"; "USB device 0403:6001" when the device gave no
// strings; "serial port, driver serial8250" for a node that is not USB; "pseudo-terminal";
// "not in the system's device list" when nothing is known.
std::string DeviceDescription(const NodeIdentity &identity);

// The kind of device for a sentence that starts with it: "USB serial device", "Serial port",
// "Pseudo-terminal", "Serial device" when unknown.
std::string DeviceKind(const NodeIdentity &identity);

}  // namespace tornelvox
