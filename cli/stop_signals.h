// SIGINT, SIGHUP and SIGTERM turned into a stop request that RunUpdateAll watches: a run flag
// and the read end of a self-pipe that becomes readable when one arrives.
#pragma once

#include <atomic>
#include <string>

namespace tornelvox::cli {

struct StopRequest {
    const std::atomic<bool> *flag = nullptr;
    int fd = -1;
};

// Installs the handlers (once per process; later calls return the same request). False with
// the reason when the self-pipe cannot be made; the flag still works then, fd is -1.
bool InstallStopSignals(StopRequest &request, std::string &error);

}  // namespace tornelvox::cli
