// Entries of a stand-in for the system's device tree (the folder the utility reads instead of
// /sys in tests) that make an emulated adapter's pseudo-terminal look like the node of a USB
// serial adapter, with or without a USB serial number.
#pragma once

#include <string>

namespace tornelvox::emulator {

// What an emulated adapter's USB device says of itself.
inline constexpr char kEmulatedUsbMaker[] = "Tornelvox";
inline constexpr char kEmulatedUsbProduct[] = "Emulated adapter";
inline constexpr char kEmulatedUsbVendorId[] = "0403";
inline constexpr char kEmulatedUsbProductId[] = "6001";
inline constexpr char kEmulatedUsbDriver[] = "emulated_serial";

// Lists the terminal at node_path (/dev/pts/7) under root as a USB device: root/class/tty/7/device
// leads to a USB interface (its driver link naming kEmulatedUsbDriver) whose device folder holds
// idVendor and idProduct, the maker's and product's strings unless empty, and, unless serial is
// empty, a serial file with serial in it. An entry already there for the same node is replaced.
// True when made.
bool AddUsbSerialEntry(const std::string &root, const std::string &node_path,
                       const std::string &serial, const std::string &maker = kEmulatedUsbMaker,
                       const std::string &product = kEmulatedUsbProduct);

// Removes what AddUsbSerialEntry made for node_path; an entry that is not there is no error.
void RemoveUsbSerialEntry(const std::string &root, const std::string &node_path);

}  // namespace tornelvox::emulator
