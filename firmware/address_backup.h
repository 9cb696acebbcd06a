// The address backup: before an update erases an adapter, the Bluetooth address it is about to
// write back is appended to a file in the user's state directory, so that an update that never
// finished (the program closed or killed, power lost, the adapter unplugged) cannot lose it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/bt_address.h"
#include "serial/node_identity.h"

namespace tornelvox {

// One saved address. Each record is one line of JSON in the backup file.
struct AddressRecord {
    std::string time;     // when it was saved, UTC, as 2026-12-10T16:34:01Z
    BtAddress address{};  // as the name page stores it
    std::string name;     // the name the name page carried with it ("Tornelvox(DAB)"); may be empty
    std::string port;     // the port the adapter was on
    std::string
        usb_serial;  // the USB serial number of the port's device; empty when the system gives none
    std::string source;  // "read" from the adapter, or "chosen" by the user
    // What the port's device was when the record was saved, in DeviceDescription's words
    // ("FTDI FT232R USB UART, serial A50285BI"); empty in records saved before it was kept.
    std::string device = {};
};

// Each function below takes `subfolder`: a folder inside the backup's folder that holds the
// backup instead (a session's AddressBackupSubfolder), so that addresses of the demo mode's
// emulated adapter ("emulated") never mix with those of real adapters; empty for none.

// Folder of the backup: $XDG_STATE_HOME/tornelvox-utility, or ~/.local/state/tornelvox-utility
// when XDG_STATE_HOME is unset or not an absolute path, then subfolder when not empty.
// Empty when no home folder is known.
std::string AddressBackupFolder(const std::string &subfolder);

// The backup file in that folder; empty when the folder is.
std::string AddressBackupPath(const std::string &subfolder);

// Appends record to the backup file, making the folder (mode 0700) when needed, and flushes the
// file and its folder to the disk before it returns. Returns true when the record is on disk;
// otherwise false with the system's reason in words in `error`. Blocks on the disk only.
bool AppendAddressRecord(const std::string &subfolder, const AddressRecord &record,
                         std::string &error);

// The records of the backup file, newest first, at most `limit`. Lines that are not records are
// passed over; a missing or unreadable file gives none. Reads at most the file's last 1 MiB.
std::vector<AddressRecord> ReadAddressRecords(const std::string &subfolder, std::size_t limit);

// An address as Bluetooth addresses are printed, most significant byte first: the name page's
// bytes 5 to 0 in hexadecimal, colon separated ("40:9E:21:5C:03:A7" for A7 03 5C 21 9E 40).
std::string FormatBtAddress(const BtAddress &address);

// The address FormatBtAddress printed as text: six pairs of hexadecimal digits in either case,
// colon separated, most significant byte first ("06:04:03:00:01:00" gives the stored bytes
// 00 01 00 03 04 06). Nothing else parses: nullopt.
std::optional<BtAddress> ParseBtAddress(std::string_view text);

// The current time as AddressRecord::time wants it.
std::string UtcTimestamp();

// The USB serial number of the device behind port (a device node or a link to one), from the
// system's device tree under sysfs_root; empty when the device is not a USB device with a serial
// number.
std::string UsbSerialNumber(const std::string &sysfs_root, const std::string &port);

}  // namespace tornelvox
