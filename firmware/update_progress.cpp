// The update's cancel flag, which flash programming reads between its steps.
#include "firmware/firmware_update.h"

namespace tornelvox {

std::atomic<bool> ThreadRunning{false};

}  // namespace tornelvox
