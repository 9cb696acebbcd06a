// `tornelvox settings` and `tornelvox settings set NAME=VALUE ...`: the Setting action, with the
// command line in the dialog's place.
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/setting_assignment.h"
#include "firmware/firmware_update.h"
#include "settings/device_settings.h"
#include "workflow/settings_flow.h"

namespace tornelvox::cli {

namespace {

// A setting as the JSON result carries it: whether it was read, and its label when its value is
// known (never the fallback of a setting that was not read).
nlohmann::json SettingValue(bool read, bool known, const char *label) {
    nlohmann::json value = {{"read", read}};
    if (known) value["value"] = label;
    return value;
}

// The settings the adapter's firmware has, as `name = label` lines and as JSON; a setting that
// could not be read shows no value.
void ShowDeviceValues(const AdapterSession &session, Output &output, const SettingSet &unread,
                      nlohmann::json &values) {
    std::string text = "\n";
    for (const SettingDescription &setting : AllSettings()) {
        if (!SettingAvailable(setting, session.CurVerNum)) continue;
        const bool read = !unread.Has(setting.option);
        const char *label = LabelFor(setting, setting.device.Get(session));
        text +=
            std::string(setting.name) + (read ? std::string(" = ") + label : ": not read") + "\n";
        values[setting.name] = SettingValue(read, read, label);
    }
    output.Say(text);
}

// Names the settings whose reads failed and what to do about it.
void SayNotRead(Output &output, const SettingSet &unread) {
    std::string names;
    for (const SettingDescription *setting : SettingsInReadOrder()) {
        if (!unread.Has(setting->option)) continue;
        if (!names.empty()) names += ", ";
        names += setting->name;
    }
    output.Say("Could not read from the adapter: " + names +
               ". What it holds there is not known; try again, and if it happens again, unplug "
               "the adapter and plug it back in.\n");
}

std::string AvailableNames(const AdapterSession &session) {
    std::string text;
    for (const SettingDescription &setting : AllSettings()) {
        if (!SettingAvailable(setting, session.CurVerNum)) continue;
        if (!text.empty()) text += ", ";
        text += setting.name;
    }
    return text;
}

// The Check, and the settings read as the Setting action reads them; unread gets the settings
// whose reads failed. kSuccess when the reading was done.
ExitStatus ReadSettings(RunContext &context, SettingSet &unread) {
    AdapterSession &session = *context.session;
    const CheckResult check = CheckAdapter(session, context.options);
    if (!check.found) return ExitStatus::kNotFound;
    if (!check.version_read) return ExitStatus::kVersionUnreadable;
    const std::optional<SettingSet> read = PrepareDeviceSetting(session, *context.front_end);
    if (!read) return ExitStatus::kSettingsFailed;
    unread = *read;
    return ExitStatus::kSuccess;
}

}  // namespace

ExitStatus RunSettingsCommand(RunContext &context) {
    AdapterSession &session = *context.session;
    SettingSet unread;
    const ExitStatus read = ReadSettings(context, unread);
    if (read != ExitStatus::kSuccess) {
        EmitResult(context.output, read);
        return read;
    }
    // Nothing to write: the applied values are the device values, as after Cancel.
    CopyDeviceToApplied(session);
    ClearDeviceSettingRunning(session);
    nlohmann::json values = nlohmann::json::object();
    ShowDeviceValues(session, context.output, unread, values);
    if (!unread.Empty()) SayNotRead(context.output, unread);
    const ExitStatus status = unread.Empty() ? ExitStatus::kSuccess : ExitStatus::kSettingsFailed;
    EmitResult(context.output, status, {{"settings", values}});
    return status;
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
    AdapterSession &session = *context.session;
    SettingSet unread;
    const ExitStatus read = ReadSettings(context, unread);
    if (read != ExitStatus::kSuccess) {
        EmitResult(context.output, read);
        return read;
    }
    // The dialog's steps: device values first, then what was given, then the version's gate.
    CopyDeviceToApplied(session);
    for (const SettingAssignment &assignment : assignments) {
        if (SettingAvailable(*assignment.setting, session.CurVerNum)) continue;
        ClearDeviceSettingRunning(session);
        context.output.Complain(
            std::string("The adapter's firmware ") + VersionText(session.CurVerNum) +
            " has no setting " + assignment.setting->name +
            ": nothing was written. Its settings are: " + AvailableNames(session) + ".\n");
        EmitResult(context.output, ExitStatus::kSettingsFailed);
        return ExitStatus::kSettingsFailed;
    }
    // A given setting that was not read is written even when the value given equals its
    // fallback: what the adapter holds is not known. One not given keeps whatever it holds.
    SettingSet given;
    SettingSet write_anyway;
    for (const SettingAssignment &assignment : assignments) {
        const SettingDescription &setting = *assignment.setting;
        setting.applied.Set(session, assignment.value);
        given.Add(setting.option);
        if (unread.Has(setting.option)) write_anyway.Add(setting.option);
    }
    GateAppliedValues(session, session.CurVerNum);
    ClearDeviceSettingRunning(session);
    const bool written = RunSettingsApply(session, context.front_end, write_anyway);
    if (!unread.Empty()) SayNotRead(context.output, unread);
    nlohmann::json values = nlohmann::json::object();
    for (const SettingDescription &setting : AllSettings()) {
        if (!SettingAvailable(setting, session.CurVerNum)) continue;
        const bool read = !unread.Has(setting.option);
        values[setting.name] = SettingValue(read, read || given.Has(setting.option),
                                            LabelFor(setting, setting.applied.Get(session)));
    }
    const ExitStatus status =
        written && unread.Empty() ? ExitStatus::kSuccess : ExitStatus::kSettingsFailed;
    EmitResult(context.output, status, {{"settings", values}});
    return status;
}

}  // namespace tornelvox::cli
