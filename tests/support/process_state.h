// The process-wide state of the utility's core, put back as it is when the program starts.
#pragma once

namespace tornelvox::testing {

// Closes the port and returns every process-wide variable of the serial link, the firmware
// update, the settings and the workflows to its start value: the port path and the search's
// folders and seams, the failure code, the frame builder's inputs, the reply capture, the
// timeouts, the version and name page findings, the run flags, the update's retry pause and
// progress sink, the settings values and the message sink. Counters that only grow
// (HangupsSeen, the ended update workers) keep their counts. Call it only while no worker runs.
// A fixture that wants a faster seam (a shorter read call, no retry pause) sets it afterwards.
void ResetProcessState();

}  // namespace tornelvox::testing
