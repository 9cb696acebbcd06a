// Text from a child process made safe to show and to put into JSON.
#pragma once

#include <string>
#include <string_view>

namespace tornelvox::cli {

// bytes with every byte that is not part of a well-formed UTF-8 sequence written as "\xNN".
std::string Utf8WithByteEscapes(std::string_view bytes);

// Utf8WithByteEscapes(bytes) with control characters (escape sequences included) written as "\xNN",
// for a terminal.
std::string PrintableText(std::string_view bytes);

}  // namespace tornelvox::cli
