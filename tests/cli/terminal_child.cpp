#include "terminal_child.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace tornelvox::cli_test {

TerminalChild::TerminalChild(const std::vector<std::string> &argv,
                             const std::vector<std::string> &environment) {
    std::vector<char *> args;
    for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    winsize size{};
    size.ws_row = 40;
    size.ws_col = 100;
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        for (const std::string &setting : environment) putenv(const_cast<char *>(setting.c_str()));
        execv(args[0], args.data());
        _exit(127);
    }
    if (pid_ < 0) master_ = -1;
}

TerminalChild::~TerminalChild() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
}

bool TerminalChild::ReadSome(std::chrono::milliseconds limit) {
    if (master_ < 0) return false;
    pollfd ready{master_, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(limit.count())) <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) return false;  // the program's side of the terminal has closed (EIO)
    screen_.append(buffer, static_cast<std::size_t>(n));
    return true;
}

bool TerminalChild::Expect(const std::string &text, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const std::size_t found = screen_.find(text, expected_up_to_);
        if (found != std::string::npos) {
            expected_up_to_ = found + text.size();
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !ReadSome(left)) return false;
    }
}

void TerminalChild::Type(const std::string &text) {
    if (master_ >= 0) [[maybe_unused]]
        const ssize_t written = write(master_, text.data(), text.size());
}

int TerminalChild::Wait(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool closed = false;
    while (!closed) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        closed = !ReadSome(left) && std::chrono::steady_clock::now() < deadline;
    }
    if (pid_ <= 0) return -1;
    if (!closed) kill(pid_, SIGKILL);  // still running at the limit: it hung
    int status = 0;
    const bool reaped = waitpid(pid_, &status, 0) == pid_;
    pid_ = -1;
    return closed && reaped && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tornelvox::cli_test
