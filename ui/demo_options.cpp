#include "ui/demo_options.h"

#include <CLI/CLI.hpp>
#include <string_view>
#include <vector>

namespace tornelvox {

namespace {

constexpr std::string_view kEmulated = "--emulated";

bool AsksForDemo(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == kEmulated) return true;
        if (argument.size() > kEmulated.size() &&
            argument.substr(0, kEmulated.size()) == kEmulated &&
            argument[kEmulated.size()] == '=') {
            return true;
        }
    }
    return false;
}

}  // namespace

DemoOptionsRead ReadDemoOptions(int argc, char **argv) {
    DemoOptionsRead read;
    if (!AsksForDemo(argc, argv)) return read;

    CLI::App app("The Tornelvox Utility", "tornelvox-utility");
    // Qt's own options and anything else are not the demo's business.
    app.allow_extras();
    app.set_help_flag();
    app.add_option("--emulated", read.options.version,
                   "Start the emulated adapter at this firmware version")
        ->expected(0, 1)
        ->default_str("0x302")
        ->check(CLI::Range(0, 0xFFF));
    app.add_flag("--full-speed", read.options.full_speed,
                 "The emulated adapter answers at once instead of at the line rate");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &error) {
        read.error = error.what();
        return read;
    }
    read.options.emulated = true;
    return read;
}

}  // namespace tornelvox
