#include "cli/output.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "cli/json_text.h"
#include "cli/progress_meter.h"
#include "serial/outside_text.h"

namespace tornelvox::cli {

namespace {

// Writes all of text to fd; false when the descriptor will take no more.
bool WriteAll(int fd, const std::string &text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int TerminalColumns() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

bool Forward(const UpdateProgress &now, const UpdateProgress &before) {
    return now.attempt == before.attempt;
}

}  // namespace

Output::Output(OutputMode mode) : mode_(mode) {}

void Output::WriteOut(const std::string &text) {
    if (!stdout_broken_ && !WriteAll(STDOUT_FILENO, text)) stdout_broken_ = true;
}

void Output::WriteErr(const std::string &text) {
    if (!stderr_broken_ && !WriteAll(STDERR_FILENO, text)) stderr_broken_ = true;
}

int Output::Rows(const std::string &line) const {
    // Display columns, tabs to the next multiple of eight.
    int column = 0;
    for (const char c : line) column = c == '\t' ? (column / 8 + 1) * 8 : column + 1;
    return column == 0 ? 0 : (column + columns_ - 1) / columns_;
}

void Output::EraseBar() {
    if (!bar_shown_) return;
    std::string erase = "\r\033[K";
    const int rows = Rows(pending_);
    if (rows > 0) erase += "\033[" + std::to_string(rows) + "A\r\033[J";
    WriteOut(erase);
    bar_shown_ = false;
}

void Output::DrawBar() {
    if (mode_ != OutputMode::kTerminal || !progress_running_) return;
    // The log's unfinished line goes back above the bar, which has a line of its own.
    std::string text = pending_;
    if (!pending_.empty()) text += '\n';
    text += BarLine(last_, columns_);
    WriteOut(text);
    bar_shown_ = true;
}

void Output::AppendLogText(const std::string &text) {
    const bool redraw = bar_shown_;
    const std::string combined = pending_ + text;
    const std::size_t line_end = combined.rfind('\n');
    if (redraw) {
        // The unfinished line and the bar are erased; finished lines go out once, and the
        // unfinished rest is drawn again above the bar.
        EraseBar();
        if (line_end != std::string::npos) WriteOut(combined.substr(0, line_end + 1));
    } else {
        WriteOut(text);
    }
    pending_ = line_end == std::string::npos ? combined : combined.substr(line_end + 1);
    // A line longer than any terminal is not worth redrawing whole.
    if (pending_.size() > 4096) pending_.erase(0, pending_.size() - 4096);
    if (redraw) DrawBar();
}

void Output::Log(const std::string &text) {
    std::lock_guard lock(mutex_);
    if (mode_ == OutputMode::kJson) {
        WriteOut(JsonLine({{"type", "log"}, {"text", ValidUtf8(text)}}));
        return;
    }
    AppendLogText(PrintableLogText(text));
}

void Output::Say(const std::string &text) {
    std::lock_guard lock(mutex_);
    if (mode_ == OutputMode::kJson) {
        WriteOut(JsonLine({{"type", "message"}, {"text", ValidUtf8(text)}}));
        return;
    }
    // Said on a line of its own, after whatever the log left unfinished.
    const std::string shown = PrintableLogText(text);
    AppendLogText(pending_.empty() ? shown : "\n" + shown);
}

void Output::AnswerTyped() {
    std::lock_guard lock(mutex_);
    pending_.clear();
}

void Output::Complain(const std::string &text) {
    std::lock_guard lock(mutex_);
    if (mode_ == OutputMode::kJson) {
        WriteOut(JsonLine({{"type", "message"}, {"text", ValidUtf8(text)}}));
        return;
    }
    WriteErr(PrintableLogText(text));
}

void Output::Progress(const UpdateProgress &progress) {
    std::lock_guard lock(mutex_);
    if (mode_ == OutputMode::kJson) {
        WriteOut(JsonLine({{"type", "progress"},
                           {"attempt", progress.attempt},
                           {"stage", StageName(progress.stage)},
                           {"done", progress.done},
                           {"total", progress.total},
                           {"seconds_left", SecondsLeftJson(progress)}}));
        return;
    }
    // A retried attempt starts again.
    if (!progress_running_ || !Forward(progress, last_)) last_decile_ = -1;
    progress_running_ = true;
    last_ = progress;
    if (mode_ == OutputMode::kPlain) {
        const int decile = static_cast<int>(OverallPercent(progress)) / 10;
        if (decile == last_decile_) return;
        last_decile_ = decile;
        char line[96];
        std::snprintf(line, sizeof line, "progress: attempt %d, %s, %d %%\n", progress.attempt,
                      StageName(progress.stage), decile * 10);
        WriteErr(line);
        return;
    }
    columns_ = TerminalColumns();
    EraseBar();
    DrawBar();
}

void Output::EndProgress() {
    std::lock_guard lock(mutex_);
    if (bar_shown_) {
        EraseBar();
        WriteOut(pending_);
    }
    progress_running_ = false;
}

void Output::Json(const nlohmann::json &object) {
    std::lock_guard lock(mutex_);
    if (mode_ == OutputMode::kJson) WriteOut(JsonLine(object));
}

}  // namespace tornelvox::cli
