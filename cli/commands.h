// The program's commands, each over the workflows, each returning its exit status.
#pragma once

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/cli_front_end.h"
#include "cli/exit_status.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/stop_signals.h"
#include "workflow/adapter_session.h"
#include "workflow/check_flow.h"

namespace tornelvox::cli {

struct RunContext {
    const Options &options;
    Output &output;
    StopSignals &stop;
    std::shared_ptr<CliFrontEnd> front_end;
    // The adapter's session: its port, what was learned of it, its settings and run flags.
    std::shared_ptr<AdapterSession> session;
};

ExitStatus RunPortsCommand(RunContext &context);
ExitStatus RunCheckCommand(RunContext &context);
ExitStatus RunUpdateCommand(RunContext &context);
ExitStatus RunSettingsCommand(RunContext &context);
ExitStatus RunSettingsSetCommand(RunContext &context);

// The Check, on the node --port names or by the search.
CheckResult CheckAdapter(AdapterSession &session, const Options &options);

// The exit status of an update that ended at end; a stop asked for turns any end but success into
// cancelled.
ExitStatus StatusOfUpdateEnd(UpdateEnd end, bool cancel_requested);

// What the update says when the adapter at port already has version (or a later one).
std::string NothingToUpdateText(const std::string &port, const std::string &version);

// With --json, the last line: {"type":"result","status":...,"exit":...} and details.
void EmitResult(Output &output, ExitStatus status,
                nlohmann::json details = nlohmann::json::object());

}  // namespace tornelvox::cli
