// The update's cancel flag and progress hook, which flash programming reads between its steps.
#include "firmware/firmware_update.h"

namespace tornelvox {

std::atomic<bool> ThreadRunning{false};
std::function<void(const FlashProgress &)> FlashProgressSink;

}  // namespace tornelvox
