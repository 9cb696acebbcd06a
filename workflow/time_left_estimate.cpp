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

void StepTimes::Add(double seconds, double units) {
    if (!(units > 0.0)) return;
    samples_.push_back({seconds / units, units});
    units_ += units;
}

double StepTimes::Median() const {
    if (samples_.empty()) return 0.0;
    std::vector<double> per_unit;
    per_unit.reserve(samples_.size());
    for (const Sample &sample : samples_) per_unit.push_back(sample.per_unit);
    const auto middle = per_unit.begin() + static_cast<std::ptrdiff_t>(per_unit.size() / 2);
    std::nth_element(per_unit.begin(), middle, per_unit.end());
    return *middle;
}

double StepTimes::Excess(double median) const {
    double excess = 0.0;
    for (const Sample &sample : samples_) {
        excess += std::max(0.0, sample.per_unit - median) * sample.units;
    }
    return excess;
}

// Each kind's steps cost what the median step of the kind measured so far took, plus a share of
// what steps took beyond it: spread over the steps measured and all the steps of the attempt, so
// that one slow step early on weighs little and steps slow again and again come to count in
// full. The page transfers' median counts the rate known before them as one more page.
TimeLeftEstimate::Costs TimeLeftEstimate::CurrentCosts() const {
    StepTimes transfers = transfers_;
    transfers.Add(prior_seconds_per_byte_ * bytes_.page_write, bytes_.page_write);
    const double per_byte = transfers.Median();
    const double attempt_bytes = static_cast<double>(kWritingSteps) * bytes_.page_write +
                                 static_cast<double>(verifying_steps_ - 1) * bytes_.page_read;
    const double per_byte_beyond =
        transfers_.Excess(per_byte) / (transfers_.Units() + attempt_bytes);

    // An erase step's line time, and the adapter's own time learned from the steps done.
    double erase = bytes_.erase * per_byte;
    if (!erase_steps_.Empty()) {
        const double median = erase_steps_.Median();
        const double adapter_time = std::max(0.0, median - erase);
        erase +=
            adapter_time + erase_steps_.Excess(median) / (erase_steps_.Units() + kErasingSteps);
    }
    return {erase, bytes_.page_write * (per_byte + per_byte_beyond), bytes_.check_value * per_byte,
            bytes_.page_read * (per_byte + per_byte_beyond)};
}

// Shares seconds among the steps after from up to to, in proportion to what each was expected
// to cost (one step at a time, as reports normally come, takes it all). The check value's time
// is the adapter's, not the line's: it tells nothing of the steps left.
void TimeLeftEstimate::Attribute(int from, int to, double seconds) {
    const Costs costs = CurrentCosts();
    auto cost = [&costs](int step) {
        switch (KindOf(step)) {
            case StepKind::kErase:
                return costs.erase;
            case StepKind::kPageWrite:
                return costs.page_write;
            case StepKind::kCheckValue:
                return costs.check_value;
            case StepKind::kPageRead:
                return costs.page_read;
        }
        return 0.0;
    };
    double expected = 0.0;
    for (int step = from + 1; step <= to; ++step) expected += cost(step);
    const int count = to - from;
    for (int step = from + 1; step <= to; ++step) {
        const double share = expected > 0.0 ? seconds * cost(step) / expected : seconds / count;
        measured_ = true;
        switch (KindOf(step)) {
            case StepKind::kErase:
                erase_steps_.Add(share, 1.0);
                break;
            case StepKind::kPageWrite:
                transfers_.Add(share, bytes_.page_write);
                break;
            case StepKind::kCheckValue:
                break;
            case StepKind::kPageRead:
                transfers_.Add(share, bytes_.page_read);
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

    const Costs costs = CurrentCosts();
    const int erase_left = std::max(0, kErasingSteps - position_);
    const int writes_left = std::clamp(kErasingSteps + kWritingSteps - position_, 0, kWritingSteps);
    const int checks_left = position_ < kCheckValueStep ? 1 : 0;
    const int reads_left = std::clamp(
        kErasingSteps + kWritingSteps + verifying_steps_ - std::max(position_, kCheckValueStep), 0,
        verifying_steps_ - 1);
    const double left = erase_left * costs.erase + writes_left * costs.page_write +
                        checks_left * costs.check_value + reads_left * costs.page_read;
    shown_ = shown_ < 0.0 ? left : std::min(left, shown_ + kRiseAllowance);
    return shown_;
}

}  // namespace tornelvox
