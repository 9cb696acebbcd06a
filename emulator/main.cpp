// tornelvox-emulator: plays a Tornelvox adapter on a pseudo-terminal until SIGINT or SIGTERM.
// Prints the slave's path (and the link's) and serves; the link is removed on exit.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "emulator/emulated_adapter.h"
#include "emulator/frame_catalogue.h"

namespace {

constexpr const char *kDescription =
    "Plays a Tornelvox adapter on a pseudo-terminal, for tests and for trying the utility without "
    "an adapter. Prints the pseudo-terminal's path (and the link's, with --link), then serves "
    "until SIGINT or SIGTERM.";

constexpr const char *kFooter =
    R"(Versions are three hex digits as the adapter reports them: 0x302 is "302".

Examples:
  tornelvox-emulator --link /tmp/dev/cu.usbserial-EMU
  tornelvox --device-dir /tmp/dev update --yes)";

std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%03X", static_cast<unsigned>(value));
    return text;
}

}  // namespace

int main(int argc, char **argv) {
    tornelvox::emulator::AdapterConfig config;
    std::string link;
    bool no_name_page = false;
    bool real = false;
    bool unplug_while_writing = false;
    int unwritten_page = -1;
    std::vector<int> silent_settings;

    CLI::App app(kDescription, "tornelvox-emulator");
    app.footer(kFooter);
    app.add_option("--version", config.version, "Firmware version the adapter runs at start")
        ->default_str(Hex(config.version))
        ->check(CLI::Range(0, 0xFFF));
    app.add_option("--after-update", config.version_after_update,
                   "Version it runs after a successful update")
        ->default_str(Hex(config.version_after_update))
        ->check(CLI::Range(0, 0xFFF));
    app.add_option("--link", link, "Also link the pseudo-terminal here (removed on exit)");
    app.add_option("--baud", config.line_baud,
                   "Pace replies as a line at this rate would (10 bits a byte); 0 is unpaced")
        ->capture_default_str()
        ->check(CLI::Range(0, 10000000));
    app.add_option("--erase-step-ms", config.erase_delay_ms,
                   "Time the adapter takes for each erase step before it replies")
        ->capture_default_str()
        ->check(CLI::Range(0, 60000));
    app.add_option("--verify-ms", config.verify_delay_ms,
                   "Time the adapter takes to compute the check value before it replies")
        ->capture_default_str()
        ->check(CLI::Range(0, 60000));
    app.add_flag("--strange-line-mode", config.strange_line_mode,
                 "Leave the line with translation, parity and flow control on, as a careless "
                 "other program might, instead of raw");
    app.add_flag("--never-reads", config.never_reads,
                 "Never take input from the line, like a device whose buffer is full");
    app.add_flag("--no-name-page", no_name_page,
                 "Start without a name page (no Bluetooth address), as after an update that "
                 "never finished");
    app.add_flag("--boot-loader-silent", config.boot_loader_never_answers,
                 "The boot loader never answers: the version reads, every update fails");
    app.add_flag("--unplug-while-writing", unplug_while_writing,
                 "The adapter is unplugged when the 20th image page of an update arrives");
    app.add_option("--unwritten-page", unwritten_page,
                   "Answer the first write of this image page as done but leave the page "
                   "unwritten, as a flash that lost the write would")
        ->check(CLI::Range(0, 252));
    app.add_option("--silent-setting", silent_settings,
                   "Never answer a read of the setting with this option code (repeatable); "
                   "its writes are still answered")
        ->check(CLI::Range(1, 18));
    app.add_flag("--real", real,
                 "Play a real adapter: no emulator marker in the version reply, so a build "
                 "without the vendor's image refuses to update it");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        const int shown = app.exit(error);  // prints the help, or the error and a hint
        return shown == 0 ? 0 : 2;
    }
    config.name_page_stored = !no_name_page;
    config.identifies_as_emulator = !real;

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
    if (unplug_while_writing) {
        adapter.AddFault({.code = tornelvox::emulator::kCodeWriteImagePage,
                          .kind = tornelvox::emulator::FaultKind::kUnplug,
                          .skip = 19});
    }
    if (unwritten_page >= 0) {
        adapter.AddFault({.code = tornelvox::emulator::kCodeWriteImagePage,
                          .kind = tornelvox::emulator::FaultKind::kUnwrittenPage,
                          .page = unwritten_page});
    }
    for (const int option : silent_settings) {
        adapter.AddFault({.code = tornelvox::emulator::kCodeReadSetting,
                          .kind = tornelvox::emulator::FaultKind::kSilence,
                          .option = option,
                          .times = tornelvox::emulator::kAlways});
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
