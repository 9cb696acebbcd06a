// The bytes of the adapter's replies. HCI replies are Command Complete events:
// 04 0E len 01 E0 FC status, then return parameters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tornelvox::emulator {

inline constexpr std::uint8_t kStatusOk = 0x00;
inline constexpr std::uint8_t kStatusFailed = 0x01;
inline constexpr std::uint8_t kSettingsOk = 0xEE;
inline constexpr std::uint8_t kSettingsUnknown = 0xE1;  // option unknown or choice invalid

inline constexpr std::size_t kPageReplyHead = 15;  // page byte k stands at reply byte 15 + k
inline constexpr std::size_t kPageReplyLength = 4110;
inline constexpr std::size_t kVersionReplyLength = 33;

// A Command Complete event of exactly `length` bytes (at least 5) carrying the status and the
// parameters, padded with zeros or cut to fit.
std::vector<std::uint8_t> CommandComplete(std::size_t length, std::uint8_t status,
                                          const std::vector<std::uint8_t> &parameters);

// Reply to a page read: a 15-byte head, then the page from byte 0, cut to 4110 bytes in all.
std::vector<std::uint8_t> PageReadReply(std::uint32_t address,
                                        const std::vector<std::uint8_t> &page);

// Reply to kCodeVerify: the check value in bytes 7..10, least significant byte first.
std::vector<std::uint8_t> CheckValueReply(std::uint32_t check_value);

// Reply to "/v": 33 bytes of text with "KQ Version" and the version's three hex digits 13 bytes
// after it, then the emulated adapter's marker when `marker` is set.
std::vector<std::uint8_t> VersionReply(std::uint32_t version, bool marker);

// The emulated adapter's reply to "/v" when it has no firmware: its marker and no version.
std::vector<std::uint8_t> NoFirmwareReply();

// Reply to a settings frame: "XS" 07 id status option, then the number little-endian.
std::vector<std::uint8_t> SettingsReply(std::uint8_t id, std::uint8_t status, std::uint8_t option,
                                        std::uint32_t number);

}  // namespace tornelvox::emulator
