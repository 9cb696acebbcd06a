// The exit statuses of `update --all`'s own result, with the words its JSON result line carries.
// The numbers are those of the program's own list (cli/exit_status.h); update_all.cpp asserts
// that the two agree.
#pragma once

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

constexpr int ExitCode(ExitStatus status) {
    return static_cast<int>(status);
}

}  // namespace tornelvox::cli::update_all
