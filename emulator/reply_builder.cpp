#include "emulator/reply_builder.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "firmware/emulator_marker.h"

namespace tornelvox::emulator {

std::vector<std::uint8_t> CommandComplete(std::size_t length, std::uint8_t status,
                                          const std::vector<std::uint8_t> &parameters) {
    const std::uint8_t head[] = {
        0x04, 0x0E,  static_cast<std::uint8_t>(length > 3 ? length - 3 : 0), 0x01, 0xE0,
        0xFC, status};
    std::vector<std::uint8_t> reply(std::max(length, sizeof head + parameters.size()), 0x00);
    std::copy(std::begin(head), std::end(head), reply.begin());
    std::copy(parameters.begin(), parameters.end(), reply.begin() + sizeof head);
    reply.resize(length);
    return reply;
}

std::vector<std::uint8_t> PageReadReply(std::uint32_t address,
                                        const std::vector<std::uint8_t> &page) {
    // Long-form event: 04 0E FF 01 E0 FC status F4 length(2) 09 address(4).
    const std::size_t payload = kPageReplyLength - 8;
    std::vector<std::uint8_t> reply = {0x04,
                                       0x0E,
                                       0xFF,
                                       0x01,
                                       0xE0,
                                       0xFC,
                                       kStatusOk,
                                       0xF4,
                                       static_cast<std::uint8_t>(payload),
                                       static_cast<std::uint8_t>(payload >> 8),
                                       0x09,
                                       static_cast<std::uint8_t>(address),
                                       static_cast<std::uint8_t>(address >> 8),
                                       static_cast<std::uint8_t>(address >> 16),
                                       static_cast<std::uint8_t>(address >> 24)};
    const std::size_t room = kPageReplyLength - kPageReplyHead;
    reply.resize(kPageReplyLength, 0xFF);
    std::copy_n(page.begin(), std::min(room, page.size()), reply.begin() + kPageReplyHead);
    return reply;
}

std::vector<std::uint8_t> CheckValueReply(std::uint32_t check_value) {
    return CommandComplete(
        11, kStatusOk,
        {static_cast<std::uint8_t>(check_value), static_cast<std::uint8_t>(check_value >> 8),
         static_cast<std::uint8_t>(check_value >> 16),
         static_cast<std::uint8_t>(check_value >> 24)});
}

std::vector<std::uint8_t> VersionReply(std::uint32_t version, bool marker) {
    char text[kVersionReplyLength + 1] = {};
    std::snprintf(text, sizeof text, "\r\nKQ Version = %03X %-12s\r\n",
                  static_cast<unsigned>(version & 0xFFFu), marker ? kEmulatorMarker : "Tornelvox");
    std::vector<std::uint8_t> reply(text, text + kVersionReplyLength);
    return reply;
}

std::vector<std::uint8_t> NoFirmwareReply() {
    char text[kVersionReplyLength + 1] = {};
    std::snprintf(text, sizeof text, "\r\n%s no firmware     \r\n", kEmulatorMarker);
    return std::vector<std::uint8_t>(text, text + kVersionReplyLength);
}

std::vector<std::uint8_t> SettingsReply(std::uint8_t id, std::uint8_t status, std::uint8_t option,
                                        std::uint32_t number) {
    return {0x58,
            0x53,
            0x07,
            id,
            status,
            option,
            static_cast<std::uint8_t>(number),
            static_cast<std::uint8_t>(number >> 8),
            static_cast<std::uint8_t>(number >> 16),
            static_cast<std::uint8_t>(number >> 24)};
}

}  // namespace tornelvox::emulator
