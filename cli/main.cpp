// tornelvox: the Tornelvox Utility on the command line. See `tornelvox --help`.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "firmware/address_backup.h"
#include "serial/standard_descriptors.h"
#include "workflow/adapter_session.h"
#include "workflow/front_end.h"

namespace {

using tornelvox::cli::ExitStatus;

ExitStatus Run(const tornelvox::cli::Options &options) {
    using namespace tornelvox::cli;
    const OutputMode mode = options.json                 ? OutputMode::kJson
                            : isatty(STDOUT_FILENO) == 1 ? OutputMode::kTerminal
                                                         : OutputMode::kPlain;
    // Never destroyed: the signal thread and a worker may still use them as the process ends.
    auto *output = new Output(mode);
    auto *stop = new StopSignals;
    stop->Start([output] {
        output->EndProgress();
        output->Say("Cancelled.\n");
        EmitResult(*output, ExitStatus::kCancelled);
        _exit(ToInt(ExitStatus::kCancelled));
    });

    AddressChoice choice;
    choice.new_address = options.new_address;
    if (!options.address.empty()) {
        choice.given = tornelvox::ParseBtAddress(options.address);
        if (!choice.given) {
            output->Complain("--address " + options.address +
                             " is not a BT address: write six pairs of hexadecimal digits, "
                             "colon separated, most significant first (06:04:03:00:01:00).\n");
            EmitResult(*output, ExitStatus::kBadUsage);
            return ExitStatus::kBadUsage;
        }
    }
    // The adapter's session; a worker started on it holds it until the worker ends.
    auto session = std::make_shared<tornelvox::AdapterSession>();
    if (!options.device_dir.empty()) session->DeviceDirectory = options.device_dir;

    auto front_end = std::make_shared<CliFrontEnd>(*output, choice, stop->CancelWakeFd(),
                                                   options.verify_all
                                                       ? tornelvox::ImageVerification::kWholeImage
                                                       : tornelvox::ImageVerification::kCheckValue);
    front_end->SayButtonCommands(ButtonCommandContextOf(options));
    tornelvox::RouteMessagesTo(*session, front_end);
    RunContext context{options, *output, *stop, front_end, session};
    switch (options.command) {
        case Command::kPorts:
            return RunPortsCommand(context);
        case Command::kCheck:
            return RunCheckCommand(context);
        case Command::kUpdate:
            return RunUpdateCommand(context);
        case Command::kSettings:
            return RunSettingsCommand(context);
        case Command::kSettingsSet:
            return RunSettingsSetCommand(context);
    }
    return ExitStatus::kBadUsage;
}

}  // namespace

int main(int argc, char **argv) {
    // First of all: a file opened later must never land on a closed standard descriptor.
    tornelvox::EnsureStandardDescriptors();
    // Before any thread starts, so that only the signal thread ever takes them.
    tornelvox::cli::StopSignals::BlockInProcess();
    CLI::App app{"tornelvox"};
    tornelvox::cli::Options options;
    tornelvox::cli::DefineOptions(app, options);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : tornelvox::cli::ToInt(ExitStatus::kBadUsage);
    }
    options.command = tornelvox::cli::ParsedCommand(app);
    int status = 0;
    try {
        status = tornelvox::cli::ToInt(Run(options));
    } catch (const nlohmann::json::exception &error) {
        std::fprintf(stderr, "tornelvox: could not write JSON: %s\n", error.what());
        status = tornelvox::cli::ToInt(ExitStatus::kBadUsage);
    }
    // Ends here, without static destructors: a detached worker may still be using the
    // session and the output.
    std::fflush(stdout);
    std::quick_exit(status);
}
