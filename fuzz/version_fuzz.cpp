// The firmware version query fed arbitrary replies.
#include <cstdlib>
#include <cstring>

#include "firmware/firmware_session.h"
#include "firmware/firmware_update.h"
#include "fuzz/fuzz_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tornelvox;
    FirmwareSession session;
    fuzzing::FuzzLine line(session, data, size);
    if (!line.Ready()) return 0;
    // A complete version text left from an earlier reply must never count as this one's.
    static const char kStale[] = "KQ Version = 7AB ";
    for (std::size_t i = 0; i < sizeof session.ReadData; ++i) {
        session.ReadData[i] = kStale[i % (sizeof kStale - 1)];
    }
    session.CurVerNum = -1;
    const unsigned char found = CheckFMVersion(session);
    if (!found) {
        if (session.CurVerNum != -1) std::abort();
        return 0;
    }
    if (session.CurVerNum < 0 || session.CurVerNum > 0xFFF) std::abort();
    bool delivered = false;  // the marker and its digits came with this reply
    for (int p = 0; p + 16 <= session.CapturedCnt; ++p) {
        delivered = delivered || std::memcmp(session.ReadData + p, "KQ Version", 10) == 0;
    }
    if (!delivered) std::abort();
    return 0;
}
