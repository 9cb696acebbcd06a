// Reading the parameter record from the adapter's parameter page.
#include <cstring>

#include "firmware/firmware_update.h"

namespace tornelvox {

namespace {

constexpr std::uint32_t kParameterPage = 0x7E000;
constexpr int kRecordSize = sizeof FrameInputs::Params;
// The record's last two bytes are the marker "XS". In the capture window of the parameter
// page read the record starts at byte 3, or at byte 4 when the marker stands one byte later.
constexpr int kRecordStarts[] = {3, 4};

bool MarkerAt(const LinkSession &session, int record_start) {
    const int marker = record_start + kRecordSize - 2;
    return session.CapturedCnt >= marker + 2 && session.ReadData[marker] == 'X' &&
           session.ReadData[marker + 1] == 'S';
}

}  // namespace

unsigned char GetParam(FirmwareSession &session) {
    std::memset(session.Params, 0xFF, sizeof session.Params);
    session.bParam = 0;
    session.dwReadAdd = kParameterPage;
    if (!SendCOMM(session, kCmdReadParameterPage)) return 0;
    for (const int start : kRecordStarts) {
        if (!MarkerAt(session, start)) continue;
        std::memcpy(session.Params, session.ReadData + start, sizeof session.Params);
        session.bParam = 1;
        return 1;
    }
    return 1;
}

}  // namespace tornelvox
