#include "cli/options.h"

#include <cstdio>

#include "firmware/firmware_update.h"

namespace tornelvox::cli {

namespace {

constexpr const char *kFooter = R"(Exit status:
  0  success
  1  adapter not found
  2  the adapter's firmware version could not be read (check)
  3  the update failed
  4  cancelled (Ctrl-C, SIGHUP or SIGTERM; under nohup a hangup is ignored)
  5  refused: nothing written (this build may not update the adapter, no BT address chosen,
     the address question unanswered, the update not confirmed)
  6  a setting could not be read, or not all were written
  7  bad usage (options, setting names or values)

Bluetooth addresses are written most significant byte first, as they are printed:
--address 06:04:03:00:01:00 is stored in the adapter's name page as the bytes 00 01 00 03 04 06.

With --json, stdout carries one JSON object per line: {"type":"log","text":...} for each text of
the log, {"type":"progress",...} for each step of an update, {"type":"message","text":...} for
the program's own words, and last {"type":"result","status":...,"exit":...}. A byte that is not
UTF-8 is written as \u00XX (the byte read as Latin-1).)";

std::string VersionText() {
    char text[96];
    std::snprintf(text, sizeof text, "tornelvox %s (firmware image %X.%02X)", Ver_Num,
                  static_cast<unsigned>(VerNum) >> 8, static_cast<unsigned>(VerNum) & 0xFF);
    return text;
}

void AddCommonOptions(CLI::App &command, Options &options) {
    command.add_option("--port", options.port, "Use this device node; no search");
    command.add_option("--device-dir", options.device_dir,
                       "Folder to search for the adapter's node (default /dev)");
    command.add_flag("--json", options.json, "One JSON object per line on stdout");
}

}  // namespace

void DefineOptions(CLI::App &app, Options &options) {
    app.description(
        "Tornelvox Utility: finds the Tornelvox USB serial adapter, reads its firmware "
        "version, updates its firmware, reads and writes its settings.");
    app.footer(kFooter);
    app.set_version_flag("--version", VersionText());
    app.require_subcommand(1);
    AddCommonOptions(app, options);

    CLI::App *ports = app.add_subcommand("ports", "List the candidate nodes and what each one is");
    CLI::App *check = app.add_subcommand("check", "Find the adapter and read its firmware version");
    CLI::App *update = app.add_subcommand(
        "update", "Check, then update the adapter's firmware (asks first on a terminal)");
    update->add_flag("--yes,-y", options.yes, "Update without asking for confirmation");
    update->add_flag("--force", options.force,
                     "Update also an adapter that already has the image's version or newer");
    update->add_flag("--all", options.all, "Update every adapter found");
    CLI::Option *address = update->add_option(
        "--address", options.address,
        "Answer the update's address question with this BT address, XX:XX:XX:XX:XX:XX, most "
        "significant byte first");
    CLI::Option *new_address = update->add_flag(
        "--new-address", options.new_address,
        "Answer the update's address question with the built-in address (a new address: "
        "paired phones must pair again)");
    update->add_flag(
        "--verify-all", options.verify_all,
        "After the check value matches, also read back image pages 125 to 252, which the check "
        "value does not cover, and compare them with the image (about 46 s more)");
    address->excludes(new_address);
    new_address->excludes(address);

    CLI::App *settings =
        app.add_subcommand("settings", "Print every setting the adapter's firmware has");
    CLI::App *set = settings->add_subcommand("set", "Write settings: NAME=VALUE ...");
    set->add_option("assignments", options.assignments,
                    "Settings to write, as NAME=VALUE; names and values as `settings` prints "
                    "them (case, spaces, '-' and '_' alike), a dialog's item or a level's index")
        ->required()
        ->expected(1, -1);

    for (CLI::App *command : {ports, check, update, settings, set}) {
        command->fallthrough();
    }
}

Command ParsedCommand(const CLI::App &app) {
    if (app.got_subcommand("ports")) return Command::kPorts;
    if (app.got_subcommand("update")) return Command::kUpdate;
    if (app.got_subcommand("settings")) {
        const CLI::App *settings = app.get_subcommand("settings");
        return settings->got_subcommand("set") ? Command::kSettingsSet : Command::kSettings;
    }
    return Command::kCheck;
}

}  // namespace tornelvox::cli
