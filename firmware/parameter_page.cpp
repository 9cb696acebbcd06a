// Reading the parameter record from the adapter's parameter page.
#include <cstring>

#include "firmware/firmware_update.h"

namespace tornelvox {

unsigned char bParam = 0;

namespace {

constexpr std::uint32_t kParameterPage = 0x7E000;
constexpr int kRecordSize = sizeof Params;
// The record's last two bytes are the marker "XS". In the capture window of the parameter
// page read the record starts at byte 3, or at byte 4 when the marker stands one byte later.
constexpr int kRecordStarts[] = {3, 4};

bool MarkerAt(int record_start) {
    const int marker = record_start + kRecordSize - 2;
    return CapturedCnt >= marker + 2 && ReadData[marker] == 'X' && ReadData[marker + 1] == 'S';
}

}  // namespace

unsigned char GetParam() {
    std::memset(Params, 0xFF, sizeof Params);
    bParam = 0;
    dwReadAdd = kParameterPage;
    if (!SendCOMM(kCmdReadParameterPage)) return 0;
    for (const int start : kRecordStarts) {
        if (!MarkerAt(start)) continue;
        std::memcpy(Params, ReadData + start, sizeof Params);
        bParam = 1;
        return 1;
    }
    return 1;
}

}  // namespace tornelvox
