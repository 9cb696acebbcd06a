// JSON lines that survive any bytes: texts from the adapter may hold bytes that are not UTF-8.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "serial/outside_text.h"  // ValidUtf8, for the texts of a JSON line

namespace tornelvox::cli {

// One JSON object on one line, ASCII only: control characters (C1 included) and characters
// beyond ASCII are written as \uXXXX, so an invalid byte XX of a text that went through ValidUtf8
// reads \u00XX. Ends with "\n".
std::string JsonLine(const nlohmann::json &object);

}  // namespace tornelvox::cli
