// Each adapter's message log under `update --all`: a file of its own, and the last line of it
// that says something, which the final table gives as the reason for a failure.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace tornelvox::cli {

// The log file's name for port: the path's characters other than letters, digits, '.', '-'
// and '_' become '_', leading ones dropped, ".log" added ("/dev/ttyUSB0" -> "dev_ttyUSB0.log").
std::string LogFileName(const std::string &port);

class AdapterLog {
  public:
    AdapterLog() = default;
    AdapterLog(const AdapterLog &) = delete;
    AdapterLog &operator=(const AdapterLog &) = delete;
    ~AdapterLog();

    // Creates (or empties) the file at path. False with the reason when it cannot; the texts
    // are still followed for the last line.
    bool Open(const std::string &path, std::string &error);

    // Appends a log text as it came (a fragment, a line, several lines) and flushes it. A text
    // that is not the adapter's own (a note of update --all) is written with follow false: it
    // never becomes the last line.
    void Add(std::string_view text, bool follow = true);

    // The last complete line with at least three letters in it; empty when there is none.
    const std::string &LastSubstantiveLine() const { return last_line_; }

  private:
    std::FILE *file_ = nullptr;
    std::string line_;
    std::string last_line_;
};

}  // namespace tornelvox::cli
