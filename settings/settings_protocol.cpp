#include "settings/settings_protocol.h"

#include <algorithm>

#include "serial/command_exchange.h"
#include "serial/command_frames.h"
#include "serial/link_session.h"
#include "serial/serial_port.h"

namespace tornelvox {

namespace {

constexpr unsigned char kMarker0 = 'X';
constexpr unsigned char kMarker1 = 'S';
constexpr unsigned char kReplyLength = 7;
constexpr unsigned char kReplyStatus = 0xEE;

// The id only grows; it wraps instead of overflowing, which keeps its low byte running on.
void AdvanceTransactionId(LinkSession &link) {
    link.g_tx_id = static_cast<int>(static_cast<unsigned>(link.g_tx_id) + 1u);
}

}  // namespace

std::uint32_t ParseSettingReply(const unsigned char *bytes, int count) {
    if (bytes == nullptr || count < kSettingReplySize) return ParamFail;
    int marker = -1;
    for (int i = 0; i + 1 < count; ++i) {
        if (bytes[i] == kMarker0 && bytes[i + 1] == kMarker1) {
            marker = i;
            break;
        }
    }
    // Only the first marker counts: a valid reply after a rejected one is not looked for.
    if (marker < 0 || marker + kSettingReplySize - 1 >= count) return ParamFail;
    const unsigned char *reply = bytes + marker;
    if (reply[2] != kReplyLength || reply[4] != kReplyStatus) return ParamFail;
    return static_cast<std::uint32_t>(reply[6]) | static_cast<std::uint32_t>(reply[7]) << 8 |
           static_cast<std::uint32_t>(reply[8]) << 16 | static_cast<std::uint32_t>(reply[9]) << 24;
}

std::uint32_t GetDeviceParameters(LinkSession &link, std::uint8_t option) {
    link.bOptions = option;
    if (!SendCOMM(link, kCmdReadSetting)) return ParamFail;
    AdvanceTransactionId(link);
    const int count = link.RealReadCnt;
    if (count < kSettingReplySize) {
        // A short reply may leave the rest of it on the line; closing flushes it, and the next
        // exchange reopens the port.
        ClosePort(link);
        return ParamFail;
    }
    // Only the bytes the read put into the capture window are there to be parsed.
    const int delivered = std::min({count, link.CapturedCnt, kCaptureSize});
    return ParseSettingReply(link.ReadData, delivered);
}

std::uint32_t SetDeviceParameters(LinkSession &link, std::uint8_t option, std::uint8_t value) {
    link.bOptions = option;
    link.bOptionsValue = value;
    if (!SendCOMM(link, kCmdWriteSetting)) return ParamFail;
    AdvanceTransactionId(link);
    return 0;
}

}  // namespace tornelvox
