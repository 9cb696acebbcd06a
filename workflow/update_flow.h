// The Update and Cancel actions and the update worker they start and stop.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "firmware/firmware_update.h"
#include "workflow/adapter_session.h"
#include "workflow/front_end.h"

namespace tornelvox {

// The address the name page gets when the user chooses none of the adapter's own: 00 01 00 03
// 04 06, shown as 06:04:03:00:01:00.
extern const BtAddress kBuiltInBtAddress;

// The worker's body, on session's adapter: up to ten attempts, then the success, failure or cancel
// end. Returns 1 after a successful update. Posts the restored buttons through front_end at its
// end, and reports each step of programming through front_end.ReportProgress with its attempt.
//
// Before the first frame it refuses an adapter this build may not update. Each attempt writes
// back the address read from this adapter in this update; when there is none it asks through
// front_end which address to keep (front_end.AskForAddress) and, without an answer, ends at the
// cancel end having erased nothing. Every address read from the adapter's name page is
// appended to the address backup as soon as it is read, and the address about to be written
// before anything is erased.
//
// After the line hung up or the node vanished, the next attempt reads the name page again (also
// from the sixth attempt on) and establishes that the same adapter answers before it erases:
// by the USB serial number where the adapter's device has one, else by a valid name page. The
// same adapter goes on without asking; another adapter, or one that cannot be told apart, is
// asked about (AddressQuestion::Kind) and, without an answer, nothing of it is erased.
int RunUpdateWorker(AdapterSession &session, const std::shared_ptr<FrontEnd> &front_end);

// The Update action: sets session's ThreadRunning, locks the buttons, starts RunUpdateWorker on
// a detached thread and returns at once. The thread holds the session and the front end until
// it ends.
void StartUpdateWorker(const std::shared_ptr<AdapterSession> &session,
                       std::shared_ptr<FrontEnd> front_end);

// The Cancel action: clears ThreadRunning and blocks, without spinning, until the worker has
// reached one of its ends.
void CancelUpdate(AdapterSession &session);

// Worker threads started by StartUpdateWorker on session that have finished, their front end
// released. A worker posts its restored buttons before it clears ThreadRunning and lets go of the
// front end; whoever starts the next update in the same breath (tests) waits for this count first.
unsigned UpdateWorkersEnded(const AdapterSession &session);

// Blocks until UpdateWorkersEnded(session) reaches count or the timeout passes. True if it did.
bool WaitForUpdateWorkersEnded(AdapterSession &session, unsigned count,
                               std::chrono::milliseconds timeout);

}  // namespace tornelvox
