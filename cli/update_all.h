// `tornelvox update --all`: updates every adapter found at once, one child `tornelvox update`
// per adapter, all running in parallel:
//
//   PROGRAM update --port PORT --json --yes [--force] [--address XX:..] [--new-address]
//                  [--verify-all] [--device-dir DIR]
//
// with its stdin from /dev/null and its stdout and stderr read by this process. Each adapter's
// log texts (and its child's error output) go to a file of its own in the log folder. On a
// terminal a live table shows each adapter's attempt, stage and percentage; otherwise plain
// lines say the same when it changes. A final table gives each adapter's address, versions
// before and after, result in words and time. With --json every line a child prints is printed
// again with "port" added, and a result line of this run's own comes last.
//
// Each adapter ends as success, failed, refused or cancelled. A child that dies by a signal, or
// ends without a result line, or prints nothing for the silence limit, has failed. The exit
// status (CombinedStatus):
//   - success when every adapter's update succeeded;
//   - cancelled when a stop was asked for (and not every update had already succeeded);
//   - otherwise failed if any adapter failed, else cancelled if any was cancelled, else refused.
// No port at all: adapter not found. --address with more than one port: bad usage (it would
// give every adapter the same address).
#pragma once

#include <atomic>
#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "cli/adapter_table.h"
#include "cli/update_all_status.h"

namespace tornelvox::cli {

// The options of `update --all` each child is given as they are.
struct ForwardedOptions {
    bool force = false;
    std::string address;  // --address's value; empty for none
    bool new_address = false;
    bool verify_all = false;
    std::string device_dir;  // --device-dir's value; empty for none
};

struct UpdateAllRequest {
    std::string program;             // run for each adapter; the caller passes /proc/self/exe
    std::vector<std::string> ports;  // the adapters' ports, found by the caller
    ForwardedOptions forwarded;
    bool json = false;            // --json: JSON lines on out
    bool terminal = false;        // out is a terminal: a live table instead of plain lines
    std::string log_dir;          // each adapter's log goes here; made 0700 when missing
    std::ostream *out = nullptr;  // defaults to std::cout
    std::ostream *err = nullptr;  // defaults to std::cerr
    // A stop asked for (SIGINT, SIGHUP, SIGTERM to this process): every child is sent SIGTERM
    // and read until it ends. stop is looked at at least once a second; stop_fd, when it is not
    // -1, is polled with the children's pipes, and its becoming readable is a stop as well
    // (the read end of a self-pipe a signal handler writes to).
    const std::atomic<bool> *stop = nullptr;
    int stop_fd = -1;
    // The program was started with SIGHUP ignored (nohup): every child keeps it ignored, so that
    // the updates outlive the session as the user meant. Otherwise each child starts with
    // SIGHUP's default action.
    bool hangup_ignored = false;
    // A child still running this long after its SIGTERM is killed (and has failed).
    std::chrono::milliseconds stop_grace{std::chrono::seconds(30)};
    // A child that prints nothing for this long is sent SIGTERM (and has failed). Time this
    // process spends stopped (Ctrl-Z until fg) counts neither here nor in stop_grace.
    std::chrono::milliseconds silence_limit{std::chrono::minutes(5)};
};

// The child's command line for port.
std::vector<std::string> ChildCommand(const UpdateAllRequest &request, const std::string &port);

// The exit status for the adapters' outcomes (the rule above).
update_all::ExitStatus CombinedStatus(const std::vector<AdapterRow> &rows, bool stop_requested);

// Runs the updates to their ends and returns the exit status's code. Never throws.
int RunUpdateAll(const UpdateAllRequest &request);

}  // namespace tornelvox::cli
