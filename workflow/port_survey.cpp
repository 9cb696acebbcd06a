#include "workflow/port_survey.h"

#include <cstdio>

#include "firmware/firmware_update.h"
#include "serial/serial_link.h"

namespace tornelvox {

namespace {

constexpr int kVersionAttempts = 2;

// A session for probing one node: where to look and how long to wait come from settings_from,
// and what it logs goes to settings_from's sink.
void TakeSurveySettings(const AdapterSession &settings_from, FirmwareSession &probe) {
    TakeSearchSettings(settings_from, probe);
    probe.SetMessageSink([&settings_from](const std::string &text) { settings_from.Log(text); });
}

}  // namespace

void TakeSearchSettings(const FirmwareSession &settings_from, FirmwareSession &probe) {
    probe.DeviceDirectory = settings_from.DeviceDirectory;
    probe.FirstDeviceDirectory = settings_from.FirstDeviceDirectory;
    probe.ProcRoot = settings_from.ProcRoot;
    probe.BrlttyProgramPaths = settings_from.BrlttyProgramPaths;
    probe.SysfsRoot = settings_from.SysfsRoot;
    probe.ReadCallTimeoutMs.store(settings_from.ReadCallTimeoutMs.load());
    probe.WriteDeadlineMs.store(settings_from.WriteDeadlineMs.load());
    probe.ReopenAfterHangup.store(settings_from.ReopenAfterHangup.load());
}

std::vector<std::string> CandidatePorts(const LinkSession &link) {
    return CandidateNodes(link);
}

SurveyedPort SurveyPort(const AdapterSession &settings_from, const std::string &path) {
    FirmwareSession session;
    TakeSurveySettings(settings_from, session);
    SurveyedPort surveyed;
    surveyed.path = path;
    surveyed.device = IdentifyNode(settings_from.SysfsRoot, path);
    ShowMsg(session, "\t Check port : %s\n", path.c_str());
    if (path.size() >= kPortPathSize || !OpenPort(session, path.c_str())) {
        surveyed.kind = PortKind::kCannotOpen;
        surveyed.open_failure = ExplainOpenFailure(session, path, session.OpenError);
        ShowMsg(session, "%s", surveyed.open_failure.c_str());
        return surveyed;
    }
    ClosePort(session);
    session.ForeignReply = false;
    if (!CheckCOMM(session, path.c_str())) {
        surveyed.kind = session.ForeignReply ? PortKind::kOtherDevice : PortKind::kSilent;
        return surveyed;
    }
    surveyed.kind = PortKind::kAdapter;
    ShowMsg(session, " Found device on %s\n", session.ComPortName);
    if (InitPort(session)) {
        for (int attempt = 0; attempt < kVersionAttempts && !surveyed.version_read; ++attempt) {
            surveyed.version_read = CheckFMVersion(session) != 0;
        }
    }
    if (surveyed.version_read) {
        surveyed.version = session.CurVerNum;
        surveyed.emulated = session.QueriedAdapter.emulated;
    } else {
        ShowMsg(session, "\n Can't get device firmware number\n");
    }
    ClosePort(session);
    return surveyed;
}

std::vector<SurveyedPort> SurveyPorts(const AdapterSession &settings_from) {
    std::vector<SurveyedPort> surveyed;
    for (const std::string &path : CandidatePorts(settings_from)) {
        surveyed.push_back(SurveyPort(settings_from, path));
    }
    return surveyed;
}

}  // namespace tornelvox
