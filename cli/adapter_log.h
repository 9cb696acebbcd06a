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

// The folder the adapters' logs go to: update-all-logs in the program's state folder, the one
// the address backup is kept in. Empty when no home folder is known.
std::string AdapterLogFolder();

class AdapterLog {
  public:
    AdapterLog() = default;
    AdapterLog(const AdapterLog &) = delete;
    AdapterLog &operator=(const AdapterLog &) = delete;
    ~AdapterLog();

    // Creates (or empties) the file called name in the folder folder_fd (OpenPrivateFolder's),
    // mode 0600, never through a link. False with the reason when it cannot; the texts are still
    // followed for the last line.
    bool Open(int folder_fd, const std::string &name, std::string &error);

    // Appends a log text as it came (a fragment, a line, several lines) and flushes it. A text
    // that is not the adapter's own (a note of update --all) is written with follow false: it
    // never becomes the last line.
    void Add(std::string_view text, bool follow = true);

    // Appends one whole line (without its newline) that did not come through the adapter's log:
    // the program's own words about the adapter, or a note. When the log has an unfinished line
    // (a run of progress dots), the line goes below it; the unfinished line goes on after it.
    void AddLine(std::string_view line, bool follow = true);

    // The last complete line with at least three letters in it; empty when there is none.
    const std::string &LastSubstantiveLine() const { return last_line_; }

  private:
    std::FILE *file_ = nullptr;
    void Write(const std::string &text);

    std::string line_;
    bool file_line_open_ = false;
    std::string last_line_;
};

}  // namespace tornelvox::cli
