// The time an attempt's flash programming has left, from what each of its steps costs.
//
// Counting steps alike misleads: an erase step moves a few bytes and then waits for the adapter,
// a page write moves 4 KiB over the line and hardly waits at all. So each remaining step is
// weighed by its own cost: the bytes its frame and reply put on the line at the line's rate (10
// bits a byte), plus the adapter's own time for it as far as this attempt has measured it.
//
// The line's rate starts from the port's nominal rate, or from what a page read cost before
// programming began, and the page transfers measured correct it. The adapter's own time for an
// erase step starts at nothing (the reply limits of 3 s and 10 s are ceilings, not what a step
// takes) and is learned from the erase steps done. The check value's own time is known only once
// it has run, and it runs once an attempt: until then only its bytes count, so the estimate
// falls short by that much while the verify has not begun.
//
// No clock here: each report comes with the seconds since the attempt's programming began, so
// that recorded sequences replay exactly.
#pragma once

#include <vector>

#include "serial/link_session.h"
#include "workflow/front_end.h"

namespace tornelvox {

// Bytes one step of each kind puts on the line, frame and reply, from the frame catalogue.
struct StepLineBytes {
    int erase;        // an erase step
    int page_write;   // an image page, the name page or page 0 written
    int check_value;  // the check value asked for
    int page_read;    // a page read back (the name page, or an image page)
};
StepLineBytes LineBytesOfSteps();

// The times steps of one kind took, each per unit of the step (a byte of a page transfer, or one
// erase step), and the median that stands for them: a step that took long once (a reply lost,
// and the frame sent again after a second of silence) does not make every step left look as
// slow. What such steps took beyond the median is counted apart.
class StepTimes {
  public:
    void Add(double seconds, double units);
    bool Empty() const { return samples_.empty(); }
    double Units() const { return units_; }
    // The median time per unit; 0 while empty.
    double Median() const;
    // Seconds the steps took beyond the median.
    double Excess(double median) const;

  private:
    struct Sample {
        double per_unit;
        double units;
    };
    std::vector<Sample> samples_;
    double units_ = 0.0;
};

class TimeLeftEstimate {
  public:
    // line_baud: the rate the port was set to, in bits per second. measured: the bytes and time
    // of exchanges with long replies before programming began (the name page read), if any.
    explicit TimeLeftEstimate(int line_baud, LineTiming measured = {});

    // Takes the report made seconds after the attempt's first report, and returns the seconds
    // left, or a negative number while nothing is measured yet to go on. Never more than 1.5 s
    // above the answer before: a larger correction upwards is spread over the next reports.
    double Report(const UpdateProgress &progress, double seconds);

  private:
    // What one step of each kind is expected to cost now, in seconds.
    struct Costs {
        double erase;
        double page_write;
        double check_value;
        double page_read;
    };
    Costs CurrentCosts() const;
    void Attribute(int from, int to, double seconds);

    StepLineBytes bytes_;
    double prior_seconds_per_byte_;
    int verifying_steps_ = kCheckValueVerifyingSteps;
    int position_ = -1;  // steps done at the last report that moved; -1 before the first
    double position_time_ = 0.0;
    double shown_ = -1.0;
    // What the steps done so far took: erase steps and page transfers (writes and reads).
    bool measured_ = false;  // a step has been timed
    StepTimes erase_steps_;
    StepTimes transfers_;
};

}  // namespace tornelvox
