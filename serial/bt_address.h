// A Bluetooth address as the adapter's name page stores it.
#pragma once

#include <array>

namespace tornelvox {

// Six bytes, byte 0 the least significant: printed most significant first, 06:04:03:00:01:00
// is stored as 00 01 00 03 04 06.
using BtAddress = std::array<unsigned char, 6>;

}  // namespace tornelvox
