#include "workflow/port_survey.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>

#include "firmware/firmware_update.h"
#include "serial/serial_link.h"

namespace tornelvox {

namespace {

// More candidates than any machine has; a folder with more is not surveyed past them.
constexpr std::size_t kMostCandidates = 256;
constexpr int kVersionAttempts = 2;

}  // namespace

std::vector<std::string> CandidatePorts() {
    std::vector<std::string> candidates;
    DIR *listing = opendir(DeviceDirectory.c_str());
    if (listing == nullptr) return candidates;
    // readdir is safe here: the listing is this call's own.
    while (const dirent *entry = readdir(listing)) {  // NOLINT(concurrency-mt-unsafe)
        if (candidates.size() >= kMostCandidates) break;
        if (!CheckName(entry->d_name)) continue;
        std::string path = DeviceDirectory + "/" + entry->d_name;
        // A path that would not fit ComPortName cannot be opened as the port.
        if (path.size() >= kPortPathSize) continue;
        candidates.push_back(std::move(path));
    }
    closedir(listing);
    std::sort(candidates.begin(), candidates.end());
    return candidates;
}

SurveyedPort SurveyPort(const std::string &path) {
    SurveyedPort surveyed;
    surveyed.path = path;
    ClosePort();
    ShowMsg("\t Check port : %s\n", path.c_str());
    if (path.size() >= kPortPathSize || !OpenPort(path.c_str())) {
        surveyed.kind = PortKind::kCannotOpen;
        surveyed.open_failure = ExplainOpenFailure(path, OpenError);
        ShowMsg("%s", surveyed.open_failure.c_str());
        return surveyed;
    }
    ClosePort();
    ForeignReply = false;
    if (!CheckCOMM(path.c_str())) {
        surveyed.kind = ForeignReply ? PortKind::kOtherDevice : PortKind::kSilent;
        return surveyed;
    }
    surveyed.kind = PortKind::kAdapter;
    ShowMsg(" Found device on %s\n", ComPortName);
    if (InitPort()) {
        for (int attempt = 0; attempt < kVersionAttempts && !surveyed.version_read; ++attempt) {
            surveyed.version_read = CheckFMVersion() != 0;
        }
    }
    if (surveyed.version_read) {
        surveyed.version = CurVerNum;
        surveyed.emulated = QueriedAdapter.emulated;
    } else {
        ShowMsg("\n Can't get device firmware number\n");
    }
    ClosePort();
    return surveyed;
}

std::vector<SurveyedPort> SurveyPorts() {
    std::vector<SurveyedPort> surveyed;
    for (const std::string &path : CandidatePorts()) surveyed.push_back(SurveyPort(path));
    return surveyed;
}

}  // namespace tornelvox
