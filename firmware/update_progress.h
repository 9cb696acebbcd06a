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

// A session's FlashProgressSink is told how far ProgramDevice got (see firmware_session.h).

}  // namespace tornelvox
