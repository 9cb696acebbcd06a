// tornelvox-emulator: plays a Tornelvox adapter on a pseudo-terminal until SIGINT or SIGTERM.
//
//   tornelvox-emulator [--version 0x302] [--after-update 0x603] [--link PATH] [--baud N]
//                      [--strange-line-mode] [--never-reads] [--no-name-page] [--real]
//
// --strange-line-mode leaves the line with translation and flow control on instead of raw, as a
// careless other program might (AdapterConfig::strange_line_mode). --never-reads makes an
// adapter that never takes input from the line (AdapterConfig::never_reads). --no-name-page
// starts without a name page, as after an update that never finished. --real plays a real
// adapter: no marker in the version reply, so a build without the vendor's image refuses it.
//
// Prints the slave path (and the link) and serves; the link is removed on exit.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "emulator/emulated_adapter.h"

namespace {

bool ParseNumber(const char *text, unsigned long max, unsigned long &out) {
    if (text == nullptr || *text == '\0') return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0' || value > max) return false;
    out = value;
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tornelvox-emulator [--version 0x302] [--after-update 0x603] "
                 "[--link PATH] [--baud N] [--strange-line-mode] [--never-reads] [--no-name-page] "
                 "[--real]\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    tornelvox::emulator::AdapterConfig config;
    std::string link;
    for (int i = 1; i < argc; ++i) {
        const char *option = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        unsigned long number = 0;
        if (std::strcmp(option, "--strange-line-mode") == 0) {
            config.strange_line_mode = true;
            continue;  // takes no value
        }
        if (std::strcmp(option, "--never-reads") == 0) {
            config.never_reads = true;
            continue;  // takes no value
        }
        if (std::strcmp(option, "--no-name-page") == 0) {
            config.name_page_stored = false;
            continue;  // takes no value
        }
        if (std::strcmp(option, "--real") == 0) {
            config.identifies_as_emulator = false;
            continue;  // takes no value
        }
        if (std::strcmp(option, "--version") == 0 && ParseNumber(value, 0xFFF, number)) {
            config.version = static_cast<std::uint32_t>(number);
        } else if (std::strcmp(option, "--after-update") == 0 &&
                   ParseNumber(value, 0xFFF, number)) {
            config.version_after_update = static_cast<std::uint32_t>(number);
        } else if (std::strcmp(option, "--baud") == 0 && ParseNumber(value, 10000000, number)) {
            config.line_baud = static_cast<int>(number);
        } else if (std::strcmp(option, "--link") == 0 && value != nullptr && *value != '\0') {
            link = value;
        } else {
            return Usage();
        }
        ++i;
    }

    // Block the stop signals before the serving thread starts, so that only sigwait sees them.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    tornelvox::emulator::EmulatedAdapter adapter(config);
    if (!adapter.Start()) {
        std::fprintf(stderr, "tornelvox-emulator: cannot create a pseudo-terminal\n");
        return 1;
    }
    std::printf("%s\n", adapter.DevicePath().c_str());
    if (!link.empty()) {
        if (!adapter.LinkAt(link)) {
            std::fprintf(stderr, "tornelvox-emulator: cannot link %s: %s\n", link.c_str(),
                         std::strerror(errno));
            return 1;
        }
        std::printf("%s\n", link.c_str());
    }
    std::fflush(stdout);

    int received = 0;
    sigwait(&stop_signals, &received);
    adapter.Stop();
    return 0;
}
