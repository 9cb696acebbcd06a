#include "cli/adapter_table.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "serial/outside_text.h"

namespace tornelvox::cli {

namespace {

// A field of an adapter's row, shown at most this long.
constexpr std::size_t kFieldWidth = 40;
// A live table line is cut to this many bytes, so that it never wraps on an ordinary terminal
// and each redraw goes back over exactly the lines it drew.
constexpr std::size_t kLiveWidth = 79;

// text cut to at most width bytes, never inside a UTF-8 sequence.
std::string CutAt(const std::string &text, std::size_t width) {
    if (text.size() <= width) return text;
    std::size_t end = width;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0u) == 0x80u) --end;
    return text.substr(0, end);
}

std::string Field(const std::string &text) {
    if (text.empty()) return "-";
    std::string shown = PrintableText(text);
    if (shown.size() > kFieldWidth) shown = shown.substr(0, kFieldWidth - 3) + "...";
    return shown;
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

std::string Padded(const std::string &text, std::size_t width) {
    std::string padded = text;
    if (padded.size() < width) padded.append(width - padded.size(), ' ');
    return padded;
}

// Columns padded to their widest cell and parted by two spaces; the last is not padded.
template <std::size_t N>
std::string Columns(const std::vector<std::array<std::string, N>> &lines) {
    std::array<std::size_t, N> widths{};
    for (const auto &cells : lines) {
        for (std::size_t i = 0; i < N; ++i) widths[i] = std::max(widths[i], cells[i].size());
    }
    std::string table;
    for (const auto &cells : lines) {
        for (std::size_t i = 0; i + 1 < N; ++i) table += Padded(cells[i], widths[i]) + "  ";
        table += cells[N - 1] + "\n";
    }
    return table;
}

}  // namespace

const char *OutcomeWord(AdapterOutcome outcome) {
    switch (outcome) {
        case AdapterOutcome::kRunning:
            return "running";
        case AdapterOutcome::kSuccess:
            return "success";
        case AdapterOutcome::kFailed:
            return "failed";
        case AdapterOutcome::kRefused:
            return "refused";
        case AdapterOutcome::kCancelled:
            return "cancelled";
    }
    return "unknown";
}

int Percent(const AdapterProgress &progress) {
    if (progress.total <= 0) return 0;
    const long long done = std::clamp(progress.done, 0, progress.total);
    return static_cast<int>(done * 100 / progress.total);
}

std::string ResultInWords(const AdapterRow &row) {
    std::string words = OutcomeWord(row.outcome);
    if (row.outcome != AdapterOutcome::kSuccess && !row.reason.empty()) {
        words += ": " + PrintableText(row.reason);
    }
    return words;
}

std::vector<std::string> LiveTable(const std::vector<AdapterRow> &rows) {
    std::vector<std::array<std::string, 2>> lines;
    for (const AdapterRow &row : rows) {
        std::string state;
        if (row.outcome != AdapterOutcome::kRunning) {
            state = ResultInWords(row);
        } else if (!row.progress_seen) {
            state = "starting";
        } else {
            char text[96];
            std::snprintf(text, sizeof text, "attempt %d  %-10s %3d %%", row.progress.attempt,
                          Field(row.progress.stage).substr(0, 10).c_str(), Percent(row.progress));
            state = text;
        }
        lines.push_back({row.port, state});
    }
    std::vector<std::string> table;
    std::string text = Columns(lines);
    std::size_t start = 0;
    for (std::size_t end = text.find('\n'); end != std::string::npos;
         start = end + 1, end = text.find('\n', start)) {
        table.push_back(CutAt(text.substr(start, end - start), kLiveWidth));
    }
    return table;
}

std::string FinalTable(const std::vector<AdapterRow> &rows) {
    std::vector<std::array<std::string, 6>> lines;
    lines.push_back({"PORT", "ADDRESS", "BEFORE", "AFTER", "TIME", "RESULT"});
    for (const AdapterRow &row : rows) {
        lines.push_back({row.port, Field(row.result.address), Field(row.result.version_before),
                         Field(row.result.version_after), Seconds(row.seconds),
                         ResultInWords(row)});
    }
    return Columns(lines);
}

}  // namespace tornelvox::cli
