// What the firmware layer learns of one adapter, and the firmware layer's view of an adapter: its
// link and those findings together.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "firmware/address_backup.h"
#include "firmware/update_progress.h"
#include "serial/bt_address.h"
#include "serial/serial_link.h"

namespace tornelvox {

// What the last version query learned about the adapter on the port it asked.
struct AdapterIdentity {
    std::string port;           // ComPortName when the query ran; empty before any query
    bool version_read = false;  // the reply held a version: CurVerNum is this adapter's
    bool emulated = false;      // the reply carried the emulated adapter's marker
    unsigned hangups = 0;       // HangupsSeen when the query ran: a later hang-up may mean
                                // another device is behind the same path now
};

// A valid name page found on the adapter.
struct StoredNamePage {
    std::uint32_t at = 0;  // flash address it was read at
    BtAddress address{};   // its bytes 0 to 5
    std::string name;      // the printable text from byte 6 on ("Tornelvox(DAB)")
};

// What the last GetID found.
struct NamePageSearch {
    bool read = false;                  // the first page read was answered
    std::vector<StoredNamePage> valid;  // valid pages, the place the version implies first
    // Valid pages at both places with different addresses: the adapter's own is not known.
    bool Conflict() const { return valid.size() == 2 && valid[0].address != valid[1].address; }
};

// What the firmware layer learns of one adapter, and how an update of it is told and stopped.
struct FirmwareFindings {
    // Adapter's firmware version from three hexadecimal digits (0x603 for "603"); 0 when unknown.
    int CurVerNum = 0;
    // The three version characters of the last version reply; "000" at the start of each query.
    char Ver[3] = {'0', '0', '0'};
    // What the last version query learned about the adapter on the port it asked.
    AdapterIdentity QueriedAdapter;
    // Set when GetParam found a parameter record.
    unsigned char bParam = 0;
    // What the last GetID found.
    NamePageSearch LastNamePageSearch;
    // Set by the last ProgramDevice when its check value differed at both checks: the image on
    // the adapter is not the one written, and retrying will not mend it. A mismatch that the
    // second check cleared does not set it.
    bool CheckValueMismatchStood = false;
    // The update's cancel flag: set by the Update action before the worker starts; cleared to
    // cancel, and by the worker at its success and failure ends. Programming looks at it between
    // its steps.
    std::atomic<bool> ThreadRunning{false};
    // Told by ProgramDevice, on the thread that runs the update: done 0 when a stage starts, then
    // after each of its steps that succeeded. A failure or a cancellation ends the reports where
    // it happens. Empty by default: nothing is told. Set it only while no update runs; it must
    // return soon and never throw, since programming waits for it between its steps.
    std::function<void(const FlashProgress &)> FlashProgressSink;
    // A folder inside the address backup's folder that holds the backup instead, so that
    // addresses of the demo mode's emulated adapter ("emulated") never mix with those of real
    // adapters; empty for none. Set it only while no update runs.
    std::string AddressBackupSubfolder;
    // Folder that stands for /sys when the USB serial number of a port's device is looked up;
    // tests point it at a folder of their own. Set it only while no update runs.
    std::string SysfsRoot = kDefaultSysfsRoot;
};

// The firmware layer's view of an adapter: its link and what was learned of it.
struct FirmwareSession : LinkSession, FirmwareFindings {};

}  // namespace tornelvox
