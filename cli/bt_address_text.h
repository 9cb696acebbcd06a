// Bluetooth addresses as a user writes them on the command line.
#pragma once

#include <optional>
#include <string_view>

#include "serial/bt_address.h"

namespace tornelvox::cli {

// "06:04:03:00:01:00": six pairs of hexadecimal digits, colon separated, most significant byte
// first as Bluetooth addresses are printed (FormatBtAddress's form). The name page stores that
// address as the bytes 00 01 00 03 04 06, which is what the result holds. Nothing else parses.
std::optional<BtAddress> ParseBtAddressText(std::string_view text);

}  // namespace tornelvox::cli
