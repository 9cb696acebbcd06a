// Questions on the terminal: one line of answer read from stdin.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace tornelvox::cli {

// True when stdin is a terminal, so that a question can be answered.
bool CanAsk();

// Reads one line from stdin, without its line end and outer spaces, at most 256 characters kept.
// Nothing when stdin ends or fails, wake_fd becomes readable (-1: none), or limit passes.
std::optional<std::string> ReadAnswer(int wake_fd, std::chrono::seconds limit);

// True for "y" or "yes", in any case.
bool IsYes(const std::string &answer);

}  // namespace tornelvox::cli
