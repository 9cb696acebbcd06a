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

AdapterIdentity QueriedAdapter;

unsigned char CheckFMVersion() {
    std::fill_n(Ver, 3, '0');
    QueriedAdapter = {ComPortName, false, false, HangupsSeen.load()};
    if (!SendCOMM(kCmdQueryVersion)) return 0;

    // Only bytes this reply delivered count: what an earlier reply left in the capture window
    // is not this adapter's answer. The digits must lie within the delivered bytes too.
    const int delivered = CapturedCnt;
    QueriedAdapter.emulated = Holds(ReadData, delivered, kEmulatorMarker, kEmulatorMarkerLength);
    for (int p = 0; p + kDigitsOffset + 3 <= delivered; ++p) {
        if (std::memcmp(ReadData + p, kMarker, kMarkerLength) != 0) continue;
        std::memcpy(Ver, ReadData + p + kDigitsOffset, 3);
        CurVerNum = GetVerNum(Ver);
        QueriedAdapter.version_read = true;
        ShowMsg(" Device Firmware Version = %03X\n", CurVerNum);
        ShowMsg(" Available Firmware for update = %03X\n", VerNum);
        return 1;
    }
    return 0;
}

bool VersionKnown() {
    return QueriedAdapter.version_read && QueriedAdapter.port == ComPortName;
}

bool ImageMayUpdateAdapter() {
    return kVendorImage || (QueriedAdapter.emulated && QueriedAdapter.port == ComPortName &&
                            QueriedAdapter.hangups == HangupsSeen.load());
}

bool IdentifyAdapterQuietly() {
    const bool answered = SendCOMM(kCmdQueryVersion);
    QueriedAdapter.port = ComPortName;
    QueriedAdapter.hangups = HangupsSeen.load();
    QueriedAdapter.emulated =
        answered && Holds(ReadData, CapturedCnt, kEmulatorMarker, kEmulatorMarkerLength);
    return answered;
}

}  // namespace tornelvox
