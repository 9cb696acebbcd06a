#include "cli/child_report.h"

#include <algorithm>
#include <limits>

#include "serial/outside_text.h"

namespace tornelvox::cli {

namespace {

// The invalid line is shown up to this many bytes.
constexpr std::size_t kShownBytes = 200;

std::string StringField(const nlohmann::json &object, const char *name) {
    const auto found = object.find(name);
    if (found == object.end() || !found->is_string()) return {};
    return found->get<std::string>();
}

// A count the child gave, held to [0, limit]; 0 when it is not a whole number.
int CountField(const nlohmann::json &object, const char *name, int limit) {
    const auto found = object.find(name);
    if (found == object.end()) return 0;
    if (found->is_number_unsigned()) {
        return static_cast<int>(std::min<std::uint64_t>(found->get<std::uint64_t>(),
                                                        static_cast<std::uint64_t>(limit)));
    }
    if (found->is_number_integer()) {
        return static_cast<int>(std::clamp<std::int64_t>(found->get<std::int64_t>(), 0,
                                                         static_cast<std::int64_t>(limit)));
    }
    return 0;
}

ChildLine Invalid(std::string_view why, std::string_view line) {
    ChildLine read;
    read.kind = ChildLine::Kind::kInvalid;
    read.text = std::string(why) + ": " + PrintableText(line.substr(0, kShownBytes));
    if (line.size() > kShownBytes) read.text += "...";
    return read;
}

}  // namespace

ChildLine ReadChildLine(std::string_view line, bool cut) {
    if (cut) return Invalid("a line too long to read", line);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
    if (object.is_discarded()) return Invalid("a line that is not JSON in UTF-8", line);
    if (!object.is_object()) return Invalid("a JSON line that is not an object", line);
    const auto type = object.find("type");
    if (type == object.end() || !type->is_string()) {
        return Invalid("a JSON object without a \"type\"", line);
    }

    ChildLine read;
    read.object = std::move(object);
    const std::string kind = read.object["type"].get<std::string>();
    constexpr int kMaxCount = std::numeric_limits<int>::max();
    if (kind == "log") {
        read.kind = ChildLine::Kind::kLog;
        read.text = StringField(read.object, "text");
    } else if (kind == "progress") {
        read.kind = ChildLine::Kind::kProgress;
        read.progress.attempt = CountField(read.object, "attempt", 1000);
        read.progress.stage = StringField(read.object, "stage");
        read.progress.done = CountField(read.object, "done", kMaxCount);
        read.progress.total = CountField(read.object, "total", kMaxCount);
    } else if (kind == "result") {
        read.kind = ChildLine::Kind::kResult;
        read.result.status = StringField(read.object, "status");
        read.result.address = StringField(read.object, "address");
        read.result.version_before = StringField(read.object, "version_before");
        read.result.version_after = StringField(read.object, "version_after");
    } else {
        read.kind = ChildLine::Kind::kOther;
    }
    return read;
}

std::string ChildJsonLine(const nlohmann::json &object) {
    return object.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

}  // namespace tornelvox::cli
