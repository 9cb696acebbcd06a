#include "cli/exit_status.h"

namespace tornelvox::cli {

const char *StatusName(ExitStatus status) {
    switch (status) {
        case ExitStatus::kSuccess:
            return "success";
        case ExitStatus::kNotFound:
            return "not-found";
        case ExitStatus::kVersionUnreadable:
            return "version-unreadable";
        case ExitStatus::kUpdateFailed:
            return "update-failed";
        case ExitStatus::kCancelled:
            return "cancelled";
        case ExitStatus::kRefused:
            return "refused";
        case ExitStatus::kSettingsFailed:
            return "settings-failed";
        case ExitStatus::kBadUsage:
            return "bad-usage";
    }
    return "unknown";
}

}  // namespace tornelvox::cli
