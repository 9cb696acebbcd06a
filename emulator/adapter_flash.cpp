#include "emulator/adapter_flash.h"

#include <algorithm>
#include <cstring>

#include "tools/jamcrc.h"

namespace tornelvox::emulator {
namespace {

char HexDigit(unsigned value) {
    static const char kDigits[] = "0123456789ABCDEF";
    return kDigits[value & 0x0Fu];
}

}  // namespace

AdapterFlash::AdapterFlash() : bytes_(kFlashSize, 0xFF) {}

void AdapterFlash::LoadFactoryContent(
    std::uint32_t version, const std::array<std::uint8_t, 6> &bt_address, bool name_page,
    const std::optional<std::array<std::uint8_t, 6>> &other_place) {
    std::fill(bytes_.begin(), bytes_.end(), 0xFF);
    // Old firmware: any deterministic bytes, different for each version.
    for (std::size_t i = 0; i < kCheckedPages * kPageSize; ++i) {
        bytes_[i] = static_cast<std::uint8_t>((i * 7) ^ (i >> 9) ^ version);
    }
    const std::uint32_t at = version < 0x300 ? kOldNamePageAddress : kNamePageAddress;
    if (name_page) {
        const std::vector<std::uint8_t> name = BuildNamePage(bt_address);
        std::copy(name.begin(), name.end(), bytes_.begin() + at);
    }
    if (other_place) {
        const std::vector<std::uint8_t> name = BuildNamePage(*other_place);
        const std::uint32_t other = at == kNamePageAddress ? kOldNamePageAddress : kNamePageAddress;
        std::copy(name.begin(), name.end(), bytes_.begin() + other);
    }
}

bool AdapterFlash::InRange(std::uint32_t address, std::size_t size) const {
    return address <= bytes_.size() && size <= bytes_.size() - address;
}

bool AdapterFlash::Erase(std::uint32_t address, std::size_t size) {
    if (!InRange(address, size)) return false;
    std::fill_n(bytes_.begin() + address, size, 0xFF);
    return true;
}

bool AdapterFlash::Program(std::uint32_t address, const std::uint8_t *data, std::size_t size) {
    if (data == nullptr || !InRange(address, size)) return false;
    for (std::size_t i = 0; i < size; ++i) bytes_[address + i] &= data[i];
    return true;
}

bool AdapterFlash::Overwrite(std::uint32_t address, const std::uint8_t *data, std::size_t size) {
    if (data == nullptr || !InRange(address, size)) return false;
    std::memcpy(bytes_.data() + address, data, size);
    return true;
}

bool AdapterFlash::Read(std::uint32_t address, std::size_t size,
                        std::vector<std::uint8_t> &out) const {
    if (!InRange(address, size)) return false;
    out.assign(bytes_.begin() + address, bytes_.begin() + address + size);
    return true;
}

bool AdapterFlash::PageErased(std::uint32_t page) const {
    if (page >= bytes_.size() / kPageSize) return false;
    const auto begin = bytes_.begin() + page * kPageSize;
    return std::all_of(begin, begin + kPageSize, [](std::uint8_t b) { return b == 0xFF; });
}

std::uint32_t AdapterFlash::CheckValue() const {
    return tools::JamCrc(bytes_.data(), tools::kCheckedRange);
}

std::vector<std::uint8_t> BuildNamePage(const std::array<std::uint8_t, 6> &bt_address) {
    std::vector<std::uint8_t> page(kPageSize, 0xFF);
    std::copy(bt_address.begin(), bt_address.end(), page.begin());
    static const char kName[] = "Tornelvox";
    std::memcpy(page.data() + 6, kName, 9);
    page[15] = '(';
    page[16] = static_cast<std::uint8_t>(HexDigit(bt_address[1]));
    page[17] = static_cast<std::uint8_t>(HexDigit(bt_address[0] >> 4));
    page[18] = static_cast<std::uint8_t>(HexDigit(bt_address[0]));
    page[19] = ')';
    std::fill(page.begin() + 20, page.begin() + 38, 0x00);
    return page;
}

}  // namespace tornelvox::emulator
