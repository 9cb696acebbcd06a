// The arithmetic of the update's progress display, shared by every front end: one percentage
// across the three stages of an attempt, the time left, and the stages' names.
#pragma once

#include <string>

#include "workflow/front_end.h"

namespace tornelvox {

// Steps of each stage as flash programming reports them: erasing 30, writing 254, verifying 2
// (130 when the whole image is read back: a page read takes about as long as a page write).
inline constexpr int kErasingSteps = 30;
inline constexpr int kWritingSteps = 254;
inline constexpr int kVerifyingSteps = kCheckValueVerifyingSteps;

// How far the attempt has come, 0 to 100: every step of the attempt counts alike, so the bar
// rises evenly from the first erase step to the last check. A report's done is bounded by its
// total, and a total outside the stage's own is taken as the stage's. The verifying stage has
// the report's verifying_total steps when that is one of its two sizes, else 2.
double OverallPercent(const UpdateProgress &progress);

// The time left, as "m:ss"; "--:--" when it is unknown (negative) or beyond 99:59.
std::string TimeLeftText(double seconds_left);

// The stage's name as the displays and the JSON lines give it: "erasing", "writing",
// "verifying".
const char *StageName(UpdateStage stage);

}  // namespace tornelvox
