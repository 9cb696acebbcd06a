// How far flash programming has come, reported step by step while an update runs.
#pragma once

#include <functional>

namespace tornelvox {

// The three stages of programming the adapter's flash, in their order.
enum class UpdateStage { kErasing, kWriting, kVerifying };

// One report: `done` of `total` steps of `stage` are finished (0 when the stage starts).
// Erasing has 30 steps, writing 254 (252 image pages, the name page, page 0), verifying 2 (the
// check value, the name page read back).
struct FlashProgress {
    UpdateStage stage = UpdateStage::kErasing;
    int done = 0;
    int total = 0;
};

// Called by ProgramDevice on the updating thread after each step. Empty: nothing is called.
// Set it only while no update runs.
extern std::function<void(const FlashProgress &)> FlashProgressSink;

}  // namespace tornelvox
