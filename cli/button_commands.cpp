#include "cli/button_commands.h"

namespace tornelvox::cli {

namespace {

struct ButtonAdvice {
    std::string_view advice;  // the log's line, without the spaces around it
    Command command;          // the command that does what the button does
    std::string_view words;   // that command as typed after the program's name
};

// Every line of the log that advises a button, and the command that does the same.
constexpr ButtonAdvice kButtonAdvice[] = {
    {"Click \"Update\" to update firmware.", Command::kUpdate, "update"},
    {"Click \"Update\" to repair it.", Command::kUpdate, "update"},
    {"Click \"Setting\" to set parameters.", Command::kSettings, "settings"},
};

std::string_view Trimmed(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r";
    const std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(kSpace);
    return text.substr(first, last - first + 1);
}

}  // namespace

ButtonCommandContext ButtonCommandContextOf(const Options &options) {
    return {options.command, options.port, options.device_dir};
}

std::string ShellWord(const std::string &word) {
    bool plain = !word.empty();
    for (const char c : word) {
        const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') ||
                          std::string_view("/._-+,:=@%").find(c) != std::string_view::npos;
        if (!safe) plain = false;
    }
    if (plain) return word;
    std::string quoted = "'";
    for (const char c : word) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::string CommandInsteadOfButton(std::string_view log_line, const ButtonCommandContext &context) {
    const std::string_view line = Trimmed(log_line);
    for (const ButtonAdvice &row : kButtonAdvice) {
        if (line != row.advice) continue;
        // Running that command already (settings set is the Setting button too): the run goes
        // on to do it.
        const Command running =
            context.running == Command::kSettingsSet ? Command::kSettings : context.running;
        if (row.command == running) return {};
        std::string command = "tornelvox " + std::string(row.words);
        if (!context.port.empty()) command += " --port " + ShellWord(context.port);
        if (!context.device_dir.empty())
            command += " --device-dir " + ShellWord(context.device_dir);
        return " On the command line: " + command + "\n";
    }
    return {};
}

}  // namespace tornelvox::cli
