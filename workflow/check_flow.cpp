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

void ShowAdvice() {
    if (CurVerNum >= VerNum) {
        ShowMsg("\n You have the latest or newer firmware.\n");
        ShowMsg(" Click \"Update\" to update firmware.\n");
        ShowMsg(" Click \"Setting\" to set parameters.\n");
    } else if (CurVerNum >= kSettingsVersion) {
        ShowMsg("\n There is newer firmware available.\n");
        ShowMsg(" Click \"Update\" to update firmware.\n");
        ShowMsg(" Click \"Setting\" to set parameters.\n");
        ShowMsg("\n");
    } else {
        ShowMsg("\n There is newer firmware available.\n");
        ShowMsg(" Click \"Update\" to update firmware.\n");
        ShowMsg(" Update firmware before set parameters.\n");
        ShowMsg("\n");
    }
}

void ShowNotFound() {
    ShowMsg("\n Can't find Tornelvox device.\n Please check USB connection\n\n");
}

// Probes the one node the user named, logged as a search logs a candidate. True with its path in
// ComPortName and the port closed.
bool ProbeNamedPort(const std::string &path) {
    ClosePort();
    ShowMsg("\t Check port : %s\n", path.c_str());
    if (path.empty() || path.size() >= kPortPathSize) {
        ShowMsg("\t   The path is too long for a port (at most %zu characters).\n",
                kPortPathSize - 1);
        return false;
    }
    if (!CheckCOMM(path.c_str())) return false;
    ShowMsg(" Found device on %s\n", ComPortName);
    return true;
}

// What a Check does once the adapter's node is known.
CheckResult CheckFoundAdapter() {
    CheckResult result;
    result.found = true;

    // Whether the port opened shows in the version query that follows.
    for (int attempt = 0; attempt < kOpenAttempts && !InitPort(); ++attempt) {
    }

    for (int attempt = 0; attempt < kVersionAttempts && !result.version_read; ++attempt) {
        result.version_read = CheckFMVersion() != 0;
    }
    if (!result.version_read) ShowMsg("\n Can't get device firmware number\n");

    ShowAdvice();
    ShowCheckNotes(result.version_read);
    return result;
}

}  // namespace

CheckResult RunCheck() {
    if (!SearchCOMM()) {
        ShowNotFound();
        if (SearchCandidates == 0) ShowMsg("%s", BrlttyHint().c_str());
        return {};
    }
    return CheckFoundAdapter();
}

CheckResult RunCheckAt(const std::string &path) {
    if (!ProbeNamedPort(path)) {
        ShowNotFound();
        return {};
    }
    return CheckFoundAdapter();
}

}  // namespace tornelvox
