// Stands in for `tornelvox update --port PORT --json ...` in the update --all tests. What it
// does comes from the port's name up to its first '-' ("/fake/fail-2" fails):
//
//   success       progress through every stage, a line on stderr, a success result
//   fail          fails writing, with the reason in its log
//   needs_answer  refused: the address question is never answered
//   slow          succeeds once the file named by FAKE_UPDATE_GATE exists (waits up to 30 s)
//   ticking       as slow, but prints a progress line every 50 ms while it waits
//   dispositions  logs how it started with each stop signal ("SIGHUP ignored, not blocked"),
//                 then succeeds
//   hang          waits up to 30 s for SIGTERM, then reports cancelled
//   stubborn      ignores SIGTERM and sleeps up to 30 s
//   garbage       prints lines that are not JSON, not UTF-8 or too long, then succeeds
//   signal        killed by SIGKILL midway
//   silent        ends with exit code 0 and no result line
//   hostile       fails with control characters (escape sequences, C1 controls raw and in UTF-8)
//                 in every kind of line it prints, on stdout and on stderr
//
// Every child logs its arguments first ("args: update --port ...").
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/update_all_status.h"

namespace {

using tornelvox::cli::update_all::ExitCode;
using tornelvox::cli::update_all::ExitStatus;
using tornelvox::cli::update_all::StatusWord;

void Print(const nlohmann::json &line) {
    std::printf("%s\n", line.dump().c_str());
    std::fflush(stdout);
}

void Log(const std::string &text) {
    Print({{"type", "log"}, {"text", text}});
}

void Progress(const char *stage, int done, int total) {
    Print(
        {{"type", "progress"}, {"attempt", 1}, {"stage", stage}, {"done", done}, {"total", total}});
}

int Result(const std::string &port, ExitStatus status) {
    nlohmann::json line = {{"type", "result"},
                           {"status", StatusWord(status)},
                           {"exit", ExitCode(status)},
                           {"port", port},
                           {"version_before", "3.02"}};
    if (status == ExitStatus::kSuccess) {
        line["address"] = "06:04:03:00:01:00";
        line["version_after"] = "6.03";
    }
    Print(line);
    return ExitCode(status);
}

int Succeed(const std::string &port) {
    for (int done = 0; done <= 2; ++done) Progress("erasing", done, 2);
    for (int done = 0; done <= 4; ++done) {
        Progress("writing", done, 4);
        Log(".");
    }
    Progress("verifying", 1, 1);
    Log("\nUpdate succeeded\n");
    return Result(port, ExitStatus::kSuccess);
}

void SleepMilliseconds(long milliseconds) {
    const timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
}

int WaitForGate(const std::string &port) {
    const char *gate = std::getenv("FAKE_UPDATE_GATE");
    for (int waited = 0; gate != nullptr && waited < 3000; ++waited) {
        if (access(gate, F_OK) == 0) return Succeed(port);
        SleepMilliseconds(10);
    }
    Log("The gate never opened\n");
    return Result(port, ExitStatus::kUpdateFailed);
}

int TickUntilTheGate(const std::string &port) {
    const char *gate = std::getenv("FAKE_UPDATE_GATE");
    for (int tick = 0; gate != nullptr && tick < 600; ++tick) {
        if (access(gate, F_OK) == 0) return Succeed(port);
        Progress("erasing", 0, 2);
        SleepMilliseconds(50);
    }
    Log("The gate never opened\n");
    return Result(port, ExitStatus::kUpdateFailed);
}

int LogDispositions(const std::string &port) {
    sigset_t blocked;
    sigprocmask(SIG_BLOCK, nullptr, &blocked);
    for (const int signal_number : {SIGHUP, SIGINT, SIGTERM, SIGPIPE}) {
        struct sigaction action {};
        sigaction(signal_number, nullptr, &action);
        const char *disposition = action.sa_handler == SIG_IGN   ? "ignored"
                                  : action.sa_handler == SIG_DFL ? "default"
                                                                 : "caught";
        Log(std::string("SIG") + sigabbrev_np(signal_number) + " " + disposition +
            (sigismember(&blocked, signal_number) == 1 ? ", blocked\n" : ", not blocked\n"));
    }
    return Succeed(port);
}

int WaitForTerm(const std::string &port) {
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigprocmask(SIG_BLOCK, &term, nullptr);
    Log("waiting\n");
    Progress("erasing", 0, 2);
    const timespec limit{30, 0};
    if (sigtimedwait(&term, nullptr, &limit) != SIGTERM) {
        Log("Nobody stopped me\n");
        return Result(port, ExitStatus::kUpdateFailed);
    }
    Log("Update cancelled\n");
    return Result(port, ExitStatus::kCancelled);
}

int PrintGarbage(const std::string &port) {
    std::printf("this is not JSON\n");
    std::printf("\xff\xfe raw bytes\n");
    std::printf("{\"type\":\"log\",\"text\":\"bad \xc3\x28 inside\"}\n");
    std::printf("[1,2,3]\n{\"no\":\"type\"}\n");
    std::printf("%s\n", std::string(100 * 1024, 'x').c_str());
    std::fflush(stdout);
    return Succeed(port);
}

// An escape sequence, CSI as UTF-8 (C2 9B: valid JSON, passed on as it is by a plain dump) and
// DEL; the JSON lines carry ESC as \u001b.
const std::string kHostile =
    "\x1b[2J\xc2\x9b"
    "31m\x7f";

int PrintHostile(const std::string &port) {
    Print({{"type", "progress"},
           {"attempt", 1},
           {"stage", "writing" + kHostile},
           {"done", 1},
           {"total", 4}});
    Log("the adapter said " + kHostile + "\n");
    Print({{"type", "message"}, {"text", "asked " + kHostile + "\n"}});
    Print({{"type", kHostile}, {"text", kHostile}});
    std::fprintf(stderr, "stderr \x1b]0;title\x07 \x9b raw\n");
    std::printf("not JSON \x1b[5m \x9b \xc2\x85\n");
    std::fflush(stdout);
    Log("Update failed: " + kHostile + "\n");
    Print({{"type", "result"},
           {"status", StatusWord(ExitStatus::kUpdateFailed)},
           {"exit", ExitCode(ExitStatus::kUpdateFailed)},
           {"port", port},
           {"address", kHostile},
           {"version_before", kHostile}});
    return ExitCode(ExitStatus::kUpdateFailed);
}

}  // namespace

int main(int argc, char **argv) {
    std::string port;
    std::string args = "args:";
    for (int i = 1; i < argc; ++i) {
        args += std::string(" ") + argv[i];
        if (std::string(argv[i]) == "--port" && i + 1 < argc) port = argv[i + 1];
    }
    Log(args + "\n");
    const std::string name = port.substr(port.rfind('/') + 1);
    const std::string behaviour = name.substr(0, name.find('-'));

    if (behaviour == "success") {
        std::fprintf(stderr, "a line on stderr from %s\n", port.c_str());
        return Succeed(port);
    }
    if (behaviour == "fail") {
        Progress("erasing", 1, 2);
        Log("Update failed: the adapter did not answer the page write\n");
        return Result(port, ExitStatus::kUpdateFailed);
    }
    if (behaviour == "needs_answer") {
        Print({{"type", "message"},
               {"text", "The update must know which BT address the adapter at " + port +
                            " is to keep.\nRun it again with --address or --new-address.\n"}});
        Log("The adapter's own Bluetooth address could not be read.\n");
        Log("No answer to the address question: nothing erased\n");
        return Result(port, ExitStatus::kRefused);
    }
    if (behaviour == "slow") return WaitForGate(port);
    if (behaviour == "ticking") return TickUntilTheGate(port);
    if (behaviour == "dispositions") return LogDispositions(port);
    if (behaviour == "hang") return WaitForTerm(port);
    if (behaviour == "stubborn") {
        signal(SIGTERM, SIG_IGN);
        Log("waiting\n");
        SleepMilliseconds(30000);
        return Result(port, ExitStatus::kUpdateFailed);
    }
    if (behaviour == "garbage") return PrintGarbage(port);
    if (behaviour == "hostile") return PrintHostile(port);
    if (behaviour == "signal") {
        Progress("writing", 2, 4);
        raise(SIGKILL);
    }
    if (behaviour == "silent") {
        Log("Update start\n");
        return 0;
    }
    Log("unknown behaviour " + behaviour + "\n");
    return Result(port, ExitStatus::kBadUsage);
}
