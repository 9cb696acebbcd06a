// One whole firmware update against the emulated adapter, three times: with the line unpaced, to
// show what the utility's side costs; paced at 115,200 baud, to show how close the update comes
// to the time its bytes need on the line; and paced again with the whole image read back, to
// show what that verification adds.
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "emulator/emulated_adapter.h"
#include "firmware/firmware_update.h"
#include "workflow/workflow.h"

namespace {

using Clock = std::chrono::steady_clock;
using tornelvox::emulator::AdapterConfig;
using tornelvox::emulator::EmulatedAdapter;

// The main window's part: nothing to show here.
class SilentWindow : public tornelvox::FrontEnd {
  public:
    explicit SilentWindow(tornelvox::ImageVerification verification)
        : verification_(verification) {}
    void PostButtons(tornelvox::ButtonState) override {}
    void OpenSettingsDialog() override {}
    tornelvox::ImageVerification UpdateVerification() const override { return verification_; }

  private:
    const tornelvox::ImageVerification verification_;
};

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Run {
    bool succeeded = false;
    double wall_seconds = 0;
    double cpu_seconds = 0;
    double line_seconds = 0;
    unsigned long long bytes = 0;
};

// Runs the update worker's body on this thread, as the Update action's thread would, so that
// this thread's CPU time is the utility's whole share of the work.
Run UpdateOnce(
    std::string &log, int line_baud,
    tornelvox::ImageVerification verification = tornelvox::ImageVerification::kCheckValue) {
    Run run;
    EmulatedAdapter adapter(AdapterConfig{.line_baud = line_baud});
    if (!adapter.Start()) {
        std::fprintf(stderr, "cannot start the emulated adapter\n");
        return run;
    }
    tornelvox::AdapterSession session;
    session.SetMessageSink([&log](const std::string &text) { log += text; });
    std::snprintf(session.ComPortName, sizeof session.ComPortName, "%s",
                  adapter.DevicePath().c_str());
    session.CurVerNum = 0x302;
    session.FailCode = tornelvox::kFailNone;
    tornelvox::InitPort(session);
    // As the Check before an Update: the emulator makes itself known.
    tornelvox::CheckFMVersion(session);

    auto window = std::make_shared<SilentWindow>(verification);
    session.ThreadRunning.store(true);
    const auto wall_start = Clock::now();
    const double cpu_start = ThreadCpuSeconds();
    run.succeeded = tornelvox::RunUpdateWorker(session, window) == 1;
    run.cpu_seconds = ThreadCpuSeconds() - cpu_start;
    run.wall_seconds = std::chrono::duration<double>(Clock::now() - wall_start).count();
    run.line_seconds = std::chrono::duration<double>(adapter.LineTime()).count();
    run.bytes = adapter.BytesReceived() + adapter.BytesSent();
    adapter.Stop();
    return run;
}

}  // namespace

int main() {
    // The update's address backups go to a folder of the benchmark's own, never the user's.
    char state[] = "/tmp/tornelvox-bench-XXXXXX";
    if (mkdtemp(state) != nullptr) setenv("XDG_STATE_HOME", state, 1);
    std::string log;
    constexpr int kPages = tornelvox::kImagePages;

    const Run fast = UpdateOnce(log, 0);
    std::printf("Unpaced emulator (%s)\n", fast.succeeded ? "update succeeded" : "UPDATE FAILED");
    std::printf("  wall time      %8.3f s   per page %7.3f ms\n", fast.wall_seconds,
                fast.wall_seconds * 1e3 / kPages);
    std::printf("  CPU time       %8.3f s   per page %7.3f ms\n", fast.cpu_seconds,
                fast.cpu_seconds * 1e3 / kPages);

    const Run paced = UpdateOnce(log, 115200);
    std::printf("Emulator paced at 115,200 baud (%s)\n",
                paced.succeeded ? "update succeeded" : "UPDATE FAILED");
    std::printf("  bytes on the line  %llu (both directions)\n", paced.bytes);
    std::printf("  line time      %8.3f s\n", paced.line_seconds);
    std::printf("  wall time      %8.3f s   wall / line time %.4f\n", paced.wall_seconds,
                paced.line_seconds > 0 ? paced.wall_seconds / paced.line_seconds : 0.0);
    std::printf("  CPU time       %8.3f s   %.3f %% of the wall time\n", paced.cpu_seconds,
                paced.wall_seconds > 0 ? 100.0 * paced.cpu_seconds / paced.wall_seconds : 0.0);

    const Run whole = UpdateOnce(log, 115200, tornelvox::ImageVerification::kWholeImage);
    std::printf("Paced at 115,200 baud, the whole image read back (%s)\n",
                whole.succeeded ? "update succeeded" : "UPDATE FAILED");
    std::printf("  bytes on the line  %llu (%llu more)\n", whole.bytes, whole.bytes - paced.bytes);
    std::printf("  line time      %8.3f s   (%.3f s more)\n", whole.line_seconds,
                whole.line_seconds - paced.line_seconds);
    std::printf("  wall time      %8.3f s   (%.3f s more)\n", whole.wall_seconds,
                whole.wall_seconds - paced.wall_seconds);

    return fast.succeeded && paced.succeeded && whole.succeeded ? 0 : 1;
}
