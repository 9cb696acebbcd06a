#include "workflow/device_status.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <utility>

#include "serial/device_search.h"

namespace tornelvox {
namespace {

// "/dev//ttyUSB0" (a folder given as "/dev/") and "/dev/ttyUSB0" are one node.
bool SamePath(const std::string &a, const std::string &b) {
    return a == b || std::filesystem::path(a).lexically_normal() ==
                         std::filesystem::path(b).lexically_normal();
}

}  // namespace

FirmwareSeen FirmwareReadBy(const FirmwareFindings &findings) {
    const AdapterIdentity &queried = findings.QueriedAdapter;
    if (!queried.version_read || queried.port.empty()) return {};
    return {.port = queried.port, .version = findings.CurVerNum};
}

std::string DeviceStatusText(const std::vector<PresentNode> &nodes, const FirmwareSeen &firmware) {
    if (nodes.empty()) return kNoDeviceConnected;
    std::string text;
    for (const PresentNode &node : nodes) {
        if (!text.empty()) text += '\n';
        const std::string kind = DeviceKind(node.identity);
        const std::string description = DeviceDescription(node.identity);
        text += kind + " at " + node.path;
        // "Pseudo-terminal at … · pseudo-terminal" would say one thing twice.
        if (description.size() != kind.size() ||
            !std::equal(description.begin(), description.end(), kind.begin(),
                        [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
            text += " · " + description;
        }
        if (!firmware.port.empty() && SamePath(firmware.port, node.path)) {
            text += " · adapter, firmware " + VersionText(firmware.version);
        }
    }
    return text;
}

bool DeviceStatus::IsListed(const std::string &path) const {
    for (const PresentNode &node : nodes_) {
        if (SamePath(node.path, path)) return true;
    }
    return false;
}

void DeviceStatus::Listed(std::vector<PresentNode> nodes) {
    nodes_ = std::move(nodes);
    if (!firmware_.port.empty() && !IsListed(firmware_.port)) firmware_ = {};
}

void DeviceStatus::Checked(const FirmwareSeen &firmware) {
    firmware_ = firmware;
    if (!firmware_.port.empty() && !IsListed(firmware_.port)) firmware_ = {};
}

void DeviceStatus::Gone(const std::vector<std::string> &paths) {
    for (const std::string &path : paths) {
        if (!firmware_.port.empty() && SamePath(firmware_.port, path)) firmware_ = {};
    }
}

std::vector<PresentNode> ListPresentNodes(const LinkSession &link, const std::string &sysfs_root) {
    std::vector<PresentNode> nodes;
    for (std::string &path : CandidateNodes(link)) {
        NodeIdentity identity = IdentifyNode(sysfs_root, path);
        nodes.push_back({.path = std::move(path), .identity = std::move(identity)});
    }
    return nodes;
}

}  // namespace tornelvox
