#include "serial/device_search.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "serial/command_exchange.h"
#include "serial/message_log.h"
#include "serial/port_diagnosis.h"
#include "serial/serial_port.h"

namespace tornelvox {

bool ReBootSystem(LinkSession &link) {
    SetParameters(link, 1000000);  // becomes 115,200: the adapter's line runs at one rate
    SendCOMM(link, kCmdResetFirst);
    SendCOMM(link, kCmdResetSecond);
    SetParameters(link, 115200);
    SendCOMM(link, kCmdResetFirst);
    return static_cast<bool>(SendCOMM(link, kCmdResetSecond));
}

namespace {

// Candidate nodes a search looks at, at most; a folder with more is not a device folder.
constexpr std::size_t kMostCandidates = 256;

// "cu." then "usb" with at least one character after it (the call-out nodes of USB serial
// adapters on hosts that name them so).
bool IsCallOutUsbName(const char *name) {
    const std::size_t length = std::strlen(name);
    if (length < 5 || std::strncmp(name, "cu.", 3) != 0) return false;
    for (std::size_t p = 3; p + 4 <= length; ++p) {
        if (std::strncmp(name + p, "usb", 3) == 0) return true;
    }
    return false;
}

// "ttyUSB<n>" and "ttyACM<n>": how Linux names USB serial adapters.
bool IsLinuxUsbName(const char *name) {
    for (const char *prefix : {"ttyUSB", "ttyACM"}) {
        const std::size_t prefix_length = std::strlen(prefix);
        if (std::strncmp(name, prefix, prefix_length) != 0) continue;
        const char *digits = name + prefix_length;
        if (*digits == '\0') return false;
        for (const char *c = digits; *c != '\0'; ++c) {
            if (*c < '0' || *c > '9') return false;
        }
        return true;
    }
    return false;
}

}  // namespace

bool CheckName(const char *name) {
    return IsCallOutUsbName(name) || IsLinuxUsbName(name);
}

namespace {

// The line settings a candidate had when it was opened. One that turns out not to be the adapter
// gets them back when the port closes: whoever set its line up (a console's rate, its echo)
// finds it as it was, not in the probe's raw mode.
class LineSettingsAtOpen {
  public:
    explicit LineSettingsAtOpen(LinkSession &link) : link_(link) {
        link_.LinePort().KeepLineSettings();
    }

    void GiveBackAndClose() const {
        link_.LinePort().GiveBackLineSettings();
        ClosePort(link_);
    }

  private:
    LinkSession &link_;
};

}  // namespace

bool CheckCOMM(LinkSession &link, const char *path) {
    if (!OpenPort(link, path)) {
        ShowMsg(link, "%s", ExplainOpenFailure(link, path, link.OpenError).c_str());
        return false;
    }
    const LineSettingsAtOpen found_as(link);
    if (!SetParameters(link, 115200)) {
        found_as.GiveBackAndClose();
        return false;
    }
    ExchangeResult found = SendCOMM(link, kCmdProbe);
    if (!found && !link.ForeignReply) {
        // Silent: it may be the adapter, hung; a reset may bring it back.
        ReBootSystem(link);
        SetParameters(link, 115200);
        found = SendCOMM(link, kCmdProbe);
    }
    if (link.ForeignReply) {
        // Something answered, but not as the adapter's chip does: another device, which gets
        // no reset frames either.
        ShowMsg(link, "\t   Not the adapter: the device answered with bytes of another kind.\n");
        found_as.GiveBackAndClose();
        return false;
    }
    ReBootSystem(link);
    if (!found) {
        found_as.GiveBackAndClose();
        return false;
    }
    ClosePort(link);
    return true;
}

namespace {

// The candidates of one folder, in the order of their names.
std::vector<std::string> FolderCandidates(const std::string &folder) {
    std::vector<std::string> candidates;
    DIR *listing = opendir(folder.c_str());
    if (listing == nullptr) return candidates;
    // readdir is safe here: the listing is this call's own, and no other thread reads it.
    while (const dirent *entry = readdir(listing)) {  // NOLINT(concurrency-mt-unsafe)
        if (candidates.size() >= kMostCandidates) break;
        if (!CheckName(entry->d_name)) continue;
        // An entry whose path would not fit the candidate buffer or ComPortName is skipped.
        char candidate[kPortPathSize];
        const int length =
            std::snprintf(candidate, sizeof candidate, "%s/%s", folder.c_str(), entry->d_name);
        if (length < 0 || static_cast<std::size_t>(length) >= sizeof candidate) continue;
        candidates.emplace_back(candidate);
    }
    closedir(listing);
    // In the order of their names, so that the same machine always takes the same adapter.
    std::sort(candidates.begin(), candidates.end());
    return candidates;
}

}  // namespace

std::vector<std::string> CandidateNodes(const LinkSession &link) {
    std::vector<std::string> candidates;
    if (!link.FirstDeviceDirectory.empty() && link.FirstDeviceDirectory != link.DeviceDirectory) {
        candidates = FolderCandidates(link.FirstDeviceDirectory);
    }
    std::vector<std::string> rest = FolderCandidates(link.DeviceDirectory);
    candidates.insert(candidates.end(), std::make_move_iterator(rest.begin()),
                      std::make_move_iterator(rest.end()));
    return candidates;
}

bool SearchCOMM(LinkSession &link) {
    link.SearchCandidates = 0;
    // Every candidate is probed through its own freshly opened node: a descriptor left open by
    // an earlier Check may belong to an adapter that has since been unplugged.
    ClosePort(link);
    ShowMsg(link, "\n Search Device ...\n");
    const std::vector<std::string> candidates = CandidateNodes(link);
    link.SearchCandidates = candidates.size();

    for (std::size_t i = 0; i < candidates.size(); ++i) {
        ShowMsg(link, "\t Check port : %s\n", candidates[i].c_str());
        if (!CheckCOMM(link, candidates[i].c_str())) continue;
        ShowMsg(link, " Found device on %s\n", link.ComPortName);
        if (i + 1 < candidates.size()) {
            for (std::size_t rest = i + 1; rest < candidates.size(); ++rest) {
                ShowMsg(link, "\t Not checked : %s\n", candidates[rest].c_str());
            }
            ShowMsg(link,
                    " The first adapter found is used. To use another, unplug this one and "
                    "click Check again.\n");
        }
        return true;
    }
    return false;
}

}  // namespace tornelvox
