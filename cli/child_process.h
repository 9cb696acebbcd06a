// One child program started with its input from /dev/null and its output and error output on
// pipes the parent reads without blocking.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace tornelvox::cli {

// How a child ended.
struct ChildEnd {
    bool by_signal = false;
    int code = 0;  // exit code, or the signal's number when by_signal
};

class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;
    ChildProcess(ChildProcess &&other) noexcept;
    ChildProcess &operator=(ChildProcess &&other) = delete;
    // Closes the pipes; a child still running is killed and reaped, never left behind.
    ~ChildProcess();

    // Starts argv[0] (a path) with argv. Its stdin is /dev/null, its stdout and stderr go to
    // two pipes whose read ends are non-blocking; stop signals have their default action and
    // none is blocked in the child, whatever this process set for itself. Only with
    // keep_hangup_ignored does SIGHUP keep this process's disposition: ignored, when this process
    // was started with it ignored (nohup) and has kept it so. False with the reason in words when
    // it cannot start.
    bool Start(const std::vector<std::string> &argv, std::string &error,
               bool keep_hangup_ignored = false);

    int OutputFd() const { return out_fd_; }
    int ErrorFd() const { return err_fd_; }
    void CloseOutput();
    void CloseError();

    // Sends signal to the child while it has not been reaped.
    void Signal(int signal_number);

    // Reaps the child if it has ended, without waiting.
    std::optional<ChildEnd> TryReap();

    bool Running() const { return pid_ > 0; }

  private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
};

// The child's end in words: "exit code 3", "killed by signal 9 (Killed)".
std::string DescribeEnd(const ChildEnd &end);

}  // namespace tornelvox::cli
