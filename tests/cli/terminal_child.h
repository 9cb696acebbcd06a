// A child process whose stdin, stdout and stderr are one pseudo-terminal, as when a person runs
// the program: the test reads what the screen would show and types answers.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace tornelvox::cli_test {

class TerminalChild {
  public:
    TerminalChild(const std::vector<std::string> &argv,
                  const std::vector<std::string> &environment);
    ~TerminalChild();
    TerminalChild(const TerminalChild &) = delete;
    TerminalChild &operator=(const TerminalChild &) = delete;

    bool Started() const { return pid_ > 0; }
    // Reads the screen's output until text has appeared since the last Expect; false when the
    // terminal closes or limit passes first.
    bool Expect(const std::string &text, std::chrono::milliseconds limit);
    // Types text, as a person at the keyboard would.
    void Type(const std::string &text);
    // Reads to the end and reaps the child (killed when limit passes); its exit status, or -1.
    int Wait(std::chrono::milliseconds limit);
    // Everything the program wrote to the terminal.
    const std::string &Screen() const { return screen_; }

  private:
    bool ReadSome(std::chrono::milliseconds limit);

    pid_t pid_ = -1;
    int master_ = -1;
    std::string screen_;
    std::size_t expected_up_to_ = 0;
};

}  // namespace tornelvox::cli_test
