// The program and the emulator as processes of their own, for the end-to-end tests.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tornelvox::cli_test {

struct Finished {
    bool exited = false;  // ended by exit, not by a signal or the test's limit
    int status = -1;      // its exit status
    std::string out;
    std::string err;
};

// A child process with stdin from /dev/null and stdout and stderr read through pipes.
class Child {
  public:
    Child(const std::vector<std::string> &argv, const std::vector<std::string> &environment);
    ~Child();
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    // The next whole line of stdout, without its end; nothing when stdout ends or limit passes.
    std::optional<std::string> ReadLine(std::chrono::milliseconds limit);
    void Signal(int signal_number);
    // Reads both pipes to their end and reaps the child; kills it when limit passes.
    Finished Wait(std::chrono::milliseconds limit);

  private:
    bool ReadSome(int fd, std::string &into, std::chrono::milliseconds limit);

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string out_buffer_;
    std::string out_seen_;  // every byte of stdout read so far
    std::string err_seen_;
};

}  // namespace tornelvox::cli_test
