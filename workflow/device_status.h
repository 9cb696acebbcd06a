// The line that says which candidate serial devices are connected and what they are, as a front
// end shows it beside its buttons. Built from listing the device folders and reading the system's
// device tree only: a device that appears is never opened nor sent anything (a probe may reset a
// silent device, so probing stays with the Check and the workflows).
#pragma once

#include <string>
#include <vector>

#include "firmware/firmware_session.h"
#include "firmware/firmware_update.h"
#include "serial/node_identity.h"

namespace tornelvox {

// What the line says when no candidate node is there.
inline constexpr char kNoDeviceConnected[] = "No USB serial device connected";

// A candidate node that is there, and what the system says of it.
struct PresentNode {
    std::string path;  // as the search lists it (a link in the demo's runtime folder stays one)
    NodeIdentity identity;
};

// The firmware a Check read, and the node it read it on; port empty when none was read.
struct FirmwareSeen {
    std::string port;
    int version = 0;  // as CurVerNum holds it (0x302)
    bool operator==(const FirmwareSeen &) const = default;
};

// What findings say the last version query read: the node and the version, or nothing when that
// query read no version. Read it only while no worker writes findings.
FirmwareSeen FirmwareReadBy(const FirmwareFindings &findings);

// Each present node on a line of its own, in the order given: "USB serial device at
// /dev/ttyUSB0 · FTDI FT232R USB UART, serial A50285BI", with " · adapter, firmware 302" after
// the node firmware names; kNoDeviceConnected when nodes is empty.
std::string DeviceStatusText(const std::vector<PresentNode> &nodes, const FirmwareSeen &firmware);

// The status line's memory between listings: the nodes last listed and the firmware a Check read
// on one of them. The firmware is forgotten when its node is no longer listed (unplugged: what
// comes back at that path may be another device) and when a later Check reads otherwise.
class DeviceStatus {
  public:
    // A new listing of the candidate nodes.
    void Listed(std::vector<PresentNode> nodes);
    // A Check (or an update) ended: what its version query read, if anything.
    void Checked(const FirmwareSeen &firmware);
    // Nodes that went away since the last listing (paths NodeWatch reported gone): the firmware
    // of one of them is forgotten even if the node is back by the next listing.
    void Gone(const std::vector<std::string> &paths);
    // Forgets the firmware (an update is about to change it).
    void ForgetFirmware() { firmware_ = {}; }

    std::string Text() const { return DeviceStatusText(nodes_, firmware_); }
    const FirmwareSeen &Firmware() const { return firmware_; }

  private:
    bool IsListed(const std::string &path) const;

    std::vector<PresentNode> nodes_;
    FirmwareSeen firmware_;
};

// Lists the candidate nodes of link's folders (CandidateNodes) and reads what the device tree
// under sysfs_root says of each. Opens no node.
std::vector<PresentNode> ListPresentNodes(const LinkSession &link, const std::string &sysfs_root);

}  // namespace tornelvox
