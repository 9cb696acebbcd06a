// The adapter's 1 MiB serial NOR flash: erasing sets bytes to 0xFF, programming can only clear
// bits (flash &= data), so a page programmed without an erase comes out corrupted.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "emulator/emulated_adapter.h"

namespace tornelvox::emulator {

inline constexpr std::uint32_t kOldNamePageAddress = 0x7D000;  // firmware below 0x300
inline constexpr std::uint32_t kNamePageAddress = 0xFD000;     // firmware 0x300 and later
inline constexpr std::uint32_t kCheckedPages = 125;            // pages 0..124 carry the firmware

class AdapterFlash {
  public:
    AdapterFlash();  // all erased

    // Factory content: firmware pages 0..124 with a pattern of the given version, the name page
    // where that version keeps it (unless name_page is false), a second name page at the other
    // place when other_place holds an address, everything else erased.
    void LoadFactoryContent(std::uint32_t version, const std::array<std::uint8_t, 6> &bt_address,
                            bool name_page = true,
                            const std::optional<std::array<std::uint8_t, 6>> &other_place = {});

    // Erases [address, address + size); false (and nothing erased) if out of range.
    bool Erase(std::uint32_t address, std::size_t size);
    // NOR programming: every byte becomes flash & data. False if out of range.
    bool Program(std::uint32_t address, const std::uint8_t *data, std::size_t size);
    // Plain overwrite, for tests that plant content.
    bool Overwrite(std::uint32_t address, const std::uint8_t *data, std::size_t size);
    // Copies [address, address + size) into out; false if out of range.
    bool Read(std::uint32_t address, std::size_t size, std::vector<std::uint8_t> &out) const;

    bool PageErased(std::uint32_t page) const;
    std::uint32_t CheckValue() const;  // CRC-32/JAMCRC of 0x00000..0x7CFFF
    const std::vector<std::uint8_t> &Bytes() const { return bytes_; }

  private:
    bool InRange(std::uint32_t address, std::size_t size) const;
    std::vector<std::uint8_t> bytes_;
};

// The name page as the adapter stores it: address, product name, three hex digits of the
// address in parentheses, 0x00 to byte 37, 0xFF after.
std::vector<std::uint8_t> BuildNamePage(const std::array<std::uint8_t, 6> &bt_address);

}  // namespace tornelvox::emulator
