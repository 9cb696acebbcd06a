// A child's bytes made fit for JSON and for a terminal.
#include "cli/utf8_text.h"

#include <string>

#include "gtest/gtest.h"

namespace tornelvox::cli {
namespace {

TEST(Utf8Text, KeepsWellFormedTextAndEscapesEveryOtherByte) {
    struct Case {
        std::string bytes;
        std::string valid;      // Utf8WithByteEscapes
        std::string printable;  // PrintableText
    };
    const Case cases[] = {
        {"plain\ttext", "plain\ttext", "plain\ttext"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x9e", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x9e",
         "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x93\x9e"},
        {"\xff\xfe", "\\xFF\\xFE", "\\xFF\\xFE"},
        {"\xc3\x28", "\\xC3(", "\\xC3("},                        // lead byte without its follower
        {"\xc0\xaf", "\\xC0\\xAF", "\\xC0\\xAF"},                // overlong '/'
        {"\xed\xa0\x80", "\\xED\\xA0\\x80", "\\xED\\xA0\\x80"},  // a surrogate
        {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80", "\\xF4\\x90\\x80\\x80"},  // past U+10FFFF
        {"end \xe2\x82", "end \\xE2\\x82", "end \\xE2\\x82"},  // cut short at the end
        {"\x1b[2Jred\r\n", "\x1b[2Jred\r\n", "\\x1B[2Jred\\x0D\\x0A"},
        {std::string("nul\0in", 6), std::string("nul\0in", 6), "nul\\x00in"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Utf8WithByteEscapes(c.bytes), c.valid) << c.bytes;
        EXPECT_EQ(PrintableText(c.bytes), c.printable) << c.bytes;
    }
}

}  // namespace
}  // namespace tornelvox::cli
