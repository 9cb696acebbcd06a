// `tornelvox update`: Check, the decision whether to update, the confirmation, then the whole
// update with its progress.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/adapter_log.h"
#include "cli/adapter_update.h"
#include "cli/commands.h"
#include "cli/json_text.h"
#include "cli/terminal_prompt.h"
#include "cli/update_all.h"
#include "firmware/address_backup.h"
#include "firmware/firmware_update.h"
#include "serial/command_frames.h"
#include "serial/serial_port.h"
#include "workflow/port_survey.h"
#include "workflow/update_flow.h"

namespace tornelvox::cli {

namespace {

// How long the confirmation waits for an answer before it counts as no.
constexpr std::chrono::seconds kConfirmLimit{600};

// The update asks first; --yes answers. False when it is not to go on.
bool Confirmed(RunContext &context, const std::string &version_before) {
    if (context.options.yes) return true;
    if (context.output.Mode() == OutputMode::kJson || !CanAsk()) {
        context.output.Say(
            "Not updating: there is no terminal to confirm the update on. Give --yes to update "
            "without asking.\n");
        return false;
    }
    const std::string from = version_before.empty() ? "whose firmware version could not be read"
                                                    : "at firmware " + version_before;
    context.output.Say("\nUpdate the adapter at " + std::string(context.session->ComPortName) +
                       " (" + from + ") to firmware " + VersionText(VerNum) +
                       "? Do not unplug it while the update runs. [y/N] ");
    const std::optional<std::string> answer = ReadAnswer(-1, kConfirmLimit);
    context.output.AnswerTyped();
    if (answer && IsYes(*answer)) return true;
    context.output.Say("Not updating: not confirmed.\n");
    return false;
}

// Starts the worker and sleeps until it has ended wholly (its front end released).
UpdateEnd RunWholeUpdate(RunContext &context) {
    AdapterSession &session = *context.session;
    const unsigned ended_before = UpdateWorkersEnded(session);
    context.stop.BeginUpdate([&] { StartUpdateWorker(context.session, context.front_end); },
                             [session = context.session] { CancelUpdate(*session); });
    // Each wait has a limit; the update itself may take minutes per attempt.
    while (!WaitForUpdateWorkersEnded(session, ended_before + 1, std::chrono::seconds(1))) {
    }
    context.stop.EndUpdate();
    context.output.EndProgress();
    return session.LastUpdateEnd.load();
}

// The ports of every node that answers the probe like the adapter. Each candidate is probed on a
// thread of its own, all at once; what each probe logs is shown afterwards, in the candidates'
// order, as a search one after the other would have shown it.
std::vector<std::string> AdapterPorts(AdapterSession &session) {
    const std::vector<std::string> candidates = CandidatePorts(session);
    std::vector<SurveyedPort> surveyed(candidates.size());
    std::vector<std::vector<std::string>> logged(candidates.size());
    std::vector<std::thread> probes;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const auto probe = [&, i] {
            AdapterSession from;
            TakeSearchSettings(session, from);
            from.SetMessageSink(
                [&texts = logged[i]](const std::string &text) { texts.push_back(text); });
            surveyed[i] = SurveyPort(from, candidates[i]);
        };
        try {
            probes.emplace_back(probe);
        } catch (const std::system_error &) {
            probe();  // no thread to spare: this one is probed here
        }
    }
    for (std::thread &thread : probes) thread.join();
    std::vector<std::string> ports;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        for (const std::string &text : logged[i]) session.Log(text);
        if (surveyed[i].kind == PortKind::kAdapter) ports.push_back(surveyed[i].path);
    }
    return ports;
}

// update --all: every node that answers the probe like the adapter, each updated on a thread of
// its own in a session of its own, all at once. A stop signal cancels every adapter's update.
ExitStatus RunUpdateAllCommand(RunContext &context) {
    UpdateAllRequest request;
    if (!context.options.port.empty()) {
        request.ports.push_back(context.options.port);
    } else {
        request.ports = AdapterPorts(*context.session);
    }
    request.options.force = context.options.force;
    request.options.address = context.options.address;
    request.options.new_address = context.options.new_address;
    request.options.verify_all = context.options.verify_all;
    request.options.device_dir = context.options.device_dir;
    request.update = UpdateAdapter;
    request.json = context.options.json;
    request.terminal = isatty(STDOUT_FILENO) == 1;
    request.log_dir = AdapterLogFolder();
    if (request.log_dir.empty()) {
        std::cerr << "update --all: no home folder is known for this user (HOME is not an "
                     "absolute path and the password database has none); the adapters' logs are "
                     "not kept. Set HOME or XDG_STATE_HOME to keep them.\n";
    }
    request.stop = std::make_shared<UpdateAllStop>();
    // From here a stop signal cancels every adapter's update instead of ending the program.
    context.stop.BeginUpdate([] {}, [stop = request.stop] { stop->Request(); });
    const int status = RunUpdateAll(request);
    context.stop.EndUpdate();
    return static_cast<ExitStatus>(status);
}

}  // namespace

ExitStatus StatusOfUpdateEnd(UpdateEnd end, bool cancel_requested) {
    if (end == UpdateEnd::kSuccess) return ExitStatus::kSuccess;
    if (cancel_requested) return ExitStatus::kCancelled;
    switch (end) {
        case UpdateEnd::kRefused:
            return ExitStatus::kRefused;
        case UpdateEnd::kCancelled:
            return ExitStatus::kCancelled;
        default:
            return ExitStatus::kUpdateFailed;
    }
}

std::string NothingToUpdateText(const std::string &port, const std::string &version) {
    return "The adapter at " + port + " already has firmware " + version + " (the image's is " +
           VersionText(VerNum) + "): nothing to update. Give --force to update it all the same.\n";
}

ExitStatus RunUpdateCommand(RunContext &context) {
    if (context.options.all) return RunUpdateAllCommand(context);

    AdapterSession &session = *context.session;
    const CheckResult check = CheckAdapter(session, context.options);
    nlohmann::json details = nlohmann::json::object();
    if (!check.found) {
        EmitResult(context.output, ExitStatus::kNotFound);
        return ExitStatus::kNotFound;
    }
    details["port"] = ValidUtf8(session.ComPortName);
    const std::string version_before = check.version_read ? VersionText(session.CurVerNum) : "";
    if (!version_before.empty()) details["version_before"] = version_before;

    if (check.version_read && session.CurVerNum >= VerNum && !context.options.force) {
        context.output.Say(NothingToUpdateText(session.ComPortName, version_before));
        details["version_after"] = version_before;
        EmitResult(context.output, ExitStatus::kSuccess, details);
        return ExitStatus::kSuccess;
    }
    // An adapter whose version could not be read may hold an update that never finished: the
    // update goes on, it is the repair. A build that may not update the adapter refuses at the
    // worker's first step, with its own lines, and needs no confirmation.
    if (ImageMayUpdateAdapter(session) && !Confirmed(context, version_before)) {
        EmitResult(context.output, ExitStatus::kRefused, details);
        return ExitStatus::kRefused;
    }

    const UpdateEnd end = RunWholeUpdate(context);
    const ExitStatus status = StatusOfUpdateEnd(end, context.stop.CancelRequested());
    if (end == UpdateEnd::kSuccess) {
        BtAddress written{};
        std::copy(std::begin(session.BT_ADD), std::end(session.BT_ADD), written.begin());
        details["address"] = FormatBtAddress(written);
        details["version_after"] = VersionText(session.CurVerNum);
    }
    if (status == ExitStatus::kCancelled) context.output.Say("Cancelled.\n");
    EmitResult(context.output, status, details);
    return status;
}

}  // namespace tornelvox::cli
