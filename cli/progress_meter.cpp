#include "cli/progress_meter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tornelvox::cli {

namespace {

constexpr int kAllSteps = kErasingSteps + kWritingSteps + kVerifyingSteps;

int StageSteps(UpdateStage stage) {
    switch (stage) {
        case UpdateStage::kErasing:
            return kErasingSteps;
        case UpdateStage::kWriting:
            return kWritingSteps;
        case UpdateStage::kVerifying:
            return kVerifyingSteps;
    }
    return kErasingSteps;
}

// Steps of the stages before this one.
int StepsBefore(UpdateStage stage) {
    switch (stage) {
        case UpdateStage::kErasing:
            return 0;
        case UpdateStage::kWriting:
            return kErasingSteps;
        case UpdateStage::kVerifying:
            return kErasingSteps + kWritingSteps;
    }
    return 0;
}

}  // namespace

double OverallPercent(const UpdateProgress &progress) {
    const int steps = StageSteps(progress.stage);
    const int total = progress.total > 0 && progress.total <= steps ? progress.total : steps;
    const int done = std::clamp(progress.done, 0, total);
    // The stage's share of the attempt, filled in proportion to what it reported.
    const double within = static_cast<double>(done) * steps / total;
    return 100.0 * (StepsBefore(progress.stage) + within) / kAllSteps;
}

std::string TimeLeftText(double percent, double elapsed_seconds) {
    if (!(percent >= 1.0) || !(elapsed_seconds >= 0.0)) return "--:--";
    const double left = percent >= 100.0 ? 0.0 : elapsed_seconds * (100.0 - percent) / percent;
    if (left > 99 * 60 + 59) return "--:--";
    const long seconds = std::lround(left);
    char text[48];
    std::snprintf(text, sizeof text, "%ld:%02ld", seconds / 60, seconds % 60);
    return text;
}

const char *StageName(UpdateStage stage) {
    switch (stage) {
        case UpdateStage::kErasing:
            return "erasing";
        case UpdateStage::kWriting:
            return "writing";
        case UpdateStage::kVerifying:
            return "verifying";
    }
    return "erasing";
}

std::string BarLine(const UpdateProgress &progress, double elapsed_seconds, int columns) {
    const double percent = OverallPercent(progress);
    char head[48];
    std::snprintf(head, sizeof head, "attempt %d  %-9s ", std::clamp(progress.attempt, 0, 99),
                  StageName(progress.stage));
    char tail[48];
    std::snprintf(tail, sizeof tail, " %3d %%  %s left", static_cast<int>(percent),
                  TimeLeftText(percent, elapsed_seconds).c_str());
    const int fixed = static_cast<int>(std::string(head).size() + std::string(tail).size()) + 2;
    const int width = std::clamp(columns - 1 - fixed, 0, 50);
    const int filled = static_cast<int>(width * percent / 100.0);
    std::string line = head;
    if (width > 0) {
        line += '[';
        line.append(static_cast<std::size_t>(filled), '#');
        line.append(static_cast<std::size_t>(width - filled), '.');
        line += ']';
    }
    line += tail;
    if (columns > 0 && line.size() >= static_cast<std::size_t>(columns)) {
        line.resize(static_cast<std::size_t>(columns - 1));
    }
    return line;
}

}  // namespace tornelvox::cli
