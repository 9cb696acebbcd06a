// A survey of the candidate serial nodes: what each one is (the adapter and its firmware
// version, another device, a silent one) or why it cannot be opened.
#pragma once

#include <string>
#include <vector>

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
};

// The candidate nodes as the search probes them, in its order (CandidateNodes).
std::vector<std::string> CandidatePorts();

// Surveys one node: opens it, probes it as the search does and, for the adapter, reads its
// firmware version. The port is closed afterwards. Logs as the Check does. Blocks on the line.
SurveyedPort SurveyPort(const std::string &path);

// Surveys every candidate node in turn.
std::vector<SurveyedPort> SurveyPorts();

}  // namespace tornelvox
