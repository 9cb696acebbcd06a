#include "workflow/time_left_estimate.h"

#include <algorithm>

#include "serial/command_frames.h"
#include "workflow/progress_estimate.h"

namespace tornelvox {

namespace {

// Bits a byte takes on the line: a start bit, eight data bits, a stop bit.
constexpr double kBitsPerByte = 10.0;
// The rate the adapter's line runs at when nothing else is known.
constexpr int kDefaultLineBaud = 115200;
// How far the answer may rise from one report to the next; the rest of a correction upwards
// comes at the next reports.
constexpr double kRiseAllowance = 1.5;

// The steps of an attempt, numbered from 1 in the order they run: the erase steps, the page
// writes, then the check value and the page reads of the verifying stage.
constexpr int kFirstPageWrite = kErasingSteps + 1;
constexpr int kCheckValueStep = kErasingSteps + kWritingSteps + 1;

enum class StepKind { kErase, kPageWrite, kCheckValue, kPageRead };

StepKind KindOf(int step) {
    if (step < kFirstPageWrite) return StepKind::kErase;
    if (step < kCheckValueStep) return StepKind::kPageWrite;
    if (step == kCheckValueStep) return StepKind::kCheckValue;
    return StepKind::kPageRead;
}

int LineBytes(int code) {
    return FrameLength(code) + ReplyLength(code);
}

// Steps the report says are done since the attempt's programming began.
int StepsDone(const UpdateProgress &progress, int verifying_steps) {
    switch (progress.stage) {
        case UpdateStage::kErasing:
            return std::clamp(progress.done, 0, kErasingSteps);
        case UpdateStage::kWriting:
            return kErasingSteps + std::clamp(progress.done, 0, kWritingSteps);
        case UpdateStage::kVerifying:
            return kErasingSteps + kWritingSteps + std::clamp(progress.done, 0, verifying_steps);
    }
    return 0;
}

}  // namespace

StepLineBytes LineBytesOfSteps() {
    return {LineBytes(kCmdEraseStep), LineBytes(kCmdWriteImagePage), LineBytes(kCmdReadCheckValue),
            LineBytes(kCmdReadPage)};
}

TimeLeftEstimate::TimeLeftEstimate(int line_baud, LineTiming measured)
    : bytes_(LineBytesOfSteps()) {
    const int baud = line_baud > 0 ? line_baud : kDefaultLineBaud;
    prior_seconds_per_byte_ = kBitsPerByte / baud;
    if (measured.bytes >= static_cast<std::size_t>(kLineTimingBytes) && measured.seconds > 0.0) {
        prior_seconds_per_byte_ = measured.seconds / static_cast<double>(measured.bytes);
    }
}

// The rate of the page transfers measured, weighed against the rate known before them as if
// that were one page write's worth of measurement: the first pages correct it at once, without
// one page's stray delay swinging the whole estimate.
double TimeLeftEstimate::SecondsPerByte() const {
    const double prior_bytes = bytes_.page_write;
    return (prior_seconds_per_byte_ * prior_bytes + transfer_seconds_) /
           (prior_bytes + transfer_bytes_);
}

double TimeLeftEstimate::EraseTime() const {
    if (erase_steps_ == 0) return 0.0;
    return std::max(0.0, erase_seconds_ / erase_steps_ - bytes_.erase * SecondsPerByte());
}

double TimeLeftEstimate::StepCost(int step) const {
    const double per_byte = SecondsPerByte();
    switch (KindOf(step)) {
        case StepKind::kErase:
            return bytes_.erase * per_byte + EraseTime();
        case StepKind::kPageWrite:
            return bytes_.page_write * per_byte;
        case StepKind::kCheckValue:
            // The adapter's own time for it is known only once it has run, and it runs once.
            return bytes_.check_value * per_byte;
        case StepKind::kPageRead:
            return bytes_.page_read * per_byte;
    }
    return 0.0;
}

// Shares seconds among the steps after from up to to, in proportion to what each was expected
// to cost (one step at a time, as reports normally come, takes it all).
void TimeLeftEstimate::Attribute(int from, int to, double seconds) {
    double expected = 0.0;
    for (int step = from + 1; step <= to; ++step) expected += StepCost(step);
    const int count = to - from;
    for (int step = from + 1; step <= to; ++step) {
        const double share = expected > 0.0 ? seconds * StepCost(step) / expected : seconds / count;
        switch (KindOf(step)) {
            case StepKind::kErase:
                measured_ = true;
                ++erase_steps_;
                erase_seconds_ += share;
                break;
            case StepKind::kPageWrite:
                measured_ = true;
                transfer_bytes_ += bytes_.page_write;
                transfer_seconds_ += share;
                break;
            case StepKind::kCheckValue:
                // The adapter's time, not the line's: it tells nothing of the steps left.
                measured_ = true;
                break;
            case StepKind::kPageRead:
                measured_ = true;
                transfer_bytes_ += bytes_.page_read;
                transfer_seconds_ += share;
                break;
        }
    }
}

double TimeLeftEstimate::Report(const UpdateProgress &progress, double seconds) {
    if (progress.verifying_total == kWholeImageVerifyingSteps) {
        verifying_steps_ = kWholeImageVerifyingSteps;
    }
    const int done = StepsDone(progress, verifying_steps_);
    if (position_ < 0) {
        position_ = done;
        position_time_ = seconds;
        return shown_;
    }
    // A report of the step already counted (the next stage's first report), or one from before
    // it, changes nothing: its time goes to the next step that is done.
    if (done > position_) {
        Attribute(position_, done, std::max(0.0, seconds - position_time_));
        position_ = done;
        position_time_ = seconds;
    }
    if (!measured_) return shown_;

    const int all_steps = kErasingSteps + kWritingSteps + verifying_steps_;
    double left = 0.0;
    for (int step = position_ + 1; step <= all_steps; ++step) left += StepCost(step);
    shown_ = shown_ < 0.0 ? left : std::min(left, shown_ + kRiseAllowance);
    return shown_;
}

}  // namespace tornelvox
