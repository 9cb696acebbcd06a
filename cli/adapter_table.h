// The state of each adapter's update under `update --all`, and the tables that show it: a live
// one while the updates run and the final one after them.
#pragma once

#include <string>
#include <vector>

namespace tornelvox::cli {

// How far an adapter's update has come, as its last progress report said.
struct AdapterProgress {
    int attempt = 0;
    std::string stage;  // "erasing", "writing", "verifying"
    int done = 0;
    int total = 0;
};

// What an adapter's update ended with; fields it could not learn stay empty.
struct AdapterResult {
    std::string address;
    std::string version_before;
    std::string version_after;
};

enum class AdapterOutcome { kRunning, kSuccess, kFailed, kRefused, kCancelled };

struct AdapterRow {
    std::string port;
    AdapterProgress progress;
    bool progress_seen = false;
    AdapterResult result;
    AdapterOutcome outcome = AdapterOutcome::kRunning;
    std::string reason;  // why it failed, was refused or cancelled, in words
    double seconds = 0;  // from its start to its end
};

// "running", "success", "failed", "refused", "cancelled".
const char *OutcomeWord(AdapterOutcome outcome);

// The stage's share done, 0 to 100.
int Percent(const AdapterProgress &progress);

// "success", or the outcome with its reason: "refused: ...".
std::string ResultInWords(const AdapterRow &row);

// The live table, a line per adapter no wider than an ordinary terminal: port, attempt, stage
// and percentage, or the outcome once ended.
std::vector<std::string> LiveTable(const std::vector<AdapterRow> &rows);

// The table after every update ended: port, address, version before and after, time, result.
std::string FinalTable(const std::vector<AdapterRow> &rows);

}  // namespace tornelvox::cli
