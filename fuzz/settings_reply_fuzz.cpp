// Reading one setting, fed arbitrary replies.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "fuzz/fuzz_line.h"
#include "settings/device_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tornelvox;
    if (size < 1) return 0;
    const std::uint8_t option = data[0];
    LinkSession session;
    fuzzing::FuzzLine line(session, data + 1, size - 1);
    if (!line.Ready()) return 0;
    // A valid reply left from an earlier exchange must never be taken for this one's.
    const unsigned char stale[10] = {'X', 'S', 7, 1, 0xEE, 1, 0x2A, 0, 0, 0};
    for (std::size_t i = 0; i < sizeof session.ReadData; ++i) {
        session.ReadData[i] = stale[i % sizeof stale];
    }
    const std::uint32_t value = GetDeviceParameters(session, option);
    if (value == ParamFail) return 0;
    const int delivered = std::min(session.RealReadCnt, session.CapturedCnt);
    for (int i = 0; i + 9 < delivered; ++i) {
        if (session.ReadData[i] != 'X' || session.ReadData[i + 1] != 'S') continue;
        std::uint32_t carried = 0;
        std::memcpy(&carried, session.ReadData + i + 6, 4);  // little-endian host
        if (carried != value) std::abort();                  // the first marker decides
        return 0;
    }
    std::abort();  // a value that no delivered reply carried
}
