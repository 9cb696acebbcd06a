// Reading written image pages back from the adapter and comparing them with the image: the proof
// for the pages the adapter's check value does not cover.
#pragma once

#include <cstddef>
#include <span>

#include "firmware/firmware_session.h"
#include "serial/command_frames.h"

namespace tornelvox {

// How an update proves what it wrote. The check value covers image pages 0 to 124 only; the
// whole image is proven by reading pages 125 to 252 back as well (about 128 x 4,110 bytes, some
// 46 s at 115,200 baud), which the user asks for.
enum class ImageVerification {
    kCheckValue,  // the check value and the name page read back
    kWholeImage,  // those, then every image page the check value does not cover read back
};

// Image pages the check value does not cover, which the whole-image verification reads back.
inline constexpr int kFirstUncheckedPage = 125;
inline constexpr int kLastUncheckedPage = 252;
inline constexpr int kUncheckedPages = kLastUncheckedPage - kFirstUncheckedPage + 1;

// In the reply to a page read (kCmdReadPage) page byte k stands at reply byte 15 + k. The reply
// is 4,110 bytes long, so it carries page bytes 0 to 4,094: a page's last byte is never read.
inline constexpr std::size_t kPageInReply = 15;
inline constexpr std::size_t kPageReplyLength = 4110;
inline constexpr std::size_t kPageBytesInReply = kPageReplyLength - kPageInReply;

struct PageReadBack {
    enum class Outcome {
        kAsWritten,  // every page byte the reply carries equals the image's
        kDiffers,    // a page byte differs (first_difference tells which)
        kNotRead,    // the read failed, or its reply did not carry the page bytes it should
    };
    Outcome outcome = Outcome::kNotRead;
    int first_difference = -1;  // page byte, for kDiffers
};

// Compares the page bytes a page read's reply carries with page. reply is untrusted: only its
// bytes are read, and it must hold all kPageBytesInReply page bytes to count as read at all.
PageReadBack ComparePageReply(std::span<const unsigned char> reply,
                              std::span<const unsigned char> page);

// Reads image page `page` (kFirstUncheckedPage to kLastUncheckedPage; any image page works)
// back at its flash address and compares it with rawData. Blocks for one page read.
PageReadBack ReadBackImagePage(FirmwareSession &session, int page);

}  // namespace tornelvox
