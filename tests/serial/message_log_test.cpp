// ShowMsg: printf formatting, nothing added, one sink per session, dropped without one.
#include "serial/message_log.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "serial/link_session.h"

namespace tornelvox {
namespace {

TEST(MessageLog, FormatsExactlyAndAddsNothing) {
    LinkSession session;
    std::vector<std::string> seen;
    session.SetMessageSink([&](const std::string &text) { seen.push_back(text); });
    ShowMsg(session, "\n Fail on flash %d\n", 14);
    ShowMsg(session, " Exp:");
    ShowMsg(session, "%02X ", 0x6);
    ShowMsg(session, "%03X|%x|%s", 0x1F0, 0xfc, "TRUE");
    ShowMsg(session, "%s", "");
    session.SetMessageSink(nullptr);
    ShowMsg(session, "dropped");
    const std::vector<std::string> expected = {"\n Fail on flash 14\n", " Exp:", "06 ",
                                               "1F0|fc|TRUE", ""};
    EXPECT_EQ(seen, expected);
}

TEST(MessageLog, LongMessagesAreNotCut) {
    LinkSession session;
    std::string seen;
    session.SetMessageSink([&](const std::string &text) { seen = text; });
    const std::string long_text(10000, 'x');
    ShowMsg(session, "%s!", long_text.c_str());
    session.SetMessageSink(nullptr);
    EXPECT_EQ(seen, long_text + "!");
}

// Two adapters' sessions logging on threads of their own: each message reaches its own session's
// sink only.
TEST(MessageLog, EachSessionsMessagesReachItsOwnSinkOnly) {
    LinkSession first;
    LinkSession second;
    std::vector<std::string> first_seen;
    std::vector<std::string> second_seen;
    first.SetMessageSink([&](const std::string &text) { first_seen.push_back(text); });
    second.SetMessageSink([&](const std::string &text) { second_seen.push_back(text); });
    constexpr int kMessages = 500;
    auto producer = [](const LinkSession &session, char name) {
        for (int i = 0; i < kMessages; ++i) ShowMsg(session, "%c%d.", name, i);
    };
    std::thread a(producer, std::cref(first), 'a');
    std::thread b(producer, std::cref(second), 'b');
    a.join();
    b.join();
    ASSERT_EQ(first_seen.size(), static_cast<std::size_t>(kMessages));
    ASSERT_EQ(second_seen.size(), static_cast<std::size_t>(kMessages));
    for (int i = 0; i < kMessages; ++i) {
        EXPECT_EQ(first_seen[i], "a" + std::to_string(i) + ".");
        EXPECT_EQ(second_seen[i], "b" + std::to_string(i) + ".");
    }
}

}  // namespace
}  // namespace tornelvox

namespace tornelvox {
namespace {

TEST(MessageLog, ThreadsLoggingAtOnceDeliverWholeMessagesInEachThreadsOrder) {
    LinkSession session;
    std::mutex mutex;
    std::vector<std::string> seen;
    session.SetMessageSink([&](const std::string &text) {
        std::lock_guard lock(mutex);
        seen.push_back(text);
    });
    constexpr int kMessages = 2000;
    auto producer = [&session](char name) {
        for (int i = 0; i < kMessages; ++i) ShowMsg(session, "%c%d.", name, i);
    };
    std::thread a(producer, 'a');
    std::thread b(producer, 'b');
    // Installing a sink while others log is safe: each message goes to one sink, whole.
    std::thread installer([&] {
        for (int i = 0; i < 100; ++i) {
            session.SetMessageSink([&](const std::string &text) {
                std::lock_guard lock(mutex);
                seen.push_back(text);
            });
        }
    });
    a.join();
    b.join();
    installer.join();
    session.SetMessageSink(nullptr);

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
