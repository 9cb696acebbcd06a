#include "workflow/port_survey.h"

#include <cstdio>

#include "firmware/firmware_update.h"
#include "serial/serial_link.h"

namespace tornelvox {

namespace {

constexpr int kVersionAttempts = 2;

}  // namespace

std::vector<std::string> CandidatePorts() {
    return CandidateNodes();
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
