// Reading an image page back and comparing it with the image, fed arbitrary replies split at
// arbitrary points: the whole reply is kept beyond the capture window, so every byte of it is
// read and every index into it must stay bounded.
#include <cstdlib>

#include "firmware/firmware_session.h"
#include "firmware/firmware_update.h"
#include "fuzz/fuzz_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace tornelvox;
    if (size < 1) return 0;
    const int page = kFirstUncheckedPage + data[0] % kUncheckedPages;
    FirmwareSession session;
    fuzzing::FuzzLine line(session, data + 1, size - 1);
    if (!line.Ready()) return 0;
    const PageReadBack found = ReadBackImagePage(session, page);
    // A page passes only on a whole reply, and a difference is always a page byte the reply
    // carries.
    using Outcome = PageReadBack::Outcome;
    if (found.outcome == Outcome::kAsWritten &&
        session.RealReadCnt < static_cast<int>(kPageReplyLength)) {
        std::abort();
    }
    if (found.outcome == Outcome::kDiffers &&
        (found.first_difference < 0 ||
         found.first_difference >= static_cast<int>(kPageBytesInReply))) {
        std::abort();
    }
    return 0;
}
