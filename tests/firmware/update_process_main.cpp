// A whole Check and Update in a process of its own, for the tests in which the process's end is
// the case: killed, or closed as the window's Close does (quick_exit) on SIGUSR1.
//
//   update_process --device-dir DIR --answer refuse|builtin|backup [--read-ms N]
//
// Searches DIR for the adapter, opens it, reads its version, updates it, and prints the log on
// standard output. The address question is answered as --answer says ("backup": the newest
// backup record, or no answer when there is none). Exit status: 0 success, 1 failure, 2
// cancelled, 3 refused, 4 not found, 64 bad usage.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "firmware/firmware_update.h"
#include "workflow/workflow.h"

namespace {

using namespace tornelvox;

class ConsoleLink : public FrontEnd {
  public:
    explicit ConsoleLink(std::string answer) : answer_(std::move(answer)) {}
    void PostButtons(ButtonState) override {}
    void OpenSettingsDialog() override {}
    AddressAnswer AskForAddress(const AddressQuestion &question) override {
        std::printf("[question: %s]\n", question.reason.c_str());
        if (answer_ == "builtin") return {AddressAnswer::Kind::kBuiltInAddress, 0};
        if (answer_ == "backup") {
            for (std::size_t i = 0; i < question.candidates.size(); ++i) {
                if (question.candidates[i].origin == "address backup") {
                    return {AddressAnswer::Kind::kCandidate, i};
                }
            }
            return {AddressAnswer::Kind::kNoAnswer, 0};
        }
        return {AddressAnswer::Kind::kRefused, 0};
    }

  private:
    std::string answer_;
};

}  // namespace

int main(int argc, char **argv) {
    AdapterSession session;
    std::string answer = "refuse";
    int read_ms = 20;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--device-dir") == 0) {
            session.DeviceDirectory = argv[i + 1];
        } else if (std::strcmp(argv[i], "--answer") == 0) {
            answer = argv[i + 1];
        } else if (std::strcmp(argv[i], "--read-ms") == 0) {
            read_ms = std::atoi(argv[i + 1]);
        } else {
            return 64;
        }
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);  // every line is out before a kill can land

    // SIGUSR1 closes the program as the Close button does: at once, nothing waited for.
    sigset_t close_signal;
    sigemptyset(&close_signal);
    sigaddset(&close_signal, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &close_signal, nullptr);
    std::thread([close_signal] {
        int received = 0;
        sigwait(&close_signal, &received);
        std::quick_exit(0);
    }).detach();

    session.ReadCallTimeoutMs = read_ms;
    session.RetryPause = [](unsigned) {};
    session.SetMessageSink([](const std::string &text) { std::fputs(text.c_str(), stdout); });

    if (!SearchCOMM(session)) return 4;
    for (int attempt = 0; attempt < 10 && !InitPort(session); ++attempt) {
    }
    if (!CheckFMVersion(session)) CheckFMVersion(session);

    session.ThreadRunning = true;
    RunUpdateWorker(session, std::make_shared<ConsoleLink>(answer));
    switch (session.LastUpdateEnd.load()) {
        case UpdateEnd::kSuccess:
            return 0;
        case UpdateEnd::kCancelled:
            return 2;
        case UpdateEnd::kRefused:
            return 3;
        default:
            return 1;
    }
}
