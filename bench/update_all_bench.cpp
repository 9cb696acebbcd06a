// `tornelvox update --all` against 1, 4 and 8 emulated adapters paced at 115,200 baud, each its
// own emulator process linked into one device folder: the wall time of each run divided by the
// wall time for one adapter, and the CPU time of the program and its children as a share of the
// wall time.
//
//   update_all_bench [PATH/tornelvox] [PATH/tornelvox-emulator]
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

// Waits for pid up to limit, looking ten times a second; kills it after the limit.
int WaitFor(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        Pause(100);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Seconds(const timeval &time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
}

double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

struct Run {
    int adapters = 0;
    int exit = -1;
    double wall_seconds = 0;
    double cpu_seconds = 0;
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
    const double cpu_before = ChildrenCpuSeconds();
    const auto start = Clock::now();
    const pid_t updater =
        Spawn({program, "update", "--all", "--yes", "--device-dir", devices.string()}, output);
    run.exit = updater > 0 ? WaitFor(updater, kRunLimit) : -1;
    run.wall_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.cpu_seconds = ChildrenCpuSeconds() - cpu_before;  // before the emulators are reaped

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

}  // namespace

int main(int argc, char **argv) {
    const char *program = argc > 1 ? argv[1] : kDefaultProgram;
    const char *emulator = argc > 2 ? argv[2] : kDefaultEmulator;
    if (program == nullptr) {
        std::fprintf(stderr, "usage: update_all_bench PATH/tornelvox [PATH/tornelvox-emulator]\n");
        return 2;
    }
    std::printf("tornelvox update --all --yes, emulators paced at %d baud\n", kBaud);
    std::printf("%8s %10s %10s %10s %10s %10s %8s %6s\n", "adapters", "wall s", "/ one", "target",
                "CPU s", "CPU %", "target", "exit");
    std::fflush(stdout);
    double one = 0;
    bool met = true;
    for (const int adapters : {1, 4, 8}) {
        const Run run = UpdateAll(program, emulator, adapters);
        if (adapters == 1) one = run.wall_seconds;
        const double ratio = one > 0 ? run.wall_seconds / one : 0;
        const double cpu_share =
            run.wall_seconds > 0 ? 100.0 * run.cpu_seconds / run.wall_seconds : 0;
        const bool ratio_met = adapters != 8 || ratio <= 1.05;
        met = met && ratio_met && cpu_share < 2.0 && run.exit == 0;
        std::printf("%8d %10.2f %10.4f %10s %10.3f %9.3f%% %8s %6d\n", adapters, run.wall_seconds,
                    ratio, adapters == 8 ? "<= 1.05" : "-", run.cpu_seconds, cpu_share, "< 2 %",
                    run.exit);
        std::fflush(stdout);
    }
    std::printf("targets %s\n", met ? "met" : "NOT MET");
    return met ? 0 : 1;
}
