#include "cli/bt_address_text.h"

namespace tornelvox::cli {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<BtAddress> ParseBtAddressText(std::string_view text) {
    constexpr std::size_t kLength = 6 * 3 - 1;
    if (text.size() != kLength) return std::nullopt;
    BtAddress address{};
    for (std::size_t pair = 0; pair < address.size(); ++pair) {
        const std::size_t at = pair * 3;
        if (pair > 0 && text[at - 1] != ':') return std::nullopt;
        const int high = HexDigit(text[at]);
        const int low = HexDigit(text[at + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        // The first pair printed is the most significant byte, the name page's byte 5.
        address[address.size() - 1 - pair] = static_cast<unsigned char>(high * 16 + low);
    }
    return address;
}

}  // namespace tornelvox::cli
