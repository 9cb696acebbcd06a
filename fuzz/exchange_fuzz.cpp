// The command exchange and its read loop fed arbitrary replies split at arbitrary points.
#include <cstdlib>

#include "fuzz/fuzz_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tornelvox;
    if (size < 1) return 0;
    // Every catalogue code, and one code without a row on either side of them.
    const int code = kFirstCommand - 1 + data[0] % (kLastCommand - kFirstCommand + 3);
    LinkSession session;
    // The image page's bytes, as the firmware layer gives them: any page will do.
    static const unsigned char page[kPageSize] = {};
    session.page = page;
    fuzzing::FuzzLine line(session, data + 1, size - 1);
    if (!line.Ready()) return 0;
    session.CapturedCnt = 0;
    SendCOMM(session, code);
    // The capture window never holds more than it can, and the read never counts more than
    // one chunk's overshoot past what was asked.
    if (session.CapturedCnt < 0 || session.CapturedCnt > kCaptureSize) std::abort();
    if (session.CmdReadCnt > 0 && session.RealReadCnt > session.CmdReadCnt + 255) std::abort();
    return 0;
}
