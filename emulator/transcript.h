// A readable hex transcript of what went over the line, for failing tests to print.
#pragma once

#include <string>
#include <vector>

#include "emulator/emulated_adapter.h"

namespace tornelvox::emulator {

// One line per record: "->" for frames received, "<-" for replies, "??" for unexpected bytes,
// "**" for events. Long byte runs show their head and tail; runs of identical frames (bursts)
// show once with their count.
std::string RenderTranscript(const std::vector<FrameRecord> &records);

}  // namespace tornelvox::emulator
