// `tornelvox check`: the Check action and its log.

#include "cli/commands.h"
#include "cli/json_text.h"
#include "firmware/firmware_update.h"
#include "serial/serial_port.h"

namespace tornelvox::cli {

CheckResult CheckAdapter(AdapterSession &session, const Options &options) {
    return options.port.empty() ? RunCheck(session) : RunCheckAt(session, options.port);
}

void EmitResult(Output &output, ExitStatus status, nlohmann::json details) {
    details["type"] = "result";
    details["status"] = StatusName(status);
    details["exit"] = ToInt(status);
    output.Json(details);
}

ExitStatus RunCheckCommand(RunContext &context) {
    AdapterSession &session = *context.session;
    const CheckResult result = CheckAdapter(session, context.options);
    nlohmann::json details = nlohmann::json::object();
    ExitStatus status = ExitStatus::kSuccess;
    if (!result.found) {
        status = ExitStatus::kNotFound;
    } else {
        details["port"] = ValidUtf8(session.ComPortName);
        if (result.version_read) {
            details["version"] = VersionText(session.CurVerNum);
        } else {
            status = ExitStatus::kVersionUnreadable;
        }
    }
    EmitResult(context.output, status, details);
    return status;
}

}  // namespace tornelvox::cli
