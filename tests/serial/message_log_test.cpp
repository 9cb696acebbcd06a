// ShowMsg: printf formatting, nothing added, one sink, dropped without one.
#include "serial/message_log.h"

#include <gtest/gtest.h>

#include <mutex>
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

namespace tornelvox {
namespace {

TEST(MessageLog, ThreadsLoggingAtOnceDeliverWholeMessagesInEachThreadsOrder) {
    std::mutex mutex;
    std::vector<std::string> seen;
    SetMessageSink([&](const std::string &text) {
        std::lock_guard lock(mutex);
        seen.push_back(text);
    });
    constexpr int kMessages = 2000;
    auto producer = [](char name) {
        for (int i = 0; i < kMessages; ++i) ShowMsg("%c%d.", name, i);
    };
    std::thread a(producer, 'a');
    std::thread b(producer, 'b');
    // Installing a sink while others log is safe: each message goes to one sink, whole.
    std::thread installer([&] {
        for (int i = 0; i < 100; ++i) {
            SetMessageSink([&](const std::string &text) {
                std::lock_guard lock(mutex);
                seen.push_back(text);
            });
        }
    });
    a.join();
    b.join();
    installer.join();
    SetMessageSink(nullptr);

    int next[2] = {0, 0};
    for (const std::string &text : seen) {
        ASSERT_GE(text.size(), 3u) << text;
        const int thread = text[0] == 'a' ? 0 : 1;
        EXPECT_EQ(text, std::string(1, text[0]) + std::to_string(next[thread]) + ".");
        ++next[thread];
    }
    EXPECT_EQ(next[0], kMessages);
    EXPECT_EQ(next[1], kMessages);
}

}  // namespace
}  // namespace tornelvox
