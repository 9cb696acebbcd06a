// One adapter's update under `update --all`, on the thread the run gives it: a session of its
// own, the Check at its port, and the update worker as `tornelvox update --port PORT --yes` runs
// them, with a front end that reports to the run. No question can be asked there: an address the
// update must be told comes from --address or --new-address, or the update erases nothing.
#pragma once

#include <string>

#include "cli/update_all.h"

namespace tornelvox::cli {

AdapterEnd UpdateAdapter(const std::string &port, const AdapterUpdateOptions &options,
                         AdapterReport &report);

}  // namespace tornelvox::cli
