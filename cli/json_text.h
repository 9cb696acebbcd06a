// JSON lines that survive any bytes: texts from the adapter may hold bytes that are not UTF-8.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace tornelvox::cli {

// text as valid UTF-8: every well-formed UTF-8 sequence stays as it is, every other byte XX
// becomes the character U+00XX (the byte read as Latin-1).
std::string ValidUtf8(std::string_view text);

// One JSON object on one line, ASCII only: characters beyond ASCII are written as \uXXXX, so an
// invalid byte XX of a text that went through ValidUtf8 reads \u00XX. Ends with "\n".
std::string JsonLine(const nlohmann::json &object);

}  // namespace tornelvox::cli
