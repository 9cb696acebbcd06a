// The time left the update worker reports: on sequences of reports with the times a line and an
// adapter of given speeds give them, and on a paced update against the emulated adapter. After
// the first 5 % the time left never rises by more than 2 s from one report to the next, and the
// time gone plus the time left stays within 10 % of what the attempt really took. Nothing here
// asserts how long anything takes: both properties measure the estimate against the run's own
// duration.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "tests/firmware/adapter_fixture.h"
#include "workflow/progress_estimate.h"
#include "workflow/time_left_estimate.h"

namespace tornelvox::testing {
namespace {

constexpr double kFirstShare = 5.0;     // percent after which both properties hold
constexpr double kLargestRise = 2.0;    // seconds
constexpr double kLargestError = 0.10;  // of the attempt's real duration

// One report and when it came, in seconds since the attempt's first report.
struct TimedReport {
    UpdateProgress progress;
    double seconds;
};

// How well the time left held up over one attempt's reports.
struct Findings {
    double worst_rise = 0.0;   // seconds, between two reports after the first 5 %
    double worst_error = 0.0;  // |time gone + time left - duration| / duration, after 5 %
    int unknown_after_start = 0;
    std::string worst_error_at;  // the report where the error was worst
    std::string first_breach;
};

Findings Judge(const std::vector<TimedReport> &reports, const std::vector<double> &left) {
    Findings found;
    if (reports.empty()) return found;
    const double duration = reports.back().seconds - reports.front().seconds;
    for (std::size_t i = 0; i < reports.size(); ++i) {
        if (OverallPercent(reports[i].progress) < kFirstShare) continue;
        char where[96];
        std::snprintf(where, sizeof where, "%s %d/%d at %.2f s: %.2f s left",
                      StageName(reports[i].progress.stage), reports[i].progress.done,
                      reports[i].progress.total, reports[i].seconds, left[i]);
        if (left[i] < 0.0) {
            ++found.unknown_after_start;
            if (found.first_breach.empty()) found.first_breach = std::string("unknown: ") + where;
            continue;
        }
        if (i > 0 && left[i - 1] >= 0.0) {
            const double rise = left[i] - left[i - 1];
            found.worst_rise = std::max(found.worst_rise, rise);
            if (rise > kLargestRise && found.first_breach.empty())
                found.first_breach = std::string("rose: ") + where;
        }
        const double gone = reports[i].seconds - reports.front().seconds;
        const double error = std::abs(gone + left[i] - duration) / duration;
        if (error > found.worst_error) {
            found.worst_error = error;
            found.worst_error_at = where;
        }
        if (error > kLargestError && found.first_breach.empty())
            found.first_breach = "off by " + std::to_string(error * 100) + " %: " + where;
    }
    return found;
}

bool Holds(const Findings &found) {
    return found.unknown_after_start == 0 && found.worst_rise <= kLargestRise &&
           found.worst_error <= kLargestError;
}

// A line and an adapter: what each step of an attempt costs them.
struct Pace {
    const char *name;
    int nominal_baud;  // the rate the port is set to
    double line_baud;  // the rate the bytes really cross at
    double erase_ms;   // the adapter's own time for an erase step
    double verify_ms;  // and for the check value
    double page_ms;    // and for programming a page
    int verifying_steps;
    bool name_page_read;  // the attempt read the name page before programming
    bool counting_steps_alike_fails;
    int resent_page = 0;  // a page write whose reply was lost: sent again after 1 s of silence
};

// Up to ±3 % of a step's time, the same for every run: a line and a scheduler are never even.
double Jitter(std::uint32_t &state) {
    state = state * 1664525u + 1013904223u;
    return 1.0 + 0.06 * ((state >> 8) / static_cast<double>(1u << 24) - 0.5);
}

// The reports of one attempt in the order flash programming makes them, with the times the pace
// gives each step.
std::vector<TimedReport> Recorded(const Pace &pace) {
    const StepLineBytes bytes = LineBytesOfSteps();
    const double byte_seconds = 10.0 / pace.line_baud;
    std::uint32_t state = 7;
    std::vector<TimedReport> reports;
    double now = 0.0;
    auto report = [&](UpdateStage stage, int done, int total) {
        reports.push_back({{1, stage, done, total, pace.verifying_steps}, now});
    };
    report(UpdateStage::kErasing, 0, kErasingSteps);
    for (int step = 1; step <= kErasingSteps; ++step) {
        now += (bytes.erase * byte_seconds + pace.erase_ms / 1000.0) * Jitter(state);
        report(UpdateStage::kErasing, step, kErasingSteps);
    }
    report(UpdateStage::kWriting, 0, kWritingSteps);
    for (int step = 1; step <= kWritingSteps; ++step) {
        now += (bytes.page_write * byte_seconds + pace.page_ms / 1000.0) * Jitter(state);
        if (step == pace.resent_page) {
            now += 1.0 + bytes.page_write * byte_seconds + pace.page_ms / 1000.0;
        }
        report(UpdateStage::kWriting, step, kWritingSteps);
    }
    report(UpdateStage::kVerifying, 0, pace.verifying_steps);
    for (int step = 1; step <= pace.verifying_steps; ++step) {
        now += step == 1 ? (bytes.check_value * byte_seconds + pace.verify_ms / 1000.0)
                         : bytes.page_read * byte_seconds * Jitter(state);
        report(UpdateStage::kVerifying, step, pace.verifying_steps);
    }
    return reports;
}

// The name page read before programming, as the session's timing of long exchanges records it.
LineTiming NamePageRead(const Pace &pace) {
    if (!pace.name_page_read) return {};
    const std::size_t bytes = static_cast<std::size_t>(LineBytesOfSteps().page_read);
    return {bytes, bytes * 10.0 / pace.line_baud};
}

// What counting every step alike gives: the time gone stretched over the share not done.
std::vector<double> StepsAlike(const std::vector<TimedReport> &reports) {
    std::vector<double> left;
    for (const TimedReport &report : reports) {
        const double percent = OverallPercent(report.progress);
        left.push_back(percent < 1.0 ? -1.0 : report.seconds * (100.0 - percent) / percent);
    }
    return left;
}

const Pace kPaces[] = {
    {"115,200 baud, erase steps of 100 ms, check value of 1 s", 115200, 115200, 100, 1000, 2,
     kCheckValueVerifyingSteps, false, true},
    {"1,000,000 baud, erase steps of 100 ms, check value of 500 ms", 1000000, 1000000, 100, 500, 2,
     kCheckValueVerifyingSteps, true, true},
    {"115,200 baud, whole image read back", 115200, 115200, 100, 1000, 2, kWholeImageVerifyingSteps,
     true, true},
    {"a bridge at 80 % of 115,200 baud, rate seen in the name page read", 115200, 92160, 100, 1000,
     2, kCheckValueVerifyingSteps, true, true},
    {"a bridge at 93 % of 115,200 baud, no name page read in this attempt", 115200, 107000, 100,
     1000, 2, kCheckValueVerifyingSteps, false, true},
    {"a pseudo-terminal paced at 1,500,000 baud behind a port set to 115,200", 115200, 1500000, 100,
     500, 0, kCheckValueVerifyingSteps, true, true},
    {"slow erase steps of 400 ms at 115,200 baud", 115200, 115200, 400, 1000, 2,
     kCheckValueVerifyingSteps, false, true},
    {"115,200 baud, the 5th page write sent again after 1 s of silence", 115200, 115200, 100, 1000,
     2, kCheckValueVerifyingSteps, true, true, 5},
};

class RecordedAttempt : public ::testing::TestWithParam<Pace> {};

TEST_P(RecordedAttempt, TimeLeftFallsAndAddsUpToTheAttempt) {
    const Pace &pace = GetParam();
    const std::vector<TimedReport> reports = Recorded(pace);
    TimeLeftEstimate estimate(pace.nominal_baud, NamePageRead(pace));
    std::vector<double> left;
    for (const TimedReport &report : reports)
        left.push_back(estimate.Report(report.progress, report.seconds));
    const Findings found = Judge(reports, left);
    std::printf("[ measured ] %s: %.1f s, worst rise %.2f s, worst error %.1f %% (%s)\n", pace.name,
                reports.back().seconds, found.worst_rise, found.worst_error * 100,
                found.worst_error_at.c_str());
    EXPECT_TRUE(Holds(found)) << pace.name << ": " << found.first_breach;
    EXPECT_LT(left.front(), 0.0) << "nothing measured yet at the first report";
    EXPECT_DOUBLE_EQ(left.back(), 0.0);

    // The same reports fail both ways when every step counts alike: this is the sequence the
    // estimate exists for.
    if (pace.counting_steps_alike_fails) {
        EXPECT_FALSE(Holds(Judge(reports, StepsAlike(reports)))) << pace.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Paces, RecordedAttempt, ::testing::ValuesIn(kPaces),
                         [](const ::testing::TestParamInfo<Pace> &info) {
                             // The row's words, as a test name takes them.
                             std::string name;
                             bool word_start = true;
                             for (const char c : std::string_view(info.param.name)) {
                                 const bool kept = std::isalnum(static_cast<unsigned char>(c));
                                 if (kept) {
                                     name += word_start ? static_cast<char>(std::toupper(c)) : c;
                                 }
                                 word_start = !kept && c != ',';
                             }
                             return name;
                         });

// The worker against the emulated adapter with a clock of its own; reports and their times as the
// front end received them.
class TimedUpdate : public AdapterTest {
  protected:
    void SetUp() override {
        AdapterTest::SetUp();
        session.ProgressClock = [this] {
            const auto now = clock_();
            std::lock_guard lock(mutex_);
            times_.push_back(now);
            return now;
        };
    }

    // The reports of the given attempt, with their times since its first report.
    std::vector<TimedReport> Attempt(int attempt) const {
        const std::vector<UpdateProgress> progress = window_->Progress();
        std::lock_guard lock(mutex_);
        std::vector<TimedReport> reports;
        for (std::size_t i = 0; i < progress.size() && i < times_.size(); ++i) {
            if (progress[i].attempt != attempt) continue;
            const double at = std::chrono::duration<double>(times_[i] - times_.front()).count();
            reports.push_back({progress[i], at});
        }
        if (!reports.empty()) {
            const double start = reports.front().seconds;
            for (TimedReport &report : reports) report.seconds -= start;
        }
        return reports;
    }

    std::function<std::chrono::steady_clock::time_point()> clock_ = std::chrono::steady_clock::now;
    mutable std::mutex mutex_;
    std::vector<std::chrono::steady_clock::time_point> times_;
};

// A paced update: every page crosses a line of 1,500,000 baud (the port is set to 115,200, as a
// pseudo-terminal ignores), each erase step takes the adapter 100 ms and the check value 500 ms.
// About ten seconds in all.
TEST_F(TimedUpdate, PacedUpdateTimeLeftFallsAndAddsUp) {
    StartAdapter({.line_baud = 1500000, .erase_delay_ms = 100, .verify_delay_ms = 500});
    ASSERT_TRUE(RunUpdate());
    EXPECT_NE(Log().find("Success"), std::string::npos) << Log();

    const std::vector<TimedReport> reports = Attempt(1);
    ASSERT_EQ(reports.size(), 31u + 255u + 3u);
    std::vector<double> left;
    for (const TimedReport &report : reports) left.push_back(report.progress.seconds_left);
    const Findings found = Judge(reports, left);
    std::printf("[ measured ] paced update: %.1f s, worst rise %.2f s, worst error %.1f %% (%s)\n",
                reports.back().seconds, found.worst_rise, found.worst_error * 100,
                found.worst_error_at.c_str());
    EXPECT_TRUE(Holds(found)) << found.first_breach;
    EXPECT_LT(left.front(), 0.0);
    EXPECT_DOUBLE_EQ(left.back(), 0.0);

    // Counting every step alike on the same reports misses both ways.
    const Findings alike = Judge(reports, StepsAlike(reports));
    std::printf("[ measured ] counting steps alike: worst rise %.2f s, worst error %.1f %%\n",
                alike.worst_rise, alike.worst_error * 100);
    EXPECT_FALSE(Holds(alike));
}

// A retried attempt starts the estimate over: its first report knows nothing yet, though the
// failed attempt had measured plenty. The clock moves 10 ms a report, so nothing waits.
TEST_F(TimedUpdate, RetriedAttemptStartsTheEstimateOver) {
    auto fake = std::make_shared<std::chrono::steady_clock::time_point>();
    clock_ = [fake] { return *fake += std::chrono::milliseconds(10); };
    auto &adapter = StartAdapter();
    adapter.AddFault({.code = kCmdWriteImagePage,
                      .kind = emu::FaultKind::kPageWriteFails,
                      .skip = 100,
                      .times = 2});
    ASSERT_TRUE(RunUpdate());
    ASSERT_FALSE(window_->Progress().empty());
    // The attempts after the failed one read no name page until the address held is written
    // without reading (see the worker): the last attempt is the one that programmed.
    const int retried = window_->Progress().back().attempt;
    ASSERT_GT(retried, 1) << Log();

    const std::vector<TimedReport> first = Attempt(1);
    ASSERT_GT(first.size(), 2u);
    EXPECT_GE(first.back().progress.seconds_left, 0.0);
    const std::vector<TimedReport> second = Attempt(retried);
    ASSERT_EQ(second.size(), 31u + 255u + 3u);
    EXPECT_EQ(second.front().progress.stage, UpdateStage::kErasing);
    EXPECT_EQ(second.front().progress.done, 0);
    EXPECT_LT(second.front().progress.seconds_left, 0.0);
    EXPECT_GE(second[1].progress.seconds_left, 0.0);
    EXPECT_DOUBLE_EQ(second.back().progress.seconds_left, 0.0);
}

}  // namespace
}  // namespace tornelvox::testing
