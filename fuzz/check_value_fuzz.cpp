// The verify reply: the check value the adapter reports, fed arbitrary replies.
#include <cstdlib>
#include <cstring>

#include "firmware/check_value.h"
#include "firmware/firmware_update.h"
#include "fuzz/fuzz_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tornelvox;
    LinkSession session;
    fuzzing::FuzzLine line(session, data, size);
    if (!line.Ready()) return 0;
    // The right check value left from an earlier reply must never pass a later one.
    std::memset(session.ReadData, 0, sizeof session.ReadData);
    std::memcpy(session.ReadData + kCheckValueOffset, FW_CRC, 4);
    if (!SendCOMM(session, kCmdReadCheckValue)) return 0;
    const int mismatches = CheckValueMismatches(session.ReadData, session.CapturedCnt);
    if (mismatches < 0 || mismatches > 4) std::abort();
    if (mismatches == 0 && (session.CapturedCnt < kCheckValueOffset + kCheckValueSize ||
                            std::memcmp(session.ReadData + kCheckValueOffset, FW_CRC, 4) != 0)) {
        std::abort();
    }
    return 0;
}
