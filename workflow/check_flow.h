// The Check action: find the adapter, open its port, read its firmware version, advise.
#pragma once

#include <string>

#include "workflow/adapter_session.h"

namespace tornelvox {

// What a Check found.
struct CheckResult {
    bool found = false;         // a node answered the probe like the adapter; its port is open
    bool version_read = false;  // its firmware version was read: CurVerNum is the adapter's
};

// Runs the Check action on session and logs it: the search, up to ten opens of the port, up to two
// version queries, the advice for the version and the notes that qualify it. The port stays
// open for the Update or Setting action that follows. Blocks on the line: each silent candidate
// of the search takes seconds.
CheckResult RunCheck(AdapterSession &session);

// The Check action on one node the user named instead of a search: probes just that node
// (logged like a search's candidate), then goes on as RunCheck.
CheckResult RunCheckAt(AdapterSession &session, const std::string &path);

}  // namespace tornelvox
