// The command line's progress bar: its text, from the arithmetic every front end shares.
#pragma once

#include <string>

#include "workflow/front_end.h"
#include "workflow/progress_estimate.h"

namespace tornelvox::cli {

// The bar's line for a terminal `columns` wide: attempt, stage, bar, percentage, time left. No
// line end; never wider than columns (when columns allows any bar at all).
std::string BarLine(const UpdateProgress &progress, double elapsed_seconds, int columns);

}  // namespace tornelvox::cli
