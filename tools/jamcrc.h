// CRC-32/JAMCRC: the CRC-32 of ISO-HDLC (polynomial 0x04C11DB7, reflected, preset all ones)
// without the final inversion. The adapter reports it over flash 0x00000 to 0x7CFFF after an
// update; the build computes the expected value from the image, and the emulator from its flash.
// Neither the utility nor its core ever computes it at run time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tornelvox::tools {

inline constexpr std::size_t kCheckedRange = 0x7D000;  // bytes covered: pages 0 to 124

inline std::uint32_t JamCrc(const unsigned char *data, std::size_t size) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    return crc;  // no final inversion
}

// The check value's four bytes, least significant first, as the adapter reports them.
inline std::array<unsigned char, 4> JamCrcBytes(std::uint32_t crc) {
    return {static_cast<unsigned char>(crc), static_cast<unsigned char>(crc >> 8),
            static_cast<unsigned char>(crc >> 16), static_cast<unsigned char>(crc >> 24)};
}

}  // namespace tornelvox::tools
