// Reading and writing one adapter setting over the "XS" settings frames (kCmdReadSetting,
// kCmdWriteSetting).
#pragma once

#include <cstddef>
#include <cstdint>

namespace tornelvox {

class LinkSession;

// What both operations return on any failure. Its bytes, little-endian, read "SXSX"; a setting
// whose true value is this number cannot be told from a failure.
inline constexpr std::uint32_t ParamFail = 0x58535853;

// Length of a settings reply: "XS", length byte 7, id, status 0xEE, option, 32-bit value.
inline constexpr int kSettingReplySize = 10;

// Reads option from the adapter on link's port (kCmdReadSetting). Returns its value, or ParamFail.
// The transaction id advances for every exchange that brought a usable reply, also when the reply
// is then rejected. A reply shorter than kSettingReplySize leaves the port closed; the next
// exchange reopens it. Logs nothing; callers retry a failed read once.
std::uint32_t GetDeviceParameters(LinkSession &link, std::uint8_t option);

// Writes value to option (kCmdWriteSetting). Returns 0 when the exchange succeeded, ParamFail
// otherwise; the reply's content is not examined. Logs nothing; never retried.
std::uint32_t SetDeviceParameters(LinkSession &link, std::uint8_t option, std::uint8_t value);

// Finds the value in the bytes of a settings reply: the first "XS" marker within count bytes
// must be followed by the length byte 7 and the status 0xEE, and all ten reply bytes must lie
// within count. Returns the 32-bit little-endian value after the marker, or ParamFail. Never
// looks at bytes at or beyond count; a negative count is taken as 0.
std::uint32_t ParseSettingReply(const unsigned char *bytes, int count);

}  // namespace tornelvox
