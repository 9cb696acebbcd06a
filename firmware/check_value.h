// Comparing the check value the adapter reports with the built-in one.
#pragma once

#include "serial/serial_link.h"

namespace tornelvox {

// Position of the four check value bytes in the reply to kCmdReadCheckValue.
inline constexpr int kCheckValueOffset = 7;
inline constexpr int kCheckValueSize = 4;

// How many of the four check value bytes differ from FW_CRC in a reply of which `delivered`
// bytes arrived. A byte the reply did not deliver never matches: whatever the buffer holds
// there is left from an earlier reply.
int CheckValueMismatches(const unsigned char *reply, int delivered);

// Logs one line of the check value dump to session's log: `label`, then "%02X " for each of the
// four bytes at value of which the first `delivered` arrived; a byte that did not arrive shows as
// "-- ".
void ShowCheckValueLine(LinkSession &session, const char *label, const unsigned char *value,
                        int delivered);

// How many of the check value bytes a reply of `delivered` bytes carries (0 to 4).
int DeliveredCheckValueBytes(int delivered);

}  // namespace tornelvox
