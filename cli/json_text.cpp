#include "cli/json_text.h"

namespace tornelvox::cli {

std::string JsonLine(const nlohmann::json &object) {
    // Strings are made valid with ValidUtf8 before they get here; should one slip through, its
    // stray bytes are replaced rather than thrown over.
    return object.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace tornelvox::cli
