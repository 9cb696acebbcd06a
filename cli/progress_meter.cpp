#include "cli/progress_meter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tornelvox::cli {

std::string BarLine(const UpdateProgress &progress, int columns) {
    const double percent = OverallPercent(progress);
    char head[48];
    std::snprintf(head, sizeof head, "attempt %d  %-9s ", std::clamp(progress.attempt, 0, 99),
                  StageName(progress.stage));
    char tail[48];
    std::snprintf(tail, sizeof tail, " %3d %%  %s left", static_cast<int>(percent),
                  TimeLeftText(progress.seconds_left).c_str());
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

nlohmann::json SecondsLeftJson(const UpdateProgress &progress) {
    if (!(progress.seconds_left >= 0.0)) return nullptr;
    return std::lround(progress.seconds_left);
}

}  // namespace tornelvox::cli
