// The command line: commands, options, the help text with the exit statuses.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace tornelvox::cli {

enum class Command { kPorts, kCheck, kUpdate, kSettings, kSettingsSet };

struct Options {
    Command command = Command::kCheck;
    std::string port;        // --port: this node, no search
    std::string device_dir;  // --device-dir
    bool json = false;
    // update
    bool yes = false;
    bool force = false;
    bool all = false;
    std::string address;  // --address, as written
    bool new_address = false;
    bool verify_all = false;  // --verify-all: read the whole image back after the check value
    // settings set
    std::vector<std::string> assignments;
};

// Defines every command and option on app, filling options when app parses.
void DefineOptions(CLI::App &app, Options &options);

// The command that app parsed.
Command ParsedCommand(const CLI::App &app);

}  // namespace tornelvox::cli
