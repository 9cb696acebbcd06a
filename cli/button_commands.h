// The command line has no buttons. After a line of the log that advises clicking one, the program
// says on a line of its own which command does the same here.
#pragma once

#include <string>
#include <string_view>

#include "cli/options.h"

namespace tornelvox::cli {

// What the added line needs to know of the run: the command running and the node options it was
// given, so that the command it names works as given.
struct ButtonCommandContext {
    Command running = Command::kCheck;
    std::string port;        // --port, or empty
    std::string device_dir;  // --device-dir, or empty
};

ButtonCommandContext ButtonCommandContextOf(const Options &options);

// The line (ending "\n") to add after log_line, one line of the log without its line break; empty
// when log_line advises no button, or advises the command that is running already.
std::string CommandInsteadOfButton(std::string_view log_line, const ButtonCommandContext &context);

// word as a shell reads it back: as it is when it holds nothing the shell treats specially.
std::string ShellWord(const std::string &word);

}  // namespace tornelvox::cli
