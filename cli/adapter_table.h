// The state of each adapter's update under `update --all`, and the tables that show it: a live
// one while the updates run and the final one after them.
#pragma once

#include <string>
#include <vector>

#include "cli/child_report.h"

namespace tornelvox::cli {

enum class AdapterOutcome { kRunning, kSuccess, kFailed, kRefused, kCancelled };

struct AdapterRow {
    std::string port;
    ChildProgress progress;
    bool progress_seen = false;
    ChildResult result;  // what the child's result line said
    AdapterOutcome outcome = AdapterOutcome::kRunning;
    std::string reason;  // why it failed, was refused or cancelled, in words
    double seconds = 0;  // from its start to its end
};

// "running", "success", "failed", "refused", "cancelled".
const char *OutcomeWord(AdapterOutcome outcome);

// The stage's share done, 0 to 100.
int Percent(const ChildProgress &progress);

// "success", or the outcome with its reason: "refused: ...".
std::string ResultInWords(const AdapterRow &row);

// The live table, a line per adapter no wider than an ordinary terminal: port, attempt, stage
// and percentage, or the outcome once ended.
std::vector<std::string> LiveTable(const std::vector<AdapterRow> &rows);

// The table after every update ended: port, address, version before and after, time, result.
std::string FinalTable(const std::vector<AdapterRow> &rows);

}  // namespace tornelvox::cli
