// The firmware version query: "/v" answered by a text holding "KQ Version" and three digits.
#include <algorithm>
#include <cstring>

#include "firmware/emulator_marker.h"
#include "firmware/firmware_update.h"

namespace tornelvox {

namespace {

constexpr char kMarker[] = "KQ Version";
constexpr int kMarkerLength = 10;
constexpr int kDigitsOffset = 13;  // the digits follow the marker after three separator bytes

bool Holds(const unsigned char *bytes, int size, const char *text, int length) {
    for (int p = 0; p + length <= size; ++p) {
        if (std::memcmp(bytes + p, text, static_cast<std::size_t>(length)) == 0) return true;
    }
    return false;
}

}  // namespace

unsigned char CheckFMVersion(FirmwareSession &session) {
    std::fill_n(session.Ver, 3, '0');
    session.QueriedAdapter = {session.ComPortName, false, false, session.HangupsSeen.load()};
    if (!SendCOMM(session, kCmdQueryVersion)) return 0;

    // Only bytes this reply delivered count: what an earlier reply left in the capture window
    // is not this adapter's answer. The digits must lie within the delivered bytes too.
    const int delivered = session.CapturedCnt;
    session.QueriedAdapter.emulated =
        Holds(session.ReadData, delivered, kEmulatorMarker, kEmulatorMarkerLength);
    for (int p = 0; p + kDigitsOffset + 3 <= delivered; ++p) {
        if (std::memcmp(session.ReadData + p, kMarker, kMarkerLength) != 0) continue;
        std::memcpy(session.Ver, session.ReadData + p + kDigitsOffset, 3);
        session.CurVerNum = GetVerNum(session.Ver);
        session.QueriedAdapter.version_read = true;
        ShowMsg(session, " Device Firmware Version = %03X\n", session.CurVerNum);
        ShowMsg(session, " Available Firmware for update = %03X\n", VerNum);
        return 1;
    }
    return 0;
}

bool VersionKnown(const FirmwareSession &session) {
    return session.QueriedAdapter.version_read &&
           session.QueriedAdapter.port == session.ComPortName;
}

bool ImageMayUpdateAdapter(const FirmwareSession &session) {
    return kVendorImage ||
           (session.QueriedAdapter.emulated && session.QueriedAdapter.port == session.ComPortName &&
            session.QueriedAdapter.hangups == session.HangupsSeen.load());
}

bool IdentifyAdapterQuietly(FirmwareSession &session) {
    const ExchangeResult answered = SendCOMM(session, kCmdQueryVersion);
    session.QueriedAdapter.port = session.ComPortName;
    session.QueriedAdapter.hangups = session.HangupsSeen.load();
    session.QueriedAdapter.emulated =
        answered && Holds(answered.reply.data(), static_cast<int>(answered.reply.size()),
                          kEmulatorMarker, kEmulatorMarkerLength);
    return answered.usable;
}

}  // namespace tornelvox
