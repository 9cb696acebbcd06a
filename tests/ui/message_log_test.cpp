// The message log: plain concatenation on the interface thread, in each thread's order, the view
// following the end, and nothing lost or broken when the window goes while a thread still logs.
#include <QRegularExpression>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "tests/ui/ui_fixture.h"

namespace tornelvox::testing {
namespace {

using MessageLogTest = MainWindowTest;

TEST_F(MessageLogTest, MessagesAreConcatenatedAsTheyAre) {
    for (int i = 0; i < 10; ++i) ShowMsg(*session_, ".");
    ShowMsg(*session_, " Done\n");
    ShowMsg(*session_, "\n Start %s: %d %x %X %02X %03X\n", "here", 7, 0xab, 0xab, 5, 0x1f0);
    ShowMsg(*session_, "%s", "");
    ShowMsg(*session_, "\t tab\n");

    EXPECT_EQ(Log(), ".......... Done\n\n Start here: 7 ab AB 05 1F0\n\t tab\n");
}

TEST_F(MessageLogTest, ViewFollowsTheEndOfALongLog) {
    for (int i = 0; i < 3000; ++i) ShowMsg(*session_, " line %d\n", i);
    ShowMsg(*session_, "%s", "");
    Log();

    const QScrollBar *bar = LogWidget()->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(MessageLogTest, MessagesFromTwoThreadsAtOnceAppearWholeInEachThreadsOrder) {
    constexpr int kEach = 2000;
    std::atomic<bool> go{false};
    auto producer = [&](char tag) {
        while (!go) std::this_thread::yield();
        for (int i = 0; i < kEach; ++i)
            ShowMsg(*session_, " %c%04d %s\n", tag, i, "payload-of-the-message");
    };
    std::thread a(producer, 'A');
    std::thread b(producer, 'B');
    go = true;
    a.join();
    b.join();

    const QStringList lines = QString::fromStdString(Log()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2 * kEach);
    const QRegularExpression whole(R"(^ ([AB])(\d{4}) payload-of-the-message$)");
    int next_a = 0;
    int next_b = 0;
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = whole.match(line);
        ASSERT_TRUE(match.hasMatch()) << line.toStdString();
        int &next = match.captured(1) == "A" ? next_a : next_b;
        EXPECT_EQ(match.captured(2).toInt(), next) << line.toStdString();
        next = match.captured(2).toInt() + 1;
    }
    EXPECT_EQ(next_a, kEach);
    EXPECT_EQ(next_b, kEach);
}

TEST_F(MessageLogTest, MessageLoggedWhileNoWindowExistsIsLost) {
    window_.reset();
    ShowMsg(*session_, "lost\n");
    window_ = std::make_unique<ViewController>(session_);
    ShowMsg(*session_, "kept\n");

    EXPECT_EQ(Log(), "kept\n");
}

TEST_F(MessageLogTest, ThreadMayKeepLoggingAndPostingWhileTheWindowGoes) {
    std::shared_ptr<FrontEnd> link = window_->Link();
    std::atomic<bool> stop{false};
    std::thread worker([&, link] {
        while (!stop) {
            ShowMsg(*session_, ".");
            link->PostButtons(ButtonState::Restored);
            // Paced like a busy worker, so the interface thread's queue drains as it is fed
            // rather than growing without bound on a loaded machine.
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    WaitFor([&] { return Log().size() > 100; });

    window_.reset();
    QCoreApplication::sendPostedEvents();
    stop = true;
    worker.join();
    link->PostButtons(ButtonState::LockedForUpdate);
    ShowMsg(*session_, "after\n");
    window_ = std::make_unique<ViewController>(session_);
    EXPECT_EQ(Log(), "");
}

}  // namespace
}  // namespace tornelvox::testing
