// `tornelvox settings` and `tornelvox settings set NAME=VALUE ...`: the Setting action, with the
// command line in the dialog's place.
#include <vector>

#include "cli/commands.h"
#include "cli/setting_assignment.h"
#include "firmware/firmware_update.h"
#include "settings/device_settings.h"
#include "workflow/settings_flow.h"

namespace tornelvox::cli {

namespace {

// The settings the adapter's firmware has, as `name = label` lines and as JSON.
void ShowDeviceValues(Output &output, nlohmann::json &values) {
    std::string text = "\n";
    for (const SettingDescription &setting : AllSettings()) {
        if (!SettingAvailable(setting, CurVerNum)) continue;
        const char *label = LabelFor(setting, setting.device.Get());
        text += std::string(setting.name) + " = " + label + "\n";
        values[setting.name] = label;
    }
    output.Say(text);
}

std::string AvailableNames() {
    std::string text;
    for (const SettingDescription &setting : AllSettings()) {
        if (!SettingAvailable(setting, CurVerNum)) continue;
        if (!text.empty()) text += ", ";
        text += setting.name;
    }
    return text;
}

// The Check, and the settings read as the Setting action reads them. kSuccess when they were.
ExitStatus ReadSettings(RunContext &context) {
    const CheckResult check = CheckAdapter(context.options);
    if (!check.found) return ExitStatus::kNotFound;
    if (!check.version_read) return ExitStatus::kVersionUnreadable;
    if (!PrepareDeviceSetting(*context.front_end)) return ExitStatus::kSettingsFailed;
    return ExitStatus::kSuccess;
}

}  // namespace

ExitStatus RunSettingsCommand(RunContext &context) {
    const ExitStatus read = ReadSettings(context);
    if (read != ExitStatus::kSuccess) {
        EmitResult(context.output, read);
        return read;
    }
    // Nothing to write: the applied values are the device values, as after Cancel.
    CopyDeviceToApplied();
    ClearDeviceSettingRunning();
    nlohmann::json values = nlohmann::json::object();
    ShowDeviceValues(context.output, values);
    EmitResult(context.output, ExitStatus::kSuccess, {{"settings", values}});
    return ExitStatus::kSuccess;
}

ExitStatus RunSettingsSetCommand(RunContext &context) {
    // Names and values are checked before the adapter is touched.
    std::vector<SettingAssignment> assignments;
    std::string error;
    if (!ParseAssignments(context.options.assignments, assignments, error)) {
        context.output.Complain(error);
        EmitResult(context.output, ExitStatus::kBadUsage);
        return ExitStatus::kBadUsage;
    }
    const ExitStatus read = ReadSettings(context);
    if (read != ExitStatus::kSuccess) {
        EmitResult(context.output, read);
        return read;
    }
    // The dialog's steps: device values first, then what was given, then the version's gate.
    CopyDeviceToApplied();
    for (const SettingAssignment &assignment : assignments) {
        if (SettingAvailable(*assignment.setting, CurVerNum)) continue;
        ClearDeviceSettingRunning();
        context.output.Complain(std::string("The adapter's firmware ") + VersionText(CurVerNum) +
                                " has no setting " + assignment.setting->name +
                                ": nothing was written. Its settings are: " + AvailableNames() +
                                ".\n");
        EmitResult(context.output, ExitStatus::kSettingsFailed);
        return ExitStatus::kSettingsFailed;
    }
    for (const SettingAssignment &assignment : assignments) {
        assignment.setting->applied.Set(assignment.value);
    }
    GateAppliedValues(CurVerNum);
    ClearDeviceSettingRunning();
    const bool written = RunSettingsApply(context.front_end);
    nlohmann::json values = nlohmann::json::object();
    for (const SettingDescription &setting : AllSettings()) {
        if (SettingAvailable(setting, CurVerNum)) {
            values[setting.name] = LabelFor(setting, setting.applied.Get());
        }
    }
    const ExitStatus status = written ? ExitStatus::kSuccess : ExitStatus::kSettingsFailed;
    EmitResult(context.output, status, {{"settings", values}});
    return status;
}

}  // namespace tornelvox::cli
