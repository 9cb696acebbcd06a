#include "cli/json_text.h"

namespace tornelvox::cli {

namespace {

// Length of the well-formed UTF-8 sequence at text[at], or 0 when the byte there starts none.
std::size_t SequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // no overlong forms
        if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // no overlong forms
        if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(at + i);
        const unsigned char min = i == 1 ? low : 0x80;
        const unsigned char max = i == 1 ? high : 0xBF;
        if (next < min || next > max) return 0;
    }
    return length;
}

}  // namespace

std::string ValidUtf8(std::string_view text) {
    std::string valid;
    valid.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = SequenceLength(text, at);
        if (length > 0) {
            valid.append(text.substr(at, length));
            at += length;
            continue;
        }
        // U+0080 to U+00FF in UTF-8: two bytes.
        const auto stray = static_cast<unsigned char>(text[at]);
        valid.push_back(static_cast<char>(0xC0 | (stray >> 6)));
        valid.push_back(static_cast<char>(0x80 | (stray & 0x3F)));
        ++at;
    }
    return valid;
}

std::string JsonLine(const nlohmann::json &object) {
    // Strings are made valid with ValidUtf8 before they get here; should one slip through, its
    // stray bytes are replaced rather than thrown over.
    return object.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace tornelvox::cli
