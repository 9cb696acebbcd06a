// The command line's progress bar: its text, from the arithmetic every front end shares.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "workflow/front_end.h"
#include "workflow/progress_estimate.h"

namespace tornelvox::cli {

// The bar's line for a terminal `columns` wide: attempt, stage, bar, percentage, and the time
// left the report carries. No line end; never wider than columns (when columns allows any bar at
// all).
std::string BarLine(const UpdateProgress &progress, int columns);

// The report's time left as the JSON progress lines give it: whole seconds, or null while
// unknown.
nlohmann::json SecondsLeftJson(const UpdateProgress &progress);

}  // namespace tornelvox::cli
