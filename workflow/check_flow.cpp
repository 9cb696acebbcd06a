// The Check action, as every front end runs it.
#include "workflow/check_flow.h"

#include "firmware/firmware_update.h"
#include "serial/serial_link.h"
#include "settings/settings_model.h"

namespace tornelvox {

namespace {

// The two attempt limits of the Check action.
constexpr int kOpenAttempts = 10;
constexpr int kVersionAttempts = 2;
// Below this version the settings cannot be used; the advice says to update first.
constexpr int kSettingsVersion = kSettingsMinVersion + 1;

void ShowAdvice(AdapterSession &session) {
    if (session.CurVerNum >= VerNum) {
        ShowMsg(session, "\n You have the latest or newer firmware.\n");
        ShowMsg(session, " Click \"Update\" to update firmware.\n");
        ShowMsg(session, " Click \"Setting\" to set parameters.\n");
    } else if (session.CurVerNum >= kSettingsVersion) {
        ShowMsg(session, "\n There is newer firmware available.\n");
        ShowMsg(session, " Click \"Update\" to update firmware.\n");
        ShowMsg(session, " Click \"Setting\" to set parameters.\n");
        ShowMsg(session, "\n");
    } else {
        ShowMsg(session, "\n There is newer firmware available.\n");
        ShowMsg(session, " Click \"Update\" to update firmware.\n");
        ShowMsg(session, " Update firmware before set parameters.\n");
        ShowMsg(session, "\n");
    }
}

void ShowNotFound(AdapterSession &session) {
    ShowMsg(session, "\n Can't find Tornelvox device.\n Please check USB connection\n\n");
}

// Probes the one node the user named, logged as a search logs a candidate. True with its path in
// ComPortName and the port closed.
bool ProbeNamedPort(AdapterSession &session, const std::string &path) {
    ClosePort(session);
    ShowMsg(session, "\t Check port : %s\n", path.c_str());
    if (path.empty() || path.size() >= kPortPathSize) {
        ShowMsg(session, "\t   The path is too long for a port (at most %zu characters).\n",
                kPortPathSize - 1);
        return false;
    }
    if (!CheckCOMM(session, path.c_str())) return false;
    ShowMsg(session, " Found device on %s\n", session.ComPortName);
    return true;
}

// What a Check does once the adapter's node is known.
CheckResult CheckFoundAdapter(AdapterSession &session) {
    CheckResult result;
    result.found = true;

    // Whether the port opened shows in the version query that follows.
    for (int attempt = 0; attempt < kOpenAttempts && !InitPort(session); ++attempt) {
    }

    for (int attempt = 0; attempt < kVersionAttempts && !result.version_read; ++attempt) {
        result.version_read = CheckFMVersion(session) != 0;
    }
    if (!result.version_read) ShowMsg(session, "\n Can't get device firmware number\n");

    ShowAdvice(session);
    ShowCheckNotes(session, result.version_read);
    return result;
}

}  // namespace

CheckResult RunCheck(AdapterSession &session) {
    if (!SearchCOMM(session)) {
        ShowNotFound(session);
        if (session.SearchCandidates == 0) ShowMsg(session, "%s", BrlttyHint(session).c_str());
        return {};
    }
    return CheckFoundAdapter(session);
}

CheckResult RunCheckAt(AdapterSession &session, const std::string &path) {
    if (!ProbeNamedPort(session, path)) {
        ShowNotFound(session);
        return {};
    }
    return CheckFoundAdapter(session);
}

}  // namespace tornelvox
