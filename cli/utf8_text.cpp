#include "cli/utf8_text.h"

#include <cstdint>
#include <cstdio>

namespace tornelvox::cli {

namespace {

void AppendEscaped(std::string &out, unsigned char byte) {
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02X", byte);
    out += text;
}

// Length of the well-formed UTF-8 sequence at the start of bytes, 0 if there is none.
std::size_t SequenceLength(std::string_view bytes) {
    const auto at = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = at(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    std::uint32_t low = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, low = 0x80, code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, low = 0x800, code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, low = 0x10000, code = lead & 0x07u;
    } else {
        return 0;
    }
    if (bytes.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((at(i) & 0xC0u) != 0x80u) return 0;
        code = (code << 6) | (at(i) & 0x3Fu);
    }
    if (code < low || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

std::string Clean(std::string_view bytes, bool escape_controls) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const std::size_t length = SequenceLength(bytes);
        const auto byte = static_cast<unsigned char>(bytes[0]);
        if (length == 0 ||
            (escape_controls && length == 1 && (byte < 0x20 || byte == 0x7F) && byte != '\t')) {
            AppendEscaped(out, byte);
            bytes.remove_prefix(1);
            continue;
        }
        out.append(bytes.substr(0, length));
        bytes.remove_prefix(length);
    }
    return out;
}

}  // namespace

std::string Utf8WithByteEscapes(std::string_view bytes) {
    return Clean(bytes, false);
}

std::string PrintableText(std::string_view bytes) {
    return Clean(bytes, true);
}

}  // namespace tornelvox::cli
