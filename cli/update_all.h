// `tornelvox update --all`: updates every adapter found at once, in this one process: each
// adapter's update runs on a thread of its own, in a session of its own, as `tornelvox update
// --port PORT --yes` would run it (AdapterUpdate; the command line's is UpdateAdapter in
// cli/adapter_update.h).
//
// Each adapter's log texts go to a file of its own in the log folder. On a terminal a live table
// shows each adapter's attempt, stage and percentage; otherwise plain lines say the same when it
// changes. A final table gives each adapter's address, versions before and after, result in words
// and time. With --json every log text, progress step and message of an adapter is a JSON line
// with its "port", each adapter's result line comes as it ends, and a result line of the whole
// run comes last.
//
// Each adapter ends as success, failed, refused or cancelled. An update that throws has failed,
// and only it: the exception is caught at its thread's edge. The exit status (CombinedStatus):
//   - success when every adapter's update succeeded;
//   - cancelled when a stop was asked for (and not every update had already succeeded);
//   - otherwise failed if any adapter failed, else cancelled if any was cancelled, else refused.
// No port at all: adapter not found. --address with more than one port: bad usage (it would
// give every adapter the same address).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "cli/adapter_table.h"
#include "cli/exit_status.h"
#include "cli/update_all_status.h"
#include "workflow/front_end.h"

namespace tornelvox::cli {

// The options of `update --all` each adapter's update is given.
struct AdapterUpdateOptions {
    bool force = false;
    std::string address;  // --address's value; empty for none
    bool new_address = false;
    bool verify_all = false;
    std::string device_dir;  // --device-dir's value; empty for none
};

// The stop of a whole run (SIGINT, SIGHUP, SIGTERM), asked for from any thread at any time.
class UpdateAllStop {
  public:
    // Marks the stop and runs every cancel kept so far. Never blocks on the line.
    void Request();
    bool Requested() const;
    // Keeps cancel for a stop to come and returns true; when the stop has been asked for
    // already, runs cancel at once and returns false. A stop comes wholly before or wholly after.
    // cancel must return at once and must not write the run's output.
    bool OnStop(std::function<void()> cancel);

  private:
    mutable std::mutex mutex_;
    bool requested_ = false;
    std::vector<std::function<void()>> cancels_;
};

// What one adapter's update tells the run, from its own thread.
class AdapterReport {
  public:
    virtual ~AdapterReport() = default;
    // One text of the adapter's message log, as ShowMsg formatted it.
    virtual void Log(const std::string &text) = 0;
    // The program's own words about the adapter: a line or more, ending "\n".
    virtual void Say(const std::string &text) = 0;
    // A step of the update.
    virtual void Progress(const UpdateProgress &progress) = 0;
    // As UpdateAllStop::OnStop for the run's stop.
    virtual bool OnStop(std::function<void()> cancel) = 0;
    virtual bool StopRequested() const = 0;
};

// How an adapter's update ended: its status as `tornelvox update` would exit with it.
struct AdapterEnd {
    ExitStatus status = ExitStatus::kUpdateFailed;
    AdapterResult result;
};

// One adapter's whole update, on the calling thread. It may throw: the run catches it at the
// thread's edge, and that adapter has failed.
using AdapterUpdate = std::function<AdapterEnd(
    const std::string &port, const AdapterUpdateOptions &options, AdapterReport &report)>;

struct UpdateAllRequest {
    std::vector<std::string> ports;  // the adapters' ports, found by the caller
    AdapterUpdateOptions options;
    AdapterUpdate update;         // run for each port on a thread of its own
    bool json = false;            // --json: JSON lines on out
    bool terminal = false;        // out is a terminal: a live table instead of plain lines
    std::string log_dir;          // each adapter's log goes here; made 0700 when missing
    std::ostream *out = nullptr;  // defaults to std::cout
    std::ostream *err = nullptr;  // defaults to std::cerr
    // Asked for from the stop signals' thread: every adapter's update is cancelled and the run
    // waits for each to reach its end. Null: the run cannot be stopped.
    std::shared_ptr<UpdateAllStop> stop;
};

// The exit status for the adapters' outcomes (the rule above).
update_all::ExitStatus CombinedStatus(const std::vector<AdapterRow> &rows, bool stop_requested);

// Runs the updates to their ends and returns the exit status's code. Never throws.
int RunUpdateAll(const UpdateAllRequest &request);

}  // namespace tornelvox::cli
