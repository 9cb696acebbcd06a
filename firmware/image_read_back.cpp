// Reading an image page back and comparing it with the image.
#include "firmware/image_read_back.h"

#include <algorithm>

#include "firmware/firmware_update.h"
#include "serial/command_exchange.h"

namespace tornelvox {

PageReadBack ComparePageReply(std::span<const unsigned char> reply,
                              std::span<const unsigned char> page) {
    PageReadBack result;
    if (reply.size() < kPageReplyLength || page.size() < kPageBytesInReply) return result;
    const std::span<const unsigned char> carried = reply.subspan(kPageInReply, kPageBytesInReply);
    const auto [at, _] = std::mismatch(carried.begin(), carried.end(), page.begin());
    if (at == carried.end()) {
        result.outcome = PageReadBack::Outcome::kAsWritten;
    } else {
        result.outcome = PageReadBack::Outcome::kDiffers;
        result.first_difference = static_cast<int>(at - carried.begin());
    }
    return result;
}

PageReadBack ReadBackImagePage(FirmwareSession &session, int page) {
    if (page < 0 || page >= kImagePages) return {};
    session.dwReadAdd = static_cast<std::uint32_t>(page) * kPageSize;
    unsigned char reply[kPageReplyLength];
    WholeReply whole{reply, 0};
    if (!SendCOMM(session, kCmdReadPage, whole)) return {};
    const std::size_t kept =
        std::min(static_cast<std::size_t>(std::max(whole.kept, 0)), sizeof reply);
    return ComparePageReply({reply, kept},
                            {rawData + static_cast<std::size_t>(page) * kPageSize, kPageSize});
}

}  // namespace tornelvox
