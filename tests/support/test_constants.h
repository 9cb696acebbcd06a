// Values many tests share: the firmware versions the emulated adapter plays, the address the
// update writes when it knows none of the adapter's own, and the short read call of tests whose
// peer answers at once.
#pragma once

#include <array>

namespace tornelvox::testing {

// The built-in image's version: an adapter that runs it is up to date, and a successful update
// leaves CurVerNum at it.
inline constexpr int kCurrentVersion = 0x603;

// An older firmware with every setting and its name page at 0xFD000: what most tests update.
inline constexpr int kOlderVersion = 0x302;

// The address the name page gets when none of the adapter's own is known, as the name page stores
// it: 00 01 00 03 04 06 (kBuiltInBtAddress, and BT_ADD's start value).
inline constexpr std::array<unsigned char, 6> kDefaultAddress = {0x00, 0x01, 0x00,
                                                                 0x03, 0x04, 0x06};

// Read call length, in milliseconds, for tests against a scripted peer or the unpaced emulator:
// every reply arrives far within it, and a silent exchange costs little.
inline constexpr int kShortReadCallMs = 20;

}  // namespace tornelvox::testing
