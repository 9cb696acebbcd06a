#include "serial/outside_text.h"

#include <cstddef>
#include <cstdint>

namespace tornelvox {

namespace {

constexpr unsigned char kDelete = 0x7F;
constexpr std::uint32_t kLastC1 = 0x9F;

// Length of the well-formed UTF-8 sequence at the start of bytes, 0 when none starts there.
// code receives the character it encodes.
std::size_t SequenceLength(std::string_view bytes, std::uint32_t &code) {
    const auto at = [&bytes](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = at(0);
    code = lead;
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    std::uint32_t lowest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        lowest = 0x80;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        lowest = 0x800;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        lowest = 0x10000;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (bytes.size() < length) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((at(i) & 0xC0u) != 0x80u) return 0;
        code = (code << 6) | (at(i) & 0x3Fu);
    }
    if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

bool IsControl(std::uint32_t code) {
    return code < 0x20 || (code >= kDelete && code <= kLastC1);
}

void AppendEscaped(std::string &out, std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += "\\x";
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0x0F];
    }
}

std::string Printable(std::string_view bytes, bool keep_layout) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        std::uint32_t code = 0;
        std::size_t length = SequenceLength(bytes, code);
        const bool layout = keep_layout && (code == '\n' || code == '\t');
        if (length == 0) {
            length = 1;
            AppendEscaped(out, bytes.substr(0, 1));
        } else if (IsControl(code) && !layout) {
            AppendEscaped(out, bytes.substr(0, length));
        } else {
            out.append(bytes.substr(0, length));
        }
        bytes.remove_prefix(length);
    }
    return out;
}

}  // namespace

std::string PrintableText(std::string_view bytes) {
    return Printable(bytes, false);
}

std::string PrintableLogText(std::string_view bytes) {
    return Printable(bytes, true);
}

std::string ValidUtf8(std::string_view bytes) {
    std::string valid;
    valid.reserve(bytes.size());
    while (!bytes.empty()) {
        std::uint32_t code = 0;
        const std::size_t length = SequenceLength(bytes, code);
        if (length > 0) {
            valid.append(bytes.substr(0, length));
            bytes.remove_prefix(length);
            continue;
        }
        // U+0080 to U+00FF in UTF-8: two bytes.
        const auto stray = static_cast<unsigned char>(bytes[0]);
        valid.push_back(static_cast<char>(0xC0 | (stray >> 6)));
        valid.push_back(static_cast<char>(0x80 | (stray & 0x3F)));
        bytes.remove_prefix(1);
    }
    return valid;
}

}  // namespace tornelvox
