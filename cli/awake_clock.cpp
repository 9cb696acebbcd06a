#include "cli/awake_clock.h"

namespace tornelvox::cli {

AwakeClock::Awake AwakeClock::Look(Steady::time_point now) {
    const Awake stretch = now - last_look_;
    last_look_ = now;
    if (stretch <= expected_ + kLateness) awake_ += stretch;
    expected_ = Awake::zero();
    return awake_;
}

}  // namespace tornelvox::cli
