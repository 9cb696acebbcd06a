#include "cli/update_all_status.h"

#include <array>
#include <utility>

namespace tornelvox::cli::update_all {

namespace {

constexpr std::array<std::pair<ExitStatus, std::string_view>, 8> kWords{{
    {ExitStatus::kSuccess, "success"},
    {ExitStatus::kUpdateFailed, "failed"},
    {ExitStatus::kBadUsage, "bad_usage"},
    {ExitStatus::kAdapterNotFound, "adapter_not_found"},
    {ExitStatus::kVersionUnreadable, "version_unreadable"},
    {ExitStatus::kCancelled, "cancelled"},
    {ExitStatus::kRefused, "refused"},
    {ExitStatus::kSettingsNotAllWritten, "settings_not_all_written"},
}};

}  // namespace

std::string_view StatusWord(ExitStatus status) {
    for (const auto &[known, word] : kWords) {
        if (known == status) return word;
    }
    return "unknown";
}

}  // namespace tornelvox::cli::update_all
