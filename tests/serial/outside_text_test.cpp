// Text from outside the program, shown on a terminal, kept in a log and written into JSON: one
// table of hostile inputs through all three forms.
#include "serial/outside_text.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

namespace tornelvox {
namespace {

TEST(OutsideText, NoControlOrStrayBytePassesInAnyForm) {
    struct Case {
        const char *name;
        std::string bytes;
        std::string printable;  // PrintableText
        std::string log;        // PrintableLogText
        std::string json;       // ValidUtf8 as an ASCII JSON string writes it, without quotes
    };
    const Case cases[] = {
        {"plain", "plain text", "plain text", "plain text", "plain text"},
        {"well-formed UTF-8", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x9e \xc2\xa0",
         "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x9e \xc2\xa0",
         "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x9e \xc2\xa0",
         "caf\\u00e9 \\u20ac \\ud83d\\udcde \\u00a0"},
        {"line break and tab", "tab\there\nnext", "tab\\x09here\\x0Anext", "tab\there\nnext",
         "tab\\there\\nnext"},
        {"carriage return", "red\r\n", "red\\x0D\\x0A", "red\\x0D\n", "red\\r\\n"},
        {"escape sequences", "\x1b[2J\x1b]0;title\x07", "\\x1B[2J\\x1B]0;title\\x07",
         "\\x1B[2J\\x1B]0;title\\x07", "\\u001b[2J\\u001b]0;title\\u0007"},
        {"CSI as a raw byte",
         "\x9b"
         "31m",
         "\\x9B31m", "\\x9B31m", "\\u009b31m"},
        {"CSI in UTF-8",
         "\xc2\x9b"
         "31m",
         "\\xC2\\x9B31m", "\\xC2\\x9B31m", "\\u009b31m"},
        {"first, NEL and last C1 in UTF-8", "\xc2\x80\xc2\x85\xc2\x9f",
         "\\xC2\\x80\\xC2\\x85\\xC2\\x9F", "\\xC2\\x80\\xC2\\x85\\xC2\\x9F",
         "\\u0080\\u0085\\u009f"},
        {"DEL", "a\x7f", "a\\x7F", "a\\x7F", "a\\u007f"},
        {"NUL", std::string("nul\0in", 6), "nul\\x00in", "nul\\x00in", "nul\\u0000in"},
        {"not UTF-8", "\xff\xfe", "\\xFF\\xFE", "\\xFF\\xFE", "\\u00ff\\u00fe"},
        {"lead byte without its follower", "\xc3\x28", "\\xC3(", "\\xC3(", "\\u00c3("},
        {"overlong '/'", "\xc0\xaf", "\\xC0\\xAF", "\\xC0\\xAF", "\\u00c0\\u00af"},
        {"overlong ESC and CSI", "\xc0\x9b\xe0\x80\x9b", "\\xC0\\x9B\\xE0\\x80\\x9B",
         "\\xC0\\x9B\\xE0\\x80\\x9B", "\\u00c0\\u009b\\u00e0\\u0080\\u009b"},
        {"a surrogate", "\xed\xa0\x80", "\\xED\\xA0\\x80", "\\xED\\xA0\\x80",
         "\\u00ed\\u00a0\\u0080"},
        {"past U+10FFFF", "\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80", "\\xF4\\x90\\x80\\x80",
         "\\u00f4\\u0090\\u0080\\u0080"},
        {"cut short at the end", "end \xe2\x82", "end \\xE2\\x82", "end \\xE2\\x82",
         "end \\u00e2\\u0082"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(PrintableText(c.bytes), c.printable);
        EXPECT_EQ(PrintableLogText(c.bytes), c.log);
        const std::string json = nlohmann::json(ValidUtf8(c.bytes)).dump(-1, ' ', true);
        EXPECT_EQ(json, "\"" + c.json + "\"");
    }
}

}  // namespace
}  // namespace tornelvox
