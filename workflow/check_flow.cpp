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

}  // namespace

CheckResult RunCheck() {
    CheckResult result;
    if (!SearchCOMM()) {
        ShowMsg("\n Can't find Tornelvox device.\n Please check USB connection\n\n");
        if (SearchCandidates == 0) ShowMsg("%s", BrlttyHint().c_str());
        return result;
    }
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

}  // namespace tornelvox
