// The exit statuses of `tornelvox update`, as `update --all` reads its children's and sets its
// own. This is the one place update --all names them: when the program's own list of exit
// statuses is shared, these become aliases of it.
#pragma once

#include <optional>
#include <string_view>

namespace tornelvox::cli::update_all {

enum class ExitStatus : int {
    kSuccess = 0,
    kUpdateFailed = 1,
    kBadUsage = 2,
    kAdapterNotFound = 3,
    kVersionUnreadable = 4,
    kCancelled = 5,
    kRefused = 6,
    kSettingsNotAllWritten = 7,
};

// The word a result line's "status" carries for status ("success", "failed", ...).
std::string_view StatusWord(ExitStatus status);

// The status a child's exit code stands for; nothing for a code no status has.
std::optional<ExitStatus> StatusFromExitCode(int code);

constexpr int ExitCode(ExitStatus status) {
    return static_cast<int>(status);
}

}  // namespace tornelvox::cli::update_all
