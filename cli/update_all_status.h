// The exit statuses of `tornelvox update`, as `update --all` reads its children's and sets its
// own. The numbers are those of the program's own list (cli/exit_status.h); the test of the
// exit rule checks that the two agree.
#pragma once

#include <optional>
#include <string_view>

namespace tornelvox::cli::update_all {

enum class ExitStatus : int {
    kSuccess = 0,
    kUpdateFailed = 3,
    kBadUsage = 7,
    kAdapterNotFound = 1,
    kVersionUnreadable = 2,
    kCancelled = 4,
    kRefused = 5,
    kSettingsNotAllWritten = 6,
};

// The word a result line's "status" carries for status ("success", "failed", ...).
std::string_view StatusWord(ExitStatus status);

// The status a child's exit code stands for; nothing for a code no status has.
std::optional<ExitStatus> StatusFromExitCode(int code);

constexpr int ExitCode(ExitStatus status) {
    return static_cast<int>(status);
}

}  // namespace tornelvox::cli::update_all
