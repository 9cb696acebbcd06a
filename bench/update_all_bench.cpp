// `tornelvox update --all` against 1, 8 and 32 emulated adapters paced at 115,200 baud, each its
// own emulator process linked into one device folder, three runs of each: the median run's wall
// time divided by the median for one adapter, and of the tornelvox process alone (its rusage over
// all its threads, from wait4) the CPU time as a share of the wall time, the CPU time per adapter
// and the peak resident set.
//
//   update_all_bench [PATH/tornelvox] [PATH/tornelvox-emulator] [RUNS]
//
// The paths default to the ones this build made, when it made them.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

#ifdef TORNELVOX_PROGRAM_PATH
constexpr const char *kDefaultProgram = TORNELVOX_PROGRAM_PATH;
#else
constexpr const char *kDefaultProgram = nullptr;
#endif
constexpr const char *kDefaultEmulator = TORNELVOX_EMULATOR_PATH;
constexpr int kBaud = 115200;
// Ten attempts of a paced update end well within this; a run still going is killed.
constexpr auto kRunLimit = std::chrono::minutes(30);

void Pause(long milliseconds) {
    const timespec pause{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    nanosleep(&pause, nullptr);
}

// Starts argv with stdin from /dev/null and stdout and stderr to output (a file path).
pid_t Spawn(const std::vector<std::string> &argv, const std::string &output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char *> args;
    for (const std::string &arg : argv) args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

double Seconds(const timeval &time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
}

// Waits for pid up to limit, looking ten times a second; kills it after the limit. usage gets the
// process's own resource use (all its threads), when given.
int WaitFor(pid_t pid, std::chrono::milliseconds limit, rusage *usage = nullptr) {
    const auto deadline = Clock::now() + limit;
    int status = 0;
    rusage ignored{};
    rusage *into = usage != nullptr ? usage : &ignored;
    while (wait4(pid, &status, WNOHANG, into) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, into);
            return -1;
        }
        Pause(100);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Run {
    int adapters = 0;
    int exit = -1;
    double wall_seconds = 0;
    double cpu_seconds = 0;  // user and system time of the tornelvox process
    double peak_mb = 0;      // its peak resident set
};
Run UpdateAll(const std::string &program, const std::string &emulator, int adapters) {
    Run run;
    run.adapters = adapters;
    char pattern[] = "/tmp/tornelvox-all-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return run;
    const std::filesystem::path dir = pattern;
    const std::filesystem::path devices = dir / "dev";
    std::filesystem::create_directories(devices);
    // The updates' address backups go to the benchmark's own folder, never the user's.
    setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);

    std::vector<pid_t> emulators;
    for (int i = 0; i < adapters; ++i) {
        const std::string link = (devices / ("ttyUSB" + std::to_string(i))).string();
        emulators.push_back(Spawn({emulator, "--baud", std::to_string(kBaud), "--link", link},
                                  (dir / ("emulator" + std::to_string(i) + ".txt")).string()));
        for (int waited = 0; waited < 1000 && !std::filesystem::is_symlink(link); ++waited) {
            Pause(10);
        }
    }

    const std::string output = (dir / "update-all.txt").string();
    const auto start = Clock::now();
    const pid_t updater =
        Spawn({program, "update", "--all", "--yes", "--device-dir", devices.string()}, output);
    rusage usage{};
    run.exit = updater > 0 ? WaitFor(updater, kRunLimit, &usage) : -1;
    run.wall_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.cpu_seconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    run.peak_mb = static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB

    for (const pid_t pid : emulators) {
        if (pid > 0) kill(pid, SIGTERM);
    }
    for (const pid_t pid : emulators) {
        if (pid > 0) WaitFor(pid, std::chrono::seconds(10));
    }
    if (run.exit != 0) {
        std::ifstream text(output);
        std::stringstream shown;
        shown << text.rdbuf();
        std::fprintf(stderr, "update --all with %d adapters ended with %d:\n%s\n", adapters,
                     run.exit, shown.str().c_str());
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return run;
}

// The run of median wall time among runs.
Run Median(std::vector<Run> runs) {
    std::sort(runs.begin(), runs.end(),
              [](const Run &a, const Run &b) { return a.wall_seconds < b.wall_seconds; });
    return runs[runs.size() / 2];
}

double MedianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    const char *program = argc > 1 ? argv[1] : kDefaultProgram;
    const char *emulator = argc > 2 ? argv[2] : kDefaultEmulator;
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    if (program == nullptr) {
        std::fprintf(stderr,
                     "usage: update_all_bench PATH/tornelvox [PATH/tornelvox-emulator] [RUNS]\n");
        return 2;
    }
    std::printf("tornelvox update --all --yes, emulators paced at %d baud, median of %d runs\n",
                kBaud, runs);
    std::printf("%8s %9s %8s %8s %8s %8s %10s %8s %8s %6s\n", "adapters", "wall s", "/ one",
                "target", "CPU s", "CPU %", "CPU/adapt", "peak MB", "target", "exit");
    std::fflush(stdout);
    double one = 0;
    bool met = true;
    for (const int adapters : {1, 8, 32}) {
        std::vector<Run> done;
        for (int i = 0; i < runs; ++i) {
            done.push_back(UpdateAll(program, emulator, adapters));
            const Run &last = done.back();
            std::printf("  run %d: %.2f s wall, %.3f s CPU, %.1f MB, exit %d\n", i + 1,
                        last.wall_seconds, last.cpu_seconds, last.peak_mb, last.exit);
            std::fflush(stdout);
        }
        const Run median = Median(done);
        std::vector<double> cpu;
        std::vector<double> peak;
        int exit = 0;
        for (const Run &run : done) {
            cpu.push_back(run.cpu_seconds);
            peak.push_back(run.peak_mb);
            if (run.exit != 0) exit = run.exit;
        }
        const double cpu_seconds = MedianOf(cpu);
        const double peak_mb = MedianOf(peak);
        if (adapters == 1) one = median.wall_seconds;
        const double ratio = one > 0 ? median.wall_seconds / one : 0;
        const double cpu_share =
            median.wall_seconds > 0 ? 100.0 * cpu_seconds / median.wall_seconds : 0;
        const bool checked = adapters == 32;
        met = met && exit == 0 &&
              (!checked || (ratio <= 1.03 && cpu_share <= 3.5 && peak_mb <= 64.0));
        std::printf("%8d %9.2f %8.4f %8s %8.3f %7.3f%% %10.4f %8.1f %8s %6d\n", adapters,
                    median.wall_seconds, ratio, checked ? "<= 1.03" : "-", cpu_seconds, cpu_share,
                    cpu_seconds / adapters, peak_mb, checked ? "<= 64" : "-", exit);
        std::fflush(stdout);
    }
    std::printf("targets for 32 (wall <= 1.03 x one, CPU <= 3.5 %%, peak <= 64 MB) %s\n",
                met ? "met" : "NOT MET");
    return met ? 0 : 1;
}
