// The command-line program's exit statuses: one for each way a command can end.
#pragma once

namespace tornelvox::cli {

enum class ExitStatus : int {
    kSuccess = 0,
    kNotFound = 1,           // no adapter answered (the search, or the node given with --port)
    kVersionUnreadable = 2,  // the adapter answered but its firmware version could not be read
    kUpdateFailed = 3,       // the update ended at its failure end
    kCancelled = 4,          // SIGINT, SIGHUP or SIGTERM: cancelled, or ended before finishing
    kRefused = 5,            // nothing written: this build may not update the adapter, no address
                             // was chosen, the address question went unanswered, the update was
                             // not confirmed
    kSettingsFailed = 6,     // a setting could not be read, or not all were written
    kBadUsage = 7,           // the command line was wrong: options, setting names or values
};

// Short name of a status, as the JSON result line carries it ("success", "not-found", ...).
const char *StatusName(ExitStatus status);

inline int ToInt(ExitStatus status) {
    return static_cast<int>(status);
}

}  // namespace tornelvox::cli
