#include "workflow/progress_estimate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tornelvox {

namespace {

// Steps of the verifying stage the report announces; an announcement of another size counts as
// the check value's.
int VerifyingSteps(const UpdateProgress &progress) {
    return progress.verifying_total == kWholeImageVerifyingSteps ? kWholeImageVerifyingSteps
                                                                 : kVerifyingSteps;
}

int StageSteps(const UpdateProgress &progress) {
    switch (progress.stage) {
        case UpdateStage::kErasing:
            return kErasingSteps;
        case UpdateStage::kWriting:
            return kWritingSteps;
        case UpdateStage::kVerifying:
            return VerifyingSteps(progress);
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
    const int steps = StageSteps(progress);
    const int total = progress.total > 0 && progress.total <= steps ? progress.total : steps;
    const int done = std::clamp(progress.done, 0, total);
    // The stage's share of the attempt, filled in proportion to what it reported.
    const double within = static_cast<double>(done) * steps / total;
    const int all_steps = kErasingSteps + kWritingSteps + VerifyingSteps(progress);
    return 100.0 * (StepsBefore(progress.stage) + within) / all_steps;
}

std::string TimeLeftText(double seconds_left) {
    if (!(seconds_left >= 0.0) || seconds_left > 99 * 60 + 59) return "--:--";
    const long seconds = std::lround(seconds_left);
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

}  // namespace tornelvox
