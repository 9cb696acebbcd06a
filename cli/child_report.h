// One line a child `tornelvox update --json` printed, read without trusting it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace tornelvox::cli {

struct ChildProgress {
    int attempt = 0;
    std::string stage;  // "erasing", "writing", "verifying" or what the child named
    int done = 0;
    int total = 0;
};

// What the child's result line says; fields it left out stay empty.
struct ChildResult {
    std::string status;
    std::string address;
    std::string version_before;
    std::string version_after;
};

struct ChildLine {
    enum class Kind {
        kLog,       // a message log text (may be a fragment such as ".")
        kProgress,  // a step of the update
        kResult,    // the child's last word
        kOther,     // a JSON object of another type: passed on as it is
        kInvalid,   // not a JSON object with a "type": text says what it was
    };
    Kind kind = Kind::kInvalid;
    nlohmann::json object;  // the line as read, for every kind but kInvalid
    std::string text;       // kLog: the log text; kInvalid: why, and the line made printable
    ChildProgress progress;
    ChildResult result;
};

// Reads one line; cut says the line was longer than the reader keeps and was cut short.
// Never throws for anything in line.
ChildLine ReadChildLine(std::string_view line, bool cut);

// object as one JSON line (no newline) in ASCII: every control character, C1 included, and every
// character beyond ASCII is written as \uXXXX; bytes that are not UTF-8 are replaced, never thrown
// on.
std::string ChildJsonLine(const nlohmann::json &object);

}  // namespace tornelvox::cli
