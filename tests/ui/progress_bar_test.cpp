// The update's progress bar under the log: shown while programming runs, rising within each
// attempt, starting again with a retried one, full at success, gone at every end.
#include <QProgressBar>
#include <QRegularExpression>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "tests/ui/ui_fixture.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {
namespace {

// The bar as it stood at each change of its value.
struct BarSample {
    int attempt;
    int value;
    bool visible;
    std::string text;
};

class ProgressBarTest : public MainWindowTest {
  protected:
    QProgressBar *Bar() const { return window_->findChild<QProgressBar *>("pbUpdate"); }

    void RecordBar() {
        QObject::connect(Bar(), &QProgressBar::valueChanged, Bar(), [this](int value) {
            if (value < 0) return;  // the reset at an end
            static const QRegularExpression attempt(R"(^Attempt (\d+) · )");
            const QString text = Bar()->text();
            samples_.push_back({attempt.match(text).captured(1).toInt(), value, Bar()->isVisible(),
                                text.toStdString()});
        });
    }

    // Every sample of one attempt rises or stays; each attempt starts below where the one
    // before it stopped.
    void ExpectRisesWithinEachAttempt() const {
        for (std::size_t i = 1; i < samples_.size(); ++i) {
            const BarSample &before = samples_[i - 1];
            const BarSample &now = samples_[i];
            if (now.attempt == before.attempt) {
                EXPECT_GE(now.value, before.value) << now.text;
            } else {
                // Attempts that fail before programming report nothing.
                EXPECT_GT(now.attempt, before.attempt) << now.text;
                EXPECT_LT(now.value, before.value) << now.text;
            }
            EXPECT_TRUE(now.visible) << now.text;
        }
    }

    std::vector<BarSample> samples_;
};

// The bar says the time left the worker's report carries, "--:--" while it is unknown, in the
// format the window has always had.
TEST_F(ProgressBarTest, BarShowsTheTimeLeftTheReportCarries) {
    struct Row {
        double seconds_left;
        const char *text;
    };
    const Row rows[] = {
        {-1.0, "Attempt 1 · writing · 54 % · --:-- left"},
        {75.0, "Attempt 1 · writing · 54 % · 1:15 left"},
        {74.6, "Attempt 1 · writing · 54 % · 1:15 left"},
        {0.0, "Attempt 1 · writing · 54 % · 0:00 left"},
    };
    for (const Row &row : rows) {
        UpdateProgress progress{1, UpdateStage::kWriting, 127, 254};
        progress.seconds_left = row.seconds_left;
        window_->ShowProgress(progress);
        EXPECT_TRUE(WaitFor([&] { return Bar()->text().toStdString() == row.text; }))
            << Bar()->text().toStdString() << " for " << row.seconds_left;
    }
}

struct EndCase {
    const char *name;
    int failing_page_writes;  // writes of page 40 that fail (two fail an attempt; kAlways)
    int last_attempt;         // the last that programmed (attempts 2 to 5 find no name page)
    bool full;                // the last sample is 100 %
    const char *log_end;
};

void PrintTo(const EndCase &c, std::ostream *out) {
    *out << c.name;
}

class ProgressEndTest : public ProgressBarTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(ProgressEndTest, BarRisesPerAttemptAndIsGoneAtTheEnd) {
    const EndCase &c = GetParam();
    PlugAdapter({.version = 0x302});
    if (c.failing_page_writes != 0) {
        adapter_->AddFault({.code = kCmdWriteImagePage,
                            .kind = emulator::FaultKind::kPageWriteFails,
                            .page = 40,
                            .times = c.failing_page_writes});
    }
    Check();
    RecordBar();
    EXPECT_TRUE(Bar()->isHidden());

    Button("bUpdateFirmware")->click();
    ASSERT_TRUE(WaitFor([&] { return Button("bCheckDevice")->isEnabled(); }));

    ASSERT_FALSE(samples_.empty());
    ExpectRisesWithinEachAttempt();
    EXPECT_EQ(samples_.front().attempt, 1);
    EXPECT_EQ(samples_.back().attempt, c.last_attempt);
    EXPECT_EQ(samples_.back().value == 100, c.full) << samples_.back().text;
    for (const char *stage : {" · erasing · ", " · writing · "}) {
        EXPECT_TRUE(std::any_of(samples_.begin(), samples_.end(), [stage](const BarSample &s) {
            return s.text.find(stage) != std::string::npos;
        })) << stage;
    }
    EXPECT_NE(samples_.back().text.find(" left"), std::string::npos) << samples_.back().text;
    EXPECT_TRUE(Bar()->isHidden());
    EXPECT_NE(Log().find(c.log_end), std::string::npos) << Log();
}

INSTANTIATE_TEST_SUITE_P(
    Ends, ProgressEndTest,
    ::testing::Values(EndCase{"Success", 0, 1, true, "Success"},
                      EndCase{"SuccessAfterARetry", 2, 6, true, "Success"},
                      EndCase{"Failure", emulator::kAlways, 10, false, "FAILED"}),
    [](const ::testing::TestParamInfo<EndCase> &info) { return info.param.name; });

struct CancelCase {
    const char *name;
    bool erasing_begun;  // cancelled during the erase; else in the pause before a retry
    const char *last_line;
};

void PrintTo(const CancelCase &c, std::ostream *out) {
    *out << c.name;
}

class CancelEndTest : public ProgressBarTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelEndTest, CancelledUpdateEndsWithALineSayingWhatItLeftAndTheBarIsGone) {
    const CancelCase &c = GetParam();
    std::atomic<bool> pausing{false};
    if (c.erasing_begun) {
        PlugAdapter({.version = 0x302, .erase_delay_ms = 40});
    } else {
        // The boot loader never answers: the first attempt fails before it erases, and the
        // pause before the next one lasts until the Cancel.
        PlugAdapter({.version = 0x302, .boot_loader_never_answers = true});
        session_->RetryPause = [this, &pausing](unsigned) {
            pausing = true;
            for (int i = 0; i < 30000 && session_->ThreadRunning.load(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        };
    }
    Check();
    Button("bUpdateFirmware")->click();
    if (c.erasing_begun) {
        ASSERT_TRUE(adapter_->WaitForFrames(kCmdEraseStep, 3, std::chrono::seconds(20)));
        ASSERT_TRUE(WaitFor([&] { return Bar()->isVisible(); }));
        EXPECT_NE(Bar()->text().indexOf("Attempt 1 · erasing · "), -1)
            << Bar()->text().toStdString();
    } else {
        ASSERT_TRUE(WaitFor([&] { return pausing.load(); }));
    }

    Button("bCancel")->click();
    ASSERT_TRUE(WaitFor([&] { return Button("bCheckDevice")->isEnabled(); }));

    EXPECT_TRUE(Bar()->isHidden());
    const std::string log = Log();
    const std::string end = std::string(" Try again. Try count = 1\n") + c.last_line;
    ASSERT_GE(log.size(), end.size()) << log;
    EXPECT_EQ(log.substr(log.size() - end.size()), end);
    EXPECT_EQ(adapter_->CountOf(kCmdEraseStep) > 0, c.erasing_begun);
}

INSTANTIATE_TEST_SUITE_P(
    Moments, CancelEndTest,
    ::testing::Values(CancelCase{"DuringErasing", true,
                                 " The update was cancelled. Erasing had begun: the adapter "
                                 "needs a complete update before it works again.\n\n"},
                      CancelCase{"BeforeErasing", false,
                                 " The update was cancelled before anything was erased.\n\n"}),
    [](const ::testing::TestParamInfo<CancelCase> &info) { return info.param.name; });

}  // namespace
}  // namespace tornelvox::testing
