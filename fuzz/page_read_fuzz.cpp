// Reading the adapter's name page and its Bluetooth address, fed arbitrary replies.
#include <cstdlib>
#include <cstring>

#include "firmware/firmware_session.h"
#include "firmware/firmware_update.h"
#include "fuzz/fuzz_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tornelvox;
    if (size < 1) return 0;
    FirmwareSession session;
    session.CurVerNum = data[0] & 1 ? 0x2FF : 0x603;
    fuzzing::FuzzLine line(session, data + 1, size - 1);
    if (!line.Ready()) return 0;
    // A valid name page left from an earlier read must never be taken for this one's.
    std::memset(session.ReadData, 0x11, sizeof session.ReadData);
    session.ReadData[21] = 'T';
    session.ReadData[22] = 'o';
    if (GetID(session, 1) == 1 && session.CapturedCnt < 23) std::abort();
    return 0;
}
