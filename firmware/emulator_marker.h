// How the project's own emulated adapter makes itself known: it puts this text into every
// answer to the version query ("/v"), also when it has no firmware to report. No real adapter
// sends it. A build that carries no vendor firmware image updates only an adapter that said it.
#pragma once

namespace tornelvox {

inline constexpr char kEmulatorMarker[] = "TVX-EMULATOR";
inline constexpr int kEmulatorMarkerLength = sizeof kEmulatorMarker - 1;

}  // namespace tornelvox
