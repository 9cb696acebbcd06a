#include "cli/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <utility>

extern char **environ;

namespace tornelvox::cli {

namespace {

void CloseFd(int &fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// A pipe whose ends close on exec; the read end does not block.
bool MakePipe(int ends[2]) {
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    const int flags = fcntl(ends[0], F_GETFL);
    fcntl(ends[0], F_SETFL, flags | O_NONBLOCK);
    return true;
}

}  // namespace

ChildProcess::ChildProcess(ChildProcess &&other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      out_fd_(std::exchange(other.out_fd_, -1)),
      err_fd_(std::exchange(other.err_fd_, -1)) {}

ChildProcess::~ChildProcess() {
    CloseFd(out_fd_);
    CloseFd(err_fd_);
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
}

bool ChildProcess::Start(const std::vector<std::string> &argv, std::string &error,
                         bool keep_hangup_ignored) {
    if (argv.empty()) {
        error = "no program to run";
        return false;
    }
    int out_pipe[2] = {-1, -1};
    int err_pipe[2] = {-1, -1};
    if (!MakePipe(out_pipe) || !MakePipe(err_pipe)) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        CloseFd(out_pipe[0]);
        CloseFd(out_pipe[1]);
        return false;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaddset(&defaults, signal_number);
    if (keep_hangup_ignored) sigdelset(&defaults, SIGHUP);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char *> args;
    args.reserve(argv.size() + 1);
    for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);

    pid_t pid = -1;
    const int result = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    CloseFd(out_pipe[1]);
    CloseFd(err_pipe[1]);
    if (result != 0) {
        error = "cannot start " + argv[0] + ": " + std::strerror(result);
        CloseFd(out_pipe[0]);
        CloseFd(err_pipe[0]);
        return false;
    }
    pid_ = pid;
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
    return true;
}

void ChildProcess::CloseOutput() {
    CloseFd(out_fd_);
}

void ChildProcess::CloseError() {
    CloseFd(err_fd_);
}

void ChildProcess::Signal(int signal_number) {
    if (pid_ > 0) kill(pid_, signal_number);
}

std::optional<ChildEnd> ChildProcess::TryReap() {
    if (pid_ <= 0) return std::nullopt;
    int status = 0;
    pid_t reaped = -1;
    do {
        reaped = waitpid(pid_, &status, WNOHANG);
    } while (reaped < 0 && errno == EINTR);
    if (reaped == 0) return std::nullopt;
    pid_ = -1;
    if (reaped < 0) return ChildEnd{.by_signal = false, .code = -1};
    if (WIFSIGNALED(status)) return ChildEnd{.by_signal = true, .code = WTERMSIG(status)};
    return ChildEnd{.by_signal = false, .code = WEXITSTATUS(status)};
}

std::string DescribeEnd(const ChildEnd &end) {
    if (!end.by_signal) return "exit code " + std::to_string(end.code);
    const char *name = strsignal(end.code);
    return "killed by signal " + std::to_string(end.code) +
           (name != nullptr ? std::string(" (") + name + ")" : std::string());
}

}  // namespace tornelvox::cli
