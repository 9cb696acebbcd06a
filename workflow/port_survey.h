// A survey of the candidate serial nodes: what each one is (the adapter and its firmware
// version, another device, a silent one) or why it cannot be opened.
#pragma once

#include <string>
#include <vector>

#include "serial/node_identity.h"
#include "workflow/adapter_session.h"

namespace tornelvox {

enum class PortKind {
    kAdapter,      // answered the probe as the adapter's chip does
    kOtherDevice,  // answered with bytes of another kind
    kSilent,       // opened, but answered nothing, also after a reset
    kCannotOpen,   // could not be opened; open_failure says why
};

struct SurveyedPort {
    std::string path;
    PortKind kind = PortKind::kSilent;
    bool version_read = false;  // for an adapter: its firmware version was read
    int version = 0;            // that version, as CurVerNum holds it (0x603)
    bool emulated = false;      // the adapter named itself the emulated one
    std::string open_failure;   // for kCannotOpen: ExplainOpenFailure's lines
    // What the system's device tree says the node is (DeviceDescription words it), read without
    // opening the node, for every kind: a node that cannot be opened has one too.
    NodeIdentity device;
};

// The candidate nodes as the search of link probes them, in its order (CandidateNodes).
std::vector<std::string> CandidatePorts(const LinkSession &link);

// Surveys one node: reads what the device tree under settings_from's sysfs root says of it, then
// opens it, probes it as the search does and, for the adapter, reads its firmware version. The port
// is closed afterwards. Logs as the Check does, to settings_from's message sink. Blocks on the
// line. The probe runs in a fresh session of its own that takes the search folders, the sysfs root
// and the line's timeouts from settings_from, which it leaves as it is.
SurveyedPort SurveyPort(const AdapterSession &settings_from, const std::string &path);

// Makes probe look where settings_from looks and wait as long: the search folders, the sysfs
// root, the line's timeouts and whether a hung-up line is reopened. The sink is left as it is.
void TakeSearchSettings(const FirmwareSession &settings_from, FirmwareSession &probe);

// Surveys every candidate node of settings_from's search in turn, each as SurveyPort does.
std::vector<SurveyedPort> SurveyPorts(const AdapterSession &settings_from);

}  // namespace tornelvox
