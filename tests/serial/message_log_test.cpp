// ShowMsg: printf formatting, nothing added, one sink, dropped without one.
#include "serial/message_log.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace tornelvox {
namespace {

TEST(MessageLog, FormatsExactlyAndAddsNothing) {
    std::vector<std::string> seen;
    SetMessageSink([&](const std::string &text) { seen.push_back(text); });
    ShowMsg("\n Fail on flash %d\n", 14);
    ShowMsg(" Exp:");
    ShowMsg("%02X ", 0x6);
    ShowMsg("%03X|%x|%s", 0x1F0, 0xfc, "TRUE");
    ShowMsg("%s", "");
    SetMessageSink(nullptr);
    ShowMsg("dropped");
    const std::vector<std::string> expected = {"\n Fail on flash 14\n", " Exp:", "06 ",
                                               "1F0|fc|TRUE", ""};
    EXPECT_EQ(seen, expected);
}

TEST(MessageLog, LongMessagesAreNotCut) {
    std::string seen;
    SetMessageSink([&](const std::string &text) { seen = text; });
    const std::string long_text(10000, 'x');
    ShowMsg("%s!", long_text.c_str());
    SetMessageSink(nullptr);
    EXPECT_EQ(seen, long_text + "!");
}

}  // namespace
}  // namespace tornelvox
