// Pages of the built-in image, for tests of reading the image back: whatever image the build
// carries, they find a page whose loss a read back can see.
#pragma once

#include <cstddef>

#include "firmware/firmware_update.h"

namespace tornelvox::testing {

// The first image page from `first` on that an erased page cannot pass for: a byte of the 4,095
// that a page read carries is not 0xFF. -1 when there is none (an image padded from there on).
inline int PageUnlikeErasedFrom(int first) {
    for (int page = first; page < kImagePages; ++page) {
        const unsigned char *bytes = rawData + static_cast<std::size_t>(page) * kPageSize;
        for (std::size_t i = 0; i < kPageBytesInReply; ++i) {
            if (bytes[i] != 0xFF) return page;
        }
    }
    return -1;
}

}  // namespace tornelvox::testing
