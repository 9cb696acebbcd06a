// The window program's own options. It reads its command line only when the demo mode is asked
// for; otherwise every argument is left to Qt, or passed over, as it always was.
//
//   tornelvox-utility --emulated[=VERSION] [--full-speed]
//
//   --emulated[=VERSION]  starts the emulated adapter inside the program, at firmware VERSION
//                         (hexadecimal as 0x302; default 0x302, so that an update is offered)
//   --full-speed          the emulated adapter answers at once instead of at the line rate
#pragma once

#include <cstdint>
#include <string>

namespace tornelvox {

// Version the demo's emulated adapter runs unless told otherwise: older than the built-in image,
// so that Check offers the Update.
inline constexpr std::uint32_t kDemoAdapterVersion = 0x302;

struct DemoOptions {
    bool emulated = false;                        // --emulated given: the demo mode runs
    std::uint32_t version = kDemoAdapterVersion;  // its adapter's firmware version
    bool full_speed = false;                      // no line-rate pacing
};

struct DemoOptionsRead {
    DemoOptions options;
    std::string error;  // not empty: the demo's options are wrong, in words
};

// Reads the demo mode's options from the arguments Qt has left. Without "--emulated" or
// "--emulated=VERSION" among them nothing at all is read, and the demo mode stays off. With it,
// arguments other than the demo's own are passed over.
DemoOptionsRead ReadDemoOptions(int argc, char **argv);

}  // namespace tornelvox
