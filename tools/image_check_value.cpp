// Prints the check value an adapter reports after it was programmed with an image: the
// CRC-32/JAMCRC of the image's first 0x7D000 bytes, as four bytes least significant first
// ("62 F3 CE FA"), the form TORNELVOX_FIRMWARE_CHECK_VALUE takes. The test script gives it to a
// build whose image it made, as the vendor's check value of that image.
// Usage: image-check-value IMAGE
#include <cstdio>
#include <vector>

#include "tools/jamcrc.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s IMAGE\n", argv[0]);
        return 2;
    }
    std::FILE *in = std::fopen(argv[1], "rb");
    if (in == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<unsigned char> checked(tornelvox::tools::kCheckedRange);
    const std::size_t size = std::fread(checked.data(), 1, checked.size(), in);
    std::fclose(in);
    if (size != checked.size()) {
        std::fprintf(stderr, "error: %s has %zu bytes, fewer than the %zu the check value covers\n",
                     argv[1], size, checked.size());
        return 1;
    }
    const auto bytes =
        tornelvox::tools::JamCrcBytes(tornelvox::tools::JamCrc(checked.data(), checked.size()));
    std::printf("%02X %02X %02X %02X\n", bytes[0], bytes[1], bytes[2], bytes[3]);
    return 0;
}
