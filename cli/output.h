// Everything the program writes while it runs: the log's texts, its own words, the update's
// progress and, with --json, one JSON object per line. Safe from any thread. A write that fails
// (a closed terminal, a closed pipe) is dropped; the program never dies of it.
#pragma once

#include <chrono>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "workflow/front_end.h"

namespace tornelvox::cli {

enum class OutputMode {
    kTerminal,  // stdout is a terminal: the log, and a progress bar kept on the last line
    kPlain,     // stdout is not a terminal: the log on stdout, progress lines on stderr
    kJson,      // one JSON object per line on stdout
};

class Output {
  public:
    explicit Output(OutputMode mode);

    OutputMode Mode() const { return mode_; }

    // One text of the message log as formatted; on a terminal or in plain text every control
    // character but its line breaks and tabs is shown as \xNN.
    void Log(const std::string &text);
    // The program's own words (a whole line or more, ending "\n"): with the log on stdout, or as
    // {"type":"message","text":...}.
    void Say(const std::string &text);
    // The user typed an answer to a question and ended its line on the terminal.
    void AnswerTyped();
    // A complaint about the command line: on stderr, or as a message line.
    void Complain(const std::string &text);
    // A step of the update.
    void Progress(const UpdateProgress &progress);
    // The update ended: the bar goes away, the log goes on below it.
    void EndProgress();
    // Writes one JSON object as a line (with --json only).
    void Json(const nlohmann::json &object);

  private:
    void WriteOut(const std::string &text);
    void WriteErr(const std::string &text);
    void AppendLogText(const std::string &text);
    void EraseBar();
    void DrawBar();
    int Rows(const std::string &line) const;

    const OutputMode mode_;
    std::mutex mutex_;
    bool stdout_broken_ = false;
    bool stderr_broken_ = false;
    // The terminal's view: the log's unfinished last line, shown above the bar while a bar is.
    std::string pending_;
    bool bar_shown_ = false;
    bool progress_running_ = false;
    UpdateProgress last_{};
    int columns_ = 80;
    int last_decile_ = -1;  // plain progress lines: the last tenth reported in this attempt
};

}  // namespace tornelvox::cli
