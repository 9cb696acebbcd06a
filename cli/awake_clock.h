// The time `update --all` has been awake to watch its children: the steady clock without the
// stretches in which the process was stopped (Ctrl-Z, SIGSTOP) or not run at all. A child's
// silence and its grace after SIGTERM are measured on it, so that a run suspended for an hour and
// resumed with fg does not find every child silent for an hour; its children were stopped with it.
//
// The run looks at the clock at each turn of its loop and says, before it waits, how long it means
// to wait. A look that comes later than that by more than kLateness ends a stretch in which the
// process was not running for some unknown part: the stretch adds nothing. So a child's silence is
// counted late by at most one wait (a second), never early.
#pragma once

#include <chrono>

namespace tornelvox::cli {

class AwakeClock {
  public:
    using Steady = std::chrono::steady_clock;
    using Awake = Steady::duration;

    // A stretch this much longer than the wait before it was not run through: the process was
    // stopped. Far longer than a turn of the loop takes, even on a loaded machine.
    static constexpr std::chrono::milliseconds kLateness{500};

    explicit AwakeClock(Steady::time_point now) : last_look_(now) {}

    // The awake time at steady time now, which is not earlier than the last look's.
    Awake Look(Steady::time_point now);

    // The next look comes after a wait of up to wait (without it, the next look is due at once).
    void Expect(Awake wait) { expected_ = wait; }

  private:
    Steady::time_point last_look_;
    Awake expected_{};
    Awake awake_{};
};

}  // namespace tornelvox::cli
