#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tornelvox::cli_test {

Child::Child(const std::vector<std::string> &argv, const std::vector<std::string> &environment) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return;
    }
    std::vector<char *> args;
    for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        // The test may run with signals blocked or ignored; the child starts plain.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        // No terminal: the program must not find one to ask on.
        setsid();
        for (const std::string &setting : environment) putenv(const_cast<char *>(setting.c_str()));
        execv(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
}

Child::~Child() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
}

bool Child::ReadSome(int fd, std::string &into, std::chrono::milliseconds limit) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(limit.count())) <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    into.append(buffer, static_cast<std::size_t>(n));
    return true;
}

std::optional<std::string> Child::ReadLine(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const std::size_t end = out_buffer_.find('\n');
        if (end != std::string::npos) {
            std::string line = out_buffer_.substr(0, end);
            out_buffer_.erase(0, end + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || out_ < 0) return std::nullopt;
        std::string chunk;
        if (!ReadSome(out_, chunk, left)) return std::nullopt;
        out_buffer_ += chunk;
        out_seen_ += chunk;
    }
}

void Child::Signal(int signal_number) {
    if (pid_ > 0) kill(pid_, signal_number);
}

Finished Child::Wait(std::chrono::milliseconds limit) {
    Finished finished;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool out_open = out_ >= 0;
    bool err_open = err_ >= 0;
    while (out_open || err_open) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd fds[2] = {{out_open ? out_ : -1, POLLIN, 0}, {err_open ? err_ : -1, POLLIN, 0}};
        if (poll(fds, 2, static_cast<int>(left.count())) <= 0) break;
        char buffer[4096];
        if (fds[0].revents != 0) {
            const ssize_t n = read(out_, buffer, sizeof buffer);
            if (n <= 0) out_open = false;
            if (n > 0) out_seen_.append(buffer, static_cast<std::size_t>(n));
        }
        if (fds[1].revents != 0) {
            const ssize_t n = read(err_, buffer, sizeof buffer);
            if (n <= 0) err_open = false;
            if (n > 0) err_seen_.append(buffer, static_cast<std::size_t>(n));
        }
    }
    if (out_open || err_open) kill(pid_, SIGKILL);
    int status = 0;
    if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) {
        finished.exited = !(out_open || err_open) && WIFEXITED(status);
        finished.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    pid_ = -1;
    finished.out = out_seen_;
    finished.err = err_seen_;
    return finished;
}

}  // namespace tornelvox::cli_test
