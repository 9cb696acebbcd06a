// How far the flash programming of an update has got, for whoever shows it.
#pragma once

#include <functional>

namespace tornelvox {

// The stages of programming the flash, in the order they run.
enum class UpdateStage { kErasing, kWriting, kVerifying };

// Steps of the verifying stage: the check value and the name page read back, and with the
// whole-image verification the 128 image pages the check value does not cover read back too.
inline constexpr int kCheckValueVerifyingSteps = 2;
inline constexpr int kWholeImageVerifyingSteps = kCheckValueVerifyingSteps + 128;

// done of total steps of stage are finished. Erasing has 30 steps (the erase steps), writing
// 254 (image pages 1 to 252, the name page, page 0), verifying verifying_total. Every report
// carries verifying_total, so that a display can weigh the stages from the first report on.
struct FlashProgress {
    UpdateStage stage;
    int done;
    int total;
    int verifying_total = kCheckValueVerifyingSteps;
};

// Told by ProgramDevice, on the thread that runs the update: done 0 when a stage starts, then
// after each of its steps that succeeded. A failure or a cancellation ends the reports where it
// happens. Empty by default: nothing is told. Set it only while no update runs; it must return
// soon and never throw, since programming waits for it between its steps.
extern std::function<void(const FlashProgress &)> FlashProgressSink;

}  // namespace tornelvox
